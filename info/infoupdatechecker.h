#pragma once

#include "updatemanifest.h"

#include <QFile>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QStringList>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkRequest;
class QTemporaryDir;

// Looks for a newer version in the update manifest and, where a setup can be
// started (Windows), downloads it into a private directory, verifies its
// SHA-256 checksum and starts it. Everything runs in the GUI thread; at most
// one reply is in flight.
//
// Every failure ends in exactly one checkFinished(Error) or
// downloadFinished(false) with errorText() set; a user cancel emits nothing.
// A partial or mismatching download never stays on disk.
class InfoUpdateChecker : public QObject
{
    Q_OBJECT

public:
    enum Status { UpToDate = 0, UpdateAvailable = 1, Error = 2 };
    Q_ENUM(Status)

    explicit InfoUpdateChecker(QObject *parent = nullptr);
    ~InfoUpdateChecker() override;

    // The maker's manifest, unless the environment variable
    // BUSVISTA_UPDATE_URL names another one.
    static QUrl defaultManifestUrl();
    // Only Windows has a setup program to start; elsewhere an update is
    // reported with its notes and the website.
    static bool setupSupported();

    void setManifestUrl(const QUrl &url) { m_manifestUrl = url; }
    QUrl manifestUrl() const { return m_manifestUrl; }
    void setCurrentVersion(const QString &version) { m_currentVersion = version; }
    QString currentVersion() const;        // the set one, else the application's, else the build's
    void setAllowInsecure(bool allow) { m_allowInsecure = allow; }
    // Whether an available update must come with a valid setup address and
    // checksum; defaults to setupSupported().
    void setSetupRequired(bool required) { m_setupRequired = required; }
    bool isSetupRequired() const { return m_setupRequired; }
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    void setSetupArguments(const QStringList &arguments) { m_setupArguments = arguments; }
    // A setup larger than this is not downloaded (a hostile or broken server
    // could fill the disk until the time-out).
    static constexpr qint64 DefaultMaxSetupSize = qint64(1) << 30;
    void setMaxSetupSize(qint64 bytes) { m_maxSetupSize = bytes; }
    qint64 maxSetupSize() const { return m_maxSetupSize; }

    // Trusts the PEM certificates of the file in addition to the system's
    // (a company proxy, a test server).
    bool addCaCertificates(const QString &pemFile, QString *error = nullptr);
    // The same for the file named by BUSVISTA_UPDATE_CA; true when it is unset.
    bool addCaCertificatesFromEnvironment(QString *error = nullptr);

    QString latestVersion() const { return m_manifest.version; }
    QString notes() const { return m_manifest.notes; }
    QUrl setupUrl() const { return m_manifest.setupUrl; }
    QString errorText() const { return m_errorText; }
    // The verified setup after downloadFinished(true), else empty. A setup
    // that could not be started stays there for the user to start by hand.
    QString setupPath() const { return m_setupPath; }
    bool isBusy() const { return m_reply != nullptr; }

public slots:
    void check();
    void download();
    void cancel();
    bool startSetup();

signals:
    void checkFinished(InfoUpdateChecker::Status status);
    void downloadProgress(qint64 received, qint64 total);
    void downloadFinished(bool ok);

private:
    QNetworkRequest request(const QUrl &url) const;
    void onManifestFinished();
    void onDownloadReadyRead();
    bool exceedsSizeLimit(qint64 bytes);
    void onDownloadFinished();
    void failDownload(const QString &message);
    void discardDownload();

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QUrl m_manifestUrl;
    QString m_currentVersion;
    bool m_allowInsecure = false;
    bool m_setupRequired = setupSupported();
    int m_transferTimeoutMs = 30000;
    qint64 m_maxSetupSize = DefaultMaxSetupSize;
    QList<QSslCertificate> m_extraCas;
    QStringList m_setupArguments;

    UpdateManifest m_manifest;
    bool m_setupReady = false;          // the last check found a valid setup entry
    bool m_manifestTooBig = false;
    bool m_cancelled = false;
    bool m_writeFailed = false;   // also: stopped at the size limit
    QString m_errorText;

    std::unique_ptr<QTemporaryDir> m_downloadDir;   // private, removed with its contents
    QFile m_file;
    QString m_setupPath;
};
