#include "frametext.h"

#include <QTest>

class TestFrameText : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
};

void TestFrameText::texts_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("rtr");
    QTest::addColumn<int>("dlc");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("data");
    QTest::newRow("standard, padded to 3, suffix lower case")
        << 0x5u << false << false << 3 << "005h" << "Std" << "00 AB 0F";
    QTest::newRow("standard maximum") << 0x7FFu << false << false << 0 << "7FFh" << "Std" << "";
    QTest::newRow("extended, padded to 8") << 0xABCu << true << false << 8 << "00000ABCh" << "Ext"
        << "00 AB 0F F0 00 00 00 00";
    QTest::newRow("extended maximum") << 0x1FFFFFFFu << true << false << 1 << "1FFFFFFFh" << "Ext" << "00";
    QTest::newRow("remote") << 0x100u << false << true << 8 << "100h" << "Std RTR" << "Remote Request";
    QTest::newRow("extended remote") << 0x18FEF100u << true << true << 0 << "18FEF100h" << "Ext RTR"
        << "Remote Request";
    QTest::newRow("length beyond 8 shows 8 bytes") << 0x1u << false << false << 15 << "001h" << "Std"
        << "00 AB 0F F0 00 00 00 00";
}

void TestFrameText::texts()
{
    QFETCH(quint32, id);
    QFETCH(bool, extended);
    QFETCH(bool, rtr);
    QFETCH(int, dlc);
    CanFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.rtr = rtr;
    frame.dlc = quint8(dlc);
    frame.data[1] = 0xAB;
    frame.data[2] = 0x0F;
    frame.data[3] = 0xF0;
    QTEST(FrameText::identifier(frame), "identifier");
    QTEST(FrameText::kind(frame), "kind");
    QTEST(FrameText::data(frame), "data");

    frame.error = true;
    QCOMPARE(FrameText::kind(frame), QStringLiteral("Error"));
    frame.status = true;
    QCOMPARE(FrameText::kind(frame), QStringLiteral("Status"));
}

QTEST_GUILESS_MAIN(TestFrameText)
#include "tst_frametext.moc"
