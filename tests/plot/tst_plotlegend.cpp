#include "filedialogs.h"
#include "plotchart.h"
#include "plotwidgetfixture.h"
#include "rangespinbox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The plotter's legend, export and settings: statistics, hidden signals,
// axes, colours, time base, restored styles, and the faults found by trying it.
class TestPlotLegend : public PlotWidgetFixture
{
    Q_OBJECT

private slots:
    void statisticsCoverTheWindowOrTheCursors();
    void exportWritesTheWindowOrEverything();
    void hiddenSignalsLeaveAxisAndExport();
    void axisTitlesCarryUnitsAndColours();
    void colourIsChosenFromTheSwatch();
    void traceTimeShiftsTimesShown();
    void rightAxisFromTheLegendMenu();
    void stylesAndTimeBaseAreRestored();
    void cursorsStayInsideANewSource();
    void manualRangeKeepsSmallValues();
    void saveDialogsStartInTheLastFolder_data();
    void saveDialogsStartInTheLastFolder();
};

void TestPlotLegend::statisticsCoverTheWindowOrTheCursors()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);   // 0…20, one per second
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    m_plot->refresh();
    QTableWidget *table = legend();
    const auto row = [table] {
        QStringList texts;
        for (int column = 4; column <= 8; ++column)
            texts << table->item(0, column)->text();
        return texts;
    };
    QCOMPARE(row(), (QStringList{"20", "0", "20", "10", "21"}));
    m_plot->zoomToBox(QRectF(0.25, 0.0, 0.25, 0.005));   // 5…10 s
    QCOMPARE(row(), (QStringList{"20", "5", "10", "7.5", "6"}));
    QVERIFY(table->horizontalHeaderItem(8)->toolTip().contains(QStringLiteral("Zeitfenster")));

    m_plot->setMarker(true, 12.5);
    m_plot->setCursorB(true, 2.0);   // between 2 and 12.5 s, in any order
    QCOMPARE(row(), (QStringList{"20", "2", "12", "7", "11"}));
    QVERIFY(table->horizontalHeaderItem(8)->toolTip().contains(QStringLiteral("Cursor")));
    // A saved picture's legend gives the same figures.
    QVERIFY2(m_plot->legendText(0).endsWith(QStringLiteral("Wert 20   Min 2   Max 12   Mittel 7   n = 11")),
             qPrintable(m_plot->legendText(0)));
    m_plot->setCursorB(false, -1);
    QCOMPARE(row(), (QStringList{"20", "5", "10", "7.5", "6"}));
}

void TestPlotLegend::exportWritesTheWindowOrEverything()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Motor", "", "Temp"});
    feedRamp(20);
    m_plot->refresh();   // 10…20 s
    QTemporaryDir dir;
    QString error;
    const QString all = dir.filePath("alles.csv");
    QVERIFY2(m_plot->exportData(all, false, &error), qPrintable(error));
    const QStringList allLines = csvLines(all);
    QCOMPARE(allLines.size(), 1 + 2 * 21);   // header, 21 samples of two signals
    const QString window = dir.filePath("fenster.csv");
    QVERIFY2(m_plot->exportData(window, true, &error), qPrintable(error));
    const QStringList windowLines = csvLines(window);
    QCOMPARE(windowLines.size(), 1 + 2 * 11);
    QCOMPARE(windowLines.at(0), allLines.at(0));
    QVERIFY2(windowLines.at(1).startsWith(QStringLiteral("10")), qPrintable(windowLines.at(1)));

    QVERIFY(!m_plot->exportData(dir.filePath("fehlt/x.csv"), false, &error));
    QVERIFY(!error.isEmpty());

    // Through the dialogs: window or everything, then the file.
    QSettings().setValue("plot/exportDir", dir.path());
    QString proposed;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == QStringLiteral("Alles"))
                    button->click();
            }
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            proposed = dialog->selectedFiles().value(0);
            acceptFile(dialog, dir.filePath("gewaehlt"));
        }
    });
    answer.start();
    m_plot->chooseAndExportData();
    answer.stop();
    QCOMPARE(QFileInfo(proposed).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
    QVERIFY(proposed.endsWith(QStringLiteral(".csv")));
    QCOMPARE(csvLines(dir.filePath("gewaehlt.csv")), allLines);
}

