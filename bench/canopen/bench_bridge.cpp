// Round trips through `busvista-cli bridge --sim`, seen by an outside SDO
// client that talks to it in cansend/candump lines: the time of a 1,000-byte
// segmented download to 2002h and of the segmented upload that reads it back
// (143 round trips each), and the answer time of one expedited upload.
#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QProcess>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::array<quint8, 8>;

class BridgeClient
{
public:
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral(BUSVISTA_CLI), {QStringLiteral("bridge"), QStringLiteral("--sim"),
                                                        QStringLiteral("--seconds"), QStringLiteral("120")});
        return m_process.waitForStarted(5000);
    }

    void stop()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    // Sends one request to node 5 and waits for its answer on 585h.
    bool request(const Bytes &bytes, Bytes *answer)
    {
        QByteArray line = "605#";
        for (quint8 byte : bytes)
            line += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        line += '\n';
        m_process.write(line);
        m_process.waitForBytesWritten(1000);
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < deadline) {
            while (m_process.canReadLine()) {
                const QByteArray text = m_process.readLine().trimmed();
                // candump -L: "(seconds) interface ID#DATA"
                const QByteArray frame = text.mid(text.lastIndexOf(' ') + 1);
                if (!frame.startsWith("585#") || frame.size() != 4 + 16)
                    continue;
                const QByteArray data = QByteArray::fromHex(frame.mid(4));
                for (int i = 0; i < 8; ++i)
                    (*answer)[size_t(i)] = quint8(data[i]);
                return true;
            }
            m_process.waitForReadyRead(100);
        }
        return false;
    }

private:
    QProcess m_process;
};

// A segmented download of `value` to 2002h; false on a wrong answer.
bool download(BridgeClient &client, const QByteArray &value)
{
    Bytes answer{};
    const quint32 size = quint32(value.size());
    if (!client.request({0x21, 0x02, 0x20, 0x00, quint8(size), quint8(size >> 8), 0, 0}, &answer) || answer[0] != 0x60)
        return false;
    int offset = 0;
    quint8 toggle = 0;
    while (offset < value.size()) {
        const int n = std::min(7, int(value.size()) - offset);
        const bool last = offset + n >= value.size();
        Bytes segment{};
        segment[0] = quint8((toggle << 4) | ((7 - n) << 1) | (last ? 1 : 0));
        for (int i = 0; i < n; ++i)
            segment[size_t(1 + i)] = quint8(value[offset + i]);
        if (!client.request(segment, &answer) || answer[0] != (0x20 | (toggle << 4)))
            return false;
        offset += n;
        toggle ^= 1;
    }
    return true;
}

// A segmented upload of 2002h; the value read, empty on a wrong answer.
QByteArray upload(BridgeClient &client)
{
    Bytes answer{};
    if (!client.request({0x40, 0x02, 0x20, 0x00, 0, 0, 0, 0}, &answer) || (answer[0] & 0xE3) != 0x41)
        return {};
    QByteArray value;
    quint8 toggle = 0;
    for (;;) {
        if (!client.request({quint8(0x60 | (toggle << 4)), 0, 0, 0, 0, 0, 0, 0}, &answer)
            || (answer[0] & 0xF0) != (toggle << 4))
            return {};
        const int n = 7 - ((answer[0] >> 1) & 7);
        value.append(reinterpret_cast<const char *>(answer.data() + 1), n);
        if (answer[0] & 0x01)
            return value;
        toggle ^= 1;
    }
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    BridgeClient client;
    if (!client.start()) {
        std::fprintf(stderr, "busvista-cli bridge did not start\n");
        return 1;
    }
    QByteArray value(1000, Qt::Uninitialized);
    for (int i = 0; i < value.size(); ++i)
        value[i] = char(0x20 + (i * 7) % 95);

    // Warm-up, and the answer time of single requests (1000h, expedited).
    std::vector<double> singles;
    for (int i = 0; i < 50; ++i) {
        Bytes answer{};
        const auto start = Clock::now();
        if (!client.request({0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, &answer)) {
            std::fprintf(stderr, "no answer to an expedited upload of 1000h\n");
            client.stop();
            return 1;
        }
        singles.push_back(msSince(start));
    }
    std::sort(singles.begin(), singles.end());

    const int runs = 5;
    std::vector<double> downloads;
    std::vector<double> uploads;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        if (!download(client, value)) {
            std::fprintf(stderr, "segmented download failed\n");
            client.stop();
            return 1;
        }
        downloads.push_back(msSince(start));
        start = Clock::now();
        const QByteArray read = upload(client);
        uploads.push_back(msSince(start));
        if (read != value) {
            std::fprintf(stderr, "segmented upload failed or read %d different bytes\n", int(read.size()));
            client.stop();
            return 1;
        }
    }
    client.stop();
    std::sort(downloads.begin(), downloads.end());
    std::sort(uploads.begin(), uploads.end());
    std::printf("bridge --sim, outside SDO client: expedited upload of 1000h median %.2f ms, max %.2f ms (50 requests)\n",
                singles[singles.size() / 2], singles.back());
    std::printf("bridge --sim, 1,000-byte segmented download to 2002h: median %.1f ms, max %.1f ms (%d runs)\n",
                downloads[downloads.size() / 2], downloads.back(), runs);
    std::printf("bridge --sim, 1,000-byte segmented upload of 2002h: median %.1f ms, max %.1f ms (%d runs, target <= 300 ms)\n",
                uploads[uploads.size() / 2], uploads.back(), runs);
    return 0;
}
