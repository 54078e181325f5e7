#include "aboutbox.h"
#include "busvistaversion.h"
#include "info/httpsserver.h"
#include "infodialog.h"
#include "infoupdatechecker.h"
#include "mainwindow.h"
#include "testsettings.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Answers the modal windows that open while a test runs: each new one is
// recorded as "title|text" and handed to the test's answer.
class ModalAnswers : public QObject
{
public:
    explicit ModalAnswers(std::function<void(QWidget *)> answer) : m_answer(std::move(answer))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == m_last)
                return;
            m_last = modal;
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                seen << box->windowTitle() + QLatin1Char('|') + box->text();
            else
                seen << QString::fromLatin1(modal->metaObject()->className()) + QLatin1Char('|')
                            + modal->windowTitle();
            m_answer(modal);
        });
        m_timer.start(10);
    }
    QStringList seen;

private:
    std::function<void(QWidget *)> m_answer;
    QTimer m_timer;
    QPointer<QWidget> m_last;
};

class TestAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void showsTheProgramsData();
    void buildLineInGerman_data();
    void buildLineInGerman();
    void logoFollowsTheWindowColour();
    void checkResultOnTheButton_data();
    void checkResultOnTheButton();
    void aboutActionFindsAnUpdate();
    void updateButtonWithoutSetupPointsToTheWebsite();
    void updateButtonDownloads_data();
    void updateButtonDownloads();
    void startupCheckAsksOnce_data();
    void startupCheckAsksOnce();

private:
    static QByteArray manifest(const QString &version, const QString &url, const QString &sha256)
    {
        return QJsonDocument(QJsonObject{{QStringLiteral("version"), version},
                                         {QStringLiteral("url"), url},
                                         {QStringLiteral("sha256"), sha256},
                                         {QStringLiteral("notes"), QStringLiteral("Schneller")}})
            .toJson();
    }
    QStringList leftovers() const
    {
        QStringList found;
        QDirIterator it(m_downloads.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    // A dialog that checks the test server, as the main window's would.
    void prepare(InfoDialog &dialog, bool setupRequired)
    {
        dialog.setUpdateUrl(m_server.url(QStringLiteral("/update.json")));
        InfoUpdateChecker *checker = dialog.updateChecker();
        checker->setCurrentVersion(QStringLiteral("0.1.13"));
        checker->setSetupRequired(setupRequired);
        checker->setTransferTimeout(30000);
        QVERIFY(checker->addCaCertificates(m_certificates.caFile));
    }
    static QPushButton *updateButton(const QWidget &dialog)
    {
        return dialog.findChild<QPushButton *>(QStringLiteral("btUpdate"));
    }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_work;
    QTemporaryDir m_downloads;
    QByteArray m_oldTmp;
    TestCertificates m_certificates;
    TestHttpsServer m_server;
    QByteArray m_setup;
    QString m_setupHash;
};

void TestAboutBox::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_aboutbox");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.13"));
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    QString error;
    QVERIFY2(m_certificates.generate(m_work.path(), &error), qPrintable(error));
    QVERIFY(m_server.start(m_certificates.good));
    m_setup = QByteArray(200000, 'x');
    m_setupHash = QString::fromLatin1(QCryptographicHash::hash(m_setup, QCryptographicHash::Sha256).toHex());
    m_server.setBody(QStringLiteral("/setup.exe"), m_setup);
    m_server.setRoute(QStringLiteral("/stall.exe"), {TestHttpsServer::Stall, 200, m_setup, {}});
    m_server.setRoute(QStringLiteral("/trickle.exe"), {TestHttpsServer::Trickle, 200, m_setup, {}});
    m_oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", m_downloads.path().toLocal8Bit());
    qputenv("BUSVISTA_UPDATE_URL", m_server.url(QStringLiteral("/update.json")).toEncoded());
    qputenv("BUSVISTA_UPDATE_CA", m_certificates.caFile.toLocal8Bit());
}

