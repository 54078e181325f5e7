// Frames per second through ReceiveModel::addFrames (200 identifiers) and
// TraceModel::addFrames with the CAN-ID filter on, and both together.
#include "benchutil.h"
#include "receivemodel.h"
#include "tracemodel.h"

#include <cstdio>

namespace {

constexpr int BatchSize = 1000;
constexpr int Batches = 20000;

CanIdFilter halfTheIdentifiers()
{
    CanIdFilter filter;
    filter.parse(QStringLiteral("100-163"), nullptr);  // 100 of the 200 identifiers
    filter.enabled = true;
    return filter;
}

} // namespace

int main()
{
    const QList<CanFrame> batch = BenchUtil::traffic(BatchSize, 200);
    const double frames = double(BatchSize) * Batches;

    {
        ReceiveModel model;
        model.addFrames(batch);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Batches; ++i) {
            model.addFrames(batch);
            if (i % 100 == 0)
                model.refresh();
        }
        const double s = BenchUtil::seconds(start);
        std::printf("ReceiveModel::addFrames, 200 identifiers: %.1f million frames/s (%d rows)\n",
                    frames / s / 1e6, model.rowCount());
    }
    {
        TraceModel model;
        model.setRecording(true);
        model.setFilter(halfTheIdentifiers());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Batches; ++i)
            model.addFrames(batch);
        const double s = BenchUtil::seconds(start);
        std::printf("TraceModel::addFrames, filter on, rolling at %d entries: %.1f million frames/s (%llu filtered)\n",
                    model.maxEntries(), frames / s / 1e6, static_cast<unsigned long long>(model.droppedByFilter()));
    }
    {
        ReceiveModel receive;
        TraceModel trace;
        trace.setRecording(true);
        trace.setFilter(halfTheIdentifiers());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < Batches; ++i) {
            receive.addFrames(batch);
            trace.addFrames(batch);
        }
        const double s = BenchUtil::seconds(start);
        std::printf("Receive list and filtered trace together: %.1f million frames/s\n", frames / s / 1e6);
    }
    return 0;
}
