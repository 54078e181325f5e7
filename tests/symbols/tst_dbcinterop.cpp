// DBC databases against an independent reader: Debian's python3-canmatrix
// loads the same DBC files and decodes the same table of frames; every signal
// value must agree. The same holds for the DBC files written from every
// symbol file of the corpus and for DBC -> symbol file -> DBC round trips,
// whose result must also decode like the original. Skips when canmatrix or
// the file collection is absent.
#include "dbcfile.h"
#include "symbolfile.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#ifdef BUSVISTA_CLI
#include "clirun.h"
#endif

namespace {

// For each job of a manifest (lines "DBC-FILE<tab>TABLE"), loads the DBC file
// with canmatrix and decodes each frame of the table (one "ID EXT HEXDATA"
// line each); prints one JSON line per job, {"error": text} when canmatrix
// cannot read the file, else {"frames": list, "tree": messages} with, per frame, null
// (no message), {"error": text} or {signal: [physical, enum text or null]},
// a physical value that is not finite as the text "nan", "inf" or "-inf",
// and the multiplexing tree of each message as canmatrix sees it (tree()).
// canmatrix reads the file and gives every signal's value; which signals a
// multiplexed frame carries is decided here by the format's rules, since
// canmatrix's own selection drops signals of messages that mix "mN" with
// SG_MUL_VAL_ and follows only one of several independent multiplexors.
const char Peer[] = R"PY(
import contextlib, json, math, sys
import canmatrix
import canmatrix.formats.dbc as dbc

def load(path):
    raw = open(path, "rb").read()
    encoding = "cp1252"
    try:
        raw.decode("utf-8")
        encoding = "utf-8"
    except UnicodeDecodeError:
        try:
            raw.decode("cp1252")
        except UnicodeDecodeError:
            encoding = "iso-8859-1"
    # canmatrix reports lines it cannot read on standard output.
    with open(path, "rb") as f, contextlib.redirect_stdout(sys.stderr):
        return dbc.load(f, dbcImportEncoding=encoding)

def carried(frame, values):
    roots = [s for s in frame.signals if s.is_multiplexer and s.muxer_for_signal is None and s.mux_val is None]
    def present(s, depth=0):
        if depth > 16:
            return False
        if s.muxer_for_signal is not None:
            parent = frame.signal_by_name(s.muxer_for_signal)
            if parent is None or not present(parent, depth + 1):
                return False
            v = int(values[parent.name].raw_value)
            return any(lo <= v <= hi for lo, hi in s.mux_val_grp)
        if s.mux_val is not None:
            return len(roots) == 1 and int(values[roots[0].name].raw_value) == s.mux_val
        return True
    return [s for s in frame.signals if present(s)]

def tree(db):
    # The multiplexing tree: per message and signal [multiplexor, parent,
    # ranges of the parent's values], "mN" without SG_MUL_VAL_ below the
    # one plain multiplexor, adjoining ranges merged; by message name, as
    # canmatrix merges identifiers written without their extended bit.
    out = {}
    for frame in db.frames:
        roots = [s for s in frame.signals if s.is_multiplexer and s.muxer_for_signal is None and s.mux_val is None]
        signals = {}
        for s in frame.signals:
            parent = s.muxer_for_signal
            ranges = [list(r) for r in s.mux_val_grp] if parent is not None else []
            if parent is None and s.mux_val is not None:
                parent = roots[0].name if len(roots) == 1 else "?"
                ranges = [[s.mux_val, s.mux_val]]
            merged = []
            for lo, hi in sorted(ranges):
                if merged and lo <= merged[-1][1] + 1:
                    merged[-1][1] = max(merged[-1][1], hi)
                else:
                    merged.append([lo, hi])
            signals[s.name] = [bool(s.is_multiplexer), parent, merged]
        out[frame.name] = signals
    return out

def decode(db, table):
    out = []
    for line in open(table):
        ident, ext, data = line.split()
        frame = db.frame_by_id(canmatrix.ArbitrationId(int(ident, 16), extended=ext == "1"))
        if frame is None:
            out.append(None)
            continue
        data = bytes.fromhex(data) if data != "-" else b""
        data = data[:frame.size] + bytes(max(0, frame.size - len(data)))
        try:
            decoded = frame.unpack(data)
            signals = carried(frame, decoded)
        except Exception as e:
            out.append({"error": repr(e)})
            continue
        values = {}
        for s in signals:
            d = decoded[s.name]
            text = s.values.get(int(d.raw_value)) if not s.is_float else None
            physical = float(d.phys_value)
            values[s.name] = [physical if math.isfinite(physical) else repr(physical), text]
        out.append(values)
    return out

for job in open(sys.argv[1]):
    path, table = job.rstrip("\n").split("\t")
    try:
        db = load(path)
    except Exception as e:
        print(json.dumps({"error": repr(e)}))
        continue
    print(json.dumps({"frames": decode(db, table), "tree": tree(db)}))
    sys.stdout.flush()
)PY";

