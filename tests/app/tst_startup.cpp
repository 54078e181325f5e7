#include "busvistaversion.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real program the way a user or a script does.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void simWithSavedPcanSettingsKeepsThem();
    void oddOptionsDoNotStopTheProgram();
    void uiSnapshotsWritesOnePicturePerView();
    void unattendedRunWithUnwritableSettingsEnds();
    void helpAndVersionNeedNoWindow_data();
    void helpAndVersionNeedNoWindow();

private:
    static int run(const QStringList &arguments, QString *output = nullptr)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(BUSVISTA_EXE), arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (output)
            *output = QString::fromLocal8Bit(process.readAll());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }
    // The bus label turns green at the first statistics tick of an open
    // connection; without one it keeps no background at all.
    static bool showsConnectedBusLabel(const QImage &image)
    {
        const QRgb green = qRgb(0x60, 0xc0, 0x60);
        int count = 0;
        for (int y = qMax(0, image.height() - 40); y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                count += qRgb(qRed(image.pixel(x, y)), qGreen(image.pixel(x, y)), qBlue(image.pixel(x, y))) == green;
        }
        return count > 100;
    }
    static QString iniPath(const QString &dir)
    {
        return dir + QStringLiteral("/busvista.de/Busvista.ini");
    }
};

void TestStartup::simWithSavedPcanSettingsKeepsThem()
{
    QTemporaryDir dir;
    {
        QSettings ini(iniPath(dir.path()), QSettings::IniFormat);
        ini.setValue(QStringLiteral("connection/interface"), 2);
        ini.setValue(QStringLiteral("connection/channel"), 0x52);
    }
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    QString output;
    const int code = run({QStringLiteral("--settings-dir"), dir.path(), QStringLiteral("--sim"),
                          QStringLiteral("--screenshot"), shot, QStringLiteral("--delay"), QStringLiteral("1500")},
                         &output);
    QVERIFY2(code == 0, qPrintable(output));
    const QImage image(shot);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(1100, 750));
    QVERIFY(showsConnectedBusLabel(image));

    QSettings ini(iniPath(dir.path()), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("connection/interface")).toInt(), 2);
    QCOMPARE(ini.value(QStringLiteral("connection/channel")).toInt(), 0x52);
    // The window saved its own keys on close, into the same file.
    QVERIFY(ini.contains(QStringLiteral("trace/maxEntries")));
}

void TestStartup::oddOptionsDoNotStopTheProgram()
{
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    const int code = run({QStringLiteral("--settings-dir"), dir.path(), QStringLiteral("--SIM"),
                          QStringLiteral("--tab"), QStringLiteral("99"), QStringLiteral("--unknown"),
                          QStringLiteral("--screenshot"), shot, QStringLiteral("--delay"), QStringLiteral("1500"),
                          QStringLiteral("--sym")});
    QCOMPARE(code, 0);
    const QImage image(shot);
    QVERIFY(!image.isNull());
    // "--SIM" is not "--sim": after a statistics tick the bus label is still bare.
    QVERIFY(!showsConnectedBusLabel(image));
    // "--sym" as the last argument loads nothing, so no symbol file is remembered;
    // no option writes connection keys.
    QSettings ini(iniPath(dir.path()), QSettings::IniFormat);
    QVERIFY(!ini.contains(QStringLiteral("connection/interface")));
    QVERIFY(!ini.contains(QStringLiteral("symbols/file")));
}

void TestStartup::uiSnapshotsWritesOnePicturePerView()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("pics"));
    const int code = run({QStringLiteral("--settings-dir"), dir.path(), QStringLiteral("--ui-snapshots"), out,
                          QStringLiteral("--delay"), QStringLiteral("100")});
    QCOMPARE(code, 0);
    for (const char *name : {"main_tab0.png", "main_tab1.png", "main_tab2.png", "menu_file.png",
                             "menu_can.png", "menu_help.png", "dock_sdo.png", "dialog_transmit.png",
                             "dialog_connection.png", "dialog_settings.png", "dialog_about.png"}) {
        const QImage image(out + QLatin1Char('/') + QLatin1String(name));
        QVERIFY2(!image.isNull(), name);
    }

    // With a plotted signal also the two cursors on a zoomed step signal.
    const QString withPlot = dir.filePath(QStringLiteral("plot"));
    QCOMPARE(run({QStringLiteral("--settings-dir"), dir.path(), QStringLiteral("--sym"),
                  QStringLiteral(BUSVISTA_TEST_DATA "/app/one.sym"), QStringLiteral("--plot"),
                  QStringLiteral("Motor.Speed"), QStringLiteral("--ui-snapshots"), withPlot}),
             0);
    QVERIFY(!QImage(withPlot + QStringLiteral("/plot_cursors.png")).isNull());
    QVERIFY(!QImage(withPlot + QStringLiteral("/plot_marker.png")).isNull());
}

// Picture taking waits for nobody: a settings folder that cannot be created
// is reported in the message log, not in a box that would wait for a click.
void TestStartup::unattendedRunWithUnwritableSettingsEnds()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("datei")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    QString output;
    const int code = run({QStringLiteral("--settings-dir"), blocker.fileName() + QStringLiteral("/sub"),
                          QStringLiteral("--screenshot"), shot, QStringLiteral("--delay"), QStringLiteral("500")},
                         &output);
    QCOMPARE(code, 0);
    QVERIFY(!QImage(shot).isNull());
    QCOMPARE(output.count(QStringLiteral("Die Einstellungen können nicht gespeichert werden")), 1);
}

void TestStartup::helpAndVersionNeedNoWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")}
                               << QStringLiteral("busvista " BUSVISTA_VERSION);
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << QStringLiteral("Aufruf: busvista [OPTIONEN]");
    QTest::newRow("-h among others") << QStringList{QStringLiteral("--sim"), QStringLiteral("-h")}
                                     << QStringLiteral("Aufruf: busvista [OPTIONEN]");
}

// As every Linux program: the answer on standard output, exit 0, and no
// window; without a display a window could not even be opened.
void TestStartup::helpAndVersionNeedNoWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, firstLine);
    QTemporaryDir dir;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(BUSVISTA_EXE), arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), firstLine);
    if (firstLine.startsWith(QLatin1String("Aufruf"))) {
        for (const char *option : {"--settings-dir", "--sym", "--sim", "--trace", "--load-trace", "--tab",
                                   "--no-update-check", "--version"})
            QVERIFY2(lines.filter(QLatin1String(option)).size() >= 1, option);
    }
    QCOMPARE(process.readAllStandardError(), QByteArray());
    // Nothing was started that would save settings.
    QVERIFY(QDir(dir.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
