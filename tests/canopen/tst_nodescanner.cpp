#include "nodescanner.h"
#include "recordingbackend.h"
#include "simulationbackend.h"

#include <QSignalSpy>
#include <QTest>

#include <QSet>

#include <map>

namespace {

// Plays a few nodes: answers 1000h and 1008h from a table, refuses the rest
// with an abort, and counts how many requests wait at the same time.
class PlantBackend : public RecordingBackend
{
public:
    struct Device
    {
        QByteArray deviceType; // empty: 1000h aborted with 06020000h
        QByteArray name;       // empty: 1008h aborted
    };
    bool write(const CanFrame &frame, QString *error) override
    {
        const int node = int(frame.id) - 0x600;
        if (frame.data[0] == 0x80) { // the client gave up (time-out)
            waiting.remove(node);
            if (failAborts)
                return false;
        }
        if (!RecordingBackend::write(frame, error))
            return false;
        if (node < 1 || node > 127 || frame.data[0] == 0x80)
            return true;
        waiting.insert(node);
        maxWaiting = qMax(maxWaiting, int(waiting.size()));
        const auto it = devices.find(node);
        if (it == devices.end())
            return true; // silent
        waiting.remove(node);
        const quint16 index = quint16(frame.data[1] | frame.data[2] << 8);
        const QByteArray value = index == 0x1000 ? it->second.deviceType : it->second.name;
        CanFrame answer;
        answer.id = 0x580 + quint32(node);
        answer.dlc = 8;
        for (int i = 1; i < 4; ++i)
            answer.data[i] = frame.data[i];
        if (value.isEmpty()) {
            answer.data[0] = 0x80;
            answer.data[6] = 0x02;
            answer.data[7] = 0x06;
        } else {
            // Expedited for the device type, names up to 4 bytes in this plant.
            answer.data[0] = quint8(0x43 | ((4 - value.size()) << 2));
            for (int i = 0; i < value.size(); ++i)
                answer.data[4 + i] = quint8(value.at(i));
        }
        enqueue(answer);
        return true;
    }
    std::map<int, Device> devices;
    QSet<int> waiting;
    int maxWaiting = 0;
    bool failAborts = false;
};

} // namespace

class TestNodeScanner : public QObject
{
    Q_OBJECT

private slots:
    void findsAnsweringNodes_data();
    void findsAnsweringNodes();
    void refusals_data();
    void refusals();
    void cancelEndsOnce();
    void simulatedBus();
};

void TestNodeScanner::findsAnsweringNodes_data()
{
    QTest::addColumn<bool>("failAborts");
    QTest::newRow("time-out aborts sent") << false;
    // A silent node stays silent whether or not the scanner's abort got out.
    QTest::newRow("time-out aborts not sent") << true;
}

void TestNodeScanner::findsAnsweringNodes()
{
    QFETCH(bool, failAborts);
    PlantBackend plant;
    plant.failAborts = failAborts;
    plant.devices[3] = {QByteArray("\x91\x01\x0F\x00", 4), QByteArray("IO")};
    plant.devices[64] = {QByteArray("\x92\x01\x00\x00", 4), QByteArray()};
    plant.devices[127] = {QByteArray(), QByteArray()};
    NodeScanner scanner;
    scanner.setBackend(&plant);
    scanner.setTimeoutMs(50);
    scanner.setParallel(8);
    connect(&plant, &CanBackend::framesReceived, &scanner, &NodeScanner::handleFrames);
    QSignalSpy found(&scanner, &NodeScanner::nodeFound);
    QSignalSpy finished(&scanner, &NodeScanner::finished);
    QSignalSpy progress(&scanner, &NodeScanner::progress);
    QString error;
    QVERIFY2(scanner.start(1, 127, &error), qPrintable(error));
    QVERIFY(scanner.isRunning());
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!scanner.isRunning());
    const QList<NodeScanner::Node> nodes = scanner.nodes();
    QCOMPARE(nodes.size(), 3);
    QCOMPARE(found.size(), 3);
    QCOMPARE(nodes.at(0).nodeId, 3);
    QVERIFY(nodes.at(0).deviceTypeRead);
    QCOMPARE(nodes.at(0).deviceType, 0x000F0191u);
    QCOMPARE(nodes.at(0).name, QStringLiteral("IO"));
    QCOMPARE(nodes.at(1).nodeId, 64);
    QCOMPARE(nodes.at(1).name, QString());
    // A node that refuses 1000h is there all the same.
    QCOMPARE(nodes.at(2).nodeId, 127);
    QVERIFY(!nodes.at(2).deviceTypeRead);
    QCOMPARE(nodes.at(2).abortCode, 0x06020000u);
    // Never more than the channels asked for, and each node asked once for 1000h.
    QVERIFY2(plant.maxWaiting <= 8, qPrintable(QString::number(plant.maxWaiting)));
    QVERIFY(plant.maxWaiting >= 2);
    int deviceTypeRequests = 0;
    for (const CanFrame &frame : plant.written)
        deviceTypeRequests += frame.data[0] == 0x40 && frame.data[1] == 0x00 && frame.data[2] == 0x10;
    QCOMPARE(deviceTypeRequests, 127);
    QCOMPARE(progress.last().at(0).toInt(), 127);
    QCOMPARE(progress.last().at(1).toInt(), 127);
    QCOMPARE(NodeScanner::deviceTypeText(0x000F0191), QStringLiteral("Profil 401 (0x000F0191)"));
}

