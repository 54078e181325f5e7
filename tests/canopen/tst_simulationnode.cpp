#include "recordingbackend.h"
#include "sdoclient.h"
#include "sdotypes.h"
#include "simulationbackend.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {

// The simulated bus on a clock of the test's own.
class Node5 : public SimulationBackend
{
public:
    Node5()
    {
        connect(this, &CanBackend::framesReceived, this, [this](const CanFrameList &frames) { received.append(frames); });
        open(ConnectParams(), nullptr);
    }
    // Sends each request and returns the node's answers as hex texts.
    QStringList exchange(const QStringList &requests)
    {
        received.clear();
        for (const QString &request : requests)
            write(hexFrame(0x605, request.toLatin1().constData()), nullptr);
        flushQueue();
        QStringList answers;
        for (const CanFrame &frame : received) {
            if (frame.id == 0x585 && !frame.tx)
                answers << QString::fromLatin1(frameBytes(frame));
        }
        return answers;
    }
    void runUntil(qint64 ms)
    {
        while (nowNs < ms * 1000000) {
            nowNs += 1000000;
            tick();
        }
        flushQueue();
    }
    CanFrameList framesOf(quint32 id) const
    {
        CanFrameList frames;
        for (const CanFrame &frame : received) {
            if (frame.id == id && !frame.tx)
                frames << frame;
        }
        return frames;
    }
    QList<qint64> heartbeatTimesMs() const
    {
        QList<qint64> times;
        for (const CanFrame &frame : received) {
            if (frame.id == 0x705 && !frame.tx)
                times << frame.timestampUs / 1000;
        }
        return times;
    }

    qint64 nowNs = 0;
    CanFrameList received;

protected:
    qint64 elapsedNs() const override { return nowNs; }
    // A block of segments fills the transmit queue: the clock moves while the client waits.
    void waitUntil(qint64 untilNs) override { nowNs = std::max(nowNs, untilNs); }
};

