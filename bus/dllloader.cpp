#include "dllloader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DllLoader", text);
}

// The machine this program was built for, in the codes of peMachine().
constexpr quint16 ownMachine()
{
#if defined(Q_PROCESSOR_X86_64)
    return 0x8664;
#elif defined(Q_PROCESSOR_ARM_64)
    return 0xAA64;
#elif defined(Q_PROCESSOR_X86_32)
    return 0x014C;
#else
    return 0;
#endif
}

QString machineName(quint16 machine)
{
    switch (machine) {
    case 0x8664:
        return tr("64-bit (x64)");
    case 0xAA64:
        return tr("64-bit (ARM64)");
    case 0x014C:
        return tr("32-bit (x86)");
    default:
        return tr("unbekannt");
    }
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

DllLoader::~DllLoader() = default;

bool DllLoader::isLoaded() const
{
    return loaded;
}

QString DllLoader::loadedPath() const
{
    return loadedPathValue;
}

int DllLoader::loadFile(const QString &path, const Spec &spec, QString *error)
{
    const QString p = path.trimmed();
    if (loaded) {
        if (p == loadedPathValue)
            return AlreadyLoaded;
        if (users > 0) {
            setError(error, tr("Die DLL kann nicht gewechselt werden, solange eine Verbindung besteht."));
            return LoadFailed;
        }
        library.unload();
        loaded = false;
        resetFunctions();
        loadedPathValue.clear();
    }

    if (!p.isEmpty() && !QFileInfo::exists(p)) {
        setError(error, tr("Datei nicht gefunden: %1").arg(QDir::toNativeSeparators(p)));
        return LoadFailed;
    }

    library.setFileName(p.isEmpty() ? spec.libraryName : p);
    bool done = library.load();
    const QString loadError = library.errorString();
    if (!done && p.isEmpty()) {
        for (const QString &name : spec.alternativeNames) {
            library.setFileName(name);
            if ((done = library.load()))
                break;
        }
    }
    if (done) {
        requestedPath = p;
        return LoadedNow;
    }

    QString message = tr("%1 konnte nicht geladen werden:\n%2").arg(spec.displayName, loadError);
    if (!spec.loadHint.isEmpty())
        message += QStringLiteral("\n\n") + spec.loadHint;
    // The file of the wrong architecture is the common mistake, whether it
    // was chosen or found by the default search (a 32-bit DLL copied next to
    // the program).
    const QString file = p.isEmpty() ? findInSearchPlaces(searchedFileNames(spec)) : p;
    const quint16 machine = file.isEmpty() ? 0 : libraryMachine(file);
    if (machine != 0 && machine != ownMachine()) {
        const QString kind = peMachine(file) != 0 ? tr("Die DLL") : tr("Die Bibliothek");
        message += QStringLiteral("\n\n")
            + tr("Architektur passt nicht: %1 ist %2, die Anwendung ist %3.")
                  .arg(kind, machineName(machine), machineName(ownMachine()));
        if (!spec.archHint.isEmpty())
            message += QLatin1Char(' ') + spec.archHint;
        if (p.isEmpty())
            message += QLatin1Char('\n') + tr("(Gefunden: %1)").arg(QDir::toNativeSeparators(file));
    }
    setError(error, message);
    return LoadFailed;
}

bool DllLoader::finishLoad(const QList<QString> &missing, const Spec &spec, QString *error)
{
    if (missing.isEmpty()) {
        loaded = true;
        loadedPathValue = requestedPath;
        return true;
    }
    setError(error, tr("%1 ist unvollständig, fehlende Funktionen: %2")
                        .arg(spec.displayName, QStringList(missing).join(QStringLiteral(", "))));
    library.unload();
    resetFunctions();
    return false;
}

quint16 DllLoader::libraryMachine(const QString &path)
{
    if (const quint16 pe = peMachine(path))
        return pe;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray header = file.read(20);
    if (header.size() < 20 || !header.startsWith("\x7f" "ELF"))
        return 0;
    // e_machine at offset 18, in the byte order of e_ident[5] (1 little, 2 big).
    const quint16 machine = header[5] == 2 ? qFromBigEndian<quint16>(header.constData() + 18)
                                           : qFromLittleEndian<quint16>(header.constData() + 18);
    switch (machine) {
    case 62:
        return 0x8664;
    case 3:
        return 0x014C;
    case 183:
        return 0xAA64;
    default:
        return 1;
    }
}

QStringList DllLoader::searchedFileNames(const Spec &spec)
{
    QStringList names;
    for (const QString &name : QStringList {spec.libraryName} + spec.alternativeNames) {
#ifdef Q_OS_WIN
        names << name + QStringLiteral(".dll");
#elif defined(Q_OS_MACOS)
        names << QStringLiteral("lib") + name + QStringLiteral(".dylib");
#else
        names << QStringLiteral("lib") + name + QStringLiteral(".so");
#endif
    }
    return names;
}

QString DllLoader::searchPlacesText()
{
#ifdef Q_OS_WIN
    return tr("Programmordner, System32");
#else
    return QStringLiteral("LD_LIBRARY_PATH, /usr/local/lib, /usr/lib");
#endif
}

QString DllLoader::findInSearchPlaces(const QStringList &fileNames)
{
    QStringList places;
#ifdef Q_OS_WIN
    places << QCoreApplication::applicationDirPath();
    const QString systemRoot = qEnvironmentVariable("SystemRoot");
    if (!systemRoot.isEmpty())
        places << systemRoot + QStringLiteral("/System32");
    places << qEnvironmentVariable("PATH").split(QLatin1Char(';'), Qt::SkipEmptyParts);
#else
    places << qEnvironmentVariable("LD_LIBRARY_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    places << QStringLiteral("/usr/local/lib") << QStringLiteral("/usr/lib/x86_64-linux-gnu")
           << QStringLiteral("/usr/lib") << QStringLiteral("/lib");
#endif
    for (const QString &name : fileNames) {
        for (const QString &place : places) {
            const QString path = QDir(place).filePath(name);
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return QString();
}

quint16 DllLoader::peMachine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray dosHeader = file.read(64);
    if (dosHeader.size() < 64 || !dosHeader.startsWith("MZ"))
        return 0;
    const quint32 peOffset = qFromLittleEndian<quint32>(dosHeader.constData() + 60);
    if (!file.seek(qint64(peOffset)))
        return 0;
    const QByteArray peHeader = file.read(6);
    if (peHeader.size() < 6 || !peHeader.startsWith(QByteArray("PE\0\0", 4)))
        return 0;
    return qFromLittleEndian<quint16>(peHeader.constData() + 4);
}