void TestNodeScanner::refusals_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("message");
    QTest::newRow("closed bus") << 1 << 127 << false << "Nicht verbunden.";
    QTest::newRow("node 0") << 0 << 127 << true << "Knoten-IDs müssen zwischen 1 und 127 liegen.";
    QTest::newRow("node 128") << 1 << 128 << true << "Knoten-IDs müssen zwischen 1 und 127 liegen.";
    QTest::newRow("reversed") << 9 << 3 << true << "Knoten-IDs müssen zwischen 1 und 127 liegen.";
}

void TestNodeScanner::refusals()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(bool, open);
    QFETCH(QString, message);
    PlantBackend plant;
    if (!open)
        plant.close();
    NodeScanner scanner;
    scanner.setBackend(&plant);
    QSignalSpy finished(&scanner, &NodeScanner::finished);
    QString error;
    QVERIFY(!scanner.start(first, last, &error));
    QCOMPARE(error, message);
    QVERIFY(plant.written.isEmpty());
    QVERIFY(!scanner.isRunning());
    QCOMPARE(finished.size(), 0);
}

void TestNodeScanner::cancelEndsOnce()
{
    PlantBackend plant;
    NodeScanner scanner;
    scanner.setBackend(&plant);
    scanner.setTimeoutMs(1000);
    scanner.setParallel(4);
    QSignalSpy finished(&scanner, &NodeScanner::finished);
    QVERIFY(scanner.start(1, 127, nullptr));
    QString error;
    QVERIFY(!scanner.start(1, 127, &error));
    QCOMPARE(error, QStringLiteral("Die Knotensuche läuft bereits."));
    scanner.cancel();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    // The waiting requests were aborted, and no late time-out ends it again.
    int aborts = 0;
    for (const CanFrame &frame : plant.written)
        aborts += frame.data[0] == 0x80;
    QCOMPARE(aborts, 4);
    QTest::qWait(50);
    QCOMPARE(finished.size(), 1);
    scanner.cancel();
    QCOMPARE(finished.size(), 1);
}

void TestNodeScanner::simulatedBus()
{
    SimulationBackend simulation;
    simulation.open(ConnectParams(), nullptr);
    NodeScanner scanner;
    scanner.setBackend(&simulation);
    scanner.setTimeoutMs(100);
    connect(&simulation, &CanBackend::framesReceived, &scanner, &NodeScanner::handleFrames);
    QSignalSpy finished(&scanner, &NodeScanner::finished);
    QVERIFY(scanner.start(1, 127, nullptr));
    QVERIFY(finished.wait(10000));
    QCOMPARE(scanner.nodes().size(), 1);
    QCOMPARE(scanner.nodes().at(0).nodeId, 5);
    QCOMPARE(scanner.nodes().at(0).deviceType, 0x191u);
    QCOMPARE(scanner.nodes().at(0).name, QStringLiteral("Busvista Simulation"));
}

QTEST_GUILESS_MAIN(TestNodeScanner)
#include "tst_nodescanner.moc"
