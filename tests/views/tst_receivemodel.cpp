#include "receivemodel.h"
#include "symbolfile.h"
#include "testframe.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Drives the model clock by hand instead of waiting for real time.
class ClockedReceiveModel : public ReceiveModel
{
public:
    qint64 now = 1000;

protected:
    qint64 nowMs() const override { return now; }
};

QString text(const ReceiveModel &model, int row, int column, int role = Qt::DisplayRole)
{
    return model.data(model.index(row, column), role).toString();
}

} // namespace

class TestReceiveModel : public QObject
{
    Q_OBJECT

private slots:
    void echoesAndStatusNeverShow()
    {
        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        CanFrame echo = frame(0x100, {1});
        echo.tx = true;
        CanFrame status = frame(0, {});
        status.status = true;
        model.addFrames({echo, status});
        model.refresh();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(changed.count(), 0);

        model.addFrames({frame(0x100, {1})});
        model.now += 5000;
        model.refresh();  // nothing changed since the row appeared
        model.addFrames({echo, status});
        model.refresh();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("1"));
    }

    void oneRowPerKindOfFrame()
    {
        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        CanFrame extended = frame(0x100, {});
        extended.extended = true;
        CanFrame remote = frame(0x100, {});
        remote.rtr = true;
        remote.dlc = 2;
        CanFrame error = frame(0x100, {});
        error.error = true;
        model.addFrames({frame(0x100, {1}), extended, remote, error, frame(0x100, {2}), extended});
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(inserted.count(), 4);
        QCOMPARE(text(model, 0, ReceiveModel::ColId), QStringLiteral("100h"));
        QCOMPARE(text(model, 1, ReceiveModel::ColId), QStringLiteral("00000100h"));
        QCOMPARE(text(model, 2, ReceiveModel::ColId), QStringLiteral("100h"));
        QCOMPARE(text(model, 0, ReceiveModel::ColType), QStringLiteral("Std"));
        QCOMPARE(text(model, 1, ReceiveModel::ColType), QStringLiteral("Ext"));
        QCOMPARE(text(model, 2, ReceiveModel::ColType), QStringLiteral("Std RTR"));
        QCOMPARE(text(model, 3, ReceiveModel::ColType), QStringLiteral("Error"));
        QCOMPARE(text(model, 2, ReceiveModel::ColData), QStringLiteral("Remote Request"));
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("2"));
        QCOMPARE(model.frameAt(0)->data[0], quint8(2));
        QVERIFY(!model.frameAt(-1));
        QVERIFY(!model.frameAt(model.rowCount()));

        // Error frames are red in every column, others use the view's colour.
        for (int column = 0; column < ReceiveModel::ColumnCount; ++column) {
            QCOMPARE(model.data(model.index(3, column), Qt::ForegroundRole).value<QBrush>().color(), QColor(192, 32, 32));
            QVERIFY(!model.data(model.index(0, column), Qt::ForegroundRole).isValid());
        }
        // Standard identifiers sort before extended ones.
        QVERIFY(model.data(model.index(0, 0), ReceiveModel::SortRole).toULongLong()
                < model.data(model.index(1, 0), ReceiveModel::SortRole).toULongLong());
        QCOMPARE(model.data(model.index(1, 0), ReceiveModel::SortRole).toULongLong(), (1ull << 32) | 0x100);
    }

    void countAndCycleTime()
    {
        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addFrames({frame(0x10, {1, 2, 3}, 1000)});
        QCOMPARE(text(model, 0, ReceiveModel::ColCycle), QString());
        QCOMPARE(model.data(model.index(0, ReceiveModel::ColCycle), ReceiveModel::SortRole).toLongLong(), -1);
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("1"));
        QCOMPARE(text(model, 0, ReceiveModel::ColData), QStringLiteral("01 02 03"));

        model.addFrames({frame(0x10, {1, 2, 3}, 101000)});
        QCOMPARE(text(model, 0, ReceiveModel::ColCycle), QStringLiteral("100.0"));
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("2"));

        // A time stamp from the past keeps the last interval, still counts and updates data.
        model.addFrames({frame(0x10, {9, 2, 3}, 50000)});
        QCOMPARE(text(model, 0, ReceiveModel::ColCycle), QStringLiteral("100.0"));
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("3"));
        QCOMPARE(text(model, 0, ReceiveModel::ColData), QStringLiteral("09 02 03"));

        model.addFrames({frame(0x10, {9, 2, 3}, 51250)});
        QCOMPARE(text(model, 0, ReceiveModel::ColCycle), QStringLiteral("1.3"));
        QCOMPARE(model.data(model.index(0, ReceiveModel::ColCycle), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignRight | Qt::AlignVCenter));
        QCOMPARE(model.data(model.index(0, ReceiveModel::ColData), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignLeft | Qt::AlignVCenter));
    }

    // A period needs two frames with distinct time stamps; until then the
    // cell stays empty and sorts first.
    void cycleTimeNeedsAPeriod_data()
    {
        QTest::addColumn<QList<qint64>>("stamps");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qint64>("sortKey");
        QTest::addRow("one frame") << QList<qint64> {5000} << QString() << qint64(-1);
        QTest::addRow("two frames, one stamp") << QList<qint64> {5000, 5000} << QString() << qint64(-1);
        QTest::addRow("backwards first") << QList<qint64> {5000, 4000} << QString() << qint64(-1);
        QTest::addRow("period") << QList<qint64> {5000, 15000} << QStringLiteral("10.0") << qint64(10000);
        QTest::addRow("period, then same stamp") << QList<qint64> {5000, 15000, 15000} << QStringLiteral("10.0")
                                                 << qint64(10000);
        QTest::addRow("sub-millisecond") << QList<qint64> {5000, 5040} << QStringLiteral("0.0") << qint64(40);
    }

    void cycleTimeNeedsAPeriod()
    {
        QFETCH(QList<qint64>, stamps);
        QFETCH(QString, shown);
        QFETCH(qint64, sortKey);
        ClockedReceiveModel model;
        QList<CanFrame> batch;
        for (qint64 stamp : stamps)
            batch.append(frame(0x585, {0x43, 0x00, 0x10}, stamp));
        model.addFrames(batch);
        QCOMPARE(text(model, 0, ReceiveModel::ColCycle), shown);
        QCOMPARE(model.data(model.index(0, ReceiveModel::ColCycle), ReceiveModel::SortRole).toLongLong(), sortKey);
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QString::number(stamps.size()));
    }

    void changeMaskMarksChangedBytesFor1500ms()
    {
        ClockedReceiveModel model;
        model.addFrames({frame(0x10, {1, 2, 3, 4, 5, 6, 7, 8})});
        auto mask = [&] { return model.data(model.index(0, 0), ReceiveModel::ChangeMaskRole).toInt(); };
        QCOMPARE(mask(), 0);  // a new row shows no highlight

        model.addFrames({frame(0x10, {1, 2, 3, 4, 5, 6, 7, 8})});
        QCOMPARE(mask(), 0);
        model.addFrames({frame(0x10, {1, 2, 0x33, 4, 5, 6, 7, 8})});
        QCOMPARE(mask(), 0x04);
        QCOMPARE(model.data(model.index(0, 7), ReceiveModel::ChangeMaskRole).toInt(), 0x04);
        model.now += 1499;
        QCOMPARE(mask(), 0x04);
        model.now += 1;
        QCOMPARE(mask(), 0);

        // Shorter frame: the bytes that disappeared count as changed.
        model.addFrames({frame(0x10, {1, 2, 0x33, 4, 5, 6})});
        QCOMPARE(mask(), 0xC0);
        model.now += 2000;
        model.addFrames({frame(0x20, {}), frame(0x20, {})});
        QCOMPARE(model.data(model.index(1, 0), ReceiveModel::ChangeMaskRole).toInt(), 0);
        model.addFrames({frame(0x20, {0xAA})});
        QCOMPARE(model.data(model.index(1, 0), ReceiveModel::ChangeMaskRole).toInt(), 0x01);
    }

    void refreshRepaintsOnlyWhileSomethingChangesOrFades()
    {
        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.refresh();
        QCOMPARE(changed.count(), 0);  // empty model

        model.addFrames({frame(0x10, {1}), frame(0x20, {1})});
        model.refresh();
        QCOMPARE(changed.count(), 0);  // new rows are announced by insertion

        model.addFrames({frame(0x10, {1})});  // same data: dirty, no highlight
        QCOMPARE(changed.count(), 0);         // nothing per frame
        model.refresh();
        QCOMPARE(changed.count(), 1);
        const QList<QVariant> args = changed.takeFirst();
        QCOMPARE(args.at(0).toModelIndex(), model.index(0, 0));
        QCOMPARE(args.at(1).toModelIndex(), model.index(1, 7));
        model.refresh();
        QCOMPARE(changed.count(), 0);

        model.addFrames({frame(0x10, {2})});
        const qint64 changedAt = model.now;
        model.refresh();
        model.now = changedAt + 1000;
        model.refresh();
        model.now = changedAt + 1699;
        model.refresh();
        QCOMPARE(changed.count(), 3);
        model.now = changedAt + 1700;
        model.refresh();
        QCOMPARE(changed.count(), 3);
    }

    void clearRemovesRowsAndStartsOver()
    {
        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addFrames({frame(0x10, {1}), frame(0x20, {1})});
        model.addFrames({frame(0x10, {1})});
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        model.refresh();
        QCOMPARE(changed.count(), 0);
        model.addFrames({frame(0x20, {1})});
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(text(model, 0, ReceiveModel::ColCount), QStringLiteral("1"));
    }

    void headers()
    {
        ReceiveModel model;
        const QStringList expected{"ID", "Symbol", "Typ", "DLC", "Daten", "Zykluszeit [ms]", "Anzahl", "Signale"};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(model.headerData(i, Qt::Horizontal).toString(), expected.at(i));
        QVERIFY(!model.headerData(8, Qt::Horizontal).isValid());
        QCOMPARE(model.columnCount(), 8);
        model.addFrames({frame(0x10, {1})});
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QCOMPARE(model.columnCount(model.index(0, 0)), 0);
    }

    void symbolColumnsFromDatabase()
    {
        auto db = std::make_shared<SymbolDatabase>();
        QString error;
        QVERIFY2(db->load(QStringLiteral(BUSVISTA_TEST_DATA "/views/views.sym"), &error), qPrintable(error));

        ClockedReceiveModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addFrames({frame(0x200, {3, 7}), frame(0x300, {1})});
        QVERIFY(!model.data(model.index(0, ReceiveModel::ColSymbol)).isValid());

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setSymbols(db);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(text(model, 0, ReceiveModel::ColSymbol), QStringLiteral("Status"));
        QCOMPARE(text(model, 0, ReceiveModel::ColSymbol, Qt::ToolTipRole), QStringLiteral("Status"));
        const QString signalText = text(model, 0, ReceiveModel::ColSignals);
        QCOMPARE(signalText, db->decodeText(model.frameAt(0) ? *model.frameAt(0) : CanFrame()));
        QVERIFY(signalText.contains(QLatin1String("; ")));
        QCOMPARE(text(model, 0, ReceiveModel::ColSignals, Qt::ToolTipRole),
                 QString(signalText).replace(QLatin1String("; "), QLatin1String("\n")));
        QVERIFY(!model.data(model.index(0, ReceiveModel::ColId), Qt::ToolTipRole).isValid());
        // No symbol for 0x300: invalid except alignment and mask.
        QVERIFY(!model.data(model.index(1, ReceiveModel::ColSymbol)).isValid());
        QVERIFY(!model.data(model.index(1, ReceiveModel::ColSignals), Qt::ToolTipRole).isValid());
        QVERIFY(model.data(model.index(1, ReceiveModel::ColSymbol), Qt::TextAlignmentRole).isValid());

        model.setSymbols(nullptr);
        QVERIFY(!model.data(model.index(0, ReceiveModel::ColSymbol)).isValid());
    }
};

QTEST_GUILESS_MAIN(TestReceiveModel)
#include "tst_receivemodel.moc"
