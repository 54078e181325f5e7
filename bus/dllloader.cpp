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

QString machineName(quint16 machine)
{
    switch (machine) {
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
    if (!p.isEmpty()) {
        const quint16 machine = peMachine(p);
        if (machine != 0 && machine != 0x8664) {
            message += QStringLiteral("\n\n")
                + tr("Architektur passt nicht: Die DLL ist %1, die Anwendung ist %2.")
                      .arg(machineName(machine), tr("64-bit (x64)"));
            if (!spec.archHint.isEmpty())
                message += QLatin1Char(' ') + spec.archHint;
        }
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