QString abortOf(const char *mux, quint32 code)
{
    QString text = QStringLiteral("80 ") + QLatin1String(mux);
    for (int i = 0; i < 4; ++i)
        text += QStringLiteral(" %1").arg((code >> (8 * i)) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace

class TestSimulationNode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();
    void dictionaryChangesOnlyThroughAcceptedWrites();
    void heartbeatFollowsProducerTime();
    void emptyValueUploadsAsSizeZero();
    void lookupErrors_data();
    void lookupErrors();
    void nmtCommands();
    void stoppedNodeIsSilentForSdo();
    void otherNodesFollowNmt_data();
    void otherNodesFollowNmt();
    void clientReadsAndWritesEveryEntry();
    void blockTransferRoundTrip_data();
    void blockTransferRoundTrip();
    void blockServerFaults_data();
    void blockServerFaults();
};

void TestSimulationNode::initTestCase()
{
    qRegisterMetaType<CanFrameList>();
}

void TestSimulationNode::requests_data()
{
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("answers");
    QTest::newRow("upload 1000") << QStringList{"40 00 10 00 00 00 00 00"} << QStringList{"43 00 10 00 91 01 00 00"};
    QTest::newRow("upload 1017") << QStringList{"40 17 10 00 00 00 00 00"} << QStringList{"4B 17 10 00 E8 03 00 00"};
    QTest::newRow("upload 1009") << QStringList{"40 09 10 00 00 00 00 00"} << QStringList{"47 09 10 00 31 2E 30 00"};
    QTest::newRow("upload 2000 one byte") << QStringList{"40 00 20 00 00 00 00 00"} << QStringList{"4F 00 20 00 00 00 00 00"};
    QTest::newRow("segmented 100A")
        << QStringList{"40 0A 10 00 00 00 00 00", "60 00 00 00 00 00 00 00", "60 00 00 00 00 00 00 00"}
        << QStringList{"41 0A 10 00 05 00 00 00", "05 31 2E 30 2E 30 00 00", abortOf("0A 10 00", 0x05040001)};
    QTest::newRow("segmented 1008 toggles")
        << QStringList{"40 08 10 00 00 00 00 00", "60 00 00 00 00 00 00 00", "70 00 00 00 00 00 00 00",
                       "60 00 00 00 00 00 00 00"}
        << QStringList{"41 08 10 00 13 00 00 00", "00 42 75 73 76 69 73 74", "10 61 20 53 69 6D 75 6C",
                       "05 61 74 69 6F 6E 00 00"};
    QTest::newRow("repeated toggle") << QStringList{"40 08 10 00 00 00 00 00", "60 00 00 00 00 00 00 00", "60 00 00 00 00 00 00 00"}
                                     << QStringList{"41 08 10 00 13 00 00 00", "00 42 75 73 76 69 73 74",
                                                    abortOf("08 10 00", 0x05030000)};
    // A rest of exactly 7 bytes is the last segment: c set, n 0, no empty segment after it.
    QTest::newRow("upload of 7 bytes: one last segment")
        << QStringList{"21 02 20 00 07 00 00 00", "01 41 42 43 44 45 46 47", "40 02 20 00 00 00 00 00",
                       "60 00 00 00 00 00 00 00", "70 00 00 00 00 00 00 00"}
        << QStringList{"60 02 20 00 00 00 00 00", "20 00 00 00 00 00 00 00", "41 02 20 00 07 00 00 00",
                       "01 41 42 43 44 45 46 47", abortOf("02 20 00", 0x05040001)};
    QTest::newRow("upload of 14 bytes: second segment is the last")
        << QStringList{"21 02 20 00 0E 00 00 00", "00 41 42 43 44 45 46 47", "11 48 49 4A 4B 4C 4D 4E",
                       "40 02 20 00 00 00 00 00", "60 00 00 00 00 00 00 00", "70 00 00 00 00 00 00 00",
                       "60 00 00 00 00 00 00 00"}
        << QStringList{"60 02 20 00 00 00 00 00", "20 00 00 00 00 00 00 00", "30 00 00 00 00 00 00 00",
                       "41 02 20 00 0E 00 00 00", "00 41 42 43 44 45 46 47", "11 48 49 4A 4B 4C 4D 4E",
                       abortOf("02 20 00", 0x05040001)};
    QTest::newRow("segment without upload") << QStringList{"60 00 00 00 00 00 00 00"}
                                            << QStringList{abortOf("00 00 00", 0x05040001)};
    QTest::newRow("missing subindex") << QStringList{"40 18 10 05 00 00 00 00"} << QStringList{abortOf("18 10 05", 0x06090011)};
    QTest::newRow("missing index") << QStringList{"40 00 60 00 00 00 00 00"} << QStringList{abortOf("00 60 00", 0x06020000)};
    QTest::newRow("write read-only") << QStringList{"2F 00 10 00 01 00 00 00"} << QStringList{abortOf("00 10 00", 0x06010002)};
    QTest::newRow("write missing") << QStringList{"2F 00 60 00 01 00 00 00"} << QStringList{abortOf("00 60 00", 0x06020000)};
    QTest::newRow("one byte to 2001") << QStringList{"2F 01 20 00 01 00 00 00"} << QStringList{abortOf("01 20 00", 0x06070013)};
    QTest::newRow("four bytes to 2000") << QStringList{"23 00 20 00 01 02 03 04"} << QStringList{abortOf("00 20 00", 0x06070012)};
    QTest::newRow("heartbeat 5 ms") << QStringList{"2B 17 10 00 05 00 00 00"} << QStringList{abortOf("17 10 00", 0x06090032)};
    QTest::newRow("heartbeat 500 ms") << QStringList{"2B 17 10 00 F4 01 00 00"} << QStringList{"60 17 10 00 00 00 00 00"};
    QTest::newRow("expedited without size is 4 bytes") << QStringList{"22 01 20 00 01 02 03 04"}
                                                       << QStringList{"60 01 20 00 00 00 00 00"};
    // Without size the entry's length counts: one byte for 2000, two for 1017.
    QTest::newRow("expedited without size to 2000")
        << QStringList{"22 00 20 00 2A 00 00 00", "40 00 20 00 00 00 00 00"}
        << QStringList{"60 00 20 00 00 00 00 00", "4F 00 20 00 2A 00 00 00"};
    QTest::newRow("expedited without size to 1017")
        << QStringList{"22 17 10 00 F4 01 00 00", "40 17 10 00 00 00 00 00"}
        << QStringList{"60 17 10 00 00 00 00 00", "4B 17 10 00 F4 01 00 00"};
    QTest::newRow("expedited without size to a text")
        << QStringList{"22 02 20 00 4F 4B 00 00", "40 02 20 00 00 00 00 00"}
        << QStringList{"60 02 20 00 00 00 00 00", "4B 02 20 00 4F 4B 00 00"};
    QTest::newRow("segmented text 7+3")
        << QStringList{"21 02 20 00 0A 00 00 00", "00 41 42 43 44 45 46 47", "19 48 49 4A 00 00 00 00"}
        << QStringList{"60 02 20 00 00 00 00 00", "20 00 00 00 00 00 00 00", "30 00 00 00 00 00 00 00"};
    QTest::newRow("announced 11, sent 10")
        << QStringList{"21 02 20 00 0B 00 00 00", "00 41 42 43 44 45 46 47", "19 48 49 4A 00 00 00 00"}
        << QStringList{"60 02 20 00 00 00 00 00", "20 00 00 00 00 00 00 00", abortOf("02 20 00", 0x06070010)};
    QTest::newRow("announced 3 to 2001") << QStringList{"21 01 20 00 03 00 00 00"} << QStringList{abortOf("01 20 00", 0x06070013)};
    QTest::newRow("announced 5 to 2001") << QStringList{"21 01 20 00 05 00 00 00"} << QStringList{abortOf("01 20 00", 0x06070012)};
    QTest::newRow("download segment toggle")
        << QStringList{"21 02 20 00 0A 00 00 00", "10 41 42 43 44 45 46 47"}
        << QStringList{"60 02 20 00 00 00 00 00", abortOf("02 20 00", 0x05030000)};
    QTest::newRow("segment without download") << QStringList{"00 41 42 43 44 45 46 47"}
                                              << QStringList{abortOf("00 00 00", 0x05040001)};
    QTest::newRow("block download to read-only") << QStringList{"C0 00 10 00 00 00 00 00"} << QStringList{abortOf("00 10 00", 0x06010002)};
    QTest::newRow("unknown command 0xE0") << QStringList{"E0 00 10 00 00 00 00 00"} << QStringList{abortOf("00 10 00", 0x05040001)};
    QTest::newRow("client abort is silent") << QStringList{"40 08 10 00 00 00 00 00", "80 08 10 00 00 00 00 08",
                                                           "60 00 00 00 00 00 00 00"}
                                            << QStringList{"41 08 10 00 13 00 00 00", abortOf("08 10 00", 0x05040001)};
    QTest::newRow("new initiate drops old transfer")
        << QStringList{"40 08 10 00 00 00 00 00", "40 00 10 00 00 00 00 00", "60 00 00 00 00 00 00 00"}
        << QStringList{"41 08 10 00 13 00 00 00", "43 00 10 00 91 01 00 00", abortOf("08 10 00", 0x05040001)};
}

void TestSimulationNode::requests()
{
    QFETCH(QStringList, requests);
    QFETCH(QStringList, answers);
    Node5 node;
    node.nowNs = 2000000;
    QCOMPARE(node.exchange(requests), answers);
    for (const CanFrame &frame : node.received) {
        if (frame.id == 0x585) {
            QCOMPARE(frame.timestampUs, qint64(2150));
            QCOMPARE(frame.dlc, quint8(8));
        }
    }
}

void TestSimulationNode::dictionaryChangesOnlyThroughAcceptedWrites()
{
    Node5 node;
    const QMap<unsigned, SimulationBackend::OdEntry> before = node.objectDictionary();
    node.exchange({"2F 01 20 00 01 00 00 00", "21 02 20 00 0B 00 00 00", "00 41 42 43 44 45 46 47",
                   "19 48 49 4A 00 00 00 00", "2B 17 10 00 05 00 00 00"});
    QCOMPARE(node.objectDictionary().size(), before.size());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(node.objectDictionary().value(it.key()).value, it->value);
    node.exchange({"21 02 20 00 0A 00 00 00", "00 41 42 43 44 45 46 47", "19 48 49 4A 00 00 00 00",
                   "2B 03 20 00 9D FF 00 00"});
    QCOMPARE(node.objectDictionary().value(0x200200).value, QByteArray("ABCDEFGHIJ"));
    QCOMPARE(node.objectDictionary().value(0x200300).value, QByteArray("\x9D\xFF"));
    // Every open starts from the power-on dictionary.
    node.open(ConnectParams(), nullptr);
    QCOMPARE(node.objectDictionary().value(0x200200).value, QByteArray("Hallo CANopen"));
    QCOMPARE(node.exchange({"60 00 00 00 00 00 00 00"}), QStringList{abortOf("00 00 00", 0x05040001)});
}

void TestSimulationNode::heartbeatFollowsProducerTime()
{
    Node5 node;
    node.runUntil(2100);
    QCOMPARE(node.heartbeatTimesMs(), (QList<qint64>{0, 1000, 2000}));
    node.exchange({"2B 17 10 00 F4 01 00 00"});
    node.received.clear();
    node.runUntil(3700);
    QCOMPARE(node.heartbeatTimesMs(), (QList<qint64>{2600, 3100, 3600}));
    node.exchange({"2B 17 10 00 00 00 00 00"});
    node.received.clear();
    node.runUntil(8000);
    QVERIFY(node.heartbeatTimesMs().isEmpty());
    QCOMPARE(node.exchange({"40 17 10 00 00 00 00 00"}), QStringList{"4B 17 10 00 00 00 00 00"});
}

void TestSimulationNode::emptyValueUploadsAsSizeZero()
{
    Node5 node;
    QCOMPARE(node.exchange({"21 02 20 00 00 00 00 00", "0F 00 00 00 00 00 00 00"}),
             (QStringList{"60 02 20 00 00 00 00 00", "20 00 00 00 00 00 00 00"}));
    QVERIFY(node.objectDictionary().value(0x200200).value.isEmpty());
    QCOMPARE(node.exchange({"40 02 20 00 00 00 00 00", "60 00 00 00 00 00 00 00"}),
             (QStringList{"41 02 20 00 00 00 00 00", "0F 00 00 00 00 00 00 00"}));
}

void TestSimulationNode::lookupErrors_data()
{
    QTest::addColumn<unsigned>("key");
    QTest::addColumn<quint32>("code");
    QTest::newRow("exists") << 0x101804u << 0u;
    QTest::newRow("other sub") << 0x101805u << 0x06090011u;
    QTest::newRow("sub of a single entry") << 0x100001u << 0x06090011u;
    QTest::newRow("no index") << 0x600000u << 0x06020000u;
    QTest::newRow("beyond the last") << 0xFFFFFFu << 0x06020000u;
}

void TestSimulationNode::lookupErrors()
{
    QFETCH(unsigned, key);
    QFETCH(quint32, code);
    Node5 node;
    QCOMPARE(node.lookupError(key), code);
}

void TestSimulationNode::nmtCommands()
{
    Node5 node;
    auto nmt = [&node](quint8 command, quint8 target) {
        CanFrame frame;
        frame.dlc = 2;
        frame.data[0] = command;
        frame.data[1] = target;
        node.received.clear();
        node.write(frame, nullptr);
        node.flushQueue();
    };
    QCOMPARE(node.nmtState(), quint8(0x05));
    nmt(0x02, 5);
    QCOMPARE(node.nmtState(), quint8(0x04));
    nmt(0x01, 6); // another node
    QCOMPARE(node.nmtState(), quint8(0x04));
    nmt(0x80, 0); // all nodes
    QCOMPARE(node.nmtState(), quint8(0x7F));
    node.received.clear();
    node.runUntil(1000);
    QCOMPARE(node.heartbeatTimesMs().size(), 1);
    QCOMPARE(node.framesOf(0x705).last().data[0], quint8(0x7F));
    nmt(0x01, 5);
    QCOMPARE(node.nmtState(), quint8(0x05));

    node.exchange({"2B 17 10 00 00 00 00 00", "2F 00 20 00 2A 00 00 00"});
    nmt(0x82, 5); // reset communication: heartbeat back, application values kept
    QCOMPARE(node.received.last().id, quint32(0x705));
    QCOMPARE(node.received.last().data[0], quint8(0x00));
    QCOMPARE(node.nmtState(), quint8(0x7F));
    QCOMPARE(node.objectDictionary().value(0x101700).value, QByteArray("\xE8\x03", 2));
    QCOMPARE(node.objectDictionary().value(0x200000).value, QByteArray("\x2A"));
    nmt(0x81, 0); // reset node: everything back
    QCOMPARE(node.objectDictionary().value(0x200000).value, QByteArray(1, '\0'));
    node.received.clear();
    node.runUntil(3000);
    QVERIFY(!node.heartbeatTimesMs().isEmpty());
}

void TestSimulationNode::stoppedNodeIsSilentForSdo()
{
    Node5 node;
    const CanFrame stop = hexFrame(0x000, "02 05");
    node.write(stop, nullptr);
    QCOMPARE(node.exchange({"40 00 10 00 00 00 00 00", "2F 00 20 00 2A 00 00 00"}), QStringList());
    QCOMPARE(node.objectDictionary().value(0x200000).value, QByteArray(1, '\0'));
    node.runUntil(1500); // the heartbeat goes on, reporting "stopped"
    QVERIFY(!node.framesOf(0x705).isEmpty());
    QCOMPARE(node.framesOf(0x705).last().data[0], quint8(0x04));
    node.write(hexFrame(0x000, "80 00"), nullptr);
    QCOMPARE(node.exchange({"40 00 10 00 00 00 00 00"}), QStringList{"43 00 10 00 91 01 00 00"});
}

void TestSimulationNode::otherNodesFollowNmt_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<int>>("states"); // of 0x10, 0x14, 0x15 afterwards
    QTest::addColumn<int>("bootUps");
    QTest::newRow("stop all") << "02 00" << QList<int>{0x04, 0x04, 0x04} << 0;
    QTest::newRow("start all") << "01 00" << QList<int>{0x05, 0x05, 0x05} << 0;
    QTest::newRow("pre-op all") << "80 00" << QList<int>{0x7F, 0x7F, 0x7F} << 0;
    QTest::newRow("stop 14h only") << "02 14" << QList<int>{0x7F, 0x04, 0x05} << 0;
    QTest::newRow("reset all") << "81 00" << QList<int>{0x7F, 0x7F, 0x7F} << 4;
    QTest::newRow("reset comm 15h") << "82 15" << QList<int>{0x7F, 0x05, 0x7F} << 1;
    QTest::newRow("node 5 only") << "02 05" << QList<int>{0x7F, 0x05, 0x05} << 0;
}

