#include "tracemodelsource.h"

#include "tracemodel.h"

TraceModelSource::TraceModelSource(const TraceModel *model)
    : m_model(model)
    , m_count(model->rowCount())
    , m_startUs(model->startUs())
{
}

bool TraceModelSource::rewind(QString *)
{
    m_row = 0;
    return true;
}

bool TraceModelSource::next(CanFrame *frame, qint64 *traceUs, QString *)
{
    if (m_row >= m_count)
        return false;
    *frame = m_model->entryAt(int(m_row++)).frame;
    *traceUs = frame->timestampUs - m_startUs;
    return true;
}
