#include "clirun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Runs busvista-cli's CANopen commands on the simulated bus and on text pipes.
class TestCliCanopen : public QObject
{
    Q_OBJECT

private slots:
    void sdo_data();
    void sdo();
    void nmtOnPipeWritesTheFrame();
    void sdoWithEds_data();
    void sdoWithEds();
    void blockTransferThroughFiles();
    void scanSimulation();
    void nodesFromHeartbeatLog();
    void nodesOnSimulation();
    void bridgeAnswersTypedRequests();
    void recordFromPipe();
    void helpAndBusErrors_data();
    void helpAndBusErrors();

private:
    QTemporaryDir m_dir;
};

void TestCliCanopen::sdo_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a part of stderr
    QTest::newRow("read auto") << QStringList{"read", "5", "1000:00"} << 0 << "401 (0x00000191)" << "";
    QTest::newRow("read text") << QStringList{"read", "5", "1008:0", "--type", "auto"} << 0 << "Busvista Simulation" << "";
    QTest::newRow("read typed") << QStringList{"read", "5", "2003:00", "--type", "INTEGER16"} << 0 << "-100 (0xFF9C)" << "";
    QTest::newRow("write") << QStringList{"write", "5", "2002:00", "Hallo Welt!", "--type", "VISIBLE_STRING"} << 0
                           << "" << "";
    QTest::newRow("abort") << QStringList{"read", "5", "6000:00"} << 1 << ""
                           << "6000:00: Objekt existiert nicht im Objektverzeichnis (0x06020000)";
    QTest::newRow("read-only") << QStringList{"write", "5", "1000:00", "1", "--type", "UNSIGNED32"} << 1 << ""
                               << "(0x06010002)";
    QTest::newRow("time-out") << QStringList{"read", "9", "1000:00", "--timeout", "50"} << 1 << ""
                              << "1000:00: Keine Antwort von Knoten 9 innerhalb von 50 ms";
    QTest::newRow("value too big") << QStringList{"write", "5", "2000:00", "300", "--type", "UNSIGNED8"} << 2 << ""
                                   << "Wert außerhalb des Bereichs 0 … 255.";
    QTest::newRow("no type to write") << QStringList{"write", "5", "2000:00", "3"} << 2 << "" << "--type";
    QTest::newRow("unknown type") << QStringList{"read", "5", "2000:00", "--type", "FLOAT"} << 2 << ""
                                  << "Unbekannter Datentyp: FLOAT";
    QTest::newRow("node 0") << QStringList{"read", "0", "1000:00"} << 2 << "" << "Ungültige Knoten-ID";
    // Node IDs are decimal (a leading zero is no octal prefix) or 0x hex.
    QTest::newRow("node 05") << QStringList{"read", "05", "1000:00"} << 0 << "401 (0x00000191)" << "";
    QTest::newRow("node 0x5") << QStringList{"read", "0x5", "1000:00"} << 0 << "401 (0x00000191)" << "";
    QTest::newRow("node 010 is ten") << QStringList{"read", "010", "1000:00", "--timeout", "50"} << 1 << ""
                                     << "Keine Antwort von Knoten 10 innerhalb";
    QTest::newRow("node 08") << QStringList{"read", "08", "1000:00", "--timeout", "50"} << 1 << ""
                             << "Keine Antwort von Knoten 8 innerhalb";
    QTest::newRow("node 0x80") << QStringList{"read", "0x80", "1000:00"} << 2 << "" << "Ungültige Knoten-ID";
    QTest::newRow("node 5h") << QStringList{"read", "5h", "1000:00"} << 2 << "" << "Ungültige Knoten-ID";
    QTest::newRow("time-out below a round trip") << QStringList{"read", "5", "1000:00", "--timeout", "49"} << 2 << ""
                                                 << "Ungültiger Timeout: 49 (50 bis 600000 ms)";
    QTest::newRow("bad object") << QStringList{"read", "5", "10000:00"} << 2 << "" << "Ungültiges Objekt";
}

void TestCliCanopen::sdo()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const CliRun run = runCli(QStringList{"sdo", "--sim"} + args);
    QCOMPARE(run.exitCode, exitCode);
    if (!out.isEmpty())
        QCOMPARE(run.out.trimmed(), out);
    if (exitCode != 0)
        QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
}

