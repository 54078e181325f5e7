// Random SDO requests to the simulated node 5: it answers every request with
// one frame, except a client abort (none), the segments of a block download
// (none until the block ends) and the start or acknowledgement of a block
// upload (a block of at most 127 segments); its dictionary changes only with an accepted download.
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
    bool inBlockDownload = false; // silence is allowed while the node takes segments
    bool atUploadEnd = false;     // and for the client's end of a block upload
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
        if (answers.isEmpty() && (inBlockDownload || (atUploadEnd && request.data[0] == 0xA1)))
            continue;
        const bool blockStart = request.data[0] == 0xA3 || request.data[0] == 0xA2; // start or next block
        if (answers.isEmpty() || answers.size() > (blockStart ? 127 : 1))
            std::abort();
        for (const CanFrame &frame : answers) {
            if (frame.dlc != 8)
                std::abort();
        }
        const quint8 answer = answers.last().data[0];
        inBlockDownload = (answer & 0xE3) == 0xA0 || answer == 0xA2;
        atUploadEnd = (answer & 0xE3) == 0xC1;
        bool changed = before.size() != node.objectDictionary().size();
        for (auto it = before.cbegin(); !changed && it != before.cend(); ++it)
            changed = node.objectDictionary().value(it.key()).value != it->value;
        const bool download = answer == 0x60 || answer == 0x20 || answer == 0x30 || answer == 0xA1;
        if (changed && !download)
            std::abort();
    }
    return 0;
}
