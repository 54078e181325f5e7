#include "txschedule.h"

void TxSchedule::makeAllDue(qint64 nowMs)
{
    const int rows = int(m_model->messages().size());
    for (int row = 0; row < rows; ++row)
        m_model->setNextDueMs(row, nowMs);
}