void TestPlotLegend::hiddenSignalsLeaveAxisAndExport()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Motor", "", "Temp"});
    feedSpeed({{0.0, 1000}, {1.0, 2000}});   // Temp 0
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().min[0], 0.0);
    // The legend's check box hides the speed.
    legend()->item(0, 1)->setCheckState(Qt::Unchecked);
    QVERIFY(!m_plot->traceStyle(0).shown);
    QCOMPARE(m_plot->shownData().max[0], 0.0);
    QCOMPARE(m_plot->chart()->pointCount(0), 0);
    QTemporaryDir dir;
    QString error;
    QVERIFY(m_plot->exportData(dir.filePath("x.csv"), false, &error));
    const QStringList lines = csvLines(dir.filePath("x.csv"));
    QCOMPARE(lines.size(), 3);
    QVERIFY(!lines.join('\n').contains(QStringLiteral("Drehzahl")));
    legend()->item(1, 1)->setCheckState(Qt::Unchecked);
    QVERIFY(!m_plot->exportData(dir.filePath("y.csv"), false, &error));
    legend()->item(0, 1)->setCheckState(Qt::Checked);
    QCOMPARE(m_plot->shownData().max[0], 2000.0);
}

void TestPlotLegend::axisTitlesCarryUnitsAndColours()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Mux", "M1", "Wert"});
    m_plot->refresh();
    QString left = m_plot->chart()->yTitle(false);
    QVERIFY2(left.contains(QStringLiteral("#1f77b4")) && left.contains(QStringLiteral("rpm")), qPrintable(left));
    QVERIFY2(left.contains(QStringLiteral("Wert")), qPrintable(left));   // no unit: the name
    m_plot->setSecondAxisEnabled(true);
    m_plot->setTraceAxis(1, 1);
    QVERIFY(!m_plot->chart()->yTitle(false).contains(QStringLiteral("Wert")));
    QVERIFY(m_plot->chart()->yTitle(true).contains(QStringLiteral("#d62728")));
    m_plot->setTraceStyle(0, {QColor("#00aa00"), PlotStyle::Auto, true});
    QVERIFY(m_plot->chart()->yTitle(false).contains(QStringLiteral("#00aa00")));
    QCOMPARE(m_plot->markerRows().at(0).color, QColor("#00aa00"));
    QCOMPARE(legend()->item(0, 0)->background().color(), QColor("#00aa00"));
}

void TestPlotLegend::colourIsChosenFromTheSwatch()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    QString title;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            dialog->setCurrentColor(QColor("#ff00ff"));
            dialog->accept();
        }
    });
    answer.start();
    emit legend()->cellDoubleClicked(0, 0);
    answer.stop();
    QCOMPARE(title, QStringLiteral("Farbe von Motor.Drehzahl"));
    QCOMPARE(m_plot->traceColor(0), QColor("#ff00ff"));
    QCOMPARE(legend()->item(0, 0)->background().color(), QColor("#ff00ff"));
}

