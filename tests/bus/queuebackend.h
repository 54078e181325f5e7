#pragma once

#include "canbackend.h"

// The smallest concrete backend: only the queue of the base is exercised.
class QueueBackend : public CanBackend
{
public:
    using CanBackend::CanBackend;
    bool open(const ConnectParams &, QString *) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    bool write(const CanFrame &, QString *) override { return true; }
    unsigned busStatus() override { return 0; }
    QString description() const override { return QString(); }
};

inline CanFrame numberedFrame(quint32 id, quint32 sequence)
{
    CanFrame frame;
    frame.id = id;
    frame.dlc = 4;
    for (int i = 0; i < 4; ++i)
        frame.data[i] = quint8(sequence >> (8 * i));
    return frame;
}

inline quint32 sequenceOf(const CanFrame &frame)
{
    return quint32(frame.data[0]) | quint32(frame.data[1]) << 8 | quint32(frame.data[2]) << 16
        | quint32(frame.data[3]) << 24;
}
