#include "busvistaversion.h"
#include "httpsserver.h"
#include "infoupdatechecker.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// The update check and setup download against a real HTTPS server on
// 127.0.0.1 with certificates made for this run.
class TestInfoUpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void manifestDecides_data();
    void manifestDecides();
    void relativeSetupAddressFollowsTheManifest();
    void plainHttpIsRefusedBeforeAnyRequest();
    void certificateErrorsAreRefused_data();
    void certificateErrorsAreRefused();
    void download_data();
    void download();
    void downloadGoesToAPrivateDirectory();
    void cancelDuringDownloadLeavesNothing();
    void downloadWithoutAvailableSetupFails();
    void downloadStopsAtTheSizeLimit_data();
    void downloadStopsAtTheSizeLimit();
    void startSetupRefusesAChangedFile_data();
    void startSetupRefusesAChangedFile();
    void startSetupKeepsAFileThatDidNotStart();
    void command_data();
    void command();

private:
    static QByteArray manifest(const QString &version, const QString &url, const QString &sha256,
                               const QString &notes = QStringLiteral("Neu: alles"))
    {
        QJsonObject object{{QStringLiteral("version"), version},
                           {QStringLiteral("url"), url},
                           {QStringLiteral("sha256"), sha256},
                           {QStringLiteral("notes"), notes}};
        return QJsonDocument(object).toJson();
    }
    // A manifest of exactly `size` bytes: JSON allows blanks after the object.
    static QByteArray padded(QByteArray bytes, int size)
    {
        bytes += QByteArray(size - bytes.size(), ' ');
        return bytes;
    }
    // Runs a check to its end; the status or -1 when nothing was reported.
    int runCheck(InfoUpdateChecker &checker, const QString &path)
    {
        checker.setManifestUrl(m_server.url(path));
        QSignalSpy spy(&checker, &InfoUpdateChecker::checkFinished);
        checker.check();
        if (spy.isEmpty() && !spy.wait(10000))
            return -1;
        if (spy.size() != 1)
            return -2;
        return spy.at(0).at(0).value<InfoUpdateChecker::Status>();
    }
    void prepare(InfoUpdateChecker &checker, bool trusted = true)
    {
        checker.setCurrentVersion(QStringLiteral("0.1.13"));
        checker.setSetupRequired(true);
        checker.setTransferTimeout(400);
        if (trusted)
            QVERIFY(checker.addCaCertificates(m_certificates.caFile));
    }
    // The file a running download writes to, if any.
    QString setupFile() const
    {
        for (const QString &path : leftovers()) {
            if (QFileInfo(path).isFile())
                return path;
        }
        return QString();
    }
    QStringList leftovers() const
    {
        QStringList found;
        QDirIterator it(m_downloads.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

    QTemporaryDir m_work;
    QTemporaryDir m_downloads;
    QByteArray m_oldTmp;
    TestCertificates m_certificates;
    TestHttpsServer m_server;
    QByteArray m_setup;
    QString m_setupHash;
};

void TestInfoUpdateChecker::initTestCase()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    QString error;
    QVERIFY2(m_certificates.generate(m_work.path(), &error), qPrintable(error));
    QVERIFY(m_server.start(m_certificates.good));

    m_setup.resize(300000);
    for (int i = 0; i < m_setup.size(); ++i)
        m_setup[i] = char((quint32(i) * 7919u) >> 3);
    m_setupHash = QString::fromLatin1(QCryptographicHash::hash(m_setup, QCryptographicHash::Sha256).toHex());
    m_server.setBody(QStringLiteral("/setup.exe"), m_setup);
    QByteArray other = m_setup;
    other[1000] = char(other[1000] ^ 1);
    m_server.setBody(QStringLiteral("/wrong.exe"), other);
    m_server.setRoute(QStringLiteral("/cut.exe"), {TestHttpsServer::CutOff, 200, m_setup, {}});
    m_server.setRoute(QStringLiteral("/stall.exe"), {TestHttpsServer::Stall, 200, m_setup, {}});
    m_server.setRoute(QStringLiteral("/redirect.exe"),
                      {TestHttpsServer::Whole, 302, {},
                       QStringLiteral("http://127.0.0.1:%1/setup.exe").arg(m_server.serverPort()).toLatin1()});
    m_server.setRoute(QStringLiteral("/unannounced.exe"), {TestHttpsServer::Unannounced, 200, m_setup, {}});
    m_server.setRoute(QStringLiteral("/moved.exe"),
                      {TestHttpsServer::Whole, 302, {}, m_server.url(QStringLiteral("/setup.exe")).toEncoded()});

    // Downloads go below the system's temporary directory; this test owns it.
    m_oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", m_downloads.path().toLocal8Bit());
}