void TestAboutBox::cleanupTestCase()
{
    qputenv("TMPDIR", m_oldTmp);
}

void TestAboutBox::init()
{
    m_server.resetCounts();
    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash));
    QVERIFY(leftovers().isEmpty());
}

void TestAboutBox::showsTheProgramsData()
{
    MainWindow window;
    window.setVersionString(QStringLiteral("© Hinweis"));
    InfoDialog dialog(&window);
    AboutBox::fill(&dialog, window.windowIcon(), window.versionString());
    dialog.show();
    const auto text = [&dialog](const char *name) {
        auto *label = dialog.findChild<QLabel *>(QLatin1String(name));
        return label->isVisible() ? label->text() : QStringLiteral("(verborgen)");
    };
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Über Busvista"));
    QCOMPARE(text("lblName"), QStringLiteral("Busvista " BUSVISTA_VERSION));
    QCOMPARE(text("lblDescription"), QStringLiteral("CAN-Bus-Monitor"));
    QCOMPARE(text("lblCopyright"), QStringLiteral("© Hinweis"));
#ifdef BUSVISTA_SOCKETCAN
    QCOMPARE(text("lblExtra"), QStringLiteral("Schnittstellen: PEAK PCAN-Basic, Thorsis isCAN (beide dynamisch "
                                              "geladen), SocketCAN (can0, vcan0 …) oder Simulation."));
#else
    QCOMPARE(text("lblExtra"), QStringLiteral("Schnittstellen: PEAK PCAN-Basic, Thorsis isCAN (beide dynamisch "
                                              "geladen) oder Simulation."));
#endif
    QCOMPARE(text("lblWebsite"), QStringLiteral("<a href=\"https://www.busvista.de\">https://www.busvista.de</a>"));
    // Built at another moment than this test.
    QVERIFY2(QRegularExpression(QStringLiteral("^Erstellt am \\d\\d\\.\\d\\d\\.\\d{4} um \\d\\d:\\d\\d:\\d\\d$"))
                 .match(text("lblBuild"))
                 .hasMatch(),
             qPrintable(text("lblBuild")));
    QCOMPARE(text("lblQt"), QStringLiteral("Basiert auf Qt %1 (%2 Bit)").arg(QLatin1String(qVersion())).arg(QSysInfo::WordSize));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lblIcon"))->pixmap().size(), QSize(100, 100));
    // No address given: no check, and the button says so.
    QVERIFY(!dialog.updateCheckEnabled());
    QCOMPARE(updateButton(dialog)->text(), QStringLiteral("Keine Updates verfügbar"));
    QVERIFY(!updateButton(dialog)->isEnabled());
    QCOMPARE(m_server.connections(), 0);

    InfoDialog empty;
    empty.show();
    QVERIFY(!empty.findChild<QLabel *>(QStringLiteral("lblName"))->isVisible());
    QVERIFY(!empty.findChild<QLabel *>(QStringLiteral("lblLogo"))->isVisible());
}

void TestAboutBox::buildLineInGerman_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("day padded with a blank") << "Dec  8 2026" << "17:46:01" << "Erstellt am 08.12.2026 um 17:46:01";
    QTest::newRow("two-digit day") << "Mar 31 2025" << "09:00:00" << "Erstellt am 31.03.2025 um 09:00:00";
    QTest::newRow("unknown form kept") << "??? ?? ????" << "00:00:00" << "Erstellt am ??? ?? ???? um 00:00:00";
}

void TestAboutBox::buildLineInGerman()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, text);
    QCOMPARE(InfoDialog::buildText(date, time), text);
}

