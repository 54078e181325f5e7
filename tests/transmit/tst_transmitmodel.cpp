#include "testsymbols.h"
#include "transmitmodel.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <limits>
#include <sys/resource.h>
#endif

namespace {

TxMessage makeMessage(quint32 id, bool extended, int dlc, std::initializer_list<int> bytes,
                      int cycleMs = 0, const QString &comment = QString())
{
    TxMessage m;
    m.frame.id = id;
    m.frame.extended = extended;
    m.frame.dlc = quint8(dlc);
    int i = 0;
    for (int b : bytes)
        m.frame.data[i++] = quint8(b);
    m.cycleMs = cycleMs;
    m.comment = comment;
    return m;
}

QString text(const TransmitModel &model, int row, int column, int role = Qt::DisplayRole)
{
    return model.data(model.index(row, column), role).toString();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestTransmitModel : public QObject
{
    Q_OBJECT

private slots:
    void editsSinceLoadOrSaveAreKnown_data();
    void editsSinceLoadOrSaveAreKnown();
    void cellsShowTheFrameAndCycle();
    void manualRowHasNoCheckBoxAndCannotBeActive();
    void checkBoxSwitchesCyclicSendingOnce();
    void addingAnActiveRowAnnouncesIt();
    void editingToManualStopsTheRowButKeepsCountAndDueTime();
    void stopAllSignalsOnlyTheActiveRows();
    void countsAreRepaintedOnlyByRefresh();
    void toolTipsExplainCycleAndDecodeSignals();
    void symbolColumnFollowsTheDatabase();
    void toJsonWritesEveryByteAndHexIdentifier();
    void fromJsonSkipsAndClamps();
    void fromJsonNeverStartsSending();
    void listFileMatchesTheGoldenFile();
    void listFileAcceptsObjectOrBareArray_data();
    void listFileAcceptsObjectOrBareArray();
    void unparsableListFileKeepsTheList();
    void failedSaveKeepsThePreviousFile();
};

void TestTransmitModel::cellsShowTheFrameAndCycle()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addMessage(makeMessage(0x12, false, 3, {0x01, 0xAB, 0xFF}, 0, QStringLiteral("a")));
    model.addMessage(makeMessage(0x18FEF100, true, 2, {1, 2}, 250));
    TxMessage remote = makeMessage(0x7FF, false, 4, {9, 9, 9, 9});
    remote.frame.rtr = true;
    model.addMessage(remote);

    QCOMPARE(model.columnCount(), 8);
    QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Zyklus [ms]"));
    QVERIFY(!model.headerData(8, Qt::Horizontal).isValid());

    QCOMPARE(text(model, 0, 0), QStringLiteral("012h"));
    QCOMPARE(text(model, 0, 2), QStringLiteral("Std"));
    QCOMPARE(model.data(model.index(0, 3)).toInt(), 3);
    QCOMPARE(text(model, 0, 4), QStringLiteral("01 AB FF"));
    QCOMPARE(text(model, 0, 5), QStringLiteral("manuell"));
    QCOMPARE(text(model, 0, 7), QStringLiteral("a"));

    QCOMPARE(text(model, 1, 0), QStringLiteral("18FEF100h"));
    QCOMPARE(text(model, 1, 2), QStringLiteral("Ext"));
    QCOMPARE(text(model, 1, 5), QStringLiteral("250"));

    QCOMPARE(text(model, 2, 2), QStringLiteral("Std RTR"));
    QCOMPARE(text(model, 2, 4), QStringLiteral("Remote Request"));

    QCOMPARE(model.data(model.index(1, 6)).value<quint64>(), quint64(0));
    QCOMPARE(model.data(model.index(1, 6), Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(model.data(model.index(1, 4), Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignLeft | Qt::AlignVCenter));
    QVERIFY(!model.data(model.index(3, 0)).isValid());
}

void TestTransmitModel::manualRowHasNoCheckBoxAndCannotBeActive()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addMessage(makeMessage(0x100, false, 8, {}, 0));
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    QSignalSpy changed(&model, &TransmitModel::dataChanged);

    const QModelIndex cell = model.index(0, 0);
    QVERIFY(!model.data(cell, Qt::CheckStateRole).isValid());
    QVERIFY(!(model.flags(cell) & Qt::ItemIsUserCheckable));
    model.setActive(0, true);
    QVERIFY(model.setData(cell, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(!model.message(0).active);
    QCOMPARE(active.count(), 0);
    QCOMPARE(changed.count(), 0);

    // Only the check box of column 0 is editable.
    QVERIFY(!model.setData(model.index(0, 7), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(!model.setData(cell, QStringLiteral("x"), Qt::EditRole));
    // Out-of-range rows are ignored everywhere.
    model.setActive(5, true);
    model.removeMessage(-1);
    model.incrementCount(1);
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(!model.message(7).active);
}

void TestTransmitModel::checkBoxSwitchesCyclicSendingOnce()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addMessage(makeMessage(0x100, false, 8, {}, 100));
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    QSignalSpy changed(&model, &TransmitModel::dataChanged);

    const QModelIndex cell = model.index(0, 0);
    QVERIFY(model.flags(cell) & Qt::ItemIsUserCheckable);
    QCOMPARE(model.data(cell, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(model.setData(cell, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.setData(cell, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(active.count(), 1);
    QCOMPARE(active.at(0).at(0).toInt(), 0);
    QCOMPARE(active.at(0).at(1).toBool(), true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), cell);
    QCOMPARE(changed.at(0).at(1).toModelIndex(), cell);
    QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{Qt::CheckStateRole});
    QCOMPARE(model.data(cell, Qt::CheckStateRole).toInt(), int(Qt::Checked));

    model.setData(cell, Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(active.count(), 2);
    QCOMPARE(active.at(1).at(1).toBool(), false);
}

void TestTransmitModel::addingAnActiveRowAnnouncesIt()
{
    TransmitModel model;
    model.addMessage(makeMessage(0x1, false, 0, {}));
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    TxMessage m = makeMessage(0x200, false, 1, {7}, 20);
    m.active = true;
    m.count = 4;
    m.nextDueMs = 99;
    QCOMPARE(model.addMessage(m), 1);
    QCOMPARE(active.count(), 1);
    QCOMPARE(active.at(0).at(0).toInt(), 1);
    QCOMPARE(model.message(1).count, quint64(4));
    QCOMPARE(model.message(1).nextDueMs, qint64(99));

    // An active flag without a cycle time is not taken over.
    TxMessage manual = makeMessage(0x300, false, 1, {7}, 0);
    manual.active = true;
    QCOMPARE(model.addMessage(manual), 2);
    QVERIFY(!model.message(2).active);
    QCOMPARE(active.count(), 1);
}

void TestTransmitModel::editingToManualStopsTheRowButKeepsCountAndDueTime()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addMessage(makeMessage(0x100, false, 8, {}, 10));
    model.setActive(0, true);
    model.incrementCount(0);
    model.incrementCount(0);
    model.setNextDueMs(0, 1234);
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    QSignalSpy changed(&model, &TransmitModel::dataChanged);

    TxMessage edit = makeMessage(0x101, false, 2, {1, 2}, 0, QStringLiteral("neu"));
    edit.active = true;   // the dialog may still have the box checked
    edit.count = 77;
    edit.nextDueMs = 5;
    model.updateMessage(0, edit);

    const TxMessage &m = model.message(0);
    QCOMPARE(m.frame.id, quint32(0x101));
    QCOMPARE(m.comment, QStringLiteral("neu"));
    QVERIFY(!m.active);
    QCOMPARE(m.count, quint64(2));
    QCOMPARE(m.nextDueMs, qint64(1234));
    QCOMPARE(active.count(), 1);
    QCOMPARE(active.at(0).at(1).toBool(), false);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(0, 7));

    // An edit that keeps the state emits no activeChanged; one that switches on does.
    edit.cycleMs = 50;
    edit.active = false;
    model.updateMessage(0, edit);
    QCOMPARE(active.count(), 1);
    edit.active = true;
    model.updateMessage(0, edit);
    QCOMPARE(active.count(), 2);
    QCOMPARE(active.at(1).at(1).toBool(), true);
}

void TestTransmitModel::stopAllSignalsOnlyTheActiveRows()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (int i = 0; i < 5; ++i)
        model.addMessage(makeMessage(0x100 + i, false, 8, {}, 10 * (i + 1)));
    model.setActive(1, true);
    model.setActive(3, true);
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    model.stopAll();
    QCOMPARE(active.count(), 2);
    QCOMPARE(active.at(0), (QVariantList{1, false}));
    QCOMPARE(active.at(1), (QVariantList{3, false}));
    for (int i = 0; i < 5; ++i)
        QVERIFY(!model.message(i).active);
    model.stopAll();
    QCOMPARE(active.count(), 2);

    // Removing and clearing active rows does not announce a stop.
    model.setActive(0, true);
    active.clear();
    model.removeMessage(0);
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.message(0).frame.id, quint32(0x101));
    model.setActive(0, true);
    active.clear();
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(active.count(), 0);
}

void TestTransmitModel::countsAreRepaintedOnlyByRefresh()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &TransmitModel::dataChanged);
    model.refresh();   // empty list: nothing to repaint
    QCOMPARE(changed.count(), 0);

    model.addMessage(makeMessage(0x100, false, 8, {}, 1));
    model.addMessage(makeMessage(0x200, false, 8, {}, 1));
    model.addMessage(makeMessage(0x300, false, 8, {}, 1));
    for (int i = 0; i < 1000; ++i)
        model.incrementCount(1);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model.message(1).count, quint64(1000));

    model.refresh();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 6));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(2, 6));
    QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{Qt::DisplayRole});
    model.refresh();
    QCOMPARE(changed.count(), 1);

    model.resetCounts();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(model.message(1).count, quint64(0));
    QCOMPARE(model.data(model.index(1, 6)).value<quint64>(), quint64(0));
}