bool havePeer()
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import canmatrix.formats.dbc")});
    return python.waitForFinished(60000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

QString corpusDir()
{
    return QStringLiteral(BUSVISTA_CORPUS);
}

QStringList corpusFiles(const QString &sub, const QStringList &patterns)
{
    QStringList files;
    if (corpusDir().isEmpty())
        return files;
    QDirIterator it(corpusDir() + QLatin1Char('/') + sub, patterns, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

// A table of frames for every message of the database: fixed patterns and
// random data, and for every multiplexed variant its multiplexor values with
// random data around them.
QList<CanFrame> frameTable(const SymbolDatabase &db, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<CanFrame> frames;
    const auto add = [&](const SymMessage &message, const quint8 *data, bool withMux) {
        CanFrame frame;
        frame.id = message.idLow;
        frame.extended = message.extended;
        frame.dlc = quint8(qBound(0, message.length, 8));
        std::copy(data, data + 8, frame.data);
        if (withMux)
            SymbolDatabase::insertMux(message, frame);
        frames.append(frame);
    };
    QSet<quint64> seen;
    for (const SymMessage &message : db.messages) {
        const quint64 key = (quint64(message.extended) << 32) | message.idLow;
        if (!seen.contains(key)) {
            seen.insert(key);
            for (quint8 pattern : {0x00, 0xFF, 0x55, 0xAA, 0x01, 0x80}) {
                quint8 data[8];
                std::fill(data, data + 8, pattern);
                add(message, data, false);
            }
            for (int i = 0; i < 6; ++i) {
                quint8 data[8];
                for (quint8 &b : data)
                    b = quint8(random.bounded(256));
                add(message, data, false);
            }
        }
        if (!message.muxName.isEmpty()) {
            for (int i = 0; i < 3; ++i) {
                quint8 data[8];
                for (quint8 &b : data)
                    b = quint8(random.bounded(256));
                add(message, data, true);
            }
        }
    }
    return frames;
}

void writeTable(const QString &path, const QList<CanFrame> &frames)
{
    QFile table(path);
    if (!table.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (const CanFrame &frame : frames) {
        const QByteArray data(reinterpret_cast<const char *>(frame.data), frame.dlc);
        table.write(QByteArray::number(frame.id, 16) + (frame.extended ? " 1 " : " 0 ")
                    + (data.isEmpty() ? QByteArray("-") : data.toHex()) + '\n');
    }
}

// Runs the peer once over a manifest; one JSON object per job.
bool runPeer(const QString &manifest, int jobs, QList<QJsonObject> *results, QString *error)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QLatin1String(Peer), manifest});
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        *error = QString::fromLocal8Bit(python.readAllStandardError()).right(2000);
        return false;
    }
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject()) {
            *error = parseError.errorString();
            return false;
        }
        results->append(document.object());
    }
    if (results->size() != jobs) {
        *error = QStringLiteral("%1 von %2 Ergebnissen").arg(results->size()).arg(jobs);
        return false;
    }
    return true;
}

