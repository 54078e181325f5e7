#pragma once

// Control interface of the stand-in isCAN driver for tests and benchmarks.
// Resolves the control functions from the same library file that the program
// loads through IsCan::Library, so both see one driver state.
#include "connectparams.h"

#include <QByteArray>
#include <QLibrary>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>

class IsCanStandIn
{
public:
    explicit IsCanStandIn(const QString &path)
        : m_library(path)
    {
        if (!m_library.load())
            return;
        m_ok = resolve("isCANStub_reset", reset_) && resolve("isCANStub_configure", configure_)
            && resolve("isCANStub_setAttached", setAttached_) && resolve("isCANStub_force", force_)
            && resolve("isCANStub_inject", inject_) && resolve("isCANStub_injectCode", injectCode_)
            && resolve("isCANStub_unplug", unplug_) && resolve("isCANStub_plug", plug_) && resolve("isCANStub_calls", calls_)
            && resolve("isCANStub_log", log_) && resolve("isCANStub_delivered", delivered_)
            && resolve("isCANStub_transmitted", transmitted_)
            && resolve("isCANStub_openDevices", openDevices_)
            && resolve("isCANStub_handlerThreads", handlerThreads_)
            && resolve("isCANStub_drained", drained_)
            && resolve("isCANStub_callbacksInFlight", callbacksInFlight_)
            && resolve("isCANStub_releaseCallbacks", releaseCallbacks_);
    }

    bool isValid() const { return m_ok; }
    QString errorString() const { return m_library.errorString(); }

    void reset() { reset_(); }
    void configure(int number, int type, quint32 serial, bool attached, bool busy = false)
    {
        configure_(number, type, serial, attached ? 1 : 0, busy ? 1 : 0);
    }
    void setAttached(const QList<quint32> &serials)
    {
        QList<uint32_t> copy(serials.begin(), serials.end());
        setAttached_(copy.constData(), int(copy.size()));
    }
    // Every later call of `function` ("*" for all) returns `code`; -1 lifts it.
    void force(const char *function, int code) { force_(function, code); }
    int inject(int device, const QByteArray &records) { return inject_(device, records.constData(), int(records.size() / 16)); }
    int injectCode(int device, int code) { return injectCode_(device, code); }
    void unplug(int device) { unplug_(device); }
    void plug(int device) { plug_(device); }
    quint64 calls(const char *function) const { return calls_(function); }
    // Calls except receive and transmit, "name(arguments)" each.
    QStringList log() const
    {
        QByteArray text(log_(nullptr, 0) + 1, '\0');
        log_(text.data(), int(text.size()));
        text.chop(1);
        return QString::fromLatin1(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    quint64 delivered() const { return delivered_(); }
    quint64 transmitted(QByteArray *lastRecord = nullptr) const
    {
        QByteArray record(16, '\0');
        const quint64 n = transmitted_(record.data());
        if (lastRecord)
            *lastRecord = record;
        return n;
    }
    int openDevices() const { return openDevices_(); }
    int handlerThreads() const { return handlerThreads_(); }
    int callbacksInFlight() const { return callbacksInFlight_(); }
    // The variant whose stop does not wait holds each callback at its entry
    // until this is called.
    void releaseCallbacks() { releaseCallbacks_(); }
    // The reader has fetched everything queued and acted on it.
    bool drained(int device) const { return drained_(device) != 0; }

    // Connection parameters that open `device` through this stand-in.
    static ConnectParams connectParams(int device = 0, int btr = 0x001C,
                                       const QString &library = QStringLiteral(ISCAN_STANDIN))
    {
        ConnectParams params;
        params.interface = 3;
        params.isCanDllPath = library;
        params.isCanDevice = device;
        params.btr = btr;
        return params;
    }

    // One 16-byte message record of the driver.
    static QByteArray record(quint32 identifier, bool extended, bool remote, quint8 length,
                             const QByteArray &data = QByteArray())
    {
        QByteArray r(16, '\0');
        std::memcpy(r.data(), &identifier, 4); // little-endian hosts only, like the driver
        r[4] = char(extended ? 1 : 0);
        r[5] = char(remote ? 1 : 0);
        r[6] = char(length);
        std::memcpy(r.data() + 7, data.constData(), size_t(qMin<qsizetype>(data.size(), 8)));
        return r;
    }

    // Standard frames 0x100 + (n mod 0x100) carrying their sequence number n
    // in the first four data bytes, for order checks.
    static QByteArray sequence(quint32 first, int count)
    {
        QByteArray records;
        records.reserve(qsizetype(count) * 16);
        for (int i = 0; i < count; ++i) {
            const quint32 n = first + quint32(i);
            QByteArray data(8, '\0');
            std::memcpy(data.data(), &n, 4);
            records += record(0x100 + (n & 0xFF), false, false, 8, data);
        }
        return records;
    }

private:
    template <typename F>
    bool resolve(const char *name, F &function)
    {
        function = reinterpret_cast<F>(m_library.resolve(name));
        return function != nullptr;
    }

    QLibrary m_library;
    bool m_ok = false;
    void (*reset_)() = nullptr;
    void (*configure_)(int, int, uint32_t, int, int) = nullptr;
    void (*setAttached_)(const uint32_t *, int) = nullptr;
    void (*force_)(const char *, int) = nullptr;
    int (*inject_)(int, const void *, int) = nullptr;
    int (*injectCode_)(int, int) = nullptr;
    void (*unplug_)(int) = nullptr;
    void (*plug_)(int) = nullptr;
    uint64_t (*calls_)(const char *) = nullptr;
    int (*log_)(char *, int) = nullptr;
    uint64_t (*delivered_)() = nullptr;
    uint64_t (*transmitted_)(void *) = nullptr;
    int (*openDevices_)() = nullptr;
    int (*handlerThreads_)() = nullptr;
    int (*drained_)(int) = nullptr;
    int (*callbacksInFlight_)() = nullptr;
    void (*releaseCallbacks_)() = nullptr;
};