void TestAboutBox::logoFollowsTheWindowColour()
{
    QImage light(100, 20, QImage::Format_RGB32);
    light.fill(Qt::white);
    QImage dark(100, 20, QImage::Format_RGB32);
    dark.fill(Qt::black);
    InfoDialog dialog;
    dialog.setLogo(QPixmap::fromImage(light), QPixmap::fromImage(dark));
    auto *logo = dialog.findChild<QLabel *>(QStringLiteral("lblLogo"));
    const auto shown = [logo] { return logo->pixmap().toImage().pixelColor(5, 5); };

    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    dialog.setPalette(palette);
    QCOMPARE(shown(), QColor(Qt::white));
    QCOMPARE(logo->pixmap().width(), qRound(380 * dialog.devicePixelRatioF()));
    QCOMPARE(logo->pixmap().height(), qRound(76 * dialog.devicePixelRatioF()));
    palette.setColor(QPalette::Window, QColor(127, 127, 127));
    dialog.setPalette(palette);
    QCOMPARE(shown(), QColor(Qt::black));
    // Without a dark logo the light one serves a dark window too.
    dialog.setLogo(QPixmap::fromImage(light), QPixmap());
    QCOMPARE(shown(), QColor(Qt::white));
}

void TestAboutBox::checkResultOnTheButton_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("withToolTip");

    QTest::newRow("newer") << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash)
                           << "Update 2.0 verfügbar" << true << false;
    QTest::newRow("same") << manifest(QStringLiteral("0.1.13"), QString(), QString()) << "Keine Updates verfügbar"
                          << false << false;
    QTest::newRow("broken") << QByteArray("{") << "Update-Prüfung fehlgeschlagen" << false << true;
}

void TestAboutBox::checkResultOnTheButton()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, withToolTip);

    m_server.setBody(QStringLiteral("/update.json"), body);
    InfoDialog dialog;
    prepare(dialog, true);
    QSignalSpy finished(&dialog, &InfoDialog::updateCheckFinished);
    dialog.show();
    QCOMPARE(updateButton(dialog)->text(), QStringLiteral("Suche nach Updates …"));
    QVERIFY(!updateButton(dialog)->isEnabled());
    QVERIFY(finished.wait(10000));
    QCOMPARE(updateButton(dialog)->text(), text);
    QCOMPARE(updateButton(dialog)->isEnabled(), enabled);
    QCOMPARE(dialog.isUpdateAvailable(), enabled);
    QCOMPARE(finished.at(0).at(0).toBool(), enabled);
    QCOMPARE(updateButton(dialog)->toolTip(), withToolTip ? dialog.updateChecker()->errorText() : QString());
    QVERIFY(withToolTip == !updateButton(dialog)->toolTip().isEmpty());

    // Shown again: no second check.
    dialog.hide();
    dialog.show();
    QCoreApplication::processEvents();
    QCOMPARE(m_server.requests().size(), 1);
    QVERIFY(!dialog.updateChecker()->isBusy());
}

void TestAboutBox::aboutActionFindsAnUpdate()
{
    MainWindow window;
    auto *action = window.findChild<QAction *>(QStringLiteral("actionAbout"));
    QVERIFY(action->isEnabled());
    QString button;
    ModalAnswers answers([&button](QWidget *modal) {
        auto *dialog = qobject_cast<InfoDialog *>(modal);
        if (!dialog)
            return;
        // Read the result once the check has come back (it may already have), then close.
        auto *poll = new QTimer(dialog);
        connect(poll, &QTimer::timeout, dialog, [dialog, &button] {
            QPushButton *update = updateButton(*dialog);
            if (update->text() == QStringLiteral("Suche nach Updates …"))
                return;
            button = update->text() + (update->isEnabled() ? "" : " (aus)");
            dialog->accept();
        });
        poll->start(5);
    });
    action->trigger();
    QCOMPARE(answers.seen, QStringList{QStringLiteral("InfoDialog|Über Busvista")});
    // The window's own checker trusts the test server through BUSVISTA_UPDATE_CA.
    QCOMPARE(button, QStringLiteral("Update 2.0 verfügbar"));
}