void TestPlotLegend::traceTimeShiftsTimesShown()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    // The first plotted frame came 5 s after the connection was opened.
    feedSpeed({{5.0, 1}, {6.0, 2}, {7.0, 3}});
    m_plot->setMarker(true, 1.0);
    m_plot->setCursorB(true, 2.0);
    QCOMPARE(m_plot->markerState().time, 1.0);
    m_plot->setTimeBase(1);   // "Trace-Zeit": the bus time stamps without a trace
    QCOMPARE(m_plot->timeOffset(), 5.0);
    QCOMPARE(m_plot->markerState().time, 6.0);
    QCOMPARE(m_plot->markerState().timeB, 7.0);
    QCOMPARE(m_plot->markerTime(), 1.0);   // the marker itself keeps the recorder's time
    QTemporaryDir dir;
    QString error;
    QVERIFY(m_plot->exportData(dir.filePath("t.csv"), false, &error));
    QVERIFY2(csvLines(dir.filePath("t.csv")).value(1).startsWith(QStringLiteral("5")),
             qPrintable(csvLines(dir.filePath("t.csv")).value(1)));
    m_plot->setTimeBase(0);
    QCOMPARE(m_plot->timeOffset(), 0.0);
}

void TestPlotLegend::rightAxisFromTheLegendMenu()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Motor", "", "Temp"});
    QVERIFY(!m_plot->axis2Enabled());
    std::unique_ptr<QMenu> menu(m_plot->createLegendMenu(1, m_plot));
    QAction *right = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->menu() && action->text() == QStringLiteral("Achse"))
            right = action->menu()->actions().at(1);
    }
    QVERIFY(right);
    QCOMPARE(right->text(), QStringLiteral("rechts"));
    right->trigger();
    QVERIFY(m_plot->axis2Enabled());   // the second axis comes with it
    QCOMPARE(m_plot->recorder().traces().at(1).axis, 1);
    QCOMPARE(qobject_cast<QComboBox *>(legend()->cellWidget(1, 2))->currentIndex(), 1);
    QVERIFY(m_plot->markerRows().at(1).rightAxis);
}

void TestPlotLegend::stylesAndTimeBaseAreRestored()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Motor", "", "Temp"});
    m_plot->addSignal({"Mux", "M1", "Wert"});
    m_plot->setTraceStyle(0, {QColor("#123456"), PlotStyle::Points, true});
    m_plot->setTraceStyle(2, {QColor(), PlotStyle::Step, false});
    m_plot->setTraceAxis(1, 1);
    m_plot->setTimeBase(1);
    m_plot->saveSettings();

    PlotWidget restored;
    restored.loadSettings();
    QCOMPARE(restored.recorder().traces().size(), 3);
    QCOMPARE(restored.traceStyle(0), (PlotStyle{QColor("#123456"), PlotStyle::Points, true}));
    QCOMPARE(restored.traceStyle(1), PlotStyle());
    QCOMPARE(restored.traceStyle(2), (PlotStyle{QColor(), PlotStyle::Step, false}));
    QCOMPARE(restored.traceColor(2), QColor("#2ca02c"));   // the palette's
    QCOMPARE(restored.recorder().traces().at(1).axis, 1);
    QCOMPARE(restored.timeBase(), 1);
    auto *table = restored.findChild<QTableWidget *>("legendTable");
    QCOMPARE(table->item(2, 1)->checkState(), Qt::Unchecked);
}

void TestPlotLegend::cursorsStayInsideANewSource()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(100);
    m_plot->setMarker(true, 90.7);
    m_plot->setCursorB(true, 95.0);
    m_plot->zoomToBox(QRectF(0.5, 0.0, 0.4, 1.0));
    m_plot->setTraceSource([](quint64, const PlotWidget::FrameSink &sink) {
        sink({motorFrame(0, 1), motorFrame(3100000, 2)});
    });
    child<QCheckBox>("traceCheck")->setChecked(true);
    // A 3.1 s trace: the cursors are brought inside it, the zoom is left.
    QVERIFY(m_plot->markerTime() <= 3.1);
    QVERIFY(m_plot->cursorBTime() <= 3.1);
    QVERIFY(!m_plot->zoomed());
    QVERIFY(!m_plot->canZoomBack());
    QVERIFY(m_plot->markerRows().at(0).value != QStringLiteral("–"));
}

