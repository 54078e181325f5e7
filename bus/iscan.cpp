#include "iscan.h"

#include <QCoreApplication>

namespace IsCan {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("IsCan", text);
}

DllLoader::Spec librarySpec()
{
#ifdef Q_OS_WIN
    return DllLoader::Spec {
        QStringLiteral("isCANdrv"),
        QStringLiteral("isCANdrv.dll"),
        tr("Ist der isCAN-Treiber installiert? (Die DLL liegt dann in C:\\Windows\\System32.)"),
        QString(),
    };
#else
    return DllLoader::Spec {
        QStringLiteral("isCANdrv"),
        QStringLiteral("libisCANdrv.so"),
        tr("Ist der isCAN-Treiber installiert? Gesucht wird in %1.").arg(DllLoader::searchPlacesText()),
        QString(),
    };
#endif
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
    const int loaded = loadFile(path, spec, error);
    if (loaded == 0)
        return true;
    if (loaded != 1)
        return false;
    QList<QString> missing;
    resolve(&deviceInitEx, "isCAN_DeviceInitEx", &missing);
    resolve(&setBaudRegister, "isCAN_SetBaudRegister", &missing);
    resolve(&setMessageExId, "isCAN_SetMessageExID", &missing);
    resolve(&transmitMessageEx, "isCAN_TransmitMessageEx", &missing);
    resolve(&receiveMessageEx, "isCAN_ReceiveMessageEx", &missing);
    resolve(&closeDevice, "isCAN_CloseDevice", &missing);
    resolve(&setupDevice, "isCAN_SetupDevice", &missing);
    resolve(&getDriverConfiguration, "isCAN_GetDriverConfiguration", &missing);
    resolve(&attachedDevices, "isCAN_AttachedDevices", &missing);
    resolve(&startMessageHandler, "isCAN_StartMessageHandler", &missing);
    resolve(&stopMessageHandler, "isCAN_StopMessageHandler", &missing);
    return finishLoad(missing, spec, error);
}

void Library::resetFunctions()
{
    deviceInitEx = nullptr;
    setBaudRegister = nullptr;
    setMessageExId = nullptr;
    transmitMessageEx = nullptr;
    receiveMessageEx = nullptr;
    closeDevice = nullptr;
    setupDevice = nullptr;
    getDriverConfiguration = nullptr;
    attachedDevices = nullptr;
    startMessageHandler = nullptr;
    stopMessageHandler = nullptr;
}

int baudConstant(quint16 btr)
{
    switch (btr) {
    case 0x672F: return 1; // 10 kBit/s
    case 0x532F: return 2; // 20 kBit/s
    case 0x472F: return 3; // 50 kBit/s
    case 0x432F: return 4; // 100 kBit/s
    case 0x031C: return 5; // 125 kBit/s
    case 0x011C: return 6; // 250 kBit/s
    case 0x001C: return 7; // 500 kBit/s
    case 0x0016: return 8; // 800 kBit/s
    case 0x0014: return 9; // 1 MBit/s
    default: return 0;
    }
}

QString errorText(quint8 code)
{
    switch (code) {
    case 0: return tr("Kein Fehler");
    case 1: return tr("Kein Zugriff auf das Gerät");
    case 2: return tr("Gerät mit dieser Nummer nicht gefunden");
    case 3: return tr("Treiberfehler");
    case 4: return tr("Ungültiger Parameter");
    case 5: return tr("Gerät ist nicht online");
    case 6: return tr("Zeitüberschreitung am Gerät");
    case 7: return tr("Sendepuffer belegt");
    case 8: return tr("Keine Nachricht empfangen");
    case 9: return tr("Thread konnte nicht gestartet werden");
    case 10: return tr("Thread läuft bereits");
    case 11: return tr("Pufferüberlauf");
    case 12: return tr("Gerät nicht initialisiert");
    case 13: return tr("Gerät wurde abgezogen");
    case 15: return tr("Gerät wird bereits von diesem oder einem anderen Programm benutzt");
    case 16: return tr("Busfehler");
    case 17: return tr("Bus-Off");
    case 18: return tr("Error passive");
    case 19: return tr("Datenüberlauf im Controller");
    case 20: return tr("Error-Warning");
    case 22: return tr("Bus nach Bus-Off zurückgesetzt");
    case 24: return tr("Extended-Nachricht empfangen");
    case 30: return tr("Busfehler beim Senden");
    case 31: return tr("Kein Acknowledge – vermutlich kein weiterer Teilnehmer am Bus");
    case 32: return tr("Kritisches Bus-Timing oder Buslänge");
    case 35: return tr("Callback-Thread blockiert");
    case 41: return tr("Keine Zugriffsrechte");
    default: return tr("Fehlercode %1").arg(code);
    }
}

QString deviceTypeName(quint8 type)
{
    switch (type) {
    case 1: return tr("isCAN USB");
    case 2: return tr("isCAN PCI");
    case 3: return tr("isCAN PCMCIA");
    case 4: return tr("isCAN NetCube");
    default: return tr("unbekannt (%1)").arg(type);
    }
}

} // namespace IsCan
