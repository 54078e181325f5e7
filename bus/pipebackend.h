#pragma once

#include "canbackend.h"
#include "platform/monotonicclock.h"
#include "platform/textinput.h"

#include <QFile>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A bus made of two text streams, for other CAN tools: received frames are
// read line by line from IN (a file, a named pipe or "-" for standard input)
// in candump -L (with or without the direction markers of -x; " T" lines
// are echoes) or cansend notation; every frame sent on it is written to OUT
// as one candump -L line, flushed at once. Unreadable lines are counted and
// skipped; the end of IN ends the bus like a disconnect (inputEnded).
//
// Threads: a reader thread reads IN and touches only the input, atomics and
// enqueue. write may come from the owning thread and the trace player at
// once; m_writeLock keeps their lines whole. Everything else runs in the
// owning thread.
class PipeBackend : public CanBackend
{
    Q_OBJECT

public:
    PipeBackend(const QString &inPath, const QString &outPath, QObject *parent = nullptr);
    ~PipeBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    // The lines of a burst in one write to OUT; its echoes share one time stamp.
    int writeFrames(const CanFrame *frames, int count, QString *error) override;
    unsigned busStatus() override;
    QString description() const override;
    // The end of IN or a failed write to OUT (the reader of OUT went away).
    bool connectionLost() const override;

    qint64 framesRead() const { return m_framesRead.load(); }
    qint64 badLines() const { return m_badLines.load(); }
    bool inputAtEnd() const { return m_inputEnded.load(); }

    // Splits a chunk of input into lines and turns each into a frame; used
    // by the reader thread and by the fuzz target. `carry` holds an
    // unfinished line between chunks; lines longer than MaxLineBytes are
    // skipped (and counted) without being kept. `arrivalUs` is the time since
    // the open, the time base of every frame of the bus.
    struct LineState
    {
        QByteArray carry;
        bool skippingLongLine = false;
        bool haveFirstStamp = false;
        qint64 stampOffsetUs = 0; // stamp of the first stamped line minus its arrival
        qint64 bad = 0;
    };
    static constexpr int MaxLineBytes = 4096;
    static void takeChunk(LineState *state, const char *data, qint64 size, qint64 arrivalUs, QList<CanFrame> *frames);
    static void takeEnd(LineState *state, qint64 arrivalUs, QList<CanFrame> *frames);

signals:
    // Queued from the reader thread when IN has ended (or failed).
    void inputEnded();

private:
    void readLoop();
    void onInputEnded();

    QString m_inPath;
    QString m_outPath;
    TextInput m_input;
    std::mutex m_writeLock;  // guards m_output and m_lineBuffer while open
    QFile m_output;
    std::vector<char> m_lineBuffer;
    MonotonicClock m_clock; // started before the reader, then only read
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_inputEnded{false};
    std::atomic<qint64> m_framesRead{0};
    std::atomic<qint64> m_badLines{0};
    std::atomic<bool> m_outputFailed{false};
    std::atomic<bool> m_open{false};
};