void TestPlotLegend::manualRangeKeepsSmallValues()
{
    m_plot->addSignal({"Motor", "", "Leistung"});
    QList<CanFrame> frames;
    frames << motorFrame(0, 0, 0, 0.0002f) << motorFrame(500000, 0, 0, 0.00038f);
    m_plot->handleFrames(frames);
    m_plot->refresh();
    auto *low = child<QDoubleSpinBox>("yMinSpin");
    auto *high = child<QDoubleSpinBox>("yMaxSpin");
    const double autoLow = low->value();
    const double autoHigh = high->value();
    QVERIFY2(autoLow > 0.00018 && autoLow < 0.0002, qPrintable(QString::number(autoLow)));
    QVERIFY2(autoHigh > 0.00038 && autoHigh < 0.0004, qPrintable(QString::number(autoHigh)));
    QCOMPARE(low->text(), RangeSpinBox::text(autoLow, low->locale()));
    QVERIFY2(low->text().startsWith(QStringLiteral("0,00019")) || low->text().startsWith(QStringLiteral("0.00019")),
             qPrintable(low->text()));

    child<QCheckBox>("autoYCheck")->setChecked(false);
    m_plot->refresh();
    QCOMPARE(low->value(), autoLow);
    QCOMPARE(high->value(), autoHigh);
    m_plot->saveSettings();
    QCOMPARE(QSettings().value("plot/yMin").toDouble(), autoLow);
    PlotWidget restored;
    restored.loadSettings();
    QCOMPARE(restored.findChild<QDoubleSpinBox *>("yMaxSpin")->value(), autoHigh);

    // The second axis' boxes and large values alike.
    auto *low2 = child<QDoubleSpinBox>("y2MinSpin");
    low2->setValue(0.000123456);
    QCOMPARE(low2->value(), 0.000123456);
    low2->setValue(123456789.5);
    QCOMPARE(low2->value(), 123456789.5);
    QCOMPARE(RangeSpinBox::text(1234567, QLocale::c()), QStringLiteral("1234567"));
    QCOMPARE(RangeSpinBox::text(2.5, QLocale::c()), QStringLiteral("2.5"));
    QCOMPARE(RangeSpinBox::text(0.00001234567, QLocale::c()), QStringLiteral("1.23457e-05"));
    // Typed text in either notation.
    QCOMPARE(low2->valueFromText(QStringLiteral("2.5e-4")), 0.00025);
}

void TestPlotLegend::saveDialogsStartInTheLastFolder_data()
{
    QTest::addColumn<QString>("imageDir");    // relative to a temporary folder; "-" none
    QTest::addColumn<QString>("traceDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("last image folder") << "bilder" << "traces" << "bilder";
    QTest::newRow("vanished folder: its parent") << "bilder/weg/tiefer" << "-" << "bilder";
    QTest::newRow("none yet: the trace's folder") << "-" << "traces" << "traces";
}

void TestPlotLegend::saveDialogsStartInTheLastFolder()
{
    QFETCH(QString, imageDir);
    QFETCH(QString, traceDir);
    QTemporaryDir base;
    QDir(base.path()).mkpath("bilder");
    QDir(base.path()).mkpath("traces");
    if (imageDir != "-")
        QSettings().setValue("plot/imageDir", base.filePath(imageDir));
    if (traceDir != "-")
        QSettings().setValue("trace/lastDir", base.filePath(traceDir));
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(2);
    m_plot->refresh();

    QString proposed;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            proposed = dialog->selectedFiles().value(0);
            // Into a folder where nothing can be written.
            acceptFile(dialog, base.filePath("traces/fehlt/bild.png"));
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->reject();
        }
    });
    answer.start();
    m_plot->chooseAndSaveImage();
    answer.stop();
    QTEST(QFileInfo(QFileInfo(proposed).absolutePath()).fileName(), "expected");
    // The folder the user went to is remembered only if it exists.
    QCOMPARE(QSettings().value("plot/imageDir").toString(),
             imageDir == "-" ? QString() : base.filePath(imageDir));
}

QTEST_MAIN(TestPlotLegend)
#include "tst_plotlegend.moc"
