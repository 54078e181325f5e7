#include "infoupdatechecker.h"

#include "busvistaversion.h"
#include "platform/programstart.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTemporaryDir>

namespace {

// The one place that names the maker's update server.
const char DefaultManifestUrl[] = "https://www.busvista.de/programme/busvista/update.json";

QByteArray sha256Hex(const QString &path, bool *ok)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    *ok = file.open(QIODevice::ReadOnly) && hash.addData(&file);
    return hash.result().toHex();
}

} // namespace

InfoUpdateChecker::InfoUpdateChecker(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    qRegisterMetaType<InfoUpdateChecker::Status>();
}

InfoUpdateChecker::~InfoUpdateChecker()
{
    cancel();
}

QUrl InfoUpdateChecker::defaultManifestUrl()
{
    const QString fromEnvironment = qEnvironmentVariable("BUSVISTA_UPDATE_URL").trimmed();
    return QUrl(fromEnvironment.isEmpty() ? QString::fromLatin1(DefaultManifestUrl) : fromEnvironment);
}

bool InfoUpdateChecker::setupSupported()
{
#ifdef Q_OS_WIN
    return true;
#else
    return false;
#endif
}

QString InfoUpdateChecker::currentVersion() const
{
    if (!m_currentVersion.isEmpty())
        return m_currentVersion;
    const QString application = QCoreApplication::applicationVersion();
    return application.isEmpty() ? QStringLiteral(BUSVISTA_VERSION) : application;
}

bool InfoUpdateChecker::addCaCertificates(const QString &pemFile, QString *error)
{
    QFile file(pemFile);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("Zertifikatsdatei %1 kann nicht gelesen werden: %2")
                         .arg(QDir::toNativeSeparators(pemFile), file.errorString());
        return false;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        if (error)
            *error = tr("Zertifikatsdatei %1 enthält kein PEM-Zertifikat.").arg(QDir::toNativeSeparators(pemFile));
        return false;
    }
    m_extraCas += certificates;
    return true;
}

bool InfoUpdateChecker::addCaCertificatesFromEnvironment(QString *error)
{
    const QString file = qEnvironmentVariable("BUSVISTA_UPDATE_CA");
    return file.isEmpty() || addCaCertificates(file, error);
}

QNetworkRequest InfoUpdateChecker::request(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setTransferTimeout(m_transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QCoreApplication::applicationName() + QLatin1Char('/') + currentVersion());
    if (!m_extraCas.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        // Reading the system's store takes a while; it does not change while the program runs.
        static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        ssl.setCaCertificates(system + m_extraCas);
        request.setSslConfiguration(ssl);
    }
    return request;
}

// --- manifest ----------------------------------------------------------------

void InfoUpdateChecker::check()
{
    if (m_reply)
        return;
    m_errorText.clear();
    m_manifest = UpdateManifest();
    m_setupReady = false;
    m_cancelled = false;
    m_manifestTooBig = false;
    if (!UpdateManifest::urlAllowed(m_manifestUrl, m_allowInsecure)) {
        m_errorText = tr("Ungültige oder unsichere Update-Adresse (https erforderlich).");
        emit checkFinished(Error);
        return;
    }
    QNetworkReply *reply = m_network->get(request(m_manifestUrl));
    m_reply = reply;
    // Stop a runaway manifest early instead of buffering it whole.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > UpdateManifest::MaxSize && !m_manifestTooBig) {
            m_manifestTooBig = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, &InfoUpdateChecker::onManifestFinished);
}

void InfoUpdateChecker::onManifestFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();
    if (m_cancelled)
        return;

    QByteArray bytes;
    if (!m_manifestTooBig) {
        if (reply->error() != QNetworkReply::NoError) {
            m_errorText = reply->errorString();
            emit checkFinished(Error);
            return;
        }
        bytes = reply->read(UpdateManifest::MaxSize + 1);
    }
    if (m_manifestTooBig || bytes.size() > UpdateManifest::MaxSize) {
        m_errorText = tr("Update-Manifest ist zu groß.");
        emit checkFinished(Error);
        return;
    }
    if (!UpdateManifest::parse(bytes, m_manifestUrl, &m_manifest, &m_errorText)) {
        emit checkFinished(Error);
        return;
    }
    QVersionNumber current;
    UpdateManifest::parseVersion(currentVersion(), &current);   // unparsable: everything is newer
    if (!UpdateManifest::isNewer(m_manifest.versionNumber, current)) {
        emit checkFinished(UpToDate);
        return;
    }
    if (m_setupRequired) {
        if (!m_manifest.setupValid(m_allowInsecure, &m_errorText)) {
            emit checkFinished(Error);
            return;
        }
        m_setupReady = true;
    }
    emit checkFinished(UpdateAvailable);
}

// --- setup download ------------------------------------------------------------