void TestAboutBox::updateButtonWithoutSetupPointsToTheWebsite()
{
    m_server.setBody(QStringLiteral("/update.json"), manifest(QStringLiteral("2.0"), QString(), QString()));
    InfoDialog dialog;
    dialog.setWebsite(QStringLiteral("https://www.busvista.de"));
    prepare(dialog, false);
    QSignalSpy finished(&dialog, &InfoDialog::updateCheckFinished);
    dialog.show();
    QVERIFY(finished.wait(10000));
    QString details;
    ModalAnswers answers([&details](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            details = box->detailedText();
            box->accept();
        }
    });
    updateButton(dialog)->click();
    QCOMPARE(answers.seen, QStringList{QStringLiteral("Update|Version 2.0 ist verfügbar (installiert: 0.1.13).\n\n"
                                                      "Das Update ist auf der Website erhältlich:\n"
                                                      "https://www.busvista.de")});
    QCOMPARE(details, QStringLiteral("Schneller"));
    QCOMPARE(m_server.requests(), QStringList{QStringLiteral("/update.json")});
    QVERIFY(leftovers().isEmpty());
}

void TestAboutBox::updateButtonDownloads_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("checksum");
    QTest::addColumn<bool>("pressCancel");
    QTest::addColumn<QStringList>("boxes");

    const QString question = QStringLiteral(
        "Update|Version 2.0 ist verfügbar (installiert: 0.1.13).\n\nDas Update wird heruntergeladen. Danach wird "
        "dieses Programm beendet und das Setup gestartet.\n\nJetzt aktualisieren?");
    const QString progress = QStringLiteral("QProgressDialog|");
    QTest::newRow("checksum differs")
        << "/setup.exe" << QString(64, QLatin1Char('0')) << false
        << QStringList{question, QStringLiteral("Update|Das Update konnte nicht geladen werden:\nDie Prüfsumme des "
                                                "heruntergeladenen Setups stimmt nicht überein.")};
    QTest::newRow("cancelled") << "/stall.exe" << QString() << true << QStringList{question, progress};
    // A downloaded Windows setup cannot start on this system: the box says
    // why and where the kept file is.
    QTest::newRow("verified but not startable")
        << "/trickle.exe" << QString() << false
        << QStringList{question, progress, QStringLiteral("Update|Das Setup konnte nicht gestartet werden:\n")};
}

