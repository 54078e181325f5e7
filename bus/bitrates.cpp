#include "bitrates.h"

#include <QCoreApplication>

quint32 bitrateOfBtr(quint16 btr)
{
    const quint32 prescaler = ((btr >> 8) & 0x3F) + 1;
    const quint32 tseg1 = btr & 0x0F;
    const quint32 tseg2 = (btr >> 4) & 0x07;
    return 16000000u / (2u * prescaler * (tseg1 + tseg2 + 3u));
}

QString bitrateText(quint16 btr)
{
    for (const StandardBitrate &row : standardBitrates) {
        if (row.btr == btr)
            return QString::fromLatin1(row.text);
    }
    return QCoreApplication::translate("Bitrates", "%1 Bit/s (BTR 0x%2)")
        .arg(bitrateOfBtr(btr))
        .arg(QString::number(btr, 16).rightJustified(4, QLatin1Char('0')).toUpper());
}

bool standardBtrOfKbit(const QString &kbit, quint16 *btr)
{
    QString text = kbit.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double bitsPerSecond = text.toDouble(&ok) * 1000.0;
    if (!ok || !(bitsPerSecond > 0))
        return false;
    // 95,238 names 95238.09... bit/s: one bit/s either way is the same rate.
    for (const StandardBitrate &row : standardBitrates) {
        if (qAbs(double(bitrateOfBtr(row.btr)) - bitsPerSecond) < 1.0) {
            *btr = row.btr;
            return true;
        }
    }
    return false;
}
