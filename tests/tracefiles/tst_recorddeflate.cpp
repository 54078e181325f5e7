// The record compressor of the BLF writer: every stream it writes inflates
// to exactly its input through zlib, and stays within its bound.
#include "recorddeflate.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

namespace {

// n bytes of records: a fixed head, a counter and a few varying bytes, with
// an odd longer record in between.
QByteArray records(int count, int size, int otherSize, int otherEvery)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        QByteArray r(i % otherEvery == otherEvery - 1 ? otherSize : size, '\0');
        const auto set = [&](int at, int value) {
            if (at < r.size())
                r[at] = char(value);
        };
        for (int k = 0; k < 4; ++k)
            set(k, "LOBJ"[k]);
        set(8, int(r.size()));
        set(24, i * 37);
        set(25, i >> 3);
        set(35, i % 9);
        for (int b = 0; b < i % 9; ++b)
            set(40 + b, i * (b + 3));
        out += r;
    }
    return out;
}

QByteArray noise(int n)
{
    QByteArray out(n, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char &c : out)
        c = char(generator.bounded(256));
    return out;
}

} // namespace

class TestRecordDeflate : public QObject
{
    Q_OBJECT
private slots:
    void inflatesToItsInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("otherSize");
        QTest::newRow("empty") << QByteArray() << 48 << 64;
        QTest::newRow("one byte") << QByteArray("x") << 48 << 64;
        QTest::newRow("shorter than a record") << noise(63) << 48 << 64;
        QTest::newRow("just past the literal head") << QByteArray(81, 'a') << 48 << 64;
        // 258 is the longest match; a run forces matches of every length up to it.
        QTest::newRow("long run") << QByteArray(200000, '\0') << 48 << 64;
        QTest::newRow("noise at its worst") << noise(131072) << 48 << 64;
        QTest::newRow("records") << records(2730, 48, 64, 1000) << 48 << 64;
        QTest::newRow("mixed records") << records(3000, 48, 64, 7) << 48 << 64;
        QTest::newRow("smallest records") << records(5000, 1, 3, 5) << 1 << 3;
        QTest::newRow("records of another size") << records(1000, 20, 64, 3) << 20 << 64;
        QTest::newRow("cut within a record") << records(2000, 48, 64, 11).left(65537) << 48 << 64;
    }
    void inflatesToItsInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, size);
        QFETCH(int, otherSize);
        const size_t bound = RecordDeflate::bound(size_t(input.size()));
        std::vector<uchar> packed(bound);
        const size_t n = RecordDeflate::compress(reinterpret_cast<const uchar *>(input.constData()), size_t(input.size()),
                                                 packed.data(), size_t(size), size_t(otherSize));
        QVERIFY(n > 0);
        QVERIFY2(n <= bound, qPrintable(QStringLiteral("%1 > %2").arg(n).arg(bound)));
        // One byte more than the input: zlib must end exactly at the input's end.
        QByteArray back(input.size() + 1, '\0');
        uLongf backSize = uLongf(back.size());
        QCOMPARE(uncompress(reinterpret_cast<Bytef *>(back.data()), &backSize, packed.data(), uLong(n)), Z_OK);
        back.resize(int(backSize));
        QCOMPARE(back, input);
        if (input.startsWith("LOBJ") && input.size() > 100000)
            QVERIFY2(n < size_t(input.size()) / 3, qPrintable(QStringLiteral("%1 of %2").arg(n).arg(input.size())));
    }
};

QTEST_GUILESS_MAIN(TestRecordDeflate)
#include "tst_recorddeflate.moc"
