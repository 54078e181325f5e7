// Random responses, time-outs and cancels against a running SDO transfer,
// segmented or block (first byte, bit 1; bits 2..7 the block size):
// exactly one finished per started transfer, never more bytes than announced
// or than the size limit, and the client idle after finishing.
#include "canbackend.h"
#include "sdoclient.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

class SinkBackend : public CanBackend
{
public:
    bool open(const ConnectParams &, QString *) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    bool write(const CanFrame &, QString *error) override
    {
        if (failNext) {
            failNext = false;
            if (error)
                *error = QStringLiteral("voll");
            return false;
        }
        return true;
    }
    unsigned busStatus() override { return 0; }
    QString description() const override { return QString(); }
    bool failNext = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    SinkBackend backend;
    SdoClient client;
    client.setBackend(&backend);
    client.setBlockTransfer(data[0] & 2);
    client.setBlockSize(data[0] >> 2);
    int finishedCount = 0;
    qint64 announced = -1;
    QObject::connect(&client, &SdoClient::finished, [&](const SdoClient::Result &result) {
        ++finishedCount;
        if (client.isBusy())
            std::abort();
        if (result.data.size() > SdoClient::MaxUploadBytes)
            std::abort();
        if (result.operation == SdoClient::Upload && announced >= 0 && result.data.size() > announced)
            std::abort();
    });
    QObject::connect(&client, &SdoClient::progress, [&](int done, int total) {
        if (total >= 0 && done > total)
            std::abort();
        announced = total;
    });

    const bool upload = data[0] & 1;
    const int length = data[1] % 40 + 1;
    QByteArray bytes(length, 'x');
    const bool started = upload ? client.upload(5, 0x2002, 0, nullptr)
                                : client.download(5, 0x2002, 0, bytes, nullptr);
    if (!started)
        std::abort();
    int transfers = 1;
    // Records of 9 bytes: what happens, then the eight response bytes.
    for (size_t at = 2; at + 9 <= size; at += 9) {
        const quint8 control = data[at];
        switch (control & 7) {
        case 0:
            QMetaObject::invokeMethod(&client, "onTimeout", Qt::DirectConnection);
            break;
        case 1:
            client.cancel();
            break;
        case 2:
            backend.failNext = true;
            [[fallthrough]];
        default: {
            CanFrame frame;
            frame.id = 0x585;
            frame.dlc = quint8((control >> 3) % 9);
            for (int i = 0; i < 8; ++i)
                frame.data[i] = data[at + 1 + size_t(i)];
            client.handleFrames({frame});
            break;
        }
        }
        if (!client.isBusy() && (control & 0x80)) {
            announced = -1;
            if (client.upload(5, 0x1000, 1, nullptr))
                ++transfers;
        }
    }
    client.cancel();
    if (client.isBusy() || finishedCount != transfers)
        std::abort();
    return 0;
}
