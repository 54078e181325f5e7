#include "platform/monotonicclock.h"
#include "platform/programstart.h"
#include "platform/receiveevent.h"
#include "platform/timecritical.h"

#include <QTest>

#include <atomic>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#endif

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void clockIsMonotonicAndInMicroseconds();
    void elapsedClockStartsAtZero();
    void waitTimesOutWhenNotSet();
    void setBeforeWaitIsKeptOnceAndResets();
    void setFromAnotherThreadWakesTheWaiter();
    void driverCanSignalThroughNativeHandle();
    void everySetIsSeenByAWaitingReader();
    void raisedPriorityIsGivenBack();
    void windowsCommandLineQuotesWhereNeeded_data();
    void windowsCommandLineQuotesWhereNeeded();
};

void TestPlatform::clockIsMonotonicAndInMicroseconds()
{
    qint64 previous = MonotonicClock::nowUs();
    for (int i = 0; i < 10000; ++i) {
        const qint64 now = MonotonicClock::nowUs();
        QVERIFY(now >= previous);
        previous = now;
    }
    // Unit check against Qt's monotonic timer: the reference readings bracket
    // ours, so the clock's interval can be neither shorter than the sleep nor
    // longer than the reference interval, however the scheduler interrupts.
    QElapsedTimer reference;
    reference.start();
    const qint64 referenceStartNs = reference.nsecsElapsed();
    const qint64 start = MonotonicClock::nowUs();
    QTest::qSleep(20);
    const qint64 clockUs = MonotonicClock::nowUs() - start;
    const qint64 referenceUs = (reference.nsecsElapsed() - referenceStartNs) / 1000;
    QVERIFY2(clockUs >= 20000 && clockUs <= referenceUs + 2,
             qPrintable(QStringLiteral("%1 µs vs reference %2 µs").arg(clockUs).arg(referenceUs)));
}

void TestPlatform::elapsedClockStartsAtZero()
{
    MonotonicClock clock;
    QVERIFY(!clock.isStarted());
    QCOMPARE(clock.elapsedUs(), 0);
    clock.start();
    QVERIFY(clock.isStarted());
    const qint64 first = clock.elapsedUs();
    QVERIFY(first >= 0 && first < 1000000);
    // A driver time stamp from before the connection opened is clamped at 0.
    QCOMPARE(clock.toElapsedUs(MonotonicClock::nowUs() - 5000000), 0);
    QVERIFY(clock.toElapsedUs(MonotonicClock::nowUs() + 1000) >= 1000);
}

void TestPlatform::waitTimesOutWhenNotSet()
{
    ReceiveEvent event;
    QVERIFY(event.isValid());
    QVERIFY(!event.wait(0));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!event.wait(30));
    QVERIFY(timer.elapsed() >= 29);
}

void TestPlatform::setBeforeWaitIsKeptOnceAndResets()
{
    ReceiveEvent event;
    event.set();
    event.set(); // setting twice still wakes one wait only
    QVERIFY(event.wait(0));
    QVERIFY(!event.wait(0));
    event.set();
    QVERIFY(event.wait(-1));
}

void TestPlatform::setFromAnotherThreadWakesTheWaiter()
{
    ReceiveEvent event;
    std::atomic<bool> waiting {false};
    std::thread setter([&] {
        while (!waiting.load())
            std::this_thread::yield();
        QThread::msleep(20);
        event.set();
    });
    QElapsedTimer timer;
    timer.start();
    waiting.store(true);
    const bool woken = event.wait(10000);
    setter.join();
    QVERIFY(woken);
    QVERIFY(timer.elapsed() < 5000);
}

void TestPlatform::driverCanSignalThroughNativeHandle()
{
    // A driver gets only the handle: on POSIX it writes an eventfd counter.
    ReceiveEvent event;
    const int fd = int(event.nativeHandle());
    const quint64 one = 1;
    QCOMPARE(::write(fd, &one, sizeof one), ssize_t(sizeof one));
    QVERIFY(event.wait(1000));
    QVERIFY(!event.wait(0));
}

void TestPlatform::everySetIsSeenByAWaitingReader()
{
    // Handshake: the setter waits until the reader has consumed each set, so
    // no set may be lost between wake-up and reset.
    ReceiveEvent event;
    ReceiveEvent consumed;
    constexpr int Rounds = 2000;
    std::atomic<int> seen {0};
    std::thread reader([&] {
        for (int i = 0; i < Rounds; ++i) {
            if (!event.wait(5000))
                return;
            seen.fetch_add(1);
            consumed.set();
        }
    });
    for (int i = 0; i < Rounds; ++i) {
        event.set();
        if (!consumed.wait(5000))
            break;
    }
    reader.join();
    QCOMPARE(seen.load(), Rounds);
}

namespace {

// Policy, real-time priority and (Linux) nice value of the calling thread.
struct Scheduling
{
    int policy = -1;
    int priority = -1;
    int nice = 0;
    bool operator==(const Scheduling &o) const { return policy == o.policy && priority == o.priority && nice == o.nice; }
};

Scheduling currentScheduling()
{
    Scheduling now;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &now.policy, &param);
    now.priority = param.sched_priority;
#ifdef __linux__
    now.nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
#endif
    return now;
}

} // namespace

void TestPlatform::raisedPriorityIsGivenBack()
{
    // In a thread of its own, as the trace player uses it; twice, so that a
    // second raise starts from the given-back state.
    Scheduling before, during, after;
    bool raised = false;
    std::thread worker([&] {
        before = currentScheduling();
        for (int round = 0; round < 2; ++round) {
            TimeCriticalThread critical;
            raised = critical.raised();
            during = currentScheduling();
        }
        after = currentScheduling();
    });
    worker.join();
    QVERIFY(after == before);
    if (!raised) {
        QVERIFY(during == before);
        QSKIP("This system allows no raised priority: checked only that nothing changed.");
    }
    // Either real-time scheduling or a lower nice value.
    QVERIFY2(during.policy == SCHED_RR || during.nice < before.nice,
             qPrintable(QStringLiteral("policy %1 nice %2").arg(during.policy).arg(during.nice)));
}

// What the setup's CommandLineToArgvW must get back: quotes only where an
// argument has blanks or quotes or is empty; backslashes doubled only before
// a quote.
void TestPlatform::windowsCommandLineQuotesWhereNeeded_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("line");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("plain") << QStringList{"/S", "/D=C:\\Programme\\Busvista"} << "/S /D=C:\\Programme\\Busvista";
    QTest::newRow("blank") << QStringList{"C:\\Program Files\\Busvista"} << "\"C:\\Program Files\\Busvista\"";
    QTest::newRow("empty") << QStringList{"a", "", "b"} << "a \"\" b";
    QTest::newRow("quote inside") << QStringList{"sag \"hallo\""} << "\"sag \\\"hallo\\\"\"";
    QTest::newRow("trailing backslash with blank") << QStringList{"C:\\Mit Blank\\"} << "\"C:\\Mit Blank\\\\\"";
    QTest::newRow("backslashes before a quote") << QStringList{"a\\\"b"} << "\"a\\\\\\\"b\"";
}

void TestPlatform::windowsCommandLineQuotesWhereNeeded()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, line);
    QCOMPARE(ProgramStart::windowsCommandLine(arguments), line);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