void TestCliCanopen::sdoWithEds_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("by name") << QStringList{"read", "5", "DeviceName"} << 0 << "Busvista Simulation" << "";
    QTest::newRow("0x address") << QStringList{"read", "5", "0x1008:00"} << 0 << "Busvista Simulation" << "";
    QTest::newRow("signed from the data sheet") << QStringList{"read", "5", "2003:00"} << 0 << "-100 (0xFF9C)" << "";
    QTest::newRow("record entry by name") << QStringList{"read", "5", "Identity object/Serial number"} << 0
                                          << "305419896 (0x12345678)" << "";
    QTest::newRow("--type wins") << QStringList{"read", "5", "2003:00", "--type", "UNSIGNED16"} << 0 << "65436 (0xFF9C)"
                                 << "";
    QTest::newRow("write without --type") << QStringList{"write", "5", "Byte value", "7"} << 0 << "" << "";
    QTest::newRow("read-only refused before sending") << QStringList{"write", "5", "DeviceName", "x"} << 2 << ""
                                                      << "1008:00 (Manufacturer device name) ist laut EDS nur lesbar (const).";
    QTest::newRow("unknown name") << QStringList{"read", "5", "Drehzahl"} << 2 << ""
                                  << "Objekt Drehzahl steht nicht (eindeutig) in der EDS.";
}

void TestCliCanopen::sdoWithEds()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const CliRun run = runCli(QStringList{"sdo", "--sim"} + args + QStringList{"--eds", SIMULATION_EDS});
    QCOMPARE(run.exitCode, exitCode);
    if (!out.isEmpty())
        QCOMPARE(run.out.trimmed(), out);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    // Names need a data sheet.
    const CliRun bare = runCli({"sdo", "--sim", "read", "5", "DeviceName"});
    QCOMPARE(bare.exitCode, 2);
    QVERIFY2(bare.err.contains(QLatin1String("Namen nur mit --eds")), qPrintable(bare.err));
}

void TestCliCanopen::blockTransferThroughFiles()
{
    // Each run opens a fresh simulated bus: the write is checked by the node's
    // acceptance, the read by block of the device name into a file.
    const QString in = m_dir.filePath(QStringLiteral("block.bin"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'B'));
    file.close();
    const CliRun write = runCli({"sdo", "--sim", "write", "5", "2002:00", "--file", in, "--block"});
    QCOMPARE(write.exitCode, 0);
    QVERIFY2(write.out.startsWith(QLatin1String("2002:00 geschrieben (5000 Byte, ")), qPrintable(write.out + write.err));
    const QString out = m_dir.filePath(QStringLiteral("name.bin"));
    const CliRun read = runCli({"sdo", "--sim", "read", "5", "1008:00", "--block", "--output", out});
    QCOMPARE(read.exitCode, 0);
    QVERIFY2(read.out.startsWith(QLatin1String("1008:00 gelesen (19 Byte, ")), qPrintable(read.out));
    QFile back(out);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), QByteArray("Busvista Simulation"));
    QCOMPARE(runCli({"sdo", "--sim", "read", "5", "1008:00", "--file", in}).exitCode, 2);
    QCOMPARE(runCli({"sdo", "--sim", "write", "5", "2002:00", "--file", m_dir.filePath(QStringLiteral("fehlt"))}).exitCode, 1);
}

