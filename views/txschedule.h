#pragma once

#include "transmitmodel.h"

#include <QtGlobal>

// The due-time rule of cyclic sending, shared by the main window's 1 ms
// transmit timer and the command-line sender. Works directly on the model's
// rows; the caller supplies the transmit clock and the send operation.
class TxSchedule
{
public:
    explicit TxSchedule(TransmitModel *model) : m_model(model) {}

    // Sends every active cyclic row whose due time has come, at most once per
    // row, and advances its due time whether the send succeeded or not.
    // `send(int row)` performs the send. Returns the number of sends tried.
    template <typename Send>
    int tick(qint64 nowMs, Send &&send);

    // A row that was just switched on is sent at the next tick.
    void makeDue(int row, qint64 nowMs) { m_model->setNextDueMs(row, nowMs); }
    // After (re)connecting every row starts from the current clock.
    void makeAllDue(qint64 nowMs);

    // The next due time after a send at nowMs. Missed cycles are dropped:
    // a late row continues one cycle after now instead of catching up in a
    // burst that would flood the bus.
    static qint64 nextDue(qint64 dueMs, int cycleMs, qint64 nowMs)
    {
        return dueMs + cycleMs <= nowMs ? nowMs + cycleMs : dueMs + cycleMs;
    }

private:
    TransmitModel *m_model;
};

template <typename Send>
int TxSchedule::tick(qint64 nowMs, Send &&send)
{
    int sent = 0;
    const QList<TxMessage> &rows = m_model->messages();
    // Size re-read each turn: a send may report an error that changes the list.
    for (int row = 0; row < rows.size(); ++row) {
        const TxMessage &m = rows.at(row);
        if (!m.active || m.cycleMs <= 0 || nowMs < m.nextDueMs)
            continue;
        const qint64 due = m.nextDueMs;
        const int cycle = m.cycleMs;
        send(row);
        ++sent;
        m_model->setNextDueMs(row, nextDue(due, cycle, nowMs));
    }
    return sent;
}
