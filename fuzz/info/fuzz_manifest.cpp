// The update manifest comes from the network: any bytes must either be
// refused with a German message or give a version that compares sanely and
// setup entries that the download rules can judge.
#include "updatemanifest.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QUrl base(QStringLiteral("https://www.busvista.de/programme/busvista/update.json"));
    UpdateManifest manifest;
    QString error;
    if (!UpdateManifest::parse(bytes, base, &manifest, &error)) {
        if (error.isEmpty() || !error.startsWith(QLatin1String("Update-Manifest")))
            std::abort();
        return 0;
    }
    if (bytes.size() > UpdateManifest::MaxSize || manifest.versionNumber.isNull())
        std::abort();
    // The version text is exactly the number: reading it again gives the same.
    QVersionNumber again;
    if (!UpdateManifest::parseVersion(manifest.version, &again) || again != manifest.versionNumber)
        std::abort();
    if (UpdateManifest::isNewer(manifest.versionNumber, manifest.versionNumber)
        || UpdateManifest::isNewer(manifest.versionNumber, QVersionNumber(manifest.versionNumber.segments() << 0)))
        std::abort();
    if (manifest.sha256 != manifest.sha256.trimmed().toLower() || manifest.notes != manifest.notes.trimmed())
        std::abort();
    for (const bool insecure : {false, true}) {
        QString setupError;
        if (manifest.setupValid(insecure, &setupError)) {
            static const QRegularExpression checksum(QStringLiteral("^[0-9a-f]{64}$"));
            const QString scheme = manifest.setupUrl.scheme().toLower();
            if (!checksum.match(manifest.sha256).hasMatch()
                || !(scheme == QLatin1String("https") || (insecure && scheme == QLatin1String("http")))
                || !manifest.setupUrl.path().endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
                std::abort();
        } else if (setupError.isEmpty()) {
            std::abort();
        }
    }
    return 0;
}