void TestInfoUpdateChecker::cleanupTestCase()
{
    qputenv("TMPDIR", m_oldTmp);
}

void TestInfoUpdateChecker::init()
{
    m_server.setIdentity(m_certificates.good);
    m_server.resetCounts();
    QVERIFY(leftovers().isEmpty());
}

void TestInfoUpdateChecker::manifestDecides_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("setupRequired");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const QString hash(64, QLatin1Char('a'));
    const QByteArray newer = manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), hash);
    const int available = InfoUpdateChecker::UpdateAvailable;
    const int upToDate = InfoUpdateChecker::UpToDate;
    const int error = InfoUpdateChecker::Error;

    QTest::newRow("exactly the size limit") << padded(newer, 262144) << true << available << QString();
    QTest::newRow("one byte more") << padded(newer, 262145) << true << error
                                   << QStringLiteral("Update-Manifest ist zu groß.");
    QTest::newRow("far too big") << padded(newer, 3000000) << true << error
                                 << QStringLiteral("Update-Manifest ist zu groß.");
    QTest::newRow("bad JSON") << QByteArray("{\"version\": \"2.0\",") << true << error
                              << QStringLiteral("Update-Manifest ungültig: ");
    QTest::newRow("not an object") << QByteArray("[\"2.0\"]") << true << error
                                   << QStringLiteral("Update-Manifest ungültig: kein JSON-Objekt");
    QTest::newRow("not UTF-8") << QByteArray("{\"version\": \"2.0\xff\xfe\"}") << true << error
                               << QStringLiteral("Update-Manifest ");
    QTest::newRow("version missing") << QByteArray("{\"notes\": \"x\"}") << true << error
                                     << QStringLiteral("Update-Manifest enthält keine gültige Version.");
    QTest::newRow("version not a number") << manifest(QStringLiteral("2.0-beta"), QStringLiteral("/a.exe"), hash)
                                          << true << error
                                          << QStringLiteral("Update-Manifest enthält keine gültige Version.");
    QTest::newRow("version of wrong type") << QByteArray("{\"version\": 2}") << true << error
                                           << QStringLiteral("Update-Manifest enthält keine gültige Version.");
    QTest::newRow("same version with fewer digits") << manifest(QStringLiteral("0.1.13.0"), QString(), QString())
                                                    << true << upToDate << QString();
    QTest::newRow("older") << manifest(QStringLiteral(" 0.1.9 "), QString(), QString()) << true << upToDate
                           << QString();
    QTest::newRow("http setup address")
        << manifest(QStringLiteral("2.0"), QStringLiteral("http://127.0.0.1/setup.exe"), hash) << true << error
        << QStringLiteral("Update-Manifest enthält keine gültige Setup-Adresse.");
    QTest::newRow("checksum in upper case")
        << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), QString(64, QLatin1Char('A'))) << true
        << available << QString();
    QTest::newRow("checksum with 63 digits")
        << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), QString(63, QLatin1Char('a'))) << true
        << error << QStringLiteral("Update-Manifest enthält keine gültige SHA-256-Prüfsumme.");
    QTest::newRow("checksum not hexadecimal")
        << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), QString(64, QLatin1Char('g'))) << true
        << error << QStringLiteral("Update-Manifest enthält keine gültige SHA-256-Prüfsumme.");
    QTest::newRow(".EXE") << manifest(QStringLiteral("2.0"), QStringLiteral("/Setup.EXE"), hash) << true
                          << available << QString();
    QTest::newRow(".msi") << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.msi"), hash) << true << error
                          << QStringLiteral("Update-Manifest enthält keine gültige Setup-Adresse.");
    QTest::newRow("no setup address") << manifest(QStringLiteral("2.0"), QString(), hash) << true << error
                                      << QStringLiteral("Update-Manifest enthält keine gültige Setup-Adresse.");
    // Without a setup to start, a newer version is reported for its notes and the website.
    QTest::newRow("without setup: .msi is no matter")
        << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.msi"), QString()) << false << available << QString();
}