void TestTransmitModel::toolTipsExplainCycleAndDecodeSignals()
{
    TransmitModel model;
    model.addMessage(makeMessage(0x100, false, 8, {0x34, 0x12, 0x01, 0xFF}, 100));
    TxMessage remote = makeMessage(0x100, false, 8, {}, 0);
    remote.frame.rtr = true;
    model.addMessage(remote);
    model.addMessage(makeMessage(0x555, false, 8, {}, 0));

    QCOMPARE(text(model, 0, 0, Qt::ToolTipRole), QStringLiteral("Haken: zyklisches Senden alle 100 ms"));
    QVERIFY(!model.data(model.index(0, 4), Qt::ToolTipRole).isValid());   // no database yet

    model.setSymbols(TestSymbols::database());
    QCOMPARE(text(model, 0, 0, Qt::ToolTipRole), QStringLiteral("Haken: zyklisches Senden alle 100 ms"));
    QCOMPARE(text(model, 0, 4, Qt::ToolTipRole),
             QStringLiteral("Drehzahl=4660 rpm\nModus=Ein\nTemp=-1 °C"));
    QVERIFY(!model.data(model.index(1, 0), Qt::ToolTipRole).isValid());   // remote request
    QVERIFY(!model.data(model.index(1, 4), Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(model.index(2, 4), Qt::ToolTipRole).isValid());   // no symbol
}

void TestTransmitModel::symbolColumnFollowsTheDatabase()
{
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &TransmitModel::dataChanged);
    model.setSymbols(TestSymbols::database());   // no rows: nothing to repaint
    QCOMPARE(changed.count(), 0);

    model.addMessage(makeMessage(0x18FEF100, true, 2, {}));
    model.addMessage(makeMessage(0x100, true, 8, {}));   // extended: not the standard symbol
    QCOMPARE(text(model, 0, 1), QStringLiteral("Bremse"));
    QCOMPARE(text(model, 1, 1), QString());

    model.setSymbols(nullptr);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 1));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 1));
    QCOMPARE(text(model, 0, 1), QString());
}

