#include "canidfilter.h"

#include <QtTest>

using Ranges = QList<std::pair<unsigned int, unsigned int>>;

class TestCanIdFilter : public QObject
{
    Q_OBJECT

private:
    static CanFrame frame(quint32 id, bool extended = false)
    {
        CanFrame f;
        f.id = id;
        f.extended = extended;
        return f;
    }

private slots:
    void parsesListsAndMerges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Ranges>("ranges");
        QTest::newRow("three kinds of separator") << "100, 180-1FF; 18FEF100"
                                                  << Ranges{{0x100, 0x100}, {0x180, 0x1FF}, {0x18FEF100, 0x18FEF100}};
        QTest::newRow("blanks around dash") << "180 - 1FF" << Ranges{{0x180, 0x1FF}};
        QTest::newRow("overlap and adjacency merge") << "100-1FF, 150-300, 301" << Ranges{{0x100, 0x301}};
        QTest::newRow("gap of one stays apart") << "100, 102" << Ranges{{0x100, 0x100}, {0x102, 0x102}};
        QTest::newRow("unsorted input") << "300 100 200-2FF" << Ranges{{0x100, 0x100}, {0x200, 0x300}};
        QTest::newRow("prefix and suffix forms") << "0x10 0X20 30h 40H" << Ranges{{0x10, 0x10}, {0x20, 0x20}, {0x30, 0x30}, {0x40, 0x40}};
        QTest::newRow("highest identifier") << "1FFFFFFF" << Ranges{{0x1FFFFFFF, 0x1FFFFFFF}};
        QTest::newRow("contained range") << "100-400, 200-300" << Ranges{{0x100, 0x400}};
        QTest::newRow("empty") << "" << Ranges{};
        QTest::newRow("blank") << "  ,; " << Ranges{};
    }
    void parsesListsAndMerges()
    {
        QFETCH(QString, text);
        QFETCH(Ranges, ranges);
        CanIdFilter filter;
        QString error;
        QVERIFY2(filter.parse(text, &error), qPrintable(error));
        QCOMPARE(filter.ranges, ranges);
    }

    void rejectsBadPartsAndKeepsRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("reversed") << "1FF-180" << "Bereich \"1FF-180\": Anfang ist größer als Ende";
        QTest::newRow("open end") << "100-" << "Ungültiger Bereich \"100-\" (Form: von-bis, hexadezimal)";
        QTest::newRow("open start") << "-100" << "Ungültiger Bereich \"-100\" (Form: von-bis, hexadezimal)";
        QTest::newRow("not hex") << "xyz" << "Ungültige ID \"xyz\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("above 29 bits") << "20000000" << "Ungültige ID \"20000000\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("nine digits") << "123456789" << "Ungültige ID \"123456789\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("suffix only") << "h" << "Ungültige ID \"h\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("stops at first bad part") << "100 zz 1FF-100" << "Ungültige ID \"zz\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("sign") << "+100" << "Ungültige ID \"+100\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("second prefix") << "0x0x100" << "Ungültige ID \"0x0x100\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("sign after prefix") << "0x+1A0" << "Ungültige ID \"0x+1A0\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("sign before suffix") << "+1Ah" << "Ungültige ID \"+1Ah\" (hexadezimal, max. 1FFFFFFF)";
        QTest::newRow("sign in range") << "100-+1FF" << "Ungültiger Bereich \"100-+1FF\" (Form: von-bis, hexadezimal)";
        QTest::newRow("normalised text in message") << "1FF - 180" << "Bereich \"1FF-180\": Anfang ist größer als Ende";
    }
    void rejectsBadPartsAndKeepsRanges()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("7"), nullptr));
        filter.mode = CanIdFilter::Exclude;
        filter.enabled = true;
        QString error;
        QVERIFY(!filter.parse(text, &error));
        QCOMPARE(error, message);
        QCOMPARE(filter.ranges, (Ranges{{7, 7}}));
        QCOMPARE(filter.mode, int(CanIdFilter::Exclude));
        QVERIFY(filter.enabled);
        QVERIFY(!filter.parse(text, nullptr));
    }

    void matchesIdAtRangeBounds()
    {
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("10-1F, 40, 100-1FF"), nullptr));
        for (unsigned id : {0x10u, 0x1Fu, 0x40u, 0x100u, 0x150u, 0x1FFu})
            QVERIFY2(filter.matchesId(id), qPrintable(QString::number(id, 16)));
        for (unsigned id : {0u, 0xFu, 0x20u, 0x3Fu, 0x41u, 0xFFu, 0x200u, 0xFFFFFFFFu})
            QVERIFY2(!filter.matchesId(id), qPrintable(QString::number(id, 16)));
        CanIdFilter empty;
        QVERIFY(!empty.matchesId(0));
    }

    void acceptsByModeAndKind()
    {
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("100-1FF"), nullptr));
        // Off: everything passes.
        QVERIFY(filter.accepts(frame(0x200)));

        filter.enabled = true;
        QVERIFY(filter.accepts(frame(0x150)));
        QVERIFY(filter.accepts(frame(0x150, true)));
        QVERIFY(!filter.accepts(frame(0x200)));
        CanFrame error = frame(0x200);
        error.error = true;
        QVERIFY(filter.accepts(error));
        CanFrame status = frame(0x200);
        status.status = true;
        QVERIFY(filter.accepts(status));

        filter.mode = CanIdFilter::Exclude;
        QVERIFY(!filter.accepts(frame(0x150)));
        QVERIFY(filter.accepts(frame(0x200)));
        QVERIFY(filter.accepts(error));
        filter.mode = 7;  // any non-zero mode excludes
        QVERIFY(!filter.accepts(frame(0x150)));

        QVERIFY(filter.parse(QString(), nullptr));
        QVERIFY(filter.accepts(frame(0x150)));
    }

    void summaryDescribesActiveFilter()
    {
        CanIdFilter filter;
        QVERIFY(filter.parse(QStringLiteral("100, 180-1ff, 18fef100"), nullptr));
        QCOMPARE(filter.summary(), QString());
        filter.enabled = true;
        QCOMPARE(filter.summary(), QStringLiteral("nur 100, 180-1FF, 18FEF100"));
        filter.mode = CanIdFilter::Exclude;
        QCOMPARE(filter.summary(), QStringLiteral("außer 100, 180-1FF, 18FEF100"));
        QVERIFY(filter.parse(QString(), nullptr));
        QCOMPARE(filter.summary(), QString());
    }
};

QTEST_GUILESS_MAIN(TestCanIdFilter)
#include "tst_canidfilter.moc"