void TestInfoUpdateChecker::manifestDecides()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, setupRequired);
    QFETCH(int, status);
    QFETCH(QString, error);

    m_server.setBody(QStringLiteral("/update.json"), body);
    InfoUpdateChecker checker;
    prepare(checker);
    checker.setSetupRequired(setupRequired);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), status);
    QVERIFY2(checker.errorText().startsWith(error), qPrintable(checker.errorText()));
    QCOMPARE(checker.errorText().isEmpty(), error.isEmpty());
    QVERIFY(!checker.isBusy());
    if (status == InfoUpdateChecker::UpdateAvailable) {
        QCOMPARE(checker.latestVersion(), QStringLiteral("2.0"));
        QCOMPARE(checker.notes(), QStringLiteral("Neu: alles"));
    }
    // The request names the program and asks past caches.
    QCOMPARE(m_server.requests(), QStringList{QStringLiteral("/update.json")});
}

void TestInfoUpdateChecker::relativeSetupAddressFollowsTheManifest()
{
    m_server.setBody(QStringLiteral("/programme/busvista/update.json"),
                     manifest(QStringLiteral("1.0"), QStringLiteral("files/setup.exe"), m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker);
    QCOMPARE(runCheck(checker, QStringLiteral("/programme/busvista/update.json")),
             int(InfoUpdateChecker::UpdateAvailable));
    QCOMPARE(checker.setupUrl(), m_server.url(QStringLiteral("/programme/busvista/files/setup.exe")));

    // Current version unset: the application's own counts.
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    InfoUpdateChecker same;
    prepare(same);
    same.setCurrentVersion(QString());
    QCOMPARE(same.currentVersion(), QStringLiteral("1.0.0"));
    QCOMPARE(runCheck(same, QStringLiteral("/programme/busvista/update.json")), int(InfoUpdateChecker::UpToDate));

    // Neither set (a program that gave itself no version): the build's.
    QCoreApplication::setApplicationVersion(QString());
    QCOMPARE(InfoUpdateChecker().currentVersion(), QStringLiteral(BUSVISTA_VERSION));
}

void TestInfoUpdateChecker::plainHttpIsRefusedBeforeAnyRequest()
{
    InfoUpdateChecker checker;
    prepare(checker);
    QSignalSpy spy(&checker, &InfoUpdateChecker::checkFinished);
    checker.setManifestUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/update.json").arg(m_server.serverPort())));
    checker.check();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<InfoUpdateChecker::Status>(), InfoUpdateChecker::Error);
    QCOMPARE(checker.errorText(), QStringLiteral("Ungültige oder unsichere Update-Adresse (https erforderlich)."));
    QVERIFY(!checker.isBusy());
    QCoreApplication::processEvents();
    QCOMPARE(m_server.connections(), 0);
}

void TestInfoUpdateChecker::certificateErrorsAreRefused_data()
{
    QTest::addColumn<QString>("identity");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("expired") << "expired" << true;
    QTest::newRow("wrong host") << "wronghost" << true;
    QTest::newRow("self-signed") << "self" << true;
    QTest::newRow("good but not trusted") << "good" << false;
}

void TestInfoUpdateChecker::certificateErrorsAreRefused()
{
    QFETCH(QString, identity);
    QFETCH(bool, trusted);
    const QHash<QString, TestCertificates::Identity> identities = {{QStringLiteral("expired"), m_certificates.expired},
                                                                   {QStringLiteral("wronghost"), m_certificates.wrongHost},
                                                                   {QStringLiteral("self"), m_certificates.selfSigned},
                                                                   {QStringLiteral("good"), m_certificates.good}};
    m_server.setIdentity(identities.value(identity));
    m_server.setBody(QStringLiteral("/update.json"), manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"),
                                                              m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker, trusted);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::Error));
    QVERIFY2(checker.errorText().contains(QLatin1String("SSL")), qPrintable(checker.errorText()));
    QVERIFY(m_server.requests().isEmpty());
    QCOMPARE(checker.latestVersion(), QString());
}

