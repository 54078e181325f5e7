// busvista-cli on the isCAN backend: device list, reception, sending and the
// driver's failure texts, through the real tool and the stand-in driver, set
// up through its environment variables.
#include "clirun.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString StandIn = QStringLiteral(ISCAN_STANDIN);
// The library's name in messages: the file the default search looks for.
#ifdef Q_OS_WIN
const QString LibraryName = QStringLiteral("isCANdrv.dll");
#else
const QString LibraryName = QStringLiteral("libisCANdrv.so");
#endif
const QString Hint = QStringLiteral("Hinweis: isCAN liefert keine Hardware-Zeitstempel und unterstützt kein Listen-Only.");

// Runs the tool with the stand-in set up by `environment` (name=value each).
CliRun runWith(const QStringList &environment, const QStringList &args)
{
    static const char *const names[] = {"ISCAN_STANDIN_DEVICES", "ISCAN_STANDIN_ATTACHED", "ISCAN_STANDIN_FORCE",
                                        "ISCAN_STANDIN_TRAFFIC"};
    for (const char *name : names)
        qunsetenv(name);
    for (const QString &entry : environment) {
        const int equals = int(entry.indexOf(QLatin1Char('=')));
        qputenv(entry.left(equals).toLatin1().constData(), entry.mid(equals + 1).toUtf8());
    }
    const CliRun run = runCli(args);
    for (const char *name : names)
        qunsetenv(name);
    return run;
}

} // namespace

class TestCliIsCan : public QObject
{
    Q_OBJECT

private slots:
    void devicesAsTheDialogShowsThem_data();
    void devicesAsTheDialogShowsThem();
    void failuresGiveTheDriverMessage_data();
    void failuresGiveTheDriverMessage();
    void defaultSearchExplains();
    void dumpReceivesFromTheDevice();
    void sendGoesOutAndIsEchoed();
};

void TestCliIsCan::devicesAsTheDialogShowsThem_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("two configured, one unknown attached")
        << QStringList {"ISCAN_STANDIN_DEVICES=0:1:1a2b:1:0,3:4:c0ffee:0:1", "ISCAN_STANDIN_ATTACHED=1a2b,999"} << 0
        << QStringLiteral("Nr. 0: isCAN USB   \u2014   Seriennr. 1A2B, angeschlossen\n"
                          "Nr. 3: isCAN NetCube   \u2014   Seriennr. C0FFEE, nicht angeschlossen, belegt\n"
                          "2 Gerät(e) konfiguriert, davon 1 angeschlossen.\n"
                          "1 angeschlossene(s) Gerät(e) ist/sind nicht in der Treiberkonfiguration eingetragen \u2013 "
                          "bitte mit dem isCAN-Konfigurationsprogramm (CANDriverConfig) hinzufügen.\n")
               + Hint + QLatin1Char('\n')
        << QString();
    QTest::newRow("nothing configured")
        << QStringList {"ISCAN_STANDIN_DEVICES=", "ISCAN_STANDIN_ATTACHED="} << 1 << QString()
        << QStringLiteral("In der isCAN-Treiberkonfiguration ist kein Gerät eingetragen.\n") + Hint + QLatin1Char('\n');
}

void TestCliIsCan::devicesAsTheDialogShowsThem()
{
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const CliRun run = runWith(environment, {"devices", "--dll", StandIn});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, err);
}