void TestAboutBox::updateButtonDownloads()
{
    QFETCH(QString, setup);
    QFETCH(QString, checksum);
    QFETCH(bool, pressCancel);
    QFETCH(QStringList, boxes);

    m_server.setBody(QStringLiteral("/update.json"),
                     manifest(QStringLiteral("2.0"), setup, checksum.isEmpty() ? m_setupHash : checksum));
    {
        InfoDialog dialog;
        prepare(dialog, true);
        QSignalSpy finished(&dialog, &InfoDialog::updateCheckFinished);
        QSignalSpy started(&dialog, &InfoDialog::updateStarted);
        dialog.show();
        QVERIFY(finished.wait(10000));
        QVERIFY(dialog.isUpdateAvailable());

        int barValue = -1;
        int barMaximum = -1;
        ModalAnswers answers([&, this, pressCancel](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                const bool question = box->standardButtons().testFlag(QMessageBox::Yes);
                box->button(question ? QMessageBox::Yes : QMessageBox::Ok)->click();
            } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
                auto *bar = progress->findChild<QProgressBar *>();
                connect(bar, &QProgressBar::valueChanged, progress, [&barValue, &barMaximum, bar](int value) {
                    barValue = value;
                    barMaximum = bar->maximum();
                });
                if (!pressCancel)
                    return;
                // Cancel once part of the setup is on disk.
                auto *poll = new QTimer(progress);
                connect(poll, &QTimer::timeout, progress, [this, progress] {
                    for (const QString &path : leftovers()) {
                        if (QFileInfo(path).isFile() && QFileInfo(path).size() > 0) {
                            progress->findChild<QPushButton *>()->click();
                            return;
                        }
                    }
                });
                poll->start(5);
            }
        });
        updateButton(dialog)->click();
        // A quick download may be over before the progress dialog is noticed;
        // the slow one shows it.
        QStringList seen = answers.seen;
        if (!pressCancel && setup != QLatin1String("/trickle.exe"))
            seen.removeAll(QStringLiteral("QProgressDialog|"));
        QCOMPARE(seen.size(), boxes.size());
        for (int i = 0; i < boxes.size(); ++i)
            QVERIFY2(seen.at(i).startsWith(boxes.at(i)), qPrintable(seen.at(i)));
        QCOMPARE(started.size(), 0);
        QVERIFY(!dialog.updateChecker()->isBusy());
        if (pressCancel)
            QVERIFY(leftovers().isEmpty());
        if (setup == QLatin1String("/trickle.exe")) {
            // The whole setup fills the bar.
            QVERIFY(barMaximum > 0);
            QCOMPARE(barValue, barMaximum);
            // The system's reason and the kept file, to be started by hand.
            const QString kept = dialog.updateChecker()->setupPath();
            QVERIFY(!kept.isEmpty());
            QVERIFY2(seen.last().contains(dialog.updateChecker()->errorText()), qPrintable(seen.last()));
            QVERIFY(!dialog.updateChecker()->errorText().isEmpty());
            QVERIFY2(seen.last().endsWith(QStringLiteral("Die heruntergeladene Datei bleibt erhalten und kann von "
                                                         "Hand gestartet werden:\n")
                                          + QDir::toNativeSeparators(kept)),
                     qPrintable(seen.last()));
        }
    }
    // Whatever was fetched goes with the dialog unless it was verified and
    // could not start: that file stays.
    const QStringList left = leftovers();
    if (setup == QLatin1String("/trickle.exe")) {
        QCOMPARE(left.size(), 2);   // the private folder and the setup in it
        const QString file = QFileInfo(left.first()).isFile() ? left.first() : left.last();
        QFile kept(file);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), m_setup);
        kept.close();
        QVERIFY(QDir(QFileInfo(file).absolutePath()).removeRecursively());
    } else {
        QCOMPARE(left, QStringList());
    }
}

void TestAboutBox::startupCheckAsksOnce_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("seen");

    const QString question = QStringLiteral(
        "Update|Version 2.0 ist verfügbar (installiert: 0.1.13).\n\nInfo-Dialog öffnen, um das Update zu laden?");
    QTest::newRow("no") << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash) << false
                        << QStringList{question};
    QTest::newRow("yes opens the about box")
        << manifest(QStringLiteral("2.0"), QStringLiteral("/setup.exe"), m_setupHash) << true
        << QStringList{question, QStringLiteral("InfoDialog|Über Busvista")};
    QTest::newRow("up to date: silent") << manifest(QStringLiteral("0.1.13"), QString(), QString()) << false
                                        << QStringList();
    QTest::newRow("error: silent") << QByteArray("kaputt") << false << QStringList();
}

void TestAboutBox::startupCheckAsksOnce()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, yes);
    QFETCH(QStringList, seen);

    m_server.setBody(QStringLiteral("/update.json"), body);
    MainWindow window;
    ModalAnswers answers([yes](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal))
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        else if (auto *dialog = qobject_cast<InfoDialog *>(modal))
            dialog->accept();
    });
    window.checkForUpdates();
    window.checkForUpdates();   // a second request while one runs adds nothing
    QTRY_VERIFY_WITH_TIMEOUT(!window.findChild<InfoUpdateChecker *>(QStringLiteral("updateCheckAtStart")), 10000);
    QTRY_COMPARE(answers.seen, seen);
    // The about box opened by Yes checks on its own; it may be closed before its request leaves.
    if (!yes)
        QCOMPARE(m_server.requests(), QStringList{QStringLiteral("/update.json")});
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