void InfoUpdateChecker::download()
{
    if (m_reply)
        return;
    m_errorText.clear();
    m_cancelled = false;
    m_writeFailed = false;
    discardDownload();
    if (!m_setupReady) {
        failDownload(tr("Es gibt kein Setup zum Herunterladen."));
        return;
    }

    // A fresh directory only this user can enter: nobody can plant a link
    // under the setup's name, and a second download cannot touch this one.
    m_downloadDir = std::make_unique<QTemporaryDir>();
    if (!m_downloadDir->isValid()) {
        failDownload(tr("Setup kann nicht gespeichert werden: %1").arg(m_downloadDir->errorString()));
        return;
    }
    QString name = QFileInfo(m_manifest.setupUrl.path()).fileName();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name = QStringLiteral("setup.exe");
    m_file.setFileName(m_downloadDir->filePath(name));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        failDownload(tr("Setup kann nicht gespeichert werden: %1").arg(m_file.errorString()));
        return;
    }

    QNetworkReply *reply = m_network->get(request(m_manifest.setupUrl));
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &InfoUpdateChecker::onDownloadReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        // An announced size above the limit ends the download before it fills anything.
        if (exceedsSizeLimit(total))
            return;
        emit downloadProgress(received, total);
    });
    connect(reply, &QNetworkReply::finished, this, &InfoUpdateChecker::onDownloadFinished);
}

bool InfoUpdateChecker::exceedsSizeLimit(qint64 bytes)
{
    if (bytes <= m_maxSetupSize)
        return false;
    if (!m_writeFailed && m_reply) {
        m_writeFailed = true;
        m_errorText = tr("Das Setup ist größer als %1 und wird nicht geladen.")
                          .arg(QLocale(QLocale::German).formattedDataSize(m_maxSetupSize, 0));
        m_reply->abort();
    }
    return true;
}

void InfoUpdateChecker::onDownloadReadyRead()
{
    if (!m_reply || m_writeFailed)
        return;
    const QByteArray chunk = m_reply->readAll();
    if (exceedsSizeLimit(m_file.pos() + chunk.size()))
        return;
    if (m_file.write(chunk) != chunk.size()) {
        m_writeFailed = true;
        m_errorText = tr("Setup kann nicht gespeichert werden: %1").arg(m_file.errorString());
        m_reply->abort();
    }
}

void InfoUpdateChecker::onDownloadFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    if (!m_cancelled && !m_writeFailed && reply->error() == QNetworkReply::NoError)
        onDownloadReadyRead();   // the rest that arrived with the end
    m_reply = nullptr;
    reply->deleteLater();

    if (m_cancelled) {
        discardDownload();
        return;
    }
    if (m_writeFailed) {
        failDownload(m_errorText);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        failDownload(reply->errorString());
        return;
    }
    // A short transfer shows as a network error or, at the latest, in the checksum.
    if (!m_file.flush()) {
        failDownload(tr("Setup kann nicht gespeichert werden: %1").arg(m_file.errorString()));
        return;
    }
    m_file.close();
    bool readable = false;
    if (sha256Hex(m_file.fileName(), &readable) != m_manifest.sha256.toLatin1() || !readable) {
        failDownload(tr("Die Prüfsumme des heruntergeladenen Setups stimmt nicht überein."));
        return;
    }
    m_setupPath = m_file.fileName();
    emit downloadFinished(true);
}

void InfoUpdateChecker::failDownload(const QString &message)
{
    m_errorText = message;
    discardDownload();
    emit downloadFinished(false);
}

void InfoUpdateChecker::discardDownload()
{
    m_file.close();
    m_setupPath.clear();
    m_downloadDir.reset();   // removes the directory with whatever arrived
}

void InfoUpdateChecker::cancel()
{
    if (!m_reply)
        return;
    // Cut loose before the abort, so that its end reports nothing; what
    // arrived so far is removed at once.
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    m_cancelled = true;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
    discardDownload();
}

bool InfoUpdateChecker::startSetup()
{
    if (m_setupPath.isEmpty()) {
        m_errorText = tr("Es gibt kein heruntergeladenes Setup.");
        return false;
    }
    if (!QFileInfo::exists(m_setupPath)) {
        m_errorText = tr("Das heruntergeladene Setup ist nicht mehr vorhanden: %1")
                          .arg(QDir::toNativeSeparators(m_setupPath));
        discardDownload();
        return false;
    }
    // Checked again right before starting: the file is what the manifest promised.
    bool readable = false;
    if (sha256Hex(m_setupPath, &readable) != m_manifest.sha256.toLatin1() || !readable) {
        m_errorText = tr("Die Prüfsumme des heruntergeladenen Setups stimmt nicht überein.");
        discardDownload();
        return false;
    }
    QString error;
    const bool started = ProgramStart::startDetached(m_setupPath, m_setupArguments,
                                                     QFileInfo(m_setupPath).absolutePath(), &error);
    // Started, the setup runs from there; not started, the user may start the
    // verified file by hand. Either way it stays.
    m_downloadDir->setAutoRemove(false);
    if (!started)
        m_errorText = error.isEmpty() ? tr("Unbekannter Fehler") : error;
    return started;
}
