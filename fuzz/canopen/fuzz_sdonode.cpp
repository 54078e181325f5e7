// Random SDO requests to the simulated node 5: it answers every request with
// exactly one frame (except a client abort), and its dictionary changes only
// with an accepted download.
#include "simulationbackend.h"

#include <QCoreApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SimulationBackend node;
    QList<CanFrame> answers;
    QObject::connect(&node, &CanBackend::framesReceived, [&](const CanFrameList &frames) {
        for (const CanFrame &frame : frames) {
            if (frame.id == 0x585 && !frame.tx)
                answers.append(frame);
        }
    });
    node.open(ConnectParams(), nullptr);
    node.flushQueue();
    for (size_t at = 0; at + 8 <= size; at += 8) {
        CanFrame request;
        request.id = 0x605;
        request.dlc = 8;
        for (int i = 0; i < 8; ++i)
            request.data[i] = data[at + size_t(i)];
        const QMap<unsigned, SimulationBackend::OdEntry> before = node.objectDictionary();
        answers.clear();
        node.write(request, nullptr);
        node.flushQueue();
        if (request.data[0] == 0x80) {
            if (!answers.isEmpty())
                std::abort();
            continue;
        }
        if (answers.size() != 1 || answers.at(0).dlc != 8)
            std::abort();
        const quint8 answer = answers.at(0).data[0];
        bool changed = before.size() != node.objectDictionary().size();
        for (auto it = before.cbegin(); !changed && it != before.cend(); ++it)
            changed = node.objectDictionary().value(it.key()).value != it->value;
        const bool download = answer == 0x60 || answer == 0x20 || answer == 0x30;
        if (changed && !download)
            std::abort();
    }
    return 0;
}
