#pragma once

#include "canbackend.h"

#include <QString>

#include <atomic>
#include <functional>

class QThread;

// What the backends of vendor adapters (PCAN-Basic, isCAN) share: the text
// and bit rate of the open connection, the status bits that the receive side
// latches between two busStatus() calls, the state of an adapter that went
// away, and one receive thread with its stop flag.
//
// Threads: the GUI thread makes every call here. The receive side touches
// only the atomics (m_stopRequested, m_latchedStatus, m_deviceLost) and
// m_startMicros, which is written before the receive side starts.
class HardwareBackend : public CanBackend
{
    Q_OBJECT

public:
    using CanBackend::CanBackend;

    QString description() const final;
    int bitrate() const final;
    bool connectionLost() const final { return m_deviceLost.load(); }

protected:
    // "%1 @ %2" with `deviceText` and the rate text of `btr`, then `details`;
    // sets the bit rate.
    void describeConnection(const QString &deviceText, quint16 btr, const QString &details = QString());
    // The whole text and the bit rate (0: unknown), where no BTR word applies.
    void describeConnection(const QString &text, quint32 bitrateBps);
    // Closed: no text, bit rate 0.
    void clearConnection();
    // True when open; else false with "Nicht verbunden.".
    bool checkOpen(QString *error) const;

    // Runs `loop` in a thread named `name` at time-critical priority.
    void startReader(const QString &name, const std::function<void()> &loop);
    // Waits, without time limit, for the receive thread to end and deletes
    // it; nothing when there is none. The caller has set m_stopRequested.
    void joinReader();
    bool hasReader() const { return m_reader != nullptr; }

    // Bits latched since the last call; cleared by taking them.
    unsigned takeLatchedStatus() { return m_latchedStatus.exchange(0); }
    unsigned deviceLostBit() const { return m_deviceLost.load() ? unsigned(DeviceLost) : 0u; }
    // Microseconds on the monotonic clock since m_startMicros, never negative.
    qint64 elapsedMicros() const;

    qint64 m_startMicros = 0;
    std::atomic<bool> m_stopRequested {false};
    std::atomic<unsigned> m_latchedStatus {0};
    // The adapter was pulled out: shown as DeviceLost until the backend is
    // opened again (or reset, where the driver allows it).
    std::atomic<bool> m_deviceLost {false};

private:
    QThread *m_reader = nullptr;
    QString m_descriptionText;
    quint32 m_bitrateBps = 0;
};
