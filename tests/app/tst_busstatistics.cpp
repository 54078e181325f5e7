#include "busstatistics.h"

#include <QtTest>

class TestBusStatistics : public QObject
{
    Q_OBJECT

private slots:
    void frameBits_data();
    void frameBits();
    void countsByDirectionAndSkipsStatus();
    void loadText_data();
    void loadText();
    void statusStyle_data();
    void statusStyle();
};

static CanFrame frame(quint8 dlc, bool extended = false, bool rtr = false)
{
    CanFrame f;
    f.id = 0x123;
    f.dlc = dlc;
    f.extended = extended;
    f.rtr = rtr;
    return f;
}

void TestBusStatistics::frameBits_data()
{
    QTest::addColumn<int>("dlc");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("rtr");
    QTest::addColumn<int>("bits");

    QTest::newRow("std 8 bytes") << 8 << false << false << 120;
    QTest::newRow("ext remote") << 8 << true << true << 72;
    QTest::newRow("std empty") << 0 << false << false << 50;
    QTest::newRow("ext 8 bytes") << 8 << true << false << 142;
}

void TestBusStatistics::frameBits()
{
    QFETCH(int, dlc);
    QFETCH(bool, extended);
    QFETCH(bool, rtr);
    QTEST(BusStatistics::frameBits(frame(quint8(dlc), extended, rtr)), "bits");
}

void TestBusStatistics::countsByDirectionAndSkipsStatus()
{
    BusStatistics stats;
    CanFrame status = frame(8);
    status.status = true;
    CanFrame echo = frame(8);
    echo.tx = true;
    CanFrame error = frame(8);
    error.error = true;
    stats.count({frame(8), status, echo, error});

    QCOMPARE(stats.rxTotal, 2);            // data and error frame
    QCOMPARE(stats.txTotal, 1);
    QCOMPARE(stats.rxThisSecond, 2);       // the echo is not received traffic
    QCOMPARE(stats.busBits, 3 * 120);      // status frame never on the wire

    stats.resetSecond();
    QCOMPARE(stats.busBits, 0);
    QCOMPARE(stats.rxThisSecond, 0);
    QCOMPARE(stats.rxTotal, 2);
    stats.reset();
    QCOMPARE(stats.rxTotal, 0);
    QCOMPARE(stats.txTotal, 0);
}

void TestBusStatistics::loadText_data()
{
    QTest::addColumn<qint64>("busBits");
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<QString>("text");
    QTest::newRow("49.992 % of 500 kbit/s") << qint64(249960) << 500000 << QStringLiteral("50.0");
    QTest::newRow("one frame at 1 Mbit/s") << qint64(120) << 1000000 << QStringLiteral("0.0");
    QTest::newRow("unknown bit rate") << qint64(120) << 0 << QStringLiteral("0.0");
    QTest::newRow("exactly full") << qint64(500000) << 500000 << QStringLiteral("100.0");
    // Frames counted late (a batch that spans the statistics tick) or a
    // bit rate that the adapter reports wrongly: a bus is never fuller than full.
    QTest::newRow("more bits than the second holds") << qint64(510000) << 500000 << QStringLiteral("100.0");
    QTest::newRow("20 million frames in one second") << qint64(20000000) * 120 << 500000 << QStringLiteral("100.0");
}

void TestBusStatistics::loadText()
{
    QFETCH(qint64, busBits);
    QFETCH(int, bitrate);
    QFETCH(QString, text);
    BusStatistics stats;
    stats.busBits = busBits;
    QCOMPARE(BusStatistics::percentText(stats.loadPercent(bitrate)), text);
}

void TestBusStatistics::statusStyle_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QString>("style");
    const QString red = QStringLiteral("background:#e04040; color:white;");
    const QString amber = QStringLiteral("background:#f0b030;");
    const QString green = QStringLiteral("background:#60c060; color:white;");

    QTest::newRow("ok") << 0u << green;
    QTest::newRow("bus off wins over passive") << 0x18u << red;
    QTest::newRow("rx queue overrun") << 0x40u << amber;
    QTest::newRow("warning") << 0x04u << amber;
    QTest::newRow("tx buffer full alone") << 0x01u << green;
    QTest::newRow("tx queue and driver bits alone") << 0x280u << green;
    QTest::newRow("unplugged adapter") << 0x400u << red;
}

void TestBusStatistics::statusStyle()
{
    QFETCH(unsigned, flags);
    QTEST(BusStatistics::statusStyle(flags), "style");
}

QTEST_GUILESS_MAIN(TestBusStatistics)
#include "tst_busstatistics.moc"
