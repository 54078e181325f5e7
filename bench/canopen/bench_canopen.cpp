// Speed of the heartbeat monitor on mixed traffic (with emergencies), the
// time of a 1,000-byte segmented SDO upload from the simulated node with and
// without heavy unrelated traffic on the bus, of a 64 KiB block upload, and
// of a node scan of IDs 1..127 with a 100 ms time-out.
#include "heartbeatmonitor.h"
#include "nodescanner.h"
#include "sdoclient.h"
#include "simulationbackend.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

void heartbeatMonitorSpeed()
{
    // 5 % heartbeats of 20 nodes, 0.25 % emergencies, the rest ordinary data frames.
    QList<CanFrame> batch;
    for (int i = 0; i < 4000; ++i) {
        CanFrame frame;
        if (i % 400 == 10) {
            frame.id = 0x80 + quint32(1 + (i / 400) % 20);
            frame.dlc = 8;
            frame.data[0] = 0x10;
            frame.data[1] = 0x42;
            frame.data[2] = 0x09;
        } else if (i % 20 == 0) {
            frame.id = 0x700 + quint32(1 + (i / 20) % 20);
            frame.dlc = 1;
            frame.data[0] = 0x05;
        } else {
            frame.id = quint32(0x100 + i % 0x500);
            frame.dlc = 8;
        }
        frame.timestampUs = qint64(i) * 50;
        batch.append(frame);
    }
    HeartbeatMonitor monitor;
    const int rounds = 10000;
    const auto start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        for (CanFrame &frame : batch)
            frame.timestampUs += 200000;
        monitor.handleFrames(batch);
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("HeartbeatMonitor::handleFrames, 5 %% heartbeats, 0.25 %% emergencies: %.1f million frames/s\n",
                double(batch.size()) * rounds / s / 1e6);
}

// Writes 1,000 bytes to 0x2002 and reads them back; returns the read's time in ms.
double uploadMs(int unrelatedPerMs)
{
    SimulationBackend node;
    SdoClient client;
    client.setBackend(&node);
    QObject::connect(&node, &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
    node.open(ConnectParams(), nullptr);
    QTimer traffic;
    traffic.setTimerType(Qt::PreciseTimer);
    QObject::connect(&traffic, &QTimer::timeout, [&] {
        CanFrame frame;
        frame.id = 0x123;
        frame.dlc = 8;
        QList<CanFrame> frames(unrelatedPerMs, frame);
        node.enqueue(frames);
    });
    if (unrelatedPerMs > 0)
        traffic.start(1);
    SdoClient::Result last;
    QObject::connect(&client, &SdoClient::finished, [&](const SdoClient::Result &r) {
        last = r;
        QCoreApplication::quit();
    });
    client.download(5, 0x2002, 0, QByteArray(1000, 'b'), nullptr);
    QCoreApplication::exec();
    if (!last.ok)
        return -1;
    const auto start = Clock::now();
    client.upload(5, 0x2002, 0, nullptr);
    QCoreApplication::exec();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return last.ok && last.data.size() == 1000 ? ms : -1;
}

// Writes 64 KiB to 0x2002 and reads them back, both by block transfer;
// returns the read's time in ms.
double blockUploadMs()
{
    SimulationBackend node;
    SdoClient client;
    client.setBackend(&node);
    client.setBlockTransfer(true);
    QObject::connect(&node, &CanBackend::framesReceived, &client, &SdoClient::handleFrames);
    node.open(ConnectParams(), nullptr);
    SdoClient::Result last;
    QObject::connect(&client, &SdoClient::finished, [&](const SdoClient::Result &r) {
        last = r;
        QCoreApplication::quit();
    });
    QByteArray value(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < value.size(); ++i)
        value[i] = char(0x20 + i % 90);
    client.download(5, 0x2002, 0, value, nullptr);
    QCoreApplication::exec();
    if (!last.ok)
        return -1;
    const auto start = Clock::now();
    client.upload(5, 0x2002, 0, nullptr);
    QCoreApplication::exec();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return last.ok && last.block && last.data == value ? ms : -1;
}

// Scans nodes 1..127 of the simulated bus (node 5 answers) with a 100 ms time-out.
double scanMs(int *found)
{
    SimulationBackend bus;
    NodeScanner scanner;
    scanner.setBackend(&bus);
    scanner.setTimeoutMs(100);
    QObject::connect(&bus, &CanBackend::framesReceived, &scanner, &NodeScanner::handleFrames);
    QObject::connect(&scanner, &NodeScanner::finished, [] { QCoreApplication::quit(); });
    bus.open(ConnectParams(), nullptr);
    const auto start = Clock::now();
    if (!scanner.start(1, 127, nullptr))
        return -1;
    QCoreApplication::exec();
    *found = int(scanner.nodes().size());
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    heartbeatMonitorSpeed();
    const double quiet = uploadMs(0);
    const double busy = uploadMs(21);
    std::printf("SDO upload of 1,000 bytes (0x2002, segmented) from the simulated node: %.1f ms\n", quiet);
    std::printf("the same with 21,000 frames/s of unrelated traffic: %.1f ms (difference %.1f ms, flush period 20 ms)\n",
                busy, busy - quiet);
    const double block = blockUploadMs();
    std::printf("SDO block upload of 64 KiB (0x2002) from the simulated node: %.1f ms\n", block);
    int found = 0;
    const double scan = scanMs(&found);
    std::printf("Node scan of IDs 1..127, 100 ms time-out, 16 at once: %.0f ms (%d node found)\n", scan, found);
    return quiet < 0 || busy < 0 || block < 0 || scan < 0 ? 1 : 0;
}
