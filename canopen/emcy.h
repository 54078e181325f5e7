#pragma once

#include "canframe.h"

#include <QByteArray>
#include <QString>

// Emergency messages (EMCY, 80h + node): the error code with its CiA 301
// class, the error register and the manufacturer-specific bytes.
namespace Emcy {

struct Message
{
    quint16 code = 0;
    quint8 errorRegister = 0;
    QByteArray specific;   // bytes 3..7 of the frame
    qint64 timestampUs = 0;
    qint64 seenMs = 0;     // on the receiver's clock
};

// Node ID (1..127) of an emergency frame, or 0 when the frame is none.
int nodeOf(const CanFrame &frame);
Message parse(const CanFrame &frame);

// "Strom, Ausgangsseite" for 23xxh; the whole code where CiA 301 names it
// (8130h "Life Guarding oder Heartbeat-Fehler").
QString codeText(quint16 code);
// The set bits of the error register by name ("Allgemein, Temperatur").
QString registerText(quint8 errorRegister);
// One line for lists and tool tips: "0x8130 Life Guarding … (Register 0x11: Allgemein, Kommunikation)".
QString describe(const Message &message);

} // namespace Emcy
