#include "canfdtiming.h"

#include <QTest>

class TestCanFdTiming : public QObject
{
    Q_OBJECT

private slots:
    void lengthsAndCodes_data();
    void lengthsAndCodes();
    void presetsGiveExactRatesNearTheirSamplePoints_data();
    void presetsGiveExactRatesNearTheirSamplePoints();
    void unreachableRatesAndBadStringsAreNamed_data();
    void unreachableRatesAndBadStringsAreNamed();
};

void TestCanFdTiming::lengthsAndCodes_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("dlc");       // code that holds the length
    QTest::addColumn<int>("padded");    // length of that code
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << 0 << 0 << 0 << true;
    QTest::newRow("classic 8") << 8 << 8 << 8 << true;
    QTest::newRow("9 pads to 12") << 9 << 9 << 12 << false;
    QTest::newRow("12") << 12 << 9 << 12 << true;
    QTest::newRow("13 pads to 16") << 13 << 10 << 16 << false;
    QTest::newRow("20") << 20 << 11 << 20 << true;
    QTest::newRow("24") << 24 << 12 << 24 << true;
    QTest::newRow("25 pads to 32") << 25 << 13 << 32 << false;
    QTest::newRow("48") << 48 << 14 << 48 << true;
    QTest::newRow("49 pads to 64") << 49 << 15 << 64 << false;
    QTest::newRow("64") << 64 << 15 << 64 << true;
    QTest::newRow("beyond 64") << 65 << 15 << 64 << false;
}

void TestCanFdTiming::lengthsAndCodes()
{
    QFETCH(int, length);
    QFETCH(int, dlc);
    QTEST(CanFdLength::dlcOfLength(length), "dlc");
    QTEST(CanFdLength::lengthOfDlc(dlc), "padded");
    QTEST(CanFdLength::isValidLength(length), "valid");
    // A controller reads four bits of the code.
    QCOMPARE(CanFdLength::lengthOfDlc(16), 64);
    QCOMPARE(CanFdLength::lengthOfDlc(-1), 0);
}

void TestCanFdTiming::presetsGiveExactRatesNearTheirSamplePoints_data()
{
    QTest::addColumn<quint32>("nominal");
    QTest::addColumn<quint32>("data");
    QTest::addColumn<quint32>("clock");
    QTest::newRow("500k/2M") << 500000u << 2000000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("500k/4M") << 500000u << 4000000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("1M/5M") << 1000000u << 5000000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("1M/8M") << 1000000u << 8000000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("250k/1M") << 250000u << 1000000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("125k/500k") << 125000u << 500000u << CanFdTiming::DefaultClockHz;
    // 10 kBit/s needs 8,000 quanta: only a prescaler above 1 fits the registers.
    QTest::newRow("10k/10k") << 10000u << 10000u << CanFdTiming::DefaultClockHz;
    QTest::newRow("500k/2M at 40 MHz") << 500000u << 2000000u << 40000000u;
    QTest::newRow("500k/2M at 20 MHz") << 500000u << 2000000u << 20000000u;
}

void TestCanFdTiming::presetsGiveExactRatesNearTheirSamplePoints()
{
    QFETCH(quint32, nominal);
    QFETCH(quint32, data);
    QFETCH(quint32, clock);
    QString error;
    const QString text = CanFdTiming::bitrateString(nominal, data, &error, clock);
    QVERIFY2(!text.isEmpty(), qPrintable(error));

    quint32 readClock = 0;
    CanBitTiming nom;
    CanBitTiming dat;
    QVERIFY2(CanFdTiming::parseBitrateString(text, &readClock, &nom, &dat, &error), qPrintable(error));
    QCOMPARE(readClock, clock);
    QCOMPARE(nom.bitrate(clock) * nom.prescaler * nom.quantaPerBit(), clock); // divides exactly
    QCOMPARE(nom.bitrate(clock), nominal);
    QCOMPARE(dat.bitrate(clock), data);
    // As near the target as whole quanta allow: within half a quantum.
    QVERIFY2(qAbs(nom.samplePoint() - 0.80) <= 0.5 / nom.quantaPerBit() + 1e-9, qPrintable(text));
    QVERIFY2(qAbs(dat.samplePoint() - 0.75) <= 0.5 / dat.quantaPerBit() + 1e-9, qPrintable(text));
    for (const auto &[t, limits] : {std::pair{nom, CanFdTiming::NominalLimits}, std::pair{dat, CanFdTiming::DataLimits}}) {
        QVERIFY(t.prescaler >= 1 && t.prescaler <= limits.prescalerMax);
        QVERIFY(t.tseg1 >= 1 && t.tseg1 <= limits.tseg1Max);
        QVERIFY(t.tseg2 >= 1 && t.tseg2 <= limits.tseg2Max);
        QVERIFY(t.sjw >= 1 && t.sjw <= qMin(t.tseg2, limits.sjwMax));
    }
}

void TestCanFdTiming::unreachableRatesAndBadStringsAreNamed_data()
{
    QTest::addColumn<QString>("text");     // a bit-rate string to parse, or empty to compute
    QTest::addColumn<quint32>("nominal");
    QTest::addColumn<quint32>("data");
    QTest::addColumn<QString>("message");  // part of the German message
    QTest::newRow("data below nominal") << QString() << 1000000u << 500000u << "darf nicht kleiner";
    QTest::newRow("rate no prescaler reaches") << QString() << 500000u << 3000000u << "Datenbitrate: 3000 kBit/s";
    QTest::newRow("odd nominal") << QString() << 33333u << 1000000u << "Nominalbitrate: 33333 Bit/s";
    QTest::newRow("missing key") << "f_clock=80000000,nom_brp=1,nom_tseg1=127,nom_tseg2=32,nom_sjw=32,"
                                    "data_brp=1,data_tseg1=29,data_tseg2=10" << 0u << 0u << "\"data_sjw\"";
    QTest::newRow("not a number") << "f_clock=80MHz" << 0u << 0u << "\"f_clock=80MHz\"";
    QTest::newRow("no equals sign") << "f_clock" << 0u << 0u << "Schlüssel=Zahl";
}

void TestCanFdTiming::unreachableRatesAndBadStringsAreNamed()
{
    QFETCH(QString, text);
    QFETCH(quint32, nominal);
    QFETCH(quint32, data);
    QFETCH(QString, message);
    QString error;
    if (text.isEmpty())
        QVERIFY(CanFdTiming::bitrateString(nominal, data, &error).isEmpty());
    else
        QVERIFY(!CanFdTiming::parseBitrateString(text, nullptr, nullptr, nullptr, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCanFdTiming)
#include "tst_canfdtiming.moc"