void TestTransmitModel::toJsonWritesEveryByteAndHexIdentifier()
{
    TransmitModel model;
    model.addMessage(makeMessage(0x18FEF100, true, 2, {1, 2, 0, 0, 0, 0, 0, 0x80}, 0, QStringLiteral("x")));
    TxMessage m = makeMessage(0x123, false, 0, {}, 50);
    m.frame.rtr = true;
    m.active = true;
    m.count = 9;
    model.addMessage(m);

    const QJsonArray array = model.toJson();
    QCOMPARE(array.size(), 2);
    const QJsonObject first = array.at(0).toObject();
    QCOMPARE(first.value("id").toString(), QStringLiteral("18FEF100"));
    QCOMPARE(first.value("extended").toBool(), true);
    QCOMPARE(first.value("rtr").toBool(), false);
    QCOMPARE(first.value("dlc").toInt(), 2);
    QCOMPARE(first.value("data").toArray(), (QJsonArray{1, 2, 0, 0, 0, 0, 0, 128}));
    QCOMPARE(first.value("cycleMs").toInt(), 0);
    QCOMPARE(first.value("comment").toString(), QStringLiteral("x"));
    const QJsonObject second = array.at(1).toObject();
    QCOMPARE(second.value("id").toString(), QStringLiteral("123"));
    QCOMPARE(second.value("rtr").toBool(), true);
    QCOMPARE(second.keys().size(), 7);   // active, count and due time are not stored

    TransmitModel copy;
    copy.fromJson(array);
    QCOMPARE(copy.toJson(), array);
}