void TestCliCanopen::scanSimulation()
{
    const CliRun run = runCli({"scan", "--sim", "--timeout", "50"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("5\tProfil 401 (0x00000191)\tBusvista Simulation\n"));
    QCOMPARE(runCli({"scan", "--sim", "--timeout", "20"}).exitCode, 2);
    QCOMPARE(runCli({"scan", "--sim", "--parallel", "0"}).exitCode, 2);
}

void TestCliCanopen::nmtOnPipeWritesTheFrame()
{
    const QString out = m_dir.filePath(QStringLiteral("nmt.log"));
    const CliRun run = runCli({"nmt", "--pipe", "/dev/null", out, "stop", "5"});
    QCOMPARE(run.exitCode, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith(" busvista 000#0205\n"));
    QCOMPARE(runCli({"nmt", "--sim", "resetcomm", "0"}).exitCode, 0);
    QCOMPARE(runCli({"nmt", "--sim", "halt", "5"}).exitCode, 2);
    QCOMPARE(runCli({"nmt", "--sim", "start", "128"}).exitCode, 2);
    QCOMPARE(runCli({"nmt", "--sim", "start", "0x7F"}).exitCode, 0);
    QCOMPARE(runCli({"nmt", "--sim", "start", "0x80"}).exitCode, 2);
}

void TestCliCanopen::nodesFromHeartbeatLog()
{
    const QString in = m_dir.filePath(QStringLiteral("heartbeats.log"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("(50.000000) can0 705#00\n(50.100000) can0 705#05\n(50.600000) can0 705#85\n"
               "(50.700000) can0 70A#7F\n(50.800000) can0 123#11\n");
    file.close();
    // The end of the log ends the command long before the time is up.
    const CliRun run = runCli({"nodes", "--pipe", in, "/dev/null", "--seconds", "30"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("5\tOperational\t500\t3\n10\tPre-operational\t–\t1\n"));
}

void TestCliCanopen::nodesOnSimulation()
{
    const CliRun run = runCli({"nodes", "--sim", "--seconds", "1.6"});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4); // nodes 5, 16, 20 and 21
    QVERIFY2(lines.at(0).startsWith(QLatin1String("5\tOperational\t")), qPrintable(lines.at(0)));
    // The real clock's ticks make the measured period wobble by a millisecond or two.
    const QStringList node16 = lines.at(1).split(QLatin1Char('\t'));
    QCOMPARE(node16.value(0), QStringLiteral("16"));
    QCOMPARE(node16.value(1), QStringLiteral("Pre-operational"));
    QVERIFY2(qAbs(node16.value(2).toInt() - 500) <= 20, qPrintable(lines.at(1)));
}

void TestCliCanopen::bridgeAnswersTypedRequests()
{
    const CliRun run = runCli({"bridge", "--sim", "--seconds", "20"},
                              "605#4000100000000000\nunsinn\n000#0205\n605#4017100000000000\n");
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QLatin1String(" busvista 585#4300100091010000\n")), qPrintable(run.out));
    // Stopped by the NMT command, the node no longer answers SDO requests.
    QVERIFY(!run.out.contains(QLatin1String("585#4B171000E8030000")));
    QVERIFY(run.out.startsWith(QLatin1String("(")));
    QVERIFY(!run.out.contains(QLatin1String("605#"))); // its own frames are not printed back
    QVERIFY(run.err.contains(QLatin1String("1 Zeilen nicht lesbar")));
}

void TestCliCanopen::recordFromPipe()
{
    const QString in = m_dir.filePath(QStringLiteral("candump.log"));
    const QString trace = m_dir.filePath(QStringLiteral("aufnahme.trc"));
    QFile file(in);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 1000; ++i)
        file.write(QStringLiteral("(1733600000.%1) can0 %2#1122\n").arg(i * 1000, 6, 10, QLatin1Char('0')).arg(0x100 + i % 16, 3, 16).toLatin1());
    file.close();
    const CliRun run = runCli({"record", "--pipe", in, "/dev/null", "--seconds", "30", "--out", trace});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QLatin1String("Gespeichert: 1000")), qPrintable(run.out + run.err));
}

void TestCliCanopen::helpAndBusErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("text"); // in stdout for 0, in stderr otherwise
    QTest::newRow("sdo help") << QStringList{"sdo", "--help"} << 0 << "--pipe EIN AUS";
    QTest::newRow("nodes help") << QStringList{"nodes", "-h"} << 0 << "nodes BUS --seconds S";
    QTest::newRow("bridge help") << QStringList{"bridge", "--help"} << 0 << "bridge --sim";
    QTest::newRow("pipe without out") << QStringList{"dump", "--seconds", "0", "--pipe", "-"} << 2
                                      << "--pipe braucht 2 Werte.";
    QTest::newRow("pipe and sim") << QStringList{"nodes", "--sim", "--pipe", "a", "b", "--seconds", "0"} << 2
                                  << "Nur ein Bus kann gewählt werden.";
    QTest::newRow("pipe with btr") << QStringList{"nmt", "--pipe", "a", "b", "--btr", "001C", "stop", "5"} << 2
                                   << "--dll, --bitrate, --btr und --listen-only gelten nicht für --pipe.";
    QTest::newRow("missing input") << QStringList{"nodes", "--pipe", "/gibt/es/nicht", "/dev/null", "--seconds", "1"} << 1
                                   << "Eingabe /gibt/es/nicht kann nicht geöffnet werden";
    QTest::newRow("negative value is no option") << QStringList{"sdo", "--sim", "write", "5", "2003:00", "-5", "--type", "INTEGER16"}
                                                 << 0 << "2003:00 geschrieben (2 Byte, ";
}

void TestCliCanopen::helpAndBusErrors()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, text);
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? run.out : run.err).contains(text), qPrintable(run.out + run.err));
}

QTEST_GUILESS_MAIN(TestCliCanopen)
#include "tst_clicanopen.moc"
