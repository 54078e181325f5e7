#include "datadelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

namespace {

constexpr int ChangeMaskRole = Qt::UserRole + 2;
const QColor Red(208, 16, 16);

class Fixture
{
public:
    Fixture()
    {
        model.setColumnCount(1);
        model.setRowCount(1);
        view.setModel(&model);
        view.resize(300, 100);
    }

    QImage render(const QStyledItemDelegate &delegate, const QString &text, int mask, bool selected = false)
    {
        model.setData(model.index(0, 0), text, Qt::DisplayRole);
        model.setData(model.index(0, 0), mask, ChangeMaskRole);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.widget = &view;
        option.rect = QRect(0, 0, 240, 24);
        option.font = font;
        option.fontMetrics = QFontMetrics(font);
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        if (selected)
            option.state |= QStyle::State_Selected;
        QImage image(option.rect.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        delegate.paint(&painter, option, model.index(0, 0));
        painter.end();
        return image;
    }

    QStandardItemModel model;
    QTableView view;
    QFont font = QApplication::font();
};

bool isRed(QRgb pixel)
{
    // Antialiased glyph edges blend with white; the core of a stroke is the pure colour.
    return qRed(pixel) > 150 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

int redPixels(const QImage &image, int fromX, int toX)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = std::max(fromX, 0); x < std::min(toX, image.width()); ++x)
            count += isRed(image.pixel(x, y));
    return count;
}

// First column at or after fromX that holds ink (anything clearly not white).
int firstInkColumn(const QImage &image, int fromX)
{
    for (int x = fromX; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qGray(image.pixel(x, y)) < 128)
                return x;
    return -1;
}

} // namespace

class TestDataDelegate : public QObject
{
    Q_OBJECT

private slots:
    void withoutMaskPaintsLikeAPlainCell()
    {
        Fixture f;
        DataDelegate delegate;
        QStyledItemDelegate plain;
        QCOMPARE(f.render(delegate, QStringLiteral("11 22 33"), 0), f.render(plain, QStringLiteral("11 22 33"), 0));
        QCOMPARE(f.render(delegate, QStringLiteral("11 22 33"), 0, true),
                 f.render(plain, QStringLiteral("11 22 33"), 0, true));
    }

    void changedBytesAreRedAndGroupsKeepTheirPlace()
    {
        Fixture f;
        DataDelegate delegate;
        const QImage plain = f.render(delegate, QStringLiteral("11 22 33"), 0);
        const QImage marked = f.render(delegate, QStringLiteral("11 22 33"), 0x05);
        QCOMPARE(redPixels(plain, 0, plain.width()), 0);

        const int textLeft = firstInkColumn(plain, 0);
        QVERIFY(textLeft >= 0);
        const QFontMetrics metrics(f.font);
        const int second = textLeft + metrics.horizontalAdvance(QStringLiteral("11 "));
        const int third = textLeft + metrics.horizontalAdvance(QStringLiteral("11 22 "));
        QVERIFY(redPixels(marked, textLeft, second) > 0);
        QCOMPARE(redPixels(marked, second, third - 1), 0);
        QVERIFY(redPixels(marked, third, marked.width()) > 0);
        // The unchanged middle group starts where it does in an all-normal row.
        QCOMPARE(firstInkColumn(marked, second), firstInkColumn(plain, second));

        // Bits above the number of groups change nothing visible.
        QCOMPARE(f.render(delegate, QStringLiteral("11 22 33"), 0x05 | 0xF8), marked);
    }

    void selectedRowsMarkChangesByWeightOnly()
    {
        Fixture f;
        DataDelegate delegate;
        const QImage selectedPlain = f.render(delegate, QStringLiteral("11 22 33"), 0, true);
        const QImage selectedMarked = f.render(delegate, QStringLiteral("11 22 33"), 0x01, true);
        QCOMPARE(redPixels(selectedMarked, 0, selectedMarked.width()), 0);
        QVERIFY(selectedMarked != selectedPlain);  // the first group is bold
    }

    void emptyTextPaintsOnlyTheBackground()
    {
        Fixture f;
        DataDelegate delegate;
        QStyledItemDelegate plain;
        QCOMPARE(f.render(delegate, QString(), 0xFF), f.render(plain, QString(), 0));
    }
};

QTEST_MAIN(TestDataDelegate)
#include "tst_datadelegate.moc"