void TestTransmitModel::fromJsonSkipsAndClamps()
{
    const QByteArray json = R"([
        {"id": 123, "dlc": 1},
        {"id": "XYZ"},
        {"id": ""},
        {"id": "100000000"},
        {"dlc": 2},
        "not an object",
        {"id": "7ff", "dlc": 12, "cycleMs": -5,
         "data": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]},
        {"id": "18FEF100", "extended": true, "rtr": "yes", "dlc": -3,
         "data": [256, -1, "a", 17], "cycleMs": 20, "comment": "Bremse"},
        {"id": "FFFFFFFF", "extended": 1},
        {"id": "+12"}, {"id": " 7E0 "}, {"id": "0x7E0"}, {"id": "-1"},
        {"id": "12", "dlc": 1e10, "cycleMs": 3e9},
        {"id": "13", "dlc": 2.7, "cycleMs": 99.9},
        {"id": "14", "dlc": -1e300, "cycleMs": "100"}
    ])";
    TransmitModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.fromJson(QJsonDocument::fromJson(json).array());
    QCOMPARE(model.rowCount(), 6);

    const TxMessage &a = model.message(0);
    QCOMPARE(a.frame.id, quint32(0x7FF));
    QCOMPARE(a.frame.dlc, quint8(8));
    QCOMPARE(a.cycleMs, 0);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(a.frame.data[i], quint8(i + 1));

    const TxMessage &b = model.message(1);
    QCOMPARE(b.frame.id, quint32(0x18FEF100));
    QVERIFY(b.frame.extended);
    QVERIFY(!b.frame.rtr);
    QCOMPARE(b.frame.dlc, quint8(0));
    QCOMPARE(b.frame.data[0], quint8(0));
    QCOMPARE(b.frame.data[1], quint8(0xFF));
    QCOMPARE(b.frame.data[2], quint8(0));
    QCOMPARE(b.frame.data[3], quint8(17));
    QCOMPARE(b.cycleMs, 20);
    QCOMPARE(b.comment, QStringLiteral("Bremse"));

    const TxMessage &c = model.message(2);
    QCOMPARE(c.frame.id, quint32(0xFFFFFFFF));
    QVERIFY(!c.frame.extended);

    // Numbers beyond the range or with a fraction are clamped, not zeroed.
    const TxMessage &huge = model.message(3);
    QCOMPARE(huge.frame.id, quint32(0x12));
    QCOMPARE(huge.frame.dlc, quint8(8));
    QCOMPARE(huge.cycleMs, std::numeric_limits<int>::max());
    const TxMessage &fraction = model.message(4);
    QCOMPARE(fraction.frame.dlc, quint8(2));
    QCOMPARE(fraction.cycleMs, 99);
    const TxMessage &low = model.message(5);
    QCOMPARE(low.frame.dlc, quint8(0));
    QCOMPARE(low.cycleMs, 0);
}

