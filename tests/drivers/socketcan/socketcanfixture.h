#pragma once

#include "socketcanbackend.h"
#include "socketcanstandin.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstring>

// The stand-in kernel with a fresh sysfs view: can0 (up, 500 kBit/s, error
// active), can1 (down) and vcan0 (up, virtual).
struct SocketCanStage
{
    QTemporaryDir dir;

    SocketCanStage()
    {
        CanStandIn_Reset();
        const QByteArray sysfs = QDir(dir.path()).filePath(QStringLiteral("net")).toLocal8Bit();
        CanStandIn_SetSysfsDir(sysfs.constData());
        qputenv("BUSVISTA_SYSFS_NET", sysfs);
        CanStandIn_AddInterface("can0", 1, 500000, 0);
        CanStandIn_AddInterface("can1", 0, 0, -1);
        CanStandIn_AddInterface("vcan0", 1, 0, -1);
    }
    ~SocketCanStage()
    {
        CanStandIn_Reset();
        qunsetenv("BUSVISTA_SYSFS_NET");
    }
};

inline ConnectParams socketCanParams(const char *name, bool errorFrames = false)
{
    ConnectParams params;
    params.interface = 4;
    params.socketCanInterface = QString::fromLatin1(name);
    params.errorFrames = errorFrames;
    return params;
}

// Collects what the backend emits.
struct FrameSink
{
    CanFrameList frames;
    explicit FrameSink(CanBackend *backend)
    {
        QObject::connect(backend, &CanBackend::framesReceived, backend,
                         [this](const CanFrameList &batch) { frames.append(batch); });
    }
    // Runs the event loop until `count` frames arrived or `ms` passed.
    bool waitFor(qsizetype count, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (frames.size() < count && timer.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return frames.size() >= count;
    }
};

inline can_frame rawFrame(canid_t id, std::initializer_list<quint8> bytes)
{
    can_frame frame {};
    frame.can_id = id;
    frame.len = quint8(bytes.size());
    if (bytes.size() > 0)
        std::memcpy(frame.data, bytes.begin(), bytes.size());
    return frame;
}

inline quint32 numberOf(const CanFrame &frame)
{
    quint32 number = 0;
    std::memcpy(&number, frame.data, sizeof number);
    return number;
}
