#include "emcy.h"

#include <QCoreApplication>
#include <QStringList>

namespace Emcy {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Emcy", text);
}

} // namespace

int nodeOf(const CanFrame &frame)
{
    // 80h alone is SYNC; an EMCY carries at least its error code.
    if (frame.id < 0x81 || frame.id > 0xFF || frame.dlc < 2 || frame.extended || frame.rtr || frame.error
        || frame.status)
        return 0;
    return int(frame.id - 0x80);
}

Message parse(const CanFrame &frame)
{
    Message message;
    message.code = quint16(frame.data[0] | frame.data[1] << 8);
    message.errorRegister = frame.dlc > 2 ? frame.data[2] : 0;
    if (frame.dlc > 3)
        message.specific = QByteArray(reinterpret_cast<const char *>(frame.data + 3), qMin<int>(frame.dlc, 8) - 3);
    message.timestampUs = frame.timestampUs;
    return message;
}

QString codeText(quint16 code)
{
    // Codes CiA 301 names one by one.
    switch (code) {
    case 0x0000:
        return tr("Kein Fehler / Fehler behoben");
    case 0x8110:
        return tr("CAN-Überlauf (Nachrichten verloren)");
    case 0x8120:
        return tr("CAN im Zustand Error Passive");
    case 0x8130:
        return tr("Life Guarding oder Heartbeat-Fehler");
    case 0x8140:
        return tr("Bus-Off überwunden");
    case 0x8150:
        return tr("CAN-ID-Kollision");
    case 0x8210:
        return tr("PDO wegen Längenfehler nicht verarbeitet");
    case 0x8220:
        return tr("PDO-Länge überschritten");
    case 0x8230:
        return tr("MPDO nicht verarbeitet");
    case 0x8240:
        return tr("Unerwartete SYNC-Datenlänge");
    case 0x8250:
        return tr("RPDO-Timeout");
    default:
        break;
    }
    // Otherwise the class of the high byte, the finer class where it has one.
    switch (code >> 8) {
    case 0x00:
        return tr("Fehler behoben");
    case 0x10:
        return tr("Allgemeiner Fehler");
    case 0x20:
        return tr("Strom");
    case 0x21:
        return tr("Strom, Eingangsseite");
    case 0x22:
        return tr("Strom im Gerät");
    case 0x23:
        return tr("Strom, Ausgangsseite");
    case 0x30:
        return tr("Spannung");
    case 0x31:
        return tr("Netzspannung");
    case 0x32:
        return tr("Spannung im Gerät");
    case 0x33:
        return tr("Ausgangsspannung");
    case 0x40:
        return tr("Temperatur");
    case 0x41:
        return tr("Umgebungstemperatur");
    case 0x42:
        return tr("Gerätetemperatur");
    case 0x50:
        return tr("Gerätehardware");
    case 0x60:
        return tr("Gerätesoftware");
    case 0x61:
        return tr("Interne Software");
    case 0x62:
        return tr("Anwendersoftware");
    case 0x63:
        return tr("Datensatz");
    case 0x70:
        return tr("Zusatzmodule");
    case 0x80:
        return tr("Überwachung");
    case 0x81:
        return tr("Kommunikation");
    case 0x82:
        return tr("Protokollfehler");
    case 0x90:
        return tr("Externer Fehler");
    case 0xF0:
        return tr("Zusatzfunktionen");
    case 0xFF:
        return tr("Gerätespezifisch");
    default:
        break;
    }
    // Within a class the rest of the codes: the class of the upper nibble.
    switch (code >> 12) {
    case 0x2:
        return tr("Strom");
    case 0x3:
        return tr("Spannung");
    case 0x4:
        return tr("Temperatur");
    case 0x6:
        return tr("Gerätesoftware");
    case 0x8:
        return tr("Überwachung");
    default:
        return tr("Unbekannte Fehlerklasse");
    }
}

QString registerText(quint8 errorRegister)
{
    static const char *const bits[8] = {
        QT_TRANSLATE_NOOP("Emcy", "Allgemein"),    QT_TRANSLATE_NOOP("Emcy", "Strom"),
        QT_TRANSLATE_NOOP("Emcy", "Spannung"),     QT_TRANSLATE_NOOP("Emcy", "Temperatur"),
        QT_TRANSLATE_NOOP("Emcy", "Kommunikation"), QT_TRANSLATE_NOOP("Emcy", "Geräteprofil"),
        QT_TRANSLATE_NOOP("Emcy", "reserviert"),   QT_TRANSLATE_NOOP("Emcy", "Herstellerspezifisch"),
    };
    QStringList names;
    for (int bit = 0; bit < 8; ++bit) {
        if (errorRegister & (1u << bit))
            names << tr(bits[bit]);
    }
    return names.isEmpty() ? tr("kein Fehler") : names.join(QStringLiteral(", "));
}

QString describe(const Message &message)
{
    const QString code = QStringLiteral("0x%1").arg(message.code, 4, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x"));
    const QString reg = QStringLiteral("0x%1").arg(message.errorRegister, 2, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x"));
    QString text = tr("%1 %2 (Register %3: %4)").arg(code, codeText(message.code), reg, registerText(message.errorRegister));
    if (!message.specific.isEmpty() && message.specific.count('\0') != message.specific.size())
        text += tr(", Daten %1").arg(QString::fromLatin1(message.specific.toHex(' ').toUpper()));
    return text;
}

} // namespace Emcy
