#include "updatemanifest.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("InfoUpdateChecker", text);
}

void fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

} // namespace

bool UpdateManifest::parse(const QByteArray &bytes, const QUrl &manifestUrl, UpdateManifest *manifest,
                           QString *error)
{
    *manifest = UpdateManifest();
    if (bytes.size() > MaxSize) {
        fail(error, tr("Update-Manifest ist zu groß."));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(error, tr("Update-Manifest ungültig: %1").arg(parseError.errorString()));
        return false;
    }
    if (!document.isObject()) {
        fail(error, tr("Update-Manifest ungültig: %1").arg(tr("kein JSON-Objekt")));
        return false;
    }
    const QJsonObject object = document.object();
    manifest->version = object.value(QLatin1String("version")).toString().trimmed();
    manifest->notes = object.value(QLatin1String("notes")).toString().trimmed();
    manifest->sha256 = object.value(QLatin1String("sha256")).toString().trimmed().toLower();
    const QString url = object.value(QLatin1String("url")).toString().trimmed();
    if (!url.isEmpty())
        manifest->setupUrl = manifestUrl.resolved(QUrl(url));
    if (!parseVersion(manifest->version, &manifest->versionNumber)) {
        fail(error, tr("Update-Manifest enthält keine gültige Version."));
        return false;
    }
    return true;
}

bool UpdateManifest::setupValid(bool allowInsecure, QString *error) const
{
    if (!urlAllowed(setupUrl, allowInsecure)
        || !setupUrl.path().endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        fail(error, tr("Update-Manifest enthält keine gültige Setup-Adresse."));
        return false;
    }
    static const QRegularExpression checksum(QStringLiteral("^[0-9a-f]{64}$"));
    if (!checksum.match(sha256).hasMatch()) {
        fail(error, tr("Update-Manifest enthält keine gültige SHA-256-Prüfsumme."));
        return false;
    }
    return true;
}

bool UpdateManifest::urlAllowed(const QUrl &url, bool allowInsecure)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("https") || (allowInsecure && scheme == QLatin1String("http"));
}

bool UpdateManifest::parseVersion(const QString &text, QVersionNumber *version)
{
    qsizetype suffix = 0;
    const QVersionNumber number = QVersionNumber::fromString(text, &suffix);
    if (number.isNull() || suffix != text.size())
        return false;
    *version = number;
    return true;
}

bool UpdateManifest::isNewer(const QVersionNumber &latest, const QVersionNumber &current)
{
    return QVersionNumber::compare(latest.normalized(), current.normalized()) > 0;
}