void TestSimulationNode::otherNodesFollowNmt()
{
    QFETCH(QString, command);
    QFETCH(QList<int>, states);
    QFETCH(int, bootUps);
    Node5 node;
    node.flushQueue();
    node.received.clear();
    node.write(hexFrame(0x000, command.toLatin1().constData()), nullptr);
    node.flushQueue();
    int seenBootUps = 0;
    for (const CanFrame &frame : node.received)
        seenBootUps += !frame.tx && (frame.id & 0x780) == 0x700 && frame.dlc == 1 && frame.data[0] == 0;
    QCOMPARE(seenBootUps, bootUps);
    const int nodes[] = {0x10, 0x14, 0x15};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(int(node.nmtState(nodes[i])), states.at(i));
    // Their heartbeats report the new state.
    node.received.clear();
    node.runUntil(1100);
    for (int i = 0; i < 3; ++i) {
        const CanFrameList beats = node.framesOf(0x700 + quint32(nodes[i]));
        QVERIFY(!beats.isEmpty());
        QCOMPARE(int(beats.last().data[0]), states.at(i));
    }
    QCOMPARE(int(node.nmtState(0x33)), 0xFF);
}

void TestSimulationNode::clientReadsAndWritesEveryEntry()
{
    Node5 node;
    SdoClient client;
    client.setBackend(&node);
    QSignalSpy finished(&client, &SdoClient::finished);
    connect(&node, &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
    auto run = [&](bool write, unsigned key, const QByteArray &data) {
        finished.clear();
        const bool started = write ? client.download(5, quint16(key >> 8), quint8(key), data, nullptr)
                                   : client.upload(5, quint16(key >> 8), quint8(key), nullptr);
        for (int i = 0; i < 400 && finished.isEmpty(); ++i)
            node.flushQueue();
        return started && finished.size() == 1 ? finished.at(0).at(0).value<SdoClient::Result>() : SdoClient::Result();
    };
    const QMap<unsigned, SimulationBackend::OdEntry> dictionary = node.objectDictionary();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        const SdoClient::Result read = run(false, it.key(), {});
        QVERIFY2(read.ok, qPrintable(read.message));
        QCOMPARE(read.data, it->value);
        const QByteArray value = it.key() == 0x101700 ? QByteArray("\x64\x00", 2)
                                 : it->size > 0      ? QByteArray(it->size, '\x11')
                                                     : QByteArray("Ein längerer Text über sieben Byte");
        const SdoClient::Result written = run(true, it.key(), value);
        if (it->writable) {
            QVERIFY2(written.ok, qPrintable(written.message));
            QCOMPARE(run(false, it.key(), {}).data, value);
        } else {
            QCOMPARE(written.abortCode, quint32(0x06010002));
        }
    }
    const SdoClient::Result missing = run(false, 0x600000, {});
    QCOMPARE(missing.message, Sdo::abortText(0x06020000));
}