void TestInfoUpdateChecker::download_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");

    QTest::newRow("matches") << "/setup.exe" << true << QString();
    QTest::newRow("redirect within https") << "/moved.exe" << true << QString();
    QTest::newRow("checksum differs") << "/wrong.exe" << false
                                      << QStringLiteral("Die Prüfsumme des heruntergeladenen Setups stimmt nicht überein.");
    QTest::newRow("cut off") << "/cut.exe" << false << QString();
    QTest::newRow("redirect to http") << "/redirect.exe" << false << QString();
    QTest::newRow("stalls past the time-out") << "/stall.exe" << false << QString();
    QTest::newRow("not on the server") << "/missing.exe" << false << QString();
}

void TestInfoUpdateChecker::download()
{
    QFETCH(QString, path);
    QFETCH(bool, ok);
    QFETCH(QString, error);

    m_server.setBody(QStringLiteral("/update.json"), manifest(QStringLiteral("2.0"), path, m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));

    QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
    QSignalSpy progress(&checker, &InfoUpdateChecker::downloadProgress);
    checker.download();
    QVERIFY(finished.wait(10000));
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), ok);
    QVERIFY(!checker.isBusy());
    if (!ok) {
        QVERIFY(!checker.errorText().isEmpty());
        if (!error.isEmpty())
            QCOMPARE(checker.errorText(), error);
        QCOMPARE(checker.setupPath(), QString());
        QCOMPARE(leftovers(), QStringList());
        QVERIFY(!checker.startSetup());
        return;
    }
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toLongLong(), qint64(m_setup.size()));
    QFile file(checker.setupPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), m_setup);
    // Named after the address in the manifest, inside its own directory.
    QCOMPARE(QFileInfo(checker.setupPath()).fileName(), QFileInfo(path).fileName());
}

void TestInfoUpdateChecker::downloadGoesToAPrivateDirectory()
{
    // Another user plants a link under the setup's name in the shared directory.
    const QString victim = m_work.filePath(QStringLiteral("victim.txt"));
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("bleibt");
    }
    const QString planted = m_downloads.filePath(QStringLiteral("setup.exe"));
    QVERIFY(QFile::link(victim, planted));

    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash));
    InfoUpdateChecker first;
    InfoUpdateChecker second;
    for (InfoUpdateChecker *checker : {&first, &second}) {
        prepare(*checker);
        QCOMPARE(runCheck(*checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));
        QSignalSpy finished(checker, &InfoUpdateChecker::downloadFinished);
        checker->download();
        QVERIFY(finished.wait(10000));
        QVERIFY(finished.at(0).at(0).toBool());
    }
    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::ReadOnly));
    QCOMPARE(victimFile.readAll(), QByteArray("bleibt"));

    // Each download has its own directory that only this user may enter.
    QVERIFY(first.setupPath() != second.setupPath());
    for (const InfoUpdateChecker *checker : {&first, &second}) {
        const QFileInfo setup(checker->setupPath());
        QVERIFY(setup.isFile() && !setup.isSymLink());
        QCOMPARE(QFileInfo(setup.absolutePath()).absolutePath(), QFileInfo(m_downloads.path()).absoluteFilePath());
        const QFile::Permissions open = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                        | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(setup.absolutePath()) & open, QFile::Permissions());
    }
    QFile::remove(planted);
    const QString firstDir = QFileInfo(first.setupPath()).absolutePath();
    QVERIFY(QFileInfo::exists(firstDir));
}

void TestInfoUpdateChecker::cancelDuringDownloadLeavesNothing()
{
    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/stall.exe"), m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker);
    checker.setTransferTimeout(30000);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));

    QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
    checker.download();
    // Cancel once part of the setup is on disk.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(setupFile()).size() > 0, 10000);
    checker.cancel();
    QVERIFY(!checker.isBusy());
    QCoreApplication::processEvents();
    QCOMPARE(finished.size(), 0);
    QCOMPARE(checker.setupPath(), QString());
    QCOMPARE(leftovers(), QStringList());
    QVERIFY(!checker.startSetup());
}

void TestInfoUpdateChecker::downloadWithoutAvailableSetupFails()
{
    m_server.setBody(QStringLiteral("/update.json"), manifest(QStringLiteral("0.1"), QString(), QString()));
    InfoUpdateChecker checker;
    prepare(checker);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpToDate));
    QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
    checker.download();
    QCOMPARE(finished.size(), 1);
    QVERIFY(!finished.at(0).at(0).toBool());
    QVERIFY(!checker.errorText().isEmpty());
    QCOMPARE(leftovers(), QStringList());
}

