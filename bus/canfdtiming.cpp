#include "canfdtiming.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <cmath>

namespace {

constexpr int fdLengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

QString tr(const char *text)
{
    return QCoreApplication::translate("CanFdTiming", text);
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString rateText(quint32 bitrate)
{
    if (bitrate % 1000 == 0)
        return tr("%1 kBit/s").arg(bitrate / 1000);
    return tr("%1 Bit/s").arg(bitrate);
}

} // namespace

int CanFdLength::lengthOfDlc(int dlc)
{
    if (dlc < 0)
        return 0;
    return fdLengths[qMin(dlc, 15)];
}

int CanFdLength::dlcOfLength(int length)
{
    for (int code = 0; code < 16; ++code) {
        if (fdLengths[code] >= length)
            return code;
    }
    return 15;
}

bool CanFdLength::isValidLength(int length)
{
    return length >= 0 && length <= MaxLength && fdLengths[dlcOfLength(length)] == length;
}

bool CanFdTiming::compute(quint32 clockHz, quint32 bitrate, double samplePoint, const CanBitTimingLimits &limits,
                          CanBitTiming *timing, QString *error)
{
    if (bitrate == 0 || clockHz == 0) {
        setError(error, tr("Die Bitrate muss größer als 0 sein."));
        return false;
    }
    const quint32 maxQuanta = 1 + limits.tseg1Max + limits.tseg2Max;
    for (quint32 prescaler = 1; prescaler <= limits.prescalerMax; ++prescaler) {
        const quint64 divisor = quint64(prescaler) * bitrate;
        if (divisor > clockHz)
            break;
        if (clockHz % divisor != 0)
            continue;
        const quint32 quanta = quint32(clockHz / divisor);
        if (quanta < 3 || quanta > maxQuanta)
            continue;
        // Sample after 1 + tseg1 quanta; the segments are then fitted into
        // their registers, moving the sample point only as far as they force.
        qint64 tseg1 = qint64(std::lround(samplePoint * quanta)) - 1;
        tseg1 = qBound<qint64>(1, tseg1, qint64(quanta) - 2);
        qint64 tseg2 = qint64(quanta) - 1 - tseg1;
        if (tseg2 > qint64(limits.tseg2Max)) {
            tseg2 = limits.tseg2Max;
            tseg1 = qint64(quanta) - 1 - tseg2;
        }
        if (tseg1 > qint64(limits.tseg1Max)) {
            tseg1 = limits.tseg1Max;
            tseg2 = qint64(quanta) - 1 - tseg1;
        }
        if (tseg1 < 1 || tseg2 < 1 || tseg2 > qint64(limits.tseg2Max))
            continue;
        if (timing) {
            timing->prescaler = prescaler;
            timing->tseg1 = quint32(tseg1);
            timing->tseg2 = quint32(tseg2);
            timing->sjw = qMin(quint32(tseg2), limits.sjwMax);
        }
        return true;
    }
    setError(error, tr("%1 lässt sich mit einem Takt von %2 MHz nicht genau einstellen.")
                        .arg(rateText(bitrate))
                        .arg(clockHz / 1e6, 0, 'g', 6));
    return false;
}

QString CanFdTiming::bitrateString(quint32 nominalBitrate, quint32 dataBitrate, QString *error, quint32 clockHz)
{
    if (dataBitrate < nominalBitrate) {
        setError(error, tr("Die Datenbitrate (%1) darf nicht kleiner als die Nominalbitrate (%2) sein.")
                            .arg(rateText(dataBitrate), rateText(nominalBitrate)));
        return {};
    }
    CanBitTiming nominal;
    CanBitTiming data;
    QString why;
    if (!compute(clockHz, nominalBitrate, 0.8, NominalLimits, &nominal, &why)) {
        setError(error, tr("Nominalbitrate: %1").arg(why));
        return {};
    }
    if (!compute(clockHz, dataBitrate, 0.75, DataLimits, &data, &why)) {
        setError(error, tr("Datenbitrate: %1").arg(why));
        return {};
    }
    return QStringLiteral("f_clock=%1,nom_brp=%2,nom_tseg1=%3,nom_tseg2=%4,nom_sjw=%5,"
                          "data_brp=%6,data_tseg1=%7,data_tseg2=%8,data_sjw=%9")
        .arg(clockHz)
        .arg(nominal.prescaler)
        .arg(nominal.tseg1)
        .arg(nominal.tseg2)
        .arg(nominal.sjw)
        .arg(data.prescaler)
        .arg(data.tseg1)
        .arg(data.tseg2)
        .arg(data.sjw);
}

bool CanFdTiming::parseBitrateString(const QString &text, quint32 *clockHz, CanBitTiming *nominal,
                                     CanBitTiming *data, QString *error)
{
    QHash<QString, quint32> values;
    for (const QString &pair : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(eq).trimmed().toLower();
        bool ok = eq > 0;
        const quint32 value = ok ? pair.mid(eq + 1).trimmed().toUInt(&ok) : 0;
        if (!ok) {
            setError(error, tr("Ungültiger Eintrag in der Bitrate: \"%1\" (erwartet Schlüssel=Zahl).")
                                .arg(pair.trimmed()));
            return false;
        }
        values.insert(key, value);
    }
    if (values.contains(QStringLiteral("f_clock_mhz")) && !values.contains(QStringLiteral("f_clock")))
        values.insert(QStringLiteral("f_clock"), values.value(QStringLiteral("f_clock_mhz")) * 1000000u);

    static const char *const required[] = {"f_clock", "nom_brp", "nom_tseg1", "nom_tseg2", "nom_sjw",
                                           "data_brp", "data_tseg1", "data_tseg2", "data_sjw"};
    for (const char *key : required) {
        const QString name = QLatin1String(key);
        if (!values.contains(name) || values.value(name) == 0) {
            setError(error, tr("Die Bitrate nennt \"%1\" nicht oder mit 0.").arg(name));
            return false;
        }
    }
    const auto take = [&](const char *prefix) {
        const QString p = QLatin1String(prefix);
        return CanBitTiming{values.value(p + QLatin1String("brp")), values.value(p + QLatin1String("tseg1")),
                            values.value(p + QLatin1String("tseg2")), values.value(p + QLatin1String("sjw"))};
    };
    if (clockHz)
        *clockHz = values.value(QStringLiteral("f_clock"));
    if (nominal)
        *nominal = take("nom_");
    if (data)
        *data = take("data_");
    return true;
}