void TestSimulationNode::blockTransferRoundTrip_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("blockSize"); // segments per block the client asks for
    QTest::newRow("1 byte") << 1 << 127;
    QTest::newRow("7 bytes, one full segment") << 7 << 127;
    QTest::newRow("8 bytes") << 8 << 127;
    QTest::newRow("889 bytes, one full block") << 889 << 127;
    QTest::newRow("890 bytes") << 890 << 127;
    QTest::newRow("small blocks of 3") << 100 << 3;
    QTest::newRow("100 KiB") << 100 * 1024 << 127;
}

void TestSimulationNode::blockTransferRoundTrip()
{
    QFETCH(int, size);
    QFETCH(int, blockSize);
    Node5 node;
    SdoClient client;
    client.setBackend(&node);
    client.setBlockTransfer(true);
    client.setBlockSize(blockSize);
    QSignalSpy finished(&client, &SdoClient::finished);
    connect(&node, &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
    auto run = [&](bool write, const QByteArray &data) {
        finished.clear();
        const bool started = write ? client.download(5, 0x2002, 0, data, nullptr) : client.upload(5, 0x2002, 0, nullptr);
        for (int i = 0; i < 5000 && finished.isEmpty(); ++i)
            node.flushQueue();
        return started && finished.size() == 1 ? finished.at(0).at(0).value<SdoClient::Result>() : SdoClient::Result();
    };
    QByteArray value(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        value[i] = char(0x20 + (i * 7 + i / 251) % 95);
    const SdoClient::Result written = run(true, value);
    QVERIFY2(written.ok, qPrintable(written.message));
    QVERIFY(written.block);
    QCOMPARE(node.objectDictionary().value(0x200200).value, value);
    const SdoClient::Result read = run(false, {});
    QVERIFY2(read.ok, qPrintable(read.message));
    QVERIFY(read.block);
    QCOMPARE(read.data.size(), value.size());
    QCOMPARE(read.data, value);
    // A 4-byte number also goes as block transfer.
    client.setBlockTransfer(true);
    finished.clear();
    client.upload(5, 0x1000, 0, nullptr);
    for (int i = 0; i < 50 && finished.isEmpty(); ++i)
        node.flushQueue();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).value<SdoClient::Result>().data, QByteArray("\x91\x01\x00\x00", 4));
}