void TestInfoUpdateChecker::downloadStopsAtTheSizeLimit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("ok");
    QTest::newRow("announced size above the limit") << "/setup.exe" << qint64(100000) << false;
    QTest::newRow("unannounced, grows past the limit") << "/unannounced.exe" << qint64(100000) << false;
    QTest::newRow("exactly the limit") << "/unannounced.exe" << qint64(300000) << true;
}

void TestInfoUpdateChecker::downloadStopsAtTheSizeLimit()
{
    QFETCH(QString, path);
    QFETCH(qint64, limit);
    QFETCH(bool, ok);
    QCOMPARE(InfoUpdateChecker().maxSetupSize(), qint64(1) << 30);
    m_server.setBody(QStringLiteral("/update.json"), manifest(QStringLiteral("2.0"), path, m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker);
    checker.setMaxSetupSize(limit);
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));
    QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
    QSignalSpy progress(&checker, &InfoUpdateChecker::downloadProgress);
    checker.download();
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), ok);
    for (const QList<QVariant> &step : std::as_const(progress))
        QVERIFY(step.at(0).toLongLong() <= limit && step.at(1).toLongLong() <= limit);
    if (ok)
        return;
    QCOMPARE(checker.errorText(), QStringLiteral("Das Setup ist größer als 98 KiB und wird nicht geladen."));
    QCOMPARE(checker.setupPath(), QString());
    QCOMPARE(leftovers(), QStringList());
}

void TestInfoUpdateChecker::startSetupRefusesAChangedFile_data()
{
    QTest::addColumn<QByteArray>("replacement");   // empty: the file is removed
    QTest::addColumn<QString>("error");
    const QString mismatch = QStringLiteral("Die Prüfsumme des heruntergeladenen Setups stimmt nicht überein.");
    QByteArray sameSize = m_setup;
    sameSize[0] = char(sameSize[0] ^ 0x40);
    QTest::newRow("one byte changed") << sameSize << mismatch;
    QTest::newRow("one byte more") << m_setup + 'x' << mismatch;
    QTest::newRow("another program") << QByteArray("#!/bin/sh\nexit 0\n") << mismatch;
    QTest::newRow("removed") << QByteArray() << QStringLiteral("Das heruntergeladene Setup ist nicht mehr vorhanden: ");
}

// Between the download and the start another program swaps the verified file:
// nothing is started, the user learns why, and the swapped file goes.
void TestInfoUpdateChecker::startSetupRefusesAChangedFile()
{
    QFETCH(QByteArray, replacement);
    QFETCH(QString, error);
    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash));
    InfoUpdateChecker checker;
    prepare(checker);
    const QString marker = m_work.filePath(QStringLiteral("gestartet.txt"));
    checker.setSetupArguments({marker});
    QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));
    QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
    checker.download();
    QVERIFY(finished.wait(10000));
    QVERIFY(finished.at(0).at(0).toBool());
    const QString path = checker.setupPath();
    {
        QFile file(path);
        if (replacement.isEmpty()) {
            QVERIFY(file.remove());
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(replacement);
            file.close();
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        }
    }
    QVERIFY(!checker.startSetup());
    QVERIFY2(checker.errorText().startsWith(error), qPrintable(checker.errorText()));
    QCOMPARE(checker.setupPath(), QString());
    QCOMPARE(leftovers(), QStringList());
    QTest::qWait(200);
    QVERIFY(!QFileInfo::exists(marker));
}