int nullCount(const QJsonArray &peer)
{
    int count = 0;
    for (const QJsonValue &value : peer)
        count += value.isNull() ? 1 : 0;
    return count;
}

bool sameNumber(double a, double b)
{
    if (a == b)
        return true;
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

// Decodes every frame with `db` and compares with the peer's results. The
// frames the peer could not decode at all are counted in `*refused`.
void compareDecoded(const SymbolDatabase &db, const QList<CanFrame> &frames, const QJsonArray &peer,
                    const QStringList &loadWarnings, int *compared, int *refused, QStringList *mismatches)
{
    // Signals beyond the eight data bytes of a classic frame are not loaded;
    // the load names them.
    const auto named = [&](const QString &name) {
        for (const QString &warning : loadWarnings) {
            if (warning.contains(QStringLiteral("außerhalb der ersten 8 Datenbytes"))
                && warning.split(QRegularExpression(QStringLiteral("[:,] "))).contains(name))
                return true;
        }
        return false;
    };
    for (int i = 0; i < frames.size(); ++i) {
        const CanFrame &frame = frames.at(i);
        const QJsonValue theirs = peer.at(i);
        const SymMessage *message = db.find(frame);
        const QString where = QStringLiteral("%1%2 %3")
                                  .arg(QString::number(frame.id, 16), frame.extended ? QStringLiteral("x") : QString(),
                                       QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(frame.data), frame.dlc).toHex()));
        if (theirs.isNull()) {
            // The peer leaves out messages it cannot read (an extended
            // identifier without its flag bit); the load warns about those.
            const bool warned = message && loadWarnings.filter(QStringLiteral("BO_ %1:").arg(message->name)).size() > 0;
            if (message && !warned)
                mismatches->append(where + QStringLiteral(": nur hier eine Botschaft"));
            continue;
        }
        const QJsonObject object = theirs.toObject();
        if (object.contains(QStringLiteral("error"))) {
            ++*refused;
            continue;
        }
        if (!message) {
            mismatches->append(where + QStringLiteral(": keine Botschaft gefunden"));
            continue;
        }
        ++*compared;
        QHash<QString, SymSignalValue> ours;
        for (const SymSignalValue &value : db.decode(*message, frame))
            ours.insert(value.name, value);
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            const QJsonArray entry = it.value().toArray();
            const auto mine = ours.constFind(it.key());
            if (mine == ours.constEnd()) {
                if (named(it.key()))
                    continue;
                mismatches->append(where + QStringLiteral(": %1 fehlt (%2)").arg(it.key(), message->displayName()));
                continue;
            }
            const QJsonValue number = entry.at(0);
            const double physical = number.isString() ? number.toString().toDouble() : number.toDouble();
            if (!sameNumber(mine->physical, physical))
                mismatches->append(where + QStringLiteral(": %1 = %2, canmatrix %3")
                                               .arg(it.key()).arg(mine->physical, 0, 'g', 17).arg(physical, 0, 'g', 17));
            if (entry.at(1).isString() && mine->text != entry.at(1).toString())
                mismatches->append(where + QStringLiteral(": %1 Text „%2“, canmatrix „%3“")
                                               .arg(it.key(), mine->text, entry.at(1).toString()));
            ours.remove(it.key());
        }
        for (auto it = ours.constBegin(); it != ours.constEnd(); ++it)
            mismatches->append(where + QStringLiteral(": %1 nur hier (%2)").arg(it.key(), message->displayName()));
    }
}

