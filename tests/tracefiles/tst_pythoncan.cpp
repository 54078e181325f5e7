// Trace files against an independent peer: python-can (Debian's
// python3-can) writes ASC, BLF, candump logs and TRC 2.1 that must load
// with every entry equal, and reads the ASC, BLF and candump logs written
// here with every entry equal. Skips when python-can is not installed.
#include "logframe.h"
#include "tracefile.h"
#include "tracemodel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using TraceFile::Format;

const char Peer[] = R"PY(
import json, sys, can
mode, kind, path = sys.argv[1:4]
if mode == "write":
    if kind == "asc":
        # The ASC writer takes its date line from the clock and drops the last
        # three microsecond digits with a text replace that also hits the same
        # digits elsewhere ("026" of "2026"); then it cannot read its own file.
        # Its clock is pinned to such a time, and the line is written anew below.
        import datetime as _dt
        import can.io.asc as _asc
        class _Clock(_dt.datetime):
            @classmethod
            def now(cls, tz=None):
                return cls(2026, 12, 7, 18, 0, 0, 123026)
        _asc.datetime = _Clock
    t0 = 1765100000.123456
    msgs = [
        can.Message(timestamp=t0, arbitration_id=0x123, data=b"\x01\xab", is_extended_id=False),
        can.Message(timestamp=t0 + 0.0123, arbitration_id=0x18FEF100, data=bytes(range(1, 9)), is_extended_id=True, is_rx=False),
        can.Message(timestamp=t0 + 1.5, arbitration_id=0x7FF, data=b"", is_extended_id=False),
        can.Message(timestamp=t0 + 2.000001, arbitration_id=0x1FFFFFFF, data=b"\xff" * 8, is_extended_id=True),
    ]
    if kind != "trc":  # the TRC writer leaves remote and error frames out
        msgs.append(can.Message(timestamp=t0 + 2.5, arbitration_id=0x704, is_remote_frame=True, dlc=1, is_extended_id=False))
        msgs.append(can.Message(timestamp=t0 + 3.25, is_error_frame=True))
    writer = {"asc": can.ASCWriter, "blf": can.BLFWriter, "log": can.CanutilsLogWriter, "trc": can.TRCWriter}[kind](path)
    for m in msgs:
        writer.on_message_received(m)
    writer.stop()
    if kind == "asc":
        # The date line takes the time of the trigger block, which the writer
        # formats from the first message without that fault.
        with open(path) as f:
            lines = f.read().split("\n")
        begin = next(line for line in lines if line.startswith("Begin Triggerblock "))
        lines[0] = "date " + begin[len("Begin Triggerblock "):]
        with open(path, "w") as f:
            f.write("\n".join(lines))
if kind == "asc":
    reader = can.ASCReader(path, relative_timestamp=False)  # absolute: the file's date plus the offsets
else:
    reader = {"blf": can.BLFReader, "log": can.CanutilsLogReader, "trc": can.TRCReader}[kind](path)
for m in reader:
    print(json.dumps({"t": round(m.timestamp * 1e6), "id": m.arbitration_id, "ext": m.is_extended_id,
                      "rtr": m.is_remote_frame, "tx": not m.is_rx, "dlc": m.dlc, "data": bytes(m.data).hex().upper(),
                      "err": m.is_error_frame}))
)PY";

struct PeerEntry
{
    qint64 us;
    QString text;
};

// One entry without its time, in the peer's terms.
QString describe(quint32 id, bool ext, bool rtr, bool tx, int dlc, const QString &data, bool error)
{
    // An error frame has no identifier of its own (the peer marks it extended).
    QString text = error ? QStringLiteral("Err")
                         : QString::number(id, 16).toUpper() + (ext ? QStringLiteral("x ") : QStringLiteral(" "))
            + (tx ? QStringLiteral("Tx") : QStringLiteral("Rx"));
    if (rtr)
        text += QStringLiteral(" R");
    text += QLatin1Char(' ') + QString::number(dlc);
    if (!rtr && !data.isEmpty())
        text += QLatin1Char(' ') + data;
    return text;
}

QString describe(const CanFrame &f)
{
    const QByteArray data(reinterpret_cast<const char *>(f.data), f.rtr ? 0 : std::min<int>(f.dlc, 8));
    return describe(f.id, f.extended, f.rtr, f.tx && !f.error, f.dlc, QString::fromLatin1(data.toHex().toUpper()), f.error);
}

