#include "socketcan.h"

#include "bitrates.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>

#include <linux/can.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef BUSVISTA_LIBSOCKETCAN
#include <libsocketcan.h>
#endif

namespace SocketCan {
namespace {

constexpr int ArphrdCan = 280;

QString tr(const char *text)
{
    return QCoreApplication::translate("SocketCan", text);
}

QByteArray readSysfs(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(64).trimmed();
}

bool readInterface(const QDir &dir, const QString &name, InterfaceInfo *info)
{
    const QString base = dir.filePath(name);
    bool ok = false;
    if (readSysfs(base + QStringLiteral("/type")).toInt(&ok) != ArphrdCan || !ok)
        return false;
    info->name = name;
    const QByteArray flags = readSysfs(base + QStringLiteral("/flags"));
    info->up = flags.startsWith("0x") ? (flags.mid(2).toUInt(nullptr, 16) & IFF_UP) != 0
                                      : (flags.toUInt(nullptr, 16) & IFF_UP) != 0;
    // A real adapter has its device behind the interface; vcan has none.
    info->isVirtual = !QFileInfo::exists(base + QStringLiteral("/device"));
    queryController(name, &info->bitrate, &info->state);
    return true;
}

} // namespace

QString sysfsNetDir()
{
    const QString overridden = qEnvironmentVariable("BUSVISTA_SYSFS_NET");
    return overridden.isEmpty() ? QStringLiteral("/sys/class/net") : overridden;
}

bool available()
{
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0)
        return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT && errno != ESOCKTNOSUPPORT;
    ::close(fd);
    return true;
}

QString notAvailableText()
{
    return tr("SocketCAN ist auf diesem System nicht verfügbar (der Kernel kennt keine CAN-Sockets).");
}

QList<InterfaceInfo> interfaces(QString *error)
{
    QList<InterfaceInfo> result;
    const QDir dir(sysfsNetDir());
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &name : names) {
        InterfaceInfo info;
        if (readInterface(dir, name, &info))
            result.append(info);
    }
    if (result.isEmpty() && error) {
        *error = available()
            ? tr("Keine SocketCAN-Schnittstelle gefunden (CAN-Adapter angeschlossen? Zum Testen als root: "
                 "ip link add dev vcan0 type vcan && ip link set vcan0 up).")
            : notAvailableText();
    }
    return result;
}

bool interfaceInfo(const QString &name, InterfaceInfo *info)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return false;
    return readInterface(QDir(sysfsNetDir()), name, info);
}

void queryController(const QString &name, quint32 *bitrate, int *state)
{
    *bitrate = 0;
    *state = StateUnknown;
#ifdef BUSVISTA_LIBSOCKETCAN
    const QByteArray local = name.toLocal8Bit();
    struct can_bittiming timing = {};
    if (can_get_bittiming(local.constData(), &timing) == 0)
        *bitrate = timing.bitrate;
    int kernelState = 0;
    if (can_get_state(local.constData(), &kernelState) == 0 && kernelState >= StateErrorActive
        && kernelState <= StateSleeping)
        *state = kernelState;
#else
    Q_UNUSED(name)
#endif
}

QString bitrateText(quint32 bitrate)
{
    for (const StandardBitrate &row : standardBitrates) {
        if (bitrateOfBtr(row.btr) == bitrate)
            return QString::fromUtf8(row.text);
    }
    if (bitrate >= 1000000 && bitrate % 1000000 == 0)
        return tr("%1 MBit/s").arg(bitrate / 1000000);
    if (bitrate >= 1000 && bitrate % 1000 == 0)
        return tr("%1 kBit/s").arg(bitrate / 1000);
    return tr("%1 Bit/s").arg(bitrate);
}

QString stateText(int state)
{
    switch (state) {
    case StateErrorActive:
        return tr("Error active");
    case StateErrorWarning:
        return tr("Warnung");
    case StateErrorPassive:
        return tr("Error passive");
    case StateBusOff:
        return tr("Bus-Off");
    case StateStopped:
        return tr("gestoppt");
    case StateSleeping:
        return tr("schlafend");
    default:
        return QString();
    }
}

QString interfaceDetails(const InterfaceInfo &info)
{
    QStringList details;
    details << (info.up ? tr("aktiv") : tr("inaktiv"));
    if (info.isVirtual)
        details << tr("virtuell");
    if (info.bitrate > 0)
        details << bitrateText(info.bitrate);
    const QString state = stateText(info.state);
    if (!state.isEmpty())
        details << state;
    return details.join(QStringLiteral(", "));
}

QString interfaceText(const InterfaceInfo &info)
{
    return info.name + QStringLiteral("   \u2014   ") + interfaceDetails(info);
}

QString bringUpHint(const QString &name, quint32 bitrate)
{
    const QString command = name.startsWith(QLatin1String("vcan"))
        ? QStringLiteral("ip link set %1 up").arg(name)
        : QStringLiteral("ip link set %1 up type can bitrate %2").arg(name).arg(bitrate > 0 ? bitrate : 500000);
    return tr("Die CAN-Schnittstelle %1 ist nicht aktiv. Als root einschalten mit:\n%2").arg(name, command);
}

} // namespace SocketCan
