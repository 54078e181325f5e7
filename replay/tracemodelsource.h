#pragma once

#include "replaysource.h"

class TraceModel;

// Plays the trace of the window where it lies, without a copy. Made in the
// GUI thread; read by the player thread, during which the main window keeps
// the trace unchanged (no recording, clearing, loading or trimming).
class TraceModelSource : public ReplaySource
{
public:
    explicit TraceModelSource(const TraceModel *model);

    bool rewind(QString *error) override;
    bool next(CanFrame *frame, qint64 *traceUs, QString *error) override;
    qint64 size() const override { return m_count; }

private:
    const TraceModel *m_model;
    qint64 m_count;
    qint64 m_startUs;
    qint64 m_row = 0;
};
