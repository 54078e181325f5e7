#include "clibus.h"

#include "cli.h"
#include "bitrates.h"
#include "pipebackend.h"
#include "pcanbasicbackend.h"
#include "iscanbackend.h"
#include "simulationbackend.h"
#ifdef BUSVISTA_SOCKETCAN
#include "socketcanbackend.h"
#endif

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

namespace CliBus {
namespace {

struct OptionRow
{
    const char *name;
    const char *valueName;   // null: the option takes no value
    int valueCount;          // values after the option
    const char *help;
    bool (*apply)(Choice *choice, const QStringList &values, QString *error);
};

bool selectKind(Choice *choice, Kind kind, int interface, QString *error)
{
    if (choice->kind != NoBus && choice->kind != kind) {
        *error = QStringLiteral("Nur ein Bus kann gewählt werden.");
        return false;
    }
    choice->kind = kind;
    choice->params.interface = interface;
    return true;
}

bool applySim(Choice *choice, const QStringList &, QString *error)
{
    return selectKind(choice, Simulation, 1, error);
}

bool applyPcan(Choice *choice, const QStringList &values, QString *error)
{
    const QString &value = values.at(0);
    if (!selectKind(choice, Pcan, 2, error))
        return false;
    bool ok = false;
    const uint channel = value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? value.mid(2).toUInt(&ok, 16)
                                                                                     : value.toUInt(&ok, 10);
    if (!ok || channel < 1 || channel > 0xFFFF) {
        *error = QStringLiteral("Ungültiger PCAN-Kanal: %1 (Handle, z. B. 0x51)").arg(value);
        return false;
    }
    choice->params.channel = int(channel);
    return true;
}

bool applyIsCan(Choice *choice, const QStringList &values, QString *error)
{
    const QString &value = values.at(0);
    bool ok = false;
    const int device = value.toInt(&ok);
    if (!ok || device < 0 || device > 15) {
        *error = QStringLiteral("Ungültige isCAN-Gerätenummer: %1 (0 bis 15)").arg(value);
        return false;
    }
    if (!selectKind(choice, IsCanBus, 3, error))
        return false;
    choice->params.isCanDevice = device;
    return true;
}

bool applyPipe(Choice *choice, const QStringList &values, QString *error)
{
    choice->pipeIn = values.at(0);
    choice->pipeOut = values.at(1);
    return selectKind(choice, Pipe, 0, error);
}

bool applySocketCan(Choice *choice, const QStringList &values, QString *error)
{
    const QString &value = values.at(0);
    if (value.isEmpty() || value.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("Ungültiger Schnittstellenname: %1 (z. B. can0)").arg(value);
        return false;
    }
    if (!selectKind(choice, SocketCanBus, 4, error))
        return false;
    choice->params.socketCanInterface = value;
    return true;
}

bool applyErrorFrames(Choice *choice, const QStringList &, QString *)
{
    choice->params.errorFrames = true;
    choice->errorFramesGiven = true;
    return true;
}

bool applyDll(Choice *choice, const QStringList &values, QString *)
{
    choice->dllPath = values.at(0);
    choice->dllGiven = true;
    return true;
}

// --btr and --bitrate name the same bit timing: only one of them may be given.
bool takeBitTiming(Choice *choice, quint16 btr, QString *error)
{
    if (choice->btrGiven) {
        *error = QStringLiteral("Die Bitrate nur einmal angeben: --btr oder --bitrate.");
        return false;
    }
    choice->params.btr = btr;
    choice->btrGiven = true;
    return true;
}

bool applyBitrate(Choice *choice, const QStringList &values, QString *error)
{
    const QString &value = values.at(0);
    quint16 btr = 0;
    if (!standardBtrOfKbit(value, &btr)) {
        QStringList rates;
        for (const StandardBitrate &row : standardBitrates)
            rates << QString::fromLatin1(row.text).section(QLatin1Char(' '), 0, 0);
        rates.first() = QStringLiteral("1000");   // "1 MBit/s"
        *error = QStringLiteral("Keine Standard-Bitrate: %1 kBit/s (möglich: %2; andere mit --btr HEX)")
                     .arg(value, rates.join(QLatin1String(", ")));
        return false;
    }
    return takeBitTiming(choice, btr, error);
}

bool applyBtr(Choice *choice, const QStringList &values, QString *error)
{
    const QString &value = values.at(0);
    QString digits = value;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const uint btr = digits.toUInt(&ok, 16);
    if (!ok || digits.size() > 4 || btr < 1 || btr > 0xFFFF) {
        *error = QStringLiteral("Ungültiger BTR0/BTR1-Wert: %1 (1 bis FFFF hexadezimal)").arg(value);
        return false;
    }
    return takeBitTiming(choice, quint16(btr), error);
}

bool applyListenOnly(Choice *choice, const QStringList &, QString *)
{
    choice->params.listenOnly = true;
    return true;
}

const OptionRow options[] = {
    {"--sim", nullptr, 0, "simulierter Bus", applySim},
    {"--pipe", "EIN AUS", 2,
     "Text-Pipe: empfängt candump-L/cansend-Zeilen aus EIN (Datei, Named Pipe, - = stdin), schreibt Gesendetes als candump-L-Zeilen nach AUS",
     applyPipe},
    {"--pcan", "KANAL", 1, "PCAN-Basic-Kanal als Handle, z. B. 0x51 (PCAN-USB 1)", applyPcan},
    {"--iscan", "GERÄT", 1, "isCAN-Gerät 0 bis 15 der Treiberkonfiguration (busvista-cli devices)", applyIsCan},
    {"--socketcan", "SCHNITTSTELLE", 1,
     "SocketCAN-Schnittstelle des Linux-Kernels, z. B. can0 oder vcan0 (busvista-cli channels --socketcan)",
     applySocketCan},
    {"--dll", "PFAD", 1, "Treiber-DLL statt der Standardsuche", applyDll},
    {"--bitrate", "KBIT", 1, "Standard-Bitrate in kBit/s, z. B. 500 (Vorgabe), 250, 125 oder 1000", applyBitrate},
    {"--btr", "HEX", 1, "Bit-Timing als BTR0/BTR1-Wort, z. B. 001C (500 kBit/s, Vorgabe)", applyBtr},
    {"--listen-only", nullptr, 0, "nur mithören (kein ACK, kein Senden)", applyListenOnly},
    {"--error-frames", nullptr, 0, "Error-Frames aufzeichnen (PCAN-Basic, SocketCAN)", applyErrorFrames},
};

// Whether the options given fit the chosen bus; fills the kind's fields.
bool check(Choice *choice, QString *error)
{
    if (choice->errorFramesGiven && choice->kind != NoBus && choice->kind != Pcan && choice->kind != SocketCanBus) {
        *error = QStringLiteral("--error-frames gilt nur für --pcan und --socketcan.");
        return false;
    }
    switch (choice->kind) {
    case NoBus:
        *error = QStringLiteral("Kein Bus gewählt.");
        return false;
    case Simulation:
        if (choice->dllGiven || choice->btrGiven || choice->params.listenOnly) {
            *error = QStringLiteral("--dll, --bitrate, --btr und --listen-only gelten nicht für --sim.");
            return false;
        }
        return true;
    case Pcan:
        choice->params.basicDllPath = choice->dllPath;
        return true;
    case IsCanBus:
        // Listen-only goes on to the backend, which explains that isCAN has none.
        choice->params.isCanDllPath = choice->dllPath;
        return true;
    case Pipe:
        if (choice->dllGiven || choice->btrGiven || choice->params.listenOnly) {
            *error = QStringLiteral("--dll, --bitrate, --btr und --listen-only gelten nicht für --pipe.");
            return false;
        }
        return true;
    case SocketCanBus:
#ifndef BUSVISTA_SOCKETCAN
        *error = QStringLiteral("SocketCAN gibt es nur unter Linux.");
        return false;
#endif
        // The bit rate only goes into the hint for an interface that is down.
        if (choice->dllGiven) {
            *error = QStringLiteral("--dll gilt nicht für --socketcan.");
            return false;
        }
        return true;
    }
    return true;
}

} // namespace

bool take(QStringList *args, Choice *choice, QString *error)
{
    QStringList rest;
    for (int i = 0; i < args->size(); ++i) {
        const QString &arg = args->at(i);
        const OptionRow *row = nullptr;
        for (const OptionRow &candidate : options) {
            if (arg == QLatin1String(candidate.name))
                row = &candidate;
        }
        if (!row) {
            rest.append(arg);
            continue;
        }
        QStringList values;
        if (row->valueCount > 0) {
            if (i + row->valueCount >= args->size()) {
                *error = row->valueCount == 1 ? QStringLiteral("%1 braucht einen Wert.").arg(arg)
                                              : QStringLiteral("%1 braucht %2 Werte.").arg(arg).arg(row->valueCount);
                return false;
            }
            values = args->mid(i + 1, row->valueCount);
            i += row->valueCount;
        }
        if (!row->apply(choice, values, error))
            return false;
    }
    if (!check(choice, error))
        return false;
    *args = rest;
    return true;
}

QString usageLine()
{
    return QStringLiteral("BUS = --sim | --pipe EIN AUS"
                          " | --pcan KANAL [--dll PFAD] [--bitrate KBIT | --btr HEX] [--listen-only] [--error-frames]"
                          " | --iscan GERÄT [--dll PFAD] [--bitrate KBIT | --btr HEX]"
                          " | --socketcan SCHNITTSTELLE [--bitrate KBIT] [--listen-only] [--error-frames]");
}

QString helpText()
{
    QString text = QStringLiteral("Bus (BUS):\n");
    for (const OptionRow &row : options) {
        QString names = QString::fromLatin1(row.name);
        if (row.valueName)
            names += QLatin1Char(' ') + QString::fromUtf8(row.valueName);
        text += QStringLiteral("  %1  %2\n").arg(names, -22).arg(QString::fromUtf8(row.help));
    }
    return text;
}

std::unique_ptr<CanBackend> createBackend(const Choice &choice)
{
    switch (choice.kind) {
    case Simulation:
        return std::make_unique<SimulationBackend>();
    case Pcan:
        return std::make_unique<PcanBasicBackend>();
    case IsCanBus:
        return std::make_unique<IsCanBackend>();
    case Pipe:
        return std::make_unique<PipeBackend>(choice.pipeIn, choice.pipeOut);
    case SocketCanBus:
#ifdef BUSVISTA_SOCKETCAN
        return std::make_unique<SocketCanBackend>();
#else
        break;
#endif
    case NoBus:
        break;
    }
    return nullptr;
}

bool run(CanBackend &backend, const Choice &choice, double seconds, const std::function<void()> &started,
         bool *busLost)
{
    if (busLost)
        *busLost = false;
    QString error;
    if (!backend.open(choice.params, &error)) {
        Cli::err(error);
        return false;
    }
    // The end of a text pipe's input ends the run like a disconnect.
    if (auto *pipe = qobject_cast<PipeBackend *>(&backend))
        QObject::connect(pipe, &PipeBackend::inputEnded, QCoreApplication::instance(), &QCoreApplication::quit);
    QObject::connect(&backend, &CanBackend::notice, QCoreApplication::instance(),
                     [](const QString &text) { Cli::err(text); });
    // The bus status is what tells of a lost bus; asking for it also brings
    // the backend's notices.
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, QCoreApplication::instance(), [&backend, &watch, busLost] {
        const unsigned flags = backend.busStatus();
        if (!(flags & CanBackend::DeviceLost))
            return;
        Cli::err(QStringLiteral("Verbindung zum Bus verloren (%1): das bis dahin Empfangene bleibt erhalten.")
                     .arg(CanBackend::statusText(flags)));
        if (busLost)
            *busLost = true;
        watch.stop();
        QCoreApplication::quit();
    });
    watch.start();
    if (started)
        started();
    QTimer::singleShot(int(std::llround(seconds * 1000)), Qt::PreciseTimer, QCoreApplication::instance(),
                       &QCoreApplication::quit);
    QCoreApplication::exec();
    backend.close();
    backend.flushQueue(); // what was received before the end still counts
    return true;
}

} // namespace CliBus
