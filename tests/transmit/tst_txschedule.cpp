#include "transmitmodel.h"
#include "txschedule.h"

#include <QTest>

namespace {

TxMessage cyclic(quint32 id, int cycleMs, bool active = true)
{
    TxMessage m;
    m.frame.id = id;
    m.frame.dlc = 8;
    m.cycleMs = cycleMs;
    m.active = active;
    return m;
}

} // namespace

class TestTxSchedule : public QObject
{
    Q_OBJECT

private slots:
    void nextDueDropsMissedCycles_data();
    void nextDueDropsMissedCycles();
    void sendsOnlyActiveCyclicRowsWhenDue();
    void keepsTheCycleOnAFineClock();
    void blockedClockSendsOnceAndContinues();
    void failedSendStillAdvances();
    void activationMakesARowDueAtOnce();
};

void TestTxSchedule::nextDueDropsMissedCycles_data()
{
    QTest::addColumn<qint64>("due");
    QTest::addColumn<int>("cycle");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("next");
    QTest::newRow("on time") << qint64(100) << 10 << qint64(100) << qint64(110);
    QTest::newRow("late within a cycle") << qint64(100) << 10 << qint64(109) << qint64(110);
    QTest::newRow("late by exactly a cycle") << qint64(100) << 10 << qint64(110) << qint64(120);
    QTest::newRow("late by many cycles") << qint64(100) << 10 << qint64(155) << qint64(165);
    QTest::newRow("first send after activation") << qint64(0) << 1000 << qint64(5) << qint64(1000);
}

void TestTxSchedule::nextDueDropsMissedCycles()
{
    QFETCH(qint64, due);
    QFETCH(int, cycle);
    QFETCH(qint64, now);
    QFETCH(qint64, next);
    QCOMPARE(TxSchedule::nextDue(due, cycle, now), next);
}

void TestTxSchedule::sendsOnlyActiveCyclicRowsWhenDue()
{
    TransmitModel model;
    model.addMessage(cyclic(0x1, 10));          // active, due at 0
    model.addMessage(cyclic(0x2, 10, false));   // switched off
    TxMessage manual = cyclic(0x3, 0);
    model.addMessage(manual);                   // manual rows never become active
    model.addMessage(cyclic(0x4, 5));
    model.setNextDueMs(3, 3);
    TxSchedule schedule(&model);

    QList<int> sent;
    auto send = [&](int row) { sent.append(row); return true; };
    QCOMPARE(schedule.tick(0, send), 1);
    QCOMPARE(sent, QList<int>{0});
    QCOMPARE(model.message(0).nextDueMs, qint64(10));
    sent.clear();
    QCOMPARE(schedule.tick(0, send), 0);   // same tick again: nothing more
    QCOMPARE(schedule.tick(2, send), 0);
    QCOMPARE(schedule.tick(3, send), 1);
    QCOMPARE(sent, QList<int>{3});
    QVERIFY(!model.message(2).active);
    QCOMPARE(model.message(1).nextDueMs, qint64(0));   // untouched while off
}

void TestTxSchedule::keepsTheCycleOnAFineClock()
{
    TransmitModel model;
    model.addMessage(cyclic(0x1, 10));
    model.addMessage(cyclic(0x2, 1));
    model.addMessage(cyclic(0x3, 7));
    TxSchedule schedule(&model);
    QList<qint64> sendTimes[3];
    qint64 now = 0;
    for (now = 0; now <= 100; ++now)
        schedule.tick(now, [&](int row) { sendTimes[row].append(now); return true; });

    QCOMPARE(sendTimes[0], (QList<qint64>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    QCOMPARE(sendTimes[1].size(), 101);
    QCOMPARE(sendTimes[2].size(), 15);   // 0, 7, ..., 98
    QCOMPARE(sendTimes[2].last(), qint64(98));
}

void TestTxSchedule::blockedClockSendsOnceAndContinues()
{
    TransmitModel model;
    model.addMessage(cyclic(0x1, 10));
    TxSchedule schedule(&model);
    QList<qint64> times;
    qint64 now = 0;
    auto send = [&](int) { times.append(now); return true; };
    for (now = 0; now <= 20; ++now)
        schedule.tick(now, send);
    // The GUI thread was blocked for 50 ms: one send, not five in a burst.
    for (now = 75; now <= 100; ++now)
        schedule.tick(now, send);
    QCOMPARE(times, (QList<qint64>{0, 10, 20, 75, 85, 95}));
}

void TestTxSchedule::failedSendStillAdvances()
{
    TransmitModel model;
    model.addMessage(cyclic(0x1, 10));
    TxSchedule schedule(&model);
    int attempts = 0;
    for (qint64 now = 0; now < 50; ++now)
        schedule.tick(now, [&](int) { ++attempts; return false; });
    QCOMPARE(attempts, 5);
    QCOMPARE(model.message(0).nextDueMs, qint64(50));
}

void TestTxSchedule::activationMakesARowDueAtOnce()
{
    TransmitModel model;
    model.addMessage(cyclic(0x1, 100, false));
    model.addMessage(cyclic(0x2, 100, false));
    TxSchedule schedule(&model);
    // What the main window does on activeChanged(row, true).
    QObject::connect(&model, &TransmitModel::activeChanged, &model,
                     [&](int row, bool on) { if (on) schedule.makeDue(row, 5000); });
    model.setActive(1, true);
    QList<int> sent;
    QCOMPARE(schedule.tick(5000, [&](int row) { sent.append(row); return true; }), 1);
    QCOMPARE(sent, QList<int>{1});
    QCOMPARE(model.message(1).nextDueMs, qint64(5100));

    // A new connection restarts every row from the current clock.
    model.setActive(0, true);
    schedule.makeAllDue(9000);
    QCOMPARE(model.message(0).nextDueMs, qint64(9000));
    QCOMPARE(model.message(1).nextDueMs, qint64(9000));
    sent.clear();
    QCOMPARE(schedule.tick(9000, [&](int row) { sent.append(row); return true; }), 2);
    QCOMPARE(sent, (QList<int>{0, 1}));
}

QTEST_GUILESS_MAIN(TestTxSchedule)
#include "tst_txschedule.moc"