void TestTransmitModel::fromJsonNeverStartsSending()
{
    TransmitModel model;
    model.addMessage(makeMessage(0x1, false, 8, {}, 10));
    model.setActive(0, true);
    model.incrementCount(0);
    const QJsonArray saved = model.toJson();
    QSignalSpy active(&model, &TransmitModel::activeChanged);
    QSignalSpy reset(&model, &TransmitModel::modelReset);
    model.fromJson(saved);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(active.count(), 0);
    QCOMPARE(model.rowCount(), 1);
    QVERIFY(!model.message(0).active);
    QCOMPARE(model.message(0).count, quint64(0));
    QCOMPARE(model.message(0).cycleMs, 10);
}

void TestTransmitModel::listFileMatchesTheGoldenFile()
{
    TransmitModel model;
    model.addMessage(makeMessage(0x18FEF100, true, 2, {1, 2}, 100, QStringLiteral("Bremse")));
    model.addMessage(makeMessage(0x123, false, 3, {0xAA, 0xBB, 0xCC}, 0, QStringLiteral("Ölstand")));
    const QString golden = QStringLiteral(BUSVISTA_TEST_DATA "/transmit/list.cxt");
    QCOMPARE(model.fileContents(), readFile(golden));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out.cxt"));
    QString error;
    QVERIFY2(model.saveFile(path, &error), qPrintable(error));
    QCOMPARE(readFile(path), readFile(golden));

    TransmitModel loaded;
    QVERIFY2(loaded.loadFile(golden, &error), qPrintable(error));
    QCOMPARE(loaded.toJson(), model.toJson());
}

void TestTransmitModel::listFileAcceptsObjectOrBareArray_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("rows");
    QTest::newRow("bare array") << QByteArray(R"([{"id": "1"}, {"id": "2"}])") << 2;
    QTest::newRow("object without format check")
        << QByteArray(R"({"format": "anders", "version": 7, "messages": [{"id": "5"}]})") << 1;
    QTest::newRow("missing messages empties the list") << QByteArray(R"({"format": "x"})") << 0;
    QTest::newRow("empty messages") << QByteArray(R"({"messages": []})") << 0;
    QTest::newRow("messages not an array") << QByteArray(R"({"messages": {"id": "1"}})") << 0;
}

void TestTransmitModel::listFileAcceptsObjectOrBareArray()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.json"));
    QVERIFY(writeFile(path, contents));
    TransmitModel model;
    model.addMessage(makeMessage(0x99, false, 8, {}));
    QString error;
    QVERIFY2(model.loadFile(path, &error), qPrintable(error));
    QCOMPARE(model.rowCount(), rows);
}

