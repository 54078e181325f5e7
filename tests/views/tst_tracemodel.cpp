#include "tracemodel.h"
#include "symbolfile.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

CanFrame frame(quint32 id, qint64 us = 0)
{
    CanFrame f;
    f.id = id;
    f.dlc = 1;
    f.data[0] = quint8(id);
    f.timestampUs = us;
    return f;
}

QList<CanFrame> batch(int count, quint32 firstId = 1, qint64 firstUs = 0)
{
    QList<CanFrame> frames;
    for (int i = 0; i < count; ++i)
        frames.append(frame(firstId + quint32(i), firstUs + i * 100));
    return frames;
}

QString text(const TraceModel &model, int row, int column, int role = Qt::DisplayRole)
{
    return model.data(model.index(row, column), role).toString();
}

} // namespace

class TestTraceModel : public QObject
{
    Q_OBJECT

private slots:
    void recordsOnlyWhileRecording()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("100"), nullptr));
        filter.enabled = true;
        model.setFilter(filter);
        model.addFrames({frame(0x200)});
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.droppedByFilter(), 0u);

        model.setRecording(true);
        model.addFrames({});
        QCOMPARE(model.rowCount(), 0);
        model.addFrames({frame(0x100, 5000000), frame(0x100, 5001500)});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(text(model, 0, TraceModel::ColNumber), QStringLiteral("1"));
        QCOMPARE(text(model, 0, TraceModel::ColTime), QStringLiteral("0.000"));
        QCOMPARE(text(model, 1, TraceModel::ColTime), QStringLiteral("1.500"));
        QVERIFY(model.startTime().isValid());
    }

    void filterKeepsFramesOutAndCountsThem()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecording(true);
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("100"), nullptr));
        filter.enabled = true;
        model.setFilter(filter);

        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.addFrames({frame(0x200, 1000)});
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.droppedByFilter(), 1u);
        QCOMPARE(inserted.count(), 0);

        CanFrame error = frame(0x200, 9000);
        error.error = true;
        model.addFrames({frame(0x100, 7000), frame(0x200, 8000), error});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.droppedByFilter(), 2u);
        QCOMPARE(inserted.count(), 1);  // one notification per batch
        // The origin is the first recorded frame, not the first filtered one.
        QCOMPARE(text(model, 0, TraceModel::ColTime), QStringLiteral("0.000"));
        QCOMPARE(text(model, 1, TraceModel::ColTime), QStringLiteral("2.000"));
        QCOMPARE(text(model, 1, TraceModel::ColType), QStringLiteral("Error"));

        // An enabled filter without ranges records everything.
        filter.ranges.clear();
        model.setFilter(filter);
        model.addFrames({frame(0x300)});
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.droppedByFilter(), 2u);
    }

    void rollsAtMaxEntries()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecording(true);
        model.setMaxEntries(5);
        QCOMPARE(model.maxEntries(), 100);

        // One batch larger than the limit: the last 100 frames, numbered on.
        model.addFrames(batch(250));
        QCOMPARE(model.rowCount(), 100);
        QCOMPARE(text(model, 0, TraceModel::ColNumber), QStringLiteral("151"));
        QCOMPARE(text(model, 99, TraceModel::ColNumber), QStringLiteral("250"));
        QCOMPARE(model.frameAt(0)->id, 151u);

        // At the limit, room is made before the insertion is announced.
        int rowsWhenInsertStarts = -1;
        connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                [&] { rowsWhenInsertStarts = model.rowCount(); });
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        model.addFrames(batch(10, 1000));
        QCOMPARE(rowsWhenInsertStarts, 90);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(model.rowCount(), 100);
        QCOMPARE(text(model, 0, TraceModel::ColNumber), QStringLiteral("161"));
        QCOMPARE(text(model, 99, TraceModel::ColNumber), QStringLiteral("260"));
        QCOMPARE(model.nextNumber(), 261u);

        model.setMaxEntries(150);
        model.addFrames(batch(100, 2000));
        QCOMPARE(model.rowCount(), 150);
        model.setMaxEntries(120);  // lowering trims at once
        QCOMPARE(model.rowCount(), 120);
        QCOMPARE(text(model, 119, TraceModel::ColNumber), QStringLiteral("360"));
        model.setMaxEntries(1000);  // raising brings nothing back
        QCOMPARE(model.rowCount(), 120);
        model.trimTo(3);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(text(model, 0, TraceModel::ColNumber), QStringLiteral("358"));
    }

    void clearStartsNumberingAndTimeAgain()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecording(true);
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("1"), nullptr));
        filter.enabled = true;
        model.setFilter(filter);
        model.addFrames(batch(3, 1, 1000));
        QCOMPARE(model.droppedByFilter(), 2u);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.droppedByFilter(), 0u);
        model.addFrames({frame(1, 99000)});
        QCOMPARE(text(model, 0, TraceModel::ColNumber), QStringLiteral("1"));
        QCOMPARE(text(model, 0, TraceModel::ColTime), QStringLiteral("0.000"));
    }

    void replaceEntriesContinuesNumbering()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::deque<TraceModel::Entry> entries;
        entries.push_back({41, frame(0x10, 2000)});
        entries.push_back({42, frame(0x11, 3000)});
        model.replaceEntries(std::move(entries), QDateTime());
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(text(model, 1, TraceModel::ColTime), QStringLiteral("3.000"));
        model.setRecording(true);
        model.addFrames({frame(0x12, 7000)});
        QCOMPARE(text(model, 2, TraceModel::ColNumber), QStringLiteral("43"));
        // startUs stays 0 after a load: the connection's own time shows.
        QCOMPARE(text(model, 2, TraceModel::ColTime), QStringLiteral("7.000"));
        QCOMPARE(model.entryAt(2).frame.id, 0x12u);
    }

    void cellTextsAndColours()
    {
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecording(true);
        CanFrame tx = frame(0x18FEF100, 0);
        tx.extended = true;
        tx.tx = true;
        tx.dlc = 3;
        tx.data[1] = 0xAB;
        CanFrame status;
        status.status = true;
        status.id = 0x55;
        CanFrame remote = frame(0x7FF);
        remote.rtr = true;
        model.addFrames({tx, status, remote, frame(0x0A)});

        QCOMPARE(text(model, 0, TraceModel::ColDirection), QStringLiteral("Tx"));
        QCOMPARE(text(model, 0, TraceModel::ColId), QStringLiteral("18FEF100h"));
        QCOMPARE(text(model, 0, TraceModel::ColType), QStringLiteral("Ext"));
        QCOMPARE(text(model, 0, TraceModel::ColDlc), QStringLiteral("3"));
        QCOMPARE(text(model, 0, TraceModel::ColData), QStringLiteral("00 AB 00"));
        QCOMPARE(text(model, 1, TraceModel::ColId), QStringLiteral("Status"));
        QCOMPARE(text(model, 1, TraceModel::ColType), QStringLiteral("Status"));
        QCOMPARE(text(model, 2, TraceModel::ColType), QStringLiteral("Std RTR"));
        QCOMPARE(text(model, 2, TraceModel::ColData), QStringLiteral("Remote Request"));
        QCOMPARE(text(model, 3, TraceModel::ColId), QStringLiteral("00Ah"));
        QCOMPARE(text(model, 3, TraceModel::ColDirection), QStringLiteral("Rx"));

        auto colour = [&](int row, int column) {
            return model.data(model.index(row, column), Qt::ForegroundRole).value<QBrush>().color();
        };
        for (int column = 0; column < TraceModel::ColumnCount; ++column) {
            QCOMPARE(colour(0, column), QColor(16, 80, 176));
            QCOMPARE(colour(1, column), QColor(192, 32, 32));
            QVERIFY(!model.data(model.index(3, column), Qt::ForegroundRole).isValid());
            QVERIFY(!model.data(model.index(3, column), Qt::ToolTipRole).isValid());
        }
        QCOMPARE(model.data(model.index(0, TraceModel::ColTime), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignRight | Qt::AlignVCenter));
        QCOMPARE(model.data(model.index(0, TraceModel::ColId), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignLeft | Qt::AlignVCenter));
        const QStringList headers{"Nr.", "Zeit [ms]", "Rx/Tx", "ID", "Symbol", "Typ", "DLC", "Daten", "Signale"};
        for (int i = 0; i < headers.size(); ++i)
            QCOMPARE(model.headerData(i, Qt::Horizontal).toString(), headers.at(i));
        QVERIFY(!model.headerData(9, Qt::Horizontal).isValid());
        QVERIFY(!model.frameAt(4));
        QVERIFY(!model.frameAt(-1));
    }

    void symbolColumns()
    {
        auto db = std::make_shared<SymbolDatabase>();
        QString error;
        QVERIFY2(db->load(QStringLiteral(BUSVISTA_TEST_DATA "/views/views.sym"), &error), qPrintable(error));
        TraceModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setRecording(true);
        CanFrame status = frame(0x200);
        status.dlc = 2;
        status.data[1] = 9;
        model.addFrames({status, frame(0x300)});
        QVERIFY(!model.data(model.index(0, TraceModel::ColSymbol)).isValid());

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setSymbols(db);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex(), model.index(0, TraceModel::ColSymbol));
        QCOMPARE(changed.first().at(1).toModelIndex(), model.index(1, TraceModel::ColSignals));
        QCOMPARE(text(model, 0, TraceModel::ColSymbol), QStringLiteral("Status"));
        QCOMPARE(text(model, 0, TraceModel::ColSymbol, Qt::ToolTipRole), QStringLiteral("Status"));
        const QString decoded = db->decodeText(status);
        QVERIFY(decoded.contains(QLatin1String("; ")));
        QCOMPARE(text(model, 0, TraceModel::ColSignals), decoded);
        QCOMPARE(text(model, 0, TraceModel::ColSignals, Qt::ToolTipRole),
                 QString(decoded).replace(QLatin1String("; "), QLatin1String("\n")));
        QVERIFY(!model.data(model.index(1, TraceModel::ColSymbol)).isValid());
    }
};

QTEST_GUILESS_MAIN(TestTraceModel)
#include "tst_tracemodel.moc"
