#include "frametext.h"

namespace FrameText {

QString identifier(quint32 id, bool extended)
{
    // Upper-case digits, lower-case suffix: "18FEF100h".
    return QStringLiteral("%1").arg(id, extended ? 8 : 3, 16, QLatin1Char('0')).toUpper()
        + QLatin1Char('h');
}

QString identifier(const CanFrame &frame)
{
    return identifier(frame.id, frame.extended);
}

QString kind(const CanFrame &frame)
{
    if (frame.status)
        return QStringLiteral("Status");
    if (frame.error)
        return QStringLiteral("Error");
    QString text = frame.extended ? QStringLiteral("Ext") : QStringLiteral("Std");
    if (frame.rtr)
        text += QStringLiteral(" RTR");
    return text;
}

QString data(const CanFrame &frame)
{
    if (frame.rtr)
        return QStringLiteral("Remote Request");
    static const char digits[] = "0123456789ABCDEF";
    const int n = frame.dlc > 8 ? 8 : frame.dlc;
    QString text;
    text.reserve(n * 3);
    for (int i = 0; i < n; ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QLatin1Char(digits[frame.data[i] >> 4]);
        text += QLatin1Char(digits[frame.data[i] & 0xF]);
    }
    return text;
}

} // namespace FrameText
