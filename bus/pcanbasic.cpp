#include "pcanbasic.h"

#include "canbackend.h"

#include <QCoreApplication>

namespace PcanBasic {
namespace {

DllLoader::Spec librarySpec()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("PCANBasic"), QStringLiteral("PCANBasic.dll"), QString(),
            QCoreApplication::translate("PcanBasic", "Bitte die DLL aus dem Ordner PCAN-Basic\\%1 verwenden.")
                .arg(QStringLiteral("x64"))};
#else
    // The vendor's Linux build of the same API, then the Windows name.
    DllLoader::Spec spec {QStringLiteral("pcanbasic"), QStringLiteral("libpcanbasic.so"),
                          QCoreApplication::translate("PcanBasic",
                                                      "Ist PCAN-Basic für Linux installiert? Gesucht wird in %1.")
                              .arg(DllLoader::searchPlacesText()),
                          QCoreApplication::translate("PcanBasic",
                                                      "Bitte die 64-Bit-Bibliothek des PCAN-Basic-Pakets verwenden.")};
    spec.alternativeNames = QStringList {QStringLiteral("PCANBasic")};
    return spec;
#endif
}

// Text of a zero-terminated buffer in the local 8-bit code page.
QString bufferText(const char *buffer, int size)
{
    return QString::fromLocal8Bit(buffer, int(qstrnlen(buffer, size))).trimmed();
}

} // namespace

Library *Library::instance()
{
    static Library library;
    return &library;
}

QString Library::fileName()
{
    return librarySpec().displayName;
}

bool Library::load(const QString &path, QString *error)
{
    const Spec spec = librarySpec();
    switch (loadFile(path, spec, error)) {
    case AlreadyLoaded:
        return true;
    case LoadFailed:
        return false;
    default:
        break;
    }
    QList<QString> missing;
    resolve(&initialize, "CAN_Initialize", &missing);
    resolve(&uninitialize, "CAN_Uninitialize", &missing);
    resolve(&reset, "CAN_Reset", &missing);
    resolve(&getStatus, "CAN_GetStatus", &missing);
    resolve(&read, "CAN_Read", &missing);
    resolve(&write, "CAN_Write", &missing);
    resolve(&filterMessages, "CAN_FilterMessages", &missing);
    resolve(&getValue, "CAN_GetValue", &missing);
    resolve(&setValue, "CAN_SetValue", &missing);
    resolve(&getErrorText, "CAN_GetErrorText", &missing);
    return finishLoad(missing, spec, error);
}

void Library::resetFunctions()
{
    initialize = nullptr;
    uninitialize = nullptr;
    reset = nullptr;
    getStatus = nullptr;
    read = nullptr;
    write = nullptr;
    filterMessages = nullptr;
    getValue = nullptr;
    setValue = nullptr;
    getErrorText = nullptr;
}

QString Library::apiVersion() const
{
    if (!getValue)
        return QString();
    char buffer[256] = {};
    if (getValue(0, ParamApiVersion, buffer, sizeof buffer) != StatusOk)
        return QString();
    return bufferText(buffer, sizeof buffer);
}

QString Library::errorText(unsigned long status) const
{
    const QString code = QString::number(status, 16);
    if (getErrorText) {
        char buffer[256] = {};
        if (getErrorText(quint32(status), 0x07, buffer) == StatusOk) {
            const QString text = bufferText(buffer, sizeof buffer);
            if (!text.isEmpty())
                return QStringLiteral("%1 (0x%2)").arg(text, code);
        }
    }
    return QCoreApplication::translate("PcanBasic", "Fehlercode 0x%1").arg(code);
}

QString channelName(quint16 handle)
{
    struct Range
    {
        quint16 first;
        quint16 last;
        quint16 base;
        const char *text;
    };
    static const Range ranges[] = {
        {0x41, 0x48, 0x40, "PCAN-PCI %1"},
        {0x409, 0x410, 0x400, "PCAN-PCI %1"},
        {0x51, 0x58, 0x50, "PCAN-USB %1"},
        {0x509, 0x510, 0x500, "PCAN-USB %1"},
        {0x801, 0x810, 0x800, "PCAN-LAN %1"},
    };
    for (const Range &range : ranges) {
        if (handle >= range.first && handle <= range.last)
            return QString::fromLatin1(range.text).arg(handle - range.base);
    }
    return QCoreApplication::translate("PcanBasic", "Kanal 0x%1").arg(handle, 0, 16);
}

quint32 busStatusBits(quint32 status)
{
    quint32 bits = 0;
    if (status & 0x10)
        bits |= CanBackend::BusOff;
    if (status & 0x40000)
        bits |= CanBackend::BusHeavy;
    if (status & (0x04 | 0x08))
        bits |= CanBackend::BusLight;
    if (status & 0x02)
        bits |= CanBackend::ControllerOverrun;
    if (status & 0x40)
        bits |= CanBackend::RxQueueOverrun;
    if (status & 0x01)
        bits |= CanBackend::TxBufferFull;
    if (status & 0x80)
        bits |= CanBackend::TxQueueFull;
    if (status & 0x200)
        bits |= CanBackend::DriverNotLoaded;
    return bits;
}

bool isHardwareGone(quint32 status)
{
    return (status & StatusHandleMask) == StatusIllegalHardware || (status & StatusNotInitialized);
}

} // namespace PcanBasic
