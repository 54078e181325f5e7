#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

// The update manifest on the maker's server: a small JSON object with
// "version", "notes", "sha256" and "url"; other keys are ignored.
struct UpdateManifest
{
    // Anything bigger is not a manifest; also bounds what a check reads.
    static constexpr qint64 MaxSize = 262144;

    QString version;                // trimmed text of "version"
    QVersionNumber versionNumber;   // null when "version" is not a dotted number
    QString notes;                  // trimmed
    QString sha256;                 // trimmed, lower case
    QUrl setupUrl;                  // resolved against the manifest's own address

    // Reads a manifest; false with a German message when it is too big, not a
    // JSON object or has no valid version. The fields read so far are kept.
    static bool parse(const QByteArray &bytes, const QUrl &manifestUrl, UpdateManifest *manifest,
                      QString *error);

    // What a setup download needs: an allowed address whose path ends in
    // ".exe" (any case) and a checksum of 64 hexadecimal digits.
    bool setupValid(bool allowInsecure, QString *error) const;

    // Only https, or http as well when insecure addresses are allowed.
    static bool urlAllowed(const QUrl &url, bool allowInsecure);

    // A version is digits separated by dots and nothing else ("1.2", "0.1.13").
    static bool parseVersion(const QString &text, QVersionNumber *version);
    // Compares as numbers; trailing zeros do not count (1.2 equals 1.2.0).
    static bool isNewer(const QVersionNumber &latest, const QVersionNumber &current);
};
