// Random traces (time running backwards, huge gaps, error and status
// entries) and random options, played on a clock of the target's own with
// pauses at random moments. Holds: the entries go out in recorded order,
// each selected one once per pass, the due times never fall, and a replay
// that ends by itself sent everything.
#include "replayengine.h"
#include "replaysource.h"
#include "replaytarget.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Entry
{
    CanFrame frame;
    qint64 traceUs;
};

class VectorSource : public ReplaySource
{
public:
    explicit VectorSource(const std::vector<Entry> &entries) : m_entries(entries) {}
    bool rewind(QString *) override
    {
        m_at = 0;
        return true;
    }
    bool next(CanFrame *frame, qint64 *traceUs, QString *) override
    {
        if (m_at >= m_entries.size())
            return false;
        *frame = m_entries[m_at].frame;
        *traceUs = m_entries[m_at].traceUs;
        ++m_at;
        return true;
    }
    qint64 size() const override { return qint64(m_entries.size()); }

private:
    const std::vector<Entry> &m_entries;
    size_t m_at = 0;
};

class CheckingTarget : public ReplayTarget
{
public:
    bool send(const CanFrame &frame, QString *error) override
    {
        sent.push_back(frame.data[0] | frame.data[1] << 8 | frame.data[2] << 16);
        if (failEvery && sent.size() % failEvery == 0) {
            *error = QStringLiteral("Sendepuffer voll");
            return false;
        }
        return true;
    }
    bool lost() const override { return false; }
    std::vector<int> sent;
    size_t failEvery = 0;
};

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    const double speeds[] = {0, 0.1, 0.5, 1, 2, 10};
    ReplayOptions options;
    options.speed = speeds[data[0] % 6];
    options.loops = data[1] % 4;   // 0: endlessly, cut off below
    options.maxPauseUs = (data[2] & 1) ? qint64(data[2]) * 1000 : 0;
    options.directions = 1 + data[3] % 3;
    if (data[4] & 1) {
        options.filter.ranges = {{data[4] & 0xF0u, 0x400u}};
        options.filter.enabled = true;
        options.filter.mode = (data[4] & 2) ? CanIdFilter::Exclude : CanIdFilter::Include;
    }
    if (data[5] & 1)
        options.fromUs = qint64(data[5]) * 10000;
    if (data[6] & 1)
        options.toUs = qint64(data[6]) * 100000;
    const int pauseEvery = 1 + data[7] % 16;

    std::vector<Entry> entries;
    qint64 t = 0;
    for (size_t at = 8; at + 5 <= size && entries.size() < 4096; at += 5) {
        Entry e;
        e.frame.id = quint32(data[at] | (data[at + 1] & 0x07) << 8);
        const int flags = data[at + 1] >> 3;
        e.frame.tx = flags & 1;
        e.frame.error = (flags & 6) == 6;
        e.frame.status = (flags & 6) == 2 && (flags & 8);
        qint16 delta;
        std::memcpy(&delta, data + at + 2, 2);
        // A high bit in the last byte makes an hours-long gap.
        t += (data[at + 4] & 0x80) ? qint64(3) * 3600 * 1000000 : qint64(delta) * 37;
        e.traceUs = t;
        const int index = int(entries.size());
        e.frame.data[0] = quint8(index);
        e.frame.data[1] = quint8(index >> 8);
        e.frame.data[2] = quint8(index >> 16);
        entries.push_back(e);
    }
    std::vector<int> selected;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        if (e.frame.error || e.frame.status || !(options.directions & (e.frame.tx ? 2 : 1))
            || e.traceUs < options.fromUs || e.traceUs > options.toUs || !options.filter.accepts(e.frame))
            continue;
        selected.push_back(int(i));
    }

    qint64 clock = 1'000'000'000;
    VectorSource source(entries);
    CheckingTarget target;
    target.failEvery = size % 7;
    ReplayEngine engine(&source, &target, options, [&clock] { return clock; });
    if (!engine.start()) {
        check(selected.empty());
        return 0;
    }
    check(!selected.empty());
    qint64 lastDue = 0;
    // Endless loops are cut off after a few passes' worth of sends, so each
    // input stays quick.
    for (int steps = 0; steps < 20000 && target.sent.size() < 20000; ++steps) {
        if (steps % pauseEvery == pauseEvery - 1) {
            engine.pause();
            check(engine.step() == -1);
            clock += qint64(steps) * 1000;
            engine.resume();
            lastDue = 0;   // everything moved on by the pause
        }
        const qint64 due = engine.step(1 + steps % 64);
        if (due < 0)
            break;
        check(due >= lastDue);
        lastDue = due;
        clock = std::max(clock, due);
    }
    for (size_t i = 0; i < target.sent.size(); ++i)
        check(target.sent[i] == selected[i % selected.size()]);
    if (engine.state() == ReplayEngine::Finished)
        check(target.sent.size() == selected.size() * size_t(options.loops));
    const ReplayEngine::Progress &p = engine.progress();
    check(size_t(p.sent + p.failed) == target.sent.size());
    return 0;
}
