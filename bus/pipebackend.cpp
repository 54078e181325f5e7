#include "pipebackend.h"

#include "candumpline.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int ReadChunkBytes = 1 << 16;
constexpr int StopPollMs = 50;

qint64 wallClockUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void takeLine(PipeBackend::LineState *state, const char *begin, const char *end, qint64 arrivalUs,
              QList<CanFrame> *frames)
{
    CanDumpLine::Parsed parsed;
    // The bus carries classic frames as candump and cansend write them, with
    // the direction marker of "candump -L -x"; no CAN FD.
    if (!CanDumpLine::parse(begin, end, &parsed) || parsed.fd) {
        // Blank lines are no frames, but no error either.
        bool blank = true;
        for (const char *p = begin; p != end && blank; ++p)
            blank = *p == ' ' || *p == '\t' || *p == '\r';
        if (!blank)
            ++state->bad;
        return;
    }
    // " T": the other tool's host sent it, so it is an echo of a sent frame.
    parsed.frame.tx = parsed.direction == 'T';
    // One time base with the echoes of write(): time since the open. The
    // first stamped line is placed at its arrival, later ones keep the
    // spacing of their stamps.
    if (parsed.hasTimestamp) {
        if (!state->haveFirstStamp) {
            state->haveFirstStamp = true;
            state->stampOffsetUs = parsed.timestampUs - arrivalUs;
        }
        parsed.frame.timestampUs = parsed.timestampUs - state->stampOffsetUs;
    } else {
        parsed.frame.timestampUs = arrivalUs;
    }
    frames->append(parsed.frame);
}

} // namespace

PipeBackend::PipeBackend(const QString &inPath, const QString &outPath, QObject *parent)
    : CanBackend(parent)
    , m_inPath(inPath)
    , m_outPath(outPath)
{
}

PipeBackend::~PipeBackend()
{
    close();
}

bool PipeBackend::open(const ConnectParams &, QString *error)
{
    close();
    if (m_outPath == QLatin1String("-")) {
        if (!m_output.open(stdout, QIODevice::WriteOnly)) {
            if (error)
                *error = tr("Standardausgabe kann nicht beschrieben werden.");
            return false;
        }
    } else {
        m_output.setFileName(m_outPath);
        if (!m_output.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            if (error)
                *error = tr("Ausgabe %1 kann nicht geöffnet werden: %2").arg(m_outPath, m_output.errorString());
            return false;
        }
    }
    if (!m_input.open(m_inPath, error)) {
        m_output.close();
        return false;
    }
    clearQueue();
    m_stop = false;
    m_inputEnded = false;
    m_outputFailed = false;
    m_framesRead = 0;
    m_badLines = 0;
    m_clock.start();
    m_open = true;
    m_reader = std::thread([this] { readLoop(); });
    return true;
}

void PipeBackend::close()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    m_input.close();
    if (m_output.isOpen()) {
        m_output.flush();
        m_output.close();
    }
    m_open = false;
}

bool PipeBackend::isOpen() const
{
    return m_open;
}

bool PipeBackend::write(const CanFrame &frame, QString *error)
{
    return writeFrames(&frame, 1, error) == 1;
}

int PipeBackend::writeFrames(const CanFrame *frames, int count, QString *error)
{
    if (!m_open) {
        if (error)
            *error = notConnectedText();
        return 0;
    }
    if (count <= 0)
        return 0;
    QList<CanFrame> echoes;
    echoes.reserve(count);
    for (int i = 0; i < count; ++i) {
        CanFrame sent = frames[i];
        sent.tx = true;
        sent.status = false;
        if (sent.dlc > 8)
            sent.dlc = 8;
        echoes.append(sent);
    }
    {
        // One buffer and one system call for the whole burst: at full replay
        // speed the call, not the text, is what costs.
        std::lock_guard<std::mutex> lock(m_writeLock);
        m_lineBuffer.resize(size_t(count) * CanDumpLine::MaxLogLineBytes);
        char *out = m_lineBuffer.data();
        const qint64 epochUs = wallClockUs();
        for (const CanFrame &sent : std::as_const(echoes))
            out = CanDumpLine::putLogLine(out, sent, epochUs);
        const qint64 size = qint64(out - m_lineBuffer.data());
        if (m_output.write(m_lineBuffer.data(), size) != size || !m_output.flush()) {
            // How much of a failed write arrived is unknown: none counts as sent.
            m_outputFailed = true;
            if (error)
                *error = tr("Ausgabe %1 kann nicht beschrieben werden: %2").arg(m_outPath, m_output.errorString());
            return 0;
        }
        const qint64 sentUs = m_clock.elapsedUs();
        for (CanFrame &sent : echoes)
            sent.timestampUs = sentUs;
    }
    enqueue(echoes);
    return count;
}