void TestSimulationNode::blockServerFaults_data()
{
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("answers");
    const QString init = QStringLiteral("C6 02 20 00 0A 00 00 00"); // 10 bytes to 2002, with CRC
    const QString accepted = QStringLiteral("A4 02 20 00 7F 00 00 00");
    QTest::newRow("download with wrong CRC")
        << QStringList{init, "01 41 42 43 44 45 46 47", "82 48 49 4A 00 00 00 00", "D1 00 00 00 00 00 00 00"}
        << QStringList{accepted, "A2 02 7F 00 00 00 00 00", abortOf("02 20 00", 0x05040004)};
    QTest::newRow("download without CRC")
        << QStringList{"C2 02 20 00 0A 00 00 00", "01 41 42 43 44 45 46 47", "82 48 49 4A 00 00 00 00",
                       "D1 00 00 00 00 00 00 00"}
        << QStringList{"A4 02 20 00 7F 00 00 00", "A2 02 7F 00 00 00 00 00", "A1 00 00 00 00 00 00 00"};
    // Segment 2 lost: the last one is acknowledged with sequence 1, and the
    // client repeats the rest as a new block.
    QTest::newRow("download gap acknowledged")
        << QStringList{"C2 02 20 00 0A 00 00 00", "01 41 42 43 44 45 46 47", "83 48 49 4A 00 00 00 00",
                       "81 48 49 4A 00 00 00 00", "D1 00 00 00 00 00 00 00"}
        << QStringList{"A4 02 20 00 7F 00 00 00", "A2 01 7F 00 00 00 00 00", "A2 01 7F 00 00 00 00 00",
                       "A1 00 00 00 00 00 00 00"};
    QTest::newRow("download size differs")
        << QStringList{"C2 02 20 00 0B 00 00 00", "01 41 42 43 44 45 46 47", "82 48 49 4A 00 00 00 00",
                       "D1 00 00 00 00 00 00 00"}
        << QStringList{"A4 02 20 00 7F 00 00 00", "A2 02 7F 00 00 00 00 00", abortOf("02 20 00", 0x06070010)};
    QTest::newRow("download of wrong size to 2001") << QStringList{"C2 01 20 00 05 00 00 00"}
                                                    << QStringList{abortOf("01 20 00", 0x06070012)};
    QTest::newRow("upload block size 0") << QStringList{"A4 00 10 00 00 00 00 00"}
                                         << QStringList{abortOf("00 10 00", 0x05040002)};
    QTest::newRow("upload of 1000h, blocks of 1")
        << QStringList{"A0 00 10 00 01 00 00 00", "A3 00 00 00 00 00 00 00", "A2 01 01 00 00 00 00 00",
                       "A1 00 00 00 00 00 00 00"}
        << QStringList{"C6 00 10 00 04 00 00 00", "81 91 01 00 00 00 00 00", "CD 00 00 00 00 00 00 00"};
    QTest::newRow("upload repeats after a gap")
        << QStringList{"A0 08 10 00 02 00 00 00", "A3 00 00 00 00 00 00 00", "A2 01 02 00 00 00 00 00"}
        << QStringList{"C6 08 10 00 13 00 00 00", "01 42 75 73 76 69 73 74", "02 61 20 53 69 6D 75 6C",
                       "01 61 20 53 69 6D 75 6C", "82 61 74 69 6F 6E 00 00"};
    QTest::newRow("upload protocol switch") << QStringList{"A0 00 10 00 7F 04 00 00"}
                                            << QStringList{"43 00 10 00 91 01 00 00"};
    QTest::newRow("start without initiate") << QStringList{"A3 00 00 00 00 00 00 00"}
                                            << QStringList{abortOf("00 00 00", 0x05040001)};
    QTest::newRow("end of download without segments") << QStringList{"C1 02 20 00 00 00 00 00"}
                                                      << QStringList{abortOf("00 00 00", 0x05040001)};
}

void TestSimulationNode::blockServerFaults()
{
    QFETCH(QStringList, requests);
    QFETCH(QStringList, answers);
    Node5 node;
    QCOMPARE(node.exchange(requests), answers);
}

QTEST_GUILESS_MAIN(TestSimulationNode)
#include "tst_simulationnode.moc"