// Every value `original` decodes from its frame table, `copy` decodes
// equally; a value is found in the copy by its bits, as names may have been
// made DBC identifiers. Texts are compared where DBC can hold how they are
// made (no hexadecimal or character display, no string or raw types: the
// writer names those in its warnings).
QStringList compareBusvista(const SymbolDatabase &original, const SymbolDatabase &copy, const QList<CanFrame> &frames)
{
    QStringList faults;
    for (const CanFrame &frame : frames) {
        const SymMessage *a = original.find(frame);
        if (!a)
            continue;
        const SymMessage *b = copy.find(frame);
        if (!b) {
            faults.append(QStringLiteral("%1: keine Botschaft in der Kopie").arg(a->displayName()));
            continue;
        }
        for (const SymVariable &v : a->variables) {
            if (!v.isNumeric() || !SymbolDatabase::coversFrame(v, frame))
                continue;
            const SymVariable *w = nullptr;
            // Signals may share bits: the one of the same name first.
            for (const SymVariable &candidate : b->variables) {
                if (candidate.bits == v.bits && (!w || candidate.name == v.name || candidate.name == DbcFile::identifier(v.name)))
                    w = &candidate;
            }
            if (!w) {
                faults.append(QStringLiteral("%1: %2 fehlt in der Kopie").arg(a->displayName(), v.name));
                continue;
            }
            const double x = original.physicalValue(v, frame);
            const double y = copy.physicalValue(*w, frame);
            const bool plainText = v.displayFormat == 0 && v.type != SymType::Char;
            if (!sameNumber(x, y) || (plainText && original.valueText(v, frame) != copy.valueText(*w, frame)))
                faults.append(QStringLiteral("%1: %2 = %3, Kopie %4")
                                  .arg(a->displayName(), v.name, original.valueText(v, frame), copy.valueText(*w, frame)));
        }
    }
    return faults;
}

} // namespace

class TestDbcInterop : public QObject
{
    Q_OBJECT

private:
    // One DBC file canmatrix reads, and the database Busvista compares with.
    struct Job
    {
        QString dbcPath;
        std::shared_ptr<SymbolDatabase> db;
        QStringList warnings;       // of Busvista's load
        QList<CanFrame> frames;
        QJsonObject peer;
    };

    QTemporaryDir m_dir;
    bool m_peer = false;
    QString m_peerError;
    QMap<QString, Job> m_jobs;

    // The databases a conversion started from, by job.
    QMap<QString, std::shared_ptr<SymbolDatabase>> m_originals;

    void addJob(const QString &label, const QString &dbcPath, const std::shared_ptr<SymbolDatabase> &original = {})
    {
        Job job;
        job.dbcPath = dbcPath;
        job.db = std::make_shared<SymbolDatabase>();
        QString error;
        if (!job.db->load(dbcPath, &error, &job.warnings))
            job.warnings.prepend(error);
        // Frames of the original's symbols, so that every variant it knows is met.
        job.frames = frameTable(original ? *original : *job.db, qHash(label));
        m_jobs.insert(label, job);
        if (original)
            m_originals.insert(label, original);
    }

    // Writes `db` with the writer of `path`'s ending.
    static bool writeFile(const SymbolDatabase &db, const QString &path)
    {
        QStringList lost;
        QFile file(path);
        return file.open(QIODevice::WriteOnly)
            && file.write(path.endsWith(QLatin1String(".dbc")) ? DbcFile::write(db, &lost) : SymFile::write(db, &lost)) > 0;
    }

    static QStringList symFiles()
    {
        return corpusFiles(QStringLiteral("sym"), {QStringLiteral("*.sym")});
    }