void TestTransmitModel::unparsableListFileKeepsTheList()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.cxt"));
    QVERIFY(writeFile(path, R"({"messages": [{"id": "1"})"));
    TransmitModel model;
    model.addMessage(makeMessage(0x99, false, 8, {}));
    QString error;
    QVERIFY(!model.loadFile(path, &error));
    QCOMPARE(error, QStringLiteral("Ungültige Datei: Liste nicht abgeschlossen in Zeile 1, Spalte 26"));
    QCOMPARE(model.rowCount(), 1);

    // German words and the place of the fault, not the JSON parser's English text.
    QVERIFY(writeFile(path, "{\n  \"messages\": [\n    {\"id\": 12x}\n  ]\n}\n"));
    QVERIFY(!model.loadFile(path, &error));
    QCOMPARE(error, QStringLiteral("Ungültige Datei: Objekt nicht abgeschlossen in Zeile 3, Spalte 15"));
    QCOMPARE(model.rowCount(), 1);

    error.clear();
    QVERIFY(!model.loadFile(dir.filePath(QStringLiteral("fehlt.cxt")), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(model.rowCount(), 1);
}

void TestTransmitModel::failedSaveKeepsThePreviousFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.cxt"));
    const QByteArray previous = R"({"messages": [{"id": "1"}]})";
    QVERIFY(writeFile(path, previous));

    TransmitModel model;
    for (int i = 0; i < 50; ++i)
        model.addMessage(makeMessage(0x100 + i, false, 8, {}, 10, QStringLiteral("Zeile %1").arg(i)));
    QString error;

    // A target in a missing directory fails cleanly.
    QVERIFY(!model.saveFile(dir.filePath(QStringLiteral("fehlt/list.cxt")), &error));
    QVERIFY(!error.isEmpty());

#ifdef Q_OS_LINUX
    // A full disk, simulated by a file size limit: the write fails part way and
    // the previous list must survive untouched.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    rlimit small = old;
    small.rlim_cur = 512;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    error.clear();
    const bool saved = model.saveFile(path, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(path), previous);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("list.cxt")});
#endif
}

void TestTransmitModel::editsSinceLoadOrSaveAreKnown_data()
{
    // Steps: a add, u update row 0, r remove row 0, c clear, l load a file,
    // s save it, x switch cyclic sending of row 0, n count a send of row 0.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("edited");
    QTest::newRow("fresh") << "" << false;
    QTest::newRow("added") << "a" << true;
    QTest::newRow("loaded") << "al" << false;
    QTest::newRow("loaded, then changed") << "alu" << true;
    QTest::newRow("loaded, then removed") << "alr" << true;
    QTest::newRow("saved") << "as" << false;
    QTest::newRow("saved, then added") << "asa" << true;
    QTest::newRow("cleared after load") << "alc" << true;
    QTest::newRow("cleared when empty") << "c" << false;
    QTest::newRow("sending is no edit") << "alxn" << false;
}

void TestTransmitModel::editsSinceLoadOrSaveAreKnown()
{
    QFETCH(QString, steps);
    QFETCH(bool, edited);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("liste.cxt"));
    QVERIFY(writeFile(path, "[{\"id\": \"123\", \"dlc\": 1, \"cycleMs\": 10}]"));
    TransmitModel model;
    for (QChar step : steps) {
        switch (step.toLatin1()) {
        case 'a': model.addMessage(makeMessage(0x100, false, 2, {1, 2}, 10)); break;
        case 'u': model.updateMessage(0, makeMessage(0x101, false, 2, {1, 2}, 10)); break;
        case 'r': model.removeMessage(0); break;
        case 'c': model.clear(); break;
        case 'l': QVERIFY(model.loadFile(path)); break;
        case 's': QVERIFY(model.saveFile(dir.filePath(QStringLiteral("neu.cxt")))); break;
        case 'x': model.setActive(0, true); break;
        case 'n': model.incrementCount(0); break;
        }
    }
    QCOMPARE(model.isEdited(), edited);
}

QTEST_GUILESS_MAIN(TestTransmitModel)
#include "tst_transmitmodel.moc"