void TestInfoUpdateChecker::startSetupKeepsAFileThatDidNotStart()
{
    // A setup that writes its working folder and arguments into the file
    // named by its first argument.
    const QByteArray script = "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"$a\"; done; } > \"$1.tmp\"\nmv \"$1.tmp\" \"$1\"\n";
    m_server.setBody(QStringLiteral("/script.exe"), script);
    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/script.exe"),
                              QString::fromLatin1(QCryptographicHash::hash(script, QCryptographicHash::Sha256).toHex())));
    const QString marker = m_work.filePath(QStringLiteral("setup lief.txt"));
    QString kept;
    {
        InfoUpdateChecker checker;
        prepare(checker);
        checker.setSetupArguments({marker, QStringLiteral("zwei Worte")});
        QCOMPARE(runCheck(checker, QStringLiteral("/update.json")), int(InfoUpdateChecker::UpdateAvailable));
        QSignalSpy finished(&checker, &InfoUpdateChecker::downloadFinished);
        checker.download();
        QVERIFY(finished.wait(10000));
        QVERIFY(finished.at(0).at(0).toBool());
        kept = checker.setupPath();

        // A download is no program yet (no execute permission here): the
        // system's reason, and the verified file stays for a start by hand.
        QVERIFY(!checker.startSetup());
        QVERIFY(!checker.errorText().isEmpty());
        QVERIFY2(!checker.errorText().contains(QLatin1String("Prüfsumme")), qPrintable(checker.errorText()));
        QCOMPARE(checker.setupPath(), kept);
        QVERIFY(QFileInfo::exists(kept));

        // Made executable by hand, the same verified file starts.
        QVERIFY(QFile::setPermissions(kept, QFile::permissions(kept) | QFile::ExeOwner));
        QVERIFY2(checker.startSetup(), qPrintable(checker.errorText()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
    }
    QFile ran(marker);
    QVERIFY(ran.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(ran.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QFileInfo(kept).absolutePath(), marker, QStringLiteral("zwei Worte")}));
    // Still there after the checker is gone.
    QVERIFY(QFileInfo::exists(kept));
    QVERIFY(QDir(QFileInfo(kept).absolutePath()).removeRecursively());
    QVERIFY(QFile::remove(marker));
}

void TestInfoUpdateChecker::command_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("fromEnvironment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString url = m_server.url(QStringLiteral("/update.json")).toString();
    const QString ca = m_certificates.caFile;
    QTest::newRow("newer") << QStringList{QStringLiteral("--url"), url, QStringLiteral("--current"),
                                          QStringLiteral("1.9"), QStringLiteral("--ca"), ca}
                           << false << 0 << QStringLiteral("neu: 2.0\n") << QString();
    QTest::newRow("current") << QStringList{QStringLiteral("--url"), url, QStringLiteral("--current"),
                                            QStringLiteral("2.0.0"), QStringLiteral("--ca"), ca}
                             << false << 0 << QStringLiteral("aktuell\n") << QString();
    QTest::newRow("address and CA from the environment") << QStringList{QStringLiteral("--current"), QStringLiteral("1")}
                                                         << true << 0 << QStringLiteral("neu: 2.0\n") << QString();
    QTest::newRow("not trusted") << QStringList{QStringLiteral("--url"), url} << false << 1 << QString()
                                 << QStringLiteral("SSL");
    QTest::newRow("http") << QStringList{QStringLiteral("--url"), QStringLiteral("http://127.0.0.1/u.json")} << false
                          << 1 << QString() << QStringLiteral("Ungültige oder unsichere Update-Adresse");
    QTest::newRow("CA file missing") << QStringList{QStringLiteral("--url"), url, QStringLiteral("--ca"),
                                                    m_work.filePath(QStringLiteral("none.pem"))}
                                     << false << 1 << QString() << QStringLiteral("kann nicht gelesen werden");
    QTest::newRow("bad version") << QStringList{QStringLiteral("--current"), QStringLiteral("eins")} << false << 2
                                 << QString() << QStringLiteral("Ungültige Version: eins");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--host")} << false << 2 << QString()
                                    << QStringLiteral("Unbekannte Option: --host");
}

void TestInfoUpdateChecker::command()
{
    QFETCH(QStringList, args);
    QFETCH(bool, fromEnvironment);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("BUSVISTA_UPDATE_URL"));
    environment.remove(QStringLiteral("BUSVISTA_UPDATE_CA"));
    if (fromEnvironment) {
        environment.insert(QStringLiteral("BUSVISTA_UPDATE_URL"), m_server.url(QStringLiteral("/update.json")).toString());
        environment.insert(QStringLiteral("BUSVISTA_UPDATE_CA"), m_certificates.caFile);
    }
    process.setProcessEnvironment(environment);
    // The server answers from this event loop, so the command runs alongside it.
    process.start(QStringLiteral(BUSVISTA_CLI), QStringList{QStringLiteral("update-check")} + args);
    QVERIFY(process.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 30000);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QString stdErr = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), out);
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
}

QTEST_GUILESS_MAIN(TestInfoUpdateChecker)
#include "tst_infoupdatechecker.moc"