void TestCliIsCan::failuresGiveTheDriverMessage_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString missing = QStringLiteral("/nicht/da/isCANdrv.dll");
    QTest::newRow("library missing") << QStringList() << QStringList {"devices", "--dll", missing}
                                     << QStringLiteral("Datei nicht gefunden: %1").arg(missing);
    QTest::newRow("export missing") << QStringList()
                                    << QStringList {"dump", "--iscan", "0", "--dll", ISCAN_STANDIN_NOSETUP, "--seconds", "0"}
                                    << LibraryName + QStringLiteral(" ist unvollständig, fehlende Funktionen: isCAN_SetupDevice");
    QTest::newRow("listen-only") << QStringList()
                                 << QStringList {"dump", "--iscan", "0", "--dll", StandIn, "--listen-only", "--seconds", "0"}
                                 << QStringLiteral("isCAN unterstützt keinen Listen-Only-Modus.");
    QTest::newRow("device in use") << QStringList {"ISCAN_STANDIN_FORCE=isCAN_DeviceInitEx=15"}
                                   << QStringList {"dump", "--iscan", "0", "--dll", StandIn, "--seconds", "0"}
                                   << QStringLiteral("isCAN-Gerät 0 konnte nicht initialisiert werden:\n"
                                                     "Gerät wird bereits von diesem oder einem anderen Programm benutzt");
    QTest::newRow("timing refused") << QStringList {"ISCAN_STANDIN_FORCE=isCAN_SetBaudRegister=4"}
                                    << QStringList {"dump", "--iscan", "0", "--dll", StandIn, "--btr", "0A1C", "--seconds", "0"}
                                    << QStringLiteral("Baudrate (BTR0/BTR1 = 0A1C) konnte nicht gesetzt werden:\n"
                                                      "Ungültiger Parameter");
}

void TestCliIsCan::failuresGiveTheDriverMessage()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const CliRun run = runWith(environment, args);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, message + QLatin1Char('\n'));
}

void TestCliIsCan::defaultSearchExplains()
{
    // The driver is not installed here: the default search finds nothing and
    // the message names the file and the places searched on this system.
    const CliRun run = runWith({}, {"devices"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(LibraryName + QStringLiteral(" konnte nicht geladen werden:\n")), qPrintable(run.err));
#ifdef Q_OS_WIN
    const QString hint = QStringLiteral("(Die DLL liegt dann in C:\\Windows\\System32.)");
#else
    const QString hint = QStringLiteral("Gesucht wird in LD_LIBRARY_PATH, /usr/local/lib, /usr/lib.");
    QVERIFY2(!run.err.contains(QLatin1String("System32")), qPrintable(run.err));
#endif
    QVERIFY2(run.err.endsWith(QStringLiteral("\n\nIst der isCAN-Treiber installiert? ") + hint + QLatin1Char('\n')),
             qPrintable(run.err));
}

void TestCliIsCan::dumpReceivesFromTheDevice()
{
    const CliRun run = runWith({"ISCAN_STANDIN_TRAFFIC=3"},
                               {"dump", "--iscan", "0", "--dll", StandIn, "--btr", "0x0014", "--seconds", "0.2"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QStringList fields = lines.at(i).split(QLatin1Char('\t'));
        QCOMPARE(fields.mid(1), QStringList({"Rx", QStringLiteral("10%1h").arg(i), "Std", "1",
                                             QStringLiteral("0%1").arg(i)}));
    }

    // A device number outside the configuration's range is a usage error.
    const CliRun bad = runWith({}, {"dump", "--iscan", "16", "--dll", StandIn, "--seconds", "0"});
    QCOMPARE(bad.exitCode, 2);
    QVERIFY2(bad.err.startsWith(QStringLiteral("Ungültige isCAN-Gerätenummer: 16 (0 bis 15)\n")), qPrintable(bad.err));
}

void TestCliIsCan::sendGoesOutAndIsEchoed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString list = dir.filePath(QStringLiteral("once.cxt"));
    QFile file(list);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"([{"id": "123", "dlc": 2, "data": [17, 34], "cycleMs": 0}])");
    file.close();
    const CliRun run = runWith({}, {"send", "--iscan", "0", "--dll", StandIn, "--list", list, "--seconds", "0.1"});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("123h\t1\n"));
}

QTEST_GUILESS_MAIN(TestCliIsCan)
#include "tst_cliiscan.moc"