bool havePeer()
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import can")});
    return python.waitForFinished(30000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

// Runs the peer; the entries it reads from `path`.
bool runPeer(const char *mode, const QString &kind, const QString &path, QList<PeerEntry> *entries)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QLatin1String(Peer), QLatin1String(mode), kind, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning("%s", python.readAllStandardError().constData());
        return false;
    }
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        entries->append({qint64(o.value(QStringLiteral("t")).toDouble()),
                         describe(quint32(o.value(QStringLiteral("id")).toDouble()), o.value(QStringLiteral("ext")).toBool(),
                                  o.value(QStringLiteral("rtr")).toBool(), o.value(QStringLiteral("tx")).toBool(),
                                  o.value(QStringLiteral("dlc")).toInt(), o.value(QStringLiteral("data")).toString(),
                                  o.value(QStringLiteral("err")).toBool())});
    }
    return true;
}

Format formatOf(const QString &kind)
{
    Format format = Format::Trc;
    TraceFile::formatOfPath(QStringLiteral("x.") + kind, &format);
    return format;
}

} // namespace

class TestPythonCan : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // Every entry equal: the same frames, and the same time of each frame
    // after the first (to the microsecond); with `absolute`, the first too.
    void compare(const TraceModel &model, const QList<PeerEntry> &peer, bool absolute)
    {
        QCOMPARE(model.rowCount(), peer.size());
        QVERIFY(!peer.isEmpty());
        const qint64 ourFirst = model.entryAt(0).frame.timestampUs;
        for (int i = 0; i < peer.size(); ++i) {
            const CanFrame f = model.entryAt(i).frame;
            QCOMPARE(describe(f), peer.at(i).text);
            const qint64 ours = f.timestampUs - ourFirst;
            const qint64 theirs = peer.at(i).us - peer.at(0).us;
            QVERIFY2(qAbs(ours - theirs) <= 1, qPrintable(QStringLiteral("%1: %2 / %3").arg(i).arg(ours).arg(theirs)));
        }
        if (absolute) {
            // File start times carry milliseconds.
            const qint64 ours = model.startTime().toMSecsSinceEpoch() * 1000 + ourFirst;
            QVERIFY2(qAbs(ours - peer.at(0).us) < 1000, qPrintable(QStringLiteral("%1 / %2").arg(ours).arg(peer.at(0).us)));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (!havePeer())
            QSKIP("python3-can is not installed");
    }

    void readsWhatThePeerWrites_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"asc", "blf", "log", "trc"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void readsWhatThePeerWrites()
    {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(QStringLiteral("peer.") + kind);
        QList<PeerEntry> peer;
        QVERIFY(runPeer("write", kind, path, &peer));
        QCOMPARE(peer.size(), kind == QLatin1String("trc") ? 4 : 6);
        TraceModel model;
        QString error;
        QVERIFY2(model.load(path, formatOf(kind), &error, nullptr), qPrintable(error));
        // The peer's TRC start time is not an OLE date; its other formats keep the time of day.
        compare(model, peer, kind != QLatin1String("trc"));
    }

    void peerReadsWhatIsWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("more");
        for (const char *kind : {"asc", "blf", "log"})
            QTest::newRow(kind) << QString::fromLatin1(kind) << 0;
        // Objects cut at container ends, error frames between messages.
        QTest::newRow("blf, several containers") << QStringLiteral("blf") << 8000;
    }
    void peerReadsWhatIsWritten()
    {
        QFETCH(QString, kind);
        QFETCH(int, more);
        std::deque<TraceEntry> entries;
        auto add = [&](quint32 id, bool ext, bool rtr, bool error, bool tx, int dlc, qint64 us) {
            entries.push_back({quint64(entries.size() + 1), logFrame(id, ext, rtr, error, tx, dlc, us, 0x21)});
        };
        add(0x123, false, false, false, false, 2, 0);
        add(0x18FEF100, true, false, false, true, 8, 12345);
        add(0x7FF, false, false, false, false, 0, 1500000);
        add(0x705, false, true, false, true, 3, 2000001);
        add(0x1ABCDEF0, true, false, false, false, 5, 2500000);
        add(0, false, false, true, false, 0, 3250000);
        for (int i = 0; i < more; ++i) {
            const quint32 id = quint32(i % 5 == 0 ? 0x18DA0000 + i * 7 : 0x100 + i % 300);
            const bool error = i % 37 == 0;
            add(id, i % 5 == 0, i % 53 == 0 && !error, error, i % 3 == 0, error ? 0 : i % 9, 3300000 + i * 251 + i % 7);
            entries.back().frame.data[0] = quint8(i);
        }
        TraceModel model;
        model.setMaxEntries(int(entries.size()));
        model.replaceEntries(std::move(entries), QDateTime(QDate(2026, 12, 7), QTime(18, 0, 0, 125), Qt::LocalTime));
        const QString path = m_dir.filePath(QStringLiteral("ours.") + kind);
        QString error;
        QVERIFY2(model.save(path, formatOf(kind), &error), qPrintable(error));
        QList<PeerEntry> peer;
        QVERIFY(runPeer("read", kind, path, &peer));
        compare(model, peer, true);
    }
};

QTEST_GUILESS_MAIN(TestPythonCan)
#include "tst_pythoncan.moc"