bool PipeBackend::connectionLost() const
{
    return m_inputEnded.load() || m_outputFailed.load();
}

unsigned PipeBackend::busStatus()
{
    return 0;
}

QString PipeBackend::description() const
{
    return tr("Text-Pipe %1 → %2").arg(m_inPath, m_outPath);
}

void PipeBackend::takeChunk(LineState *state, const char *data, qint64 size, qint64 arrivalUs,
                            QList<CanFrame> *frames)
{
    const char *p = data;
    const char *end = data + size;
    while (p != end) {
        const char *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!newline) {
            // Unfinished line: keep it for the next chunk, unless it is already too long.
            if (!state->skippingLongLine) {
                if (state->carry.size() + (end - p) > MaxLineBytes) {
                    state->carry.clear();
                    state->skippingLongLine = true;
                    ++state->bad;
                } else {
                    state->carry.append(p, end - p);
                }
            }
            return;
        }
        if (state->skippingLongLine) {
            state->skippingLongLine = false;
        } else if (!state->carry.isEmpty()) {
            if (state->carry.size() + (newline - p) > MaxLineBytes) {
                ++state->bad;
            } else {
                state->carry.append(p, newline - p);
                takeLine(state, state->carry.constData(), state->carry.constData() + state->carry.size(), arrivalUs,
                         frames);
            }
            state->carry.clear();
        } else if (newline - p > MaxLineBytes) {
            ++state->bad;
        } else {
            takeLine(state, p, newline, arrivalUs, frames);
        }
        p = newline + 1;
    }
}

void PipeBackend::takeEnd(LineState *state, qint64 arrivalUs, QList<CanFrame> *frames)
{
    // The last line may lack its line end.
    if (!state->skippingLongLine && !state->carry.isEmpty())
        takeLine(state, state->carry.constData(), state->carry.constData() + state->carry.size(), arrivalUs, frames);
    state->carry.clear();
    state->skippingLongLine = false;
}

void PipeBackend::readLoop()
{
    std::vector<char> buffer(ReadChunkBytes);
    LineState state;
    QList<CanFrame> frames;
    auto deliver = [&] {
        if (!frames.isEmpty()) {
            m_framesRead += frames.size();
            enqueue(frames);
            frames.clear();
        }
        m_badLines = state.bad;
    };
    while (!m_stop.load()) {
        const TextInput::Wait wait = m_input.waitReadable(StopPollMs);
        if (wait == TextInput::TimedOut)
            continue;
        if (wait == TextInput::Failed)
            break;
        const qint64 n = m_input.read(buffer.data(), qint64(buffer.size()));
        if (n == -2)
            continue;
        if (n <= 0)
            break;
        takeChunk(&state, buffer.data(), n, m_clock.elapsedUs(), &frames);
        deliver();
    }
    if (m_stop.load())
        return;
    takeEnd(&state, m_clock.elapsedUs(), &frames);
    deliver();
    m_inputEnded = true;
    QMetaObject::invokeMethod(this, &PipeBackend::onInputEnded, Qt::QueuedConnection);
}

void PipeBackend::onInputEnded()
{
    if (!m_open)
        return;
    flushQueue(); // what was read before the end still counts
    m_open = false;
    emit inputEnded();
}