    // A converted file: Busvista's reading of it decodes like the original,
    // and canmatrix decodes it like Busvista.
    void checkConverted(const QString &label)
    {
        if (!m_peer)
            QSKIP("python3-canmatrix fehlt");
        QVERIFY(m_originals.contains(label));
        const Job &job = m_jobs[label];
        QVERIFY2(!job.db->filePath.isEmpty(), qPrintable(job.warnings.value(0)));
        QVERIFY2(job.warnings.isEmpty(), qPrintable(job.warnings.join(QLatin1Char('\n'))));
        const QStringList faults = compareBusvista(*m_originals.value(label), *job.db, job.frames);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 20).join(QLatin1Char('\n'))));
        checkJob(label);
    }

    // canmatrix's decoding of a job's frame table against Busvista's.
    void checkJob(const QString &label)
    {
        if (!m_peer)
            QSKIP("python3-canmatrix fehlt");
        QVERIFY2(m_peerError.isEmpty(), qPrintable(m_peerError));
        QVERIFY(m_jobs.contains(label));
        const Job &job = m_jobs[label];
        if (job.peer.contains(QStringLiteral("error")))
            QSKIP(qPrintable(QStringLiteral("canmatrix liest die Datei nicht: %1").arg(job.peer.value(QStringLiteral("error")).toString())));
        const QJsonArray peer = job.peer.value(QStringLiteral("frames")).toArray();
        QCOMPARE(peer.size(), job.frames.size());
        int compared = 0;
        int refused = 0;
        QStringList mismatches;
        compareDecoded(*job.db, job.frames, peer, job.warnings, &compared, &refused, &mismatches);
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.mid(0, 20).join(QLatin1Char('\n'))));
        // The peer refuses frames of messages it cannot decode (a signal
        // beyond the message's length); the rest must have been compared.
        if (refused > 0)
            qInfo("%d von %d Frames von canmatrix abgelehnt", refused, int(job.frames.size()));
        QCOMPARE(compared + refused, int(job.frames.size()) - nullCount(peer));
    }

    QString m_syntheticDir;

    QStringList syntheticFiles() const
    {
        QStringList files;
        for (const QString &name : QDir(m_syntheticDir).entryList({QStringLiteral("*.dbc")}, QDir::Files))
            files.append(m_syntheticDir + QLatin1Char('/') + name);
        return files;
    }

    QString labelOf(const QString &file) const
    {
        return file.startsWith(m_syntheticDir) ? QStringLiteral("synthetic/") + QFileInfo(file).fileName()
                                               : QDir(corpusDir()).relativeFilePath(file);
    }

    static QStringList dbcFiles()
    {
        return corpusFiles(QStringLiteral("dbc"), {QStringLiteral("*.dbc"), QStringLiteral("*.DBC")});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_peer = havePeer();
        if (!m_peer)
            return;
        // Multiplexing the corpus lacks: a plain signal on the bits of a
        // nested multiplexor, listed before it.
        const QString synthetic = m_dir.filePath(QStringLiteral("synthetic"));
        QVERIFY(QDir().mkpath(synthetic));
        QFile plainOnNested(synthetic + QStringLiteral("/plain_on_nested.dbc"));
        QVERIFY(plainOnNested.open(QIODevice::WriteOnly));
        plainOnNested.write("VERSION \"\"\n\nNS_ :\n\nBS_:\n\nBU_: E\n\n"
                            "BO_ 100 PlainOnNested: 8 E\n"
                            " SG_ B0 m0 : 16|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ P : 8|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ B m2M : 8|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ A M : 0|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ A1 m1 : 8|16@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ B1 m1 : 24|8@1+ (1,0) [0|0] \"\" E\n"
                            "BO_ 101 PlainOnRoot: 8 E\n"
                            " SG_ P : 0|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ S m1 : 8|8@1+ (1,0) [0|0] \"\" E\n"
                            " SG_ A M : 0|8@1+ (1,0) [0|0] \"\" E\n"
                            "SG_MUL_VAL_ 100 B0 B 0-0;\n"
                            "SG_MUL_VAL_ 100 B A 2-2;\n"
                            "SG_MUL_VAL_ 100 A1 A 1-1;\n"
                            "SG_MUL_VAL_ 100 B1 B 1-1;\n");
        plainOnNested.close();
        m_syntheticDir = synthetic;

        for (const QString &file : dbcFiles())
            addJob(labelOf(file), file);
        int written = 0;
        for (const QString &file : symFiles()) {
            auto original = std::make_shared<SymbolDatabase>();
            if (!original->load(file))
                continue;   // files the symbol parser refuses have nothing to convert
            const QString out = m_dir.filePath(QStringLiteral("sym%1.dbc").arg(written++));
            QVERIFY(writeFile(*original, out));
            addJob(QStringLiteral("symconvert/") + QFileInfo(file).fileName(), out, original);
        }
        for (const QString &file : dbcFiles() + syntheticFiles()) {
            if (file.startsWith(m_syntheticDir))
                addJob(labelOf(file), file);
            auto original = std::make_shared<SymbolDatabase>();
            if (!original->load(file) || original->messages.isEmpty())
                continue;
            const QString sym = m_dir.filePath(QStringLiteral("round%1.sym").arg(written));
            const QString back = m_dir.filePath(QStringLiteral("round%1.dbc").arg(written++));
            SymbolDatabase middle;
            QVERIFY(writeFile(*original, sym));
            QVERIFY2(middle.load(sym), qPrintable(sym));
            QVERIFY(writeFile(middle, back));
            addJob(QStringLiteral("roundtrip/") + labelOf(file), back, original);
            const QString copy = m_dir.filePath(QStringLiteral("copy%1.dbc").arg(written++));
            QVERIFY(writeFile(*original, copy));
            addJob(QStringLiteral("dbccopy/") + labelOf(file), copy, original);
        }

        // All jobs in one run of the peer: starting Python costs more than a file.
        const QString manifestPath = m_dir.filePath(QStringLiteral("manifest.txt"));
        QFile manifest(manifestPath);
        QVERIFY(manifest.open(QIODevice::WriteOnly));
        int n = 0;
        for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it, ++n) {
            const QString table = m_dir.filePath(QStringLiteral("table%1.txt").arg(n));
            writeTable(table, it->frames);
            manifest.write((it->dbcPath + QLatin1Char('\t') + table + QLatin1Char('\n')).toUtf8());
        }
        manifest.close();
        QList<QJsonObject> results;
        if (!runPeer(manifestPath, int(m_jobs.size()), &results, &m_peerError))
            return;
        n = 0;
        for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it, ++n)
            it->peer = results.at(n);
    }

    void corpusDecodesLikeCanmatrix_data()
    {
        QTest::addColumn<QString>("label");
        const QStringList files = dbcFiles();
        if (files.isEmpty())
            QTest::newRow("keine Dateien") << QString();
        for (const QString &file : files)
            QTest::newRow(qPrintable(QDir(corpusDir()).relativeFilePath(file))) << QDir(corpusDir()).relativeFilePath(file);
    }

    void symFilesConvertToDbc_data()
    {
        QTest::addColumn<QString>("label");
        for (const QString &label : m_originals.keys()) {
            if (label.startsWith(QLatin1String("symconvert/")))
                QTest::newRow(qPrintable(label)) << label;
        }
        if (m_originals.isEmpty())
            QTest::newRow("keine Dateien") << QString();
    }

    // Every corpus symbol file written as DBC.
    void symFilesConvertToDbc()
    {
        QFETCH(QString, label);
        if (label.isEmpty())
            QSKIP("Dateisammlung oder python3-canmatrix fehlt");
        checkConverted(label);
    }

    void dbcRoundTrip_data()
    {
        QTest::addColumn<QString>("label");
        for (const QString &label : m_originals.keys()) {
            if (label.startsWith(QLatin1String("roundtrip/")))
                QTest::newRow(qPrintable(label)) << label;
        }
        if (m_originals.isEmpty())
            QTest::newRow("keine Dateien") << QString();
    }

    // Every corpus DBC file written as symbol file and that written as DBC.
    void dbcRoundTrip()
    {
        QFETCH(QString, label);
        if (label.isEmpty())
            QSKIP("Dateisammlung oder python3-canmatrix fehlt");
        checkConverted(label);
    }

    void multiplexTreeKept_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("original");
        for (const QString &label : m_originals.keys()) {
            if (label.startsWith(QLatin1String("roundtrip/")) || label.startsWith(QLatin1String("dbccopy/")))
                QTest::newRow(qPrintable(label)) << label << label.section(QLatin1Char('/'), 1);
        }
        if (m_originals.isEmpty())
            QTest::newRow("keine Dateien") << QString() << QString();
    }

    // DBC -> DBC and DBC -> symbol file -> DBC: canmatrix sees the same
    // multiplexing tree in the copy as in the original (multiplexors, their
    // parents, the values that select each signal). Signals the load of the
    // original names as not loaded are not in the copy.
    void multiplexTreeKept()
    {
        QFETCH(QString, label);
        QFETCH(QString, original);
        if (label.isEmpty())
            QSKIP("Dateisammlung oder python3-canmatrix fehlt");
        if (!m_peer)
            QSKIP("python3-canmatrix fehlt");
        QVERIFY2(m_peerError.isEmpty(), qPrintable(m_peerError));
        QVERIFY(m_jobs.contains(original) && m_jobs.contains(label));
        const Job &source = m_jobs[original];
        const Job &copy = m_jobs[label];
        if (source.peer.contains(QStringLiteral("error")))
            QSKIP("canmatrix liest das Original nicht");
        QVERIFY2(!copy.peer.contains(QStringLiteral("error")), qPrintable(copy.peer.value(QStringLiteral("error")).toString()));
        const QJsonObject theirs = source.peer.value(QStringLiteral("tree")).toObject();
        if (theirs.isEmpty())
            QSKIP("canmatrix liest keine Botschaft des Originals");
        const QJsonObject ours = copy.peer.value(QStringLiteral("tree")).toObject();
        const QString warned = source.warnings.join(QLatin1Char('\n'));
        QStringList faults;
        for (auto message = theirs.constBegin(); message != theirs.constEnd(); ++message) {
            // Identifiers the load warns about: canmatrix merges such messages.
            if (warned.contains(QStringLiteral("BO_ %1:").arg(message.key())))
                continue;
            const QJsonObject a = message.value().toObject();
            const QJsonObject b = ours.value(message.key()).toObject();
            for (auto signal = a.constBegin(); signal != a.constEnd(); ++signal) {
                if (!b.contains(signal.key())) {
                    if (!warned.contains(signal.key()) && !b.isEmpty())
                        faults.append(QStringLiteral("%1 %2 fehlt").arg(message.key(), signal.key()));
                    continue;
                }
                QJsonArray expected = signal.value().toArray();
                // A symbol file has no multiplexor without multiplexed signals.
                if (label.startsWith(QLatin1String("roundtrip/")) && expected.at(0).toBool()) {
                    bool selects = false;
                    for (const QJsonValue &other : a)
                        selects = selects || other.toArray().at(1).toString() == signal.key();
                    expected[0] = selects;
                }
                if (b.value(signal.key()) != expected)
                    faults.append(QStringLiteral("%1 %2: %3, Original %4")
                                      .arg(message.key(), signal.key(),
                                           QString::fromUtf8(QJsonDocument(b.value(signal.key()).toArray()).toJson(QJsonDocument::Compact)),
                                           QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact))));
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 20).join(QLatin1Char('\n'))));
    }

    void dbcCopy_data()
    {
        QTest::addColumn<QString>("label");
        for (const QString &label : m_originals.keys()) {
            if (label.startsWith(QLatin1String("dbccopy/")))
                QTest::newRow(qPrintable(label)) << label;
        }
        if (m_originals.isEmpty())
            QTest::newRow("keine Dateien") << QString();
    }

    // Every corpus DBC file written as DBC again.
    void dbcCopy()
    {
        QFETCH(QString, label);
        if (label.isEmpty())
            QSKIP("Dateisammlung oder python3-canmatrix fehlt");
        checkConverted(label);
    }

    // Every corpus DBC file: loads, and decodes its frame table like canmatrix.
    void corpusDecodesLikeCanmatrix()
    {
        QFETCH(QString, label);
        if (label.isEmpty())
            QSKIP("Dateisammlung fehlt");
        if (m_peer) {
            const Job &job = m_jobs[label];
            QCOMPARE(job.db->fileFormat, int(SymFileFormat::Dbc));
            QVERIFY2(!job.db->filePath.isEmpty(), qPrintable(job.warnings.value(0)));
        }
        checkJob(label);
    }
};

QTEST_GUILESS_MAIN(TestDbcInterop)
#include "tst_dbcinterop.moc"
