#include "filedialogs.h"
#include "plotchart.h"
#include "plotdata.h"
#include "plotimage.h"
#include "plottraces.h"
#include "plotwidgetfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QQuickItem>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <QtCharts/QValueAxis>

class TestPlotWidget : public PlotWidgetFixture
{
    Q_OBJECT

private slots:
    void sceneCarriesTheContract();
    void windowAllFollowsTheRecording();
    void automaticYRangeFollowsTheShownValues_data();
    void automaticYRangeFollowsTheShownValues();
    void pauseHoldsTheWindowWhileRecordingGoesOn();
    void scrollingLeavesLiveAndTheLiveButtonReturns();
    void markerStartsInTheMiddleAndDraggingClamps();
    void markerRowsShowTheHeldValueOrADash();
    void signalsAreAddedOnceAndRemovedFromTheLegend();
    void vanishedSignalsStayUnresolved();
    void secondAxisMovesTracesToTheRight();
    void settingsRoundTrip();
    void imagesAreWrittenByTheirSuffix_data();
    void imagesAreWrittenByTheirSuffix();
    void traceViewAndLiveRecordingKeepSeparateBuffers();
    void emptyTraceGivesAHintAndLeavesTheCursors();
    void fullBufferIsNamedOnceWithItsSetting();
    void composedLegendWrapsLongLines();
    void hiddenPlotIsNotRefreshed();
    void curvesLieOverThePlotAreaAndAnUnchangedViewLeavesTheAxesAlone();
    void wheelMovesThroughTheHistory_data();
    void wheelMovesThroughTheHistory();
    void saveDialogAddsTheEndingOfTheChosenFilter_data();
    void saveDialogAddsTheEndingOfTheChosenFilter();
};

void TestPlotWidget::sceneCarriesTheContract()
{
    QQuickItem *root = m_plot->sceneRoot();
    QVERIFY(root->findChild<QQuickItem *>(QStringLiteral("graph")));
    QCOMPARE(root->property("markerEnabled").toBool(), false);
    QCOMPARE(root->property("markerShown").toBool(), false);
    QCOMPARE(root->property("markerFraction").toDouble(), 0.5);
    QVERIFY(root->metaObject()->indexOfSignal("markerDragged(double)") >= 0);
    QCOMPARE(child<QLabel>("hintLabel")->text(),
             QStringLiteral("Signal oben auswählen und „Hinzufügen“ klicken – oder in der Signal-Ansicht per "
                            "Doppelklick bzw. Kontextmenü „Im Plotter anzeigen“."));
    m_plot->setSymbols(nullptr);
    QCOMPARE(child<QLabel>("hintLabel")->text(),
             QStringLiteral("Zuerst eine Symboldatei laden (Symboldatei → Laden…), dann Signale auswählen."));
    QVERIFY(!child<QPushButton>("addButton")->isEnabled());
}

void TestPlotWidget::windowAllFollowsTheRecording()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    QCOMPARE(m_plot->windowSeconds(), 0.0);
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.start, 0.0);
    QCOMPARE(m_plot->shownData().window.end, 1.0);
    QVERIFY(!child<QScrollBar>("timeScroll")->isEnabled());
    QVERIFY(!child<QPushButton>("liveButton")->isEnabled());

    feedSpeed({{10.0, 1}, {11.6, 2}, {13.2, 3}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.end, 3.2);
    QCOMPARE(m_plot->shownData().points.at(0).size(), 3);
}

void TestPlotWidget::automaticYRangeFollowsTheShownValues_data()
{
    QTest::addColumn<QList<int>>("speeds");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("constant 0") << QList<int>{0, 0} << -1.0 << 1.0;
    QTest::newRow("constant 50") << QList<int>{50} << 45.0 << 55.0;
    QTest::newRow("0 and 10") << QList<int>{0, 10, 5} << -0.5 << 10.5;
}

void TestPlotWidget::automaticYRangeFollowsTheShownValues()
{
    QFETCH(QList<int>, speeds);
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    QList<CanFrame> frames;
    for (int i = 0; i < speeds.size(); ++i)
        frames.append(motorFrame(i * 100000, speeds.at(i)));
    m_plot->handleFrames(frames);
    m_plot->refresh();
    QTEST(child<QDoubleSpinBox>("yMinSpin")->value(), "low");
    QTEST(child<QDoubleSpinBox>("yMaxSpin")->value(), "high");
    QVERIFY(!child<QDoubleSpinBox>("yMinSpin")->isEnabled());
    child<QCheckBox>("autoYCheck")->setChecked(false);
    QVERIFY(child<QDoubleSpinBox>("yMinSpin")->isEnabled());
    QVERIFY(!child<QDoubleSpinBox>("y2MinSpin")->isEnabled());
}

void TestPlotWidget::pauseHoldsTheWindowWhileRecordingGoesOn()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {20.0, 2}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.start, 10.0);
    auto *pause = child<QPushButton>("pauseButton");
    pause->setChecked(true);
    QCOMPARE(pause->text(), QStringLiteral("Fortsetzen"));
    feedSpeed({{30.0, 3}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.start, 10.0);
    QCOMPARE(m_plot->shownData().window.end, 20.0);
    QCOMPARE(m_plot->shownData().max[0], 2.0);   // values after the pause moment do not count
    QCOMPARE(m_plot->recorder().traces().at(0).count, 3);
    pause->setChecked(false);
    QCOMPARE(pause->text(), QStringLiteral("Pause"));
    QCOMPARE(m_plot->shownData().window.end, 30.0);
}

void TestPlotWidget::scrollingLeavesLiveAndTheLiveButtonReturns()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {25.0, 2}});
    m_plot->refresh();
    auto *scroll = child<QScrollBar>("timeScroll");
    QCOMPARE(scroll->maximum(), 1500);
    QCOMPARE(scroll->value(), 1500);
    QCOMPARE(scroll->pageStep(), 1000);
    QCOMPARE(scroll->singleStep(), 100);
    QVERIFY(!child<QPushButton>("liveButton")->isEnabled());

    scroll->setValue(400);
    QCOMPARE(m_plot->shownData().window.start, 4.0);
    QVERIFY(child<QPushButton>("liveButton")->isEnabled());
    feedSpeed({{40.0, 3}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.start, 4.0);   // stays where the user put it

    child<QPushButton>("liveButton")->click();
    QCOMPARE(m_plot->shownData().window.start, 30.0);
    m_plot->scrollTo(99);
    QCOMPARE(m_plot->shownData().window.start, 30.0);   // clamped to the end
}

void TestPlotWidget::markerStartsInTheMiddleAndDraggingClamps()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {30.0, 2}});
    m_plot->refresh();
    QSignalSpy changed(m_plot, &PlotWidget::markerChanged);
    child<QCheckBox>("markerCheck")->setChecked(true);
    QCOMPARE(m_plot->markerTime(), 25.0);
    QVERIFY(changed.count() >= 1);
    QQuickItem *root = m_plot->sceneRoot();
    QCOMPARE(root->property("markerEnabled").toBool(), true);
    QCOMPARE(root->property("markerShown").toBool(), true);
    QCOMPARE(root->property("markerFraction").toDouble(), 0.5);

    QMetaObject::invokeMethod(root, "markerDragged", Q_ARG(double, 0.25));
    QCOMPARE(m_plot->markerTime(), 22.5);
    QMetaObject::invokeMethod(root, "markerDragged", Q_ARG(double, 1.7));
    QCOMPARE(m_plot->markerTime(), 30.0);

    m_plot->setMarker(true, 3.0);   // outside the window: placed, not shown
    QCOMPARE(root->property("markerShown").toBool(), false);
    QCOMPARE(root->property("markerFraction").toDouble(), 0.0);
    m_plot->setMarker(false, -1);
    QVERIFY(!m_plot->markerEnabled());
    QCOMPARE(m_plot->markerTime(), 3.0);
}

void TestPlotWidget::markerRowsShowTheHeldValueOrADash()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Mux", "M1", "Wert"});
    feedSpeed({{0.0, 1500}, {1.0, 2250}});
    m_plot->setMarker(true, 0.5);
    const QList<MarkerRow> rows = m_plot->markerRows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).name, QStringLiteral("Motor.Drehzahl"));
    QCOMPARE(rows.at(0).value, QStringLiteral("1500"));
    QCOMPARE(rows.at(0).unit, QStringLiteral("rpm"));
    QCOMPARE(rows.at(0).color, QColor("#1f77b4"));
    QCOMPARE(rows.at(1).value, QStringLiteral("–"));
    QCOMPARE(rows.at(1).color, QColor("#d62728"));
}

void TestPlotWidget::signalsAreAddedOnceAndRemovedFromTheLegend()
{
    QVERIFY(!m_plot->addSignal({"Motor", "", ""}));
    QVERIFY(m_plot->addSignal({"Motor", "", "Drehzahl"}));
    QVERIFY(!m_plot->addSignal({"Motor", "", "Drehzahl"}));

    auto *combo = child<QComboBox>("signalCombo");
    combo->setEditText(QStringLiteral("temp"));   // part of a name, any case
    child<QPushButton>("addButton")->click();
    QCOMPARE(combo->currentText(), QString());
    combo->setEditText(QStringLiteral("gibt es nicht"));
    child<QPushButton>("addButton")->click();
    QCOMPARE(combo->currentText(), QStringLiteral("gibt es nicht"));

    auto *legend = child<QTableWidget>("legendTable");
    QCOMPARE(legend->rowCount(), 2);
    QCOMPARE(legend->item(1, 1)->text(), QStringLiteral("Motor.Temp"));
    QCOMPARE(legend->item(1, 3)->text(), QStringLiteral("°C"));
    QCOMPARE(legend->item(1, 4)->text(), QStringLiteral("–"));
    feedSpeed({{0.0, 7}});
    m_plot->refresh();
    QCOMPARE(legend->item(1, 4)->text(), QStringLiteral("0"));
    QCOMPARE(legend->item(1, 1)->toolTip(), QStringLiteral("1 Werte aufgezeichnet"));

    legend->setCurrentCell(0, 1);
    m_plot->findChild<QAction *>(QStringLiteral("actionRemoveSignal"))->trigger();
    QCOMPARE(legend->rowCount(), 1);
    QCOMPARE(m_plot->recorder().traces().at(0).ref.variable, QStringLiteral("Temp"));
}

void TestPlotWidget::vanishedSignalsStayUnresolved()
{
    m_plot->addSignal({"Motor", "", "Temp"});
    QByteArray without = plotSymText();
    without.replace("Var=Temp", "Var=Temperatur");
    m_plot->setSymbols(loadSymbols(without));
    auto *legend = child<QTableWidget>("legendTable");
    QCOMPARE(legend->item(0, 1)->text(), QStringLiteral("Motor.Temp  (nicht in der Symboldatei)"));
    m_plot->setSymbols(m_db);
    QCOMPARE(legend->item(0, 1)->text(), QStringLiteral("Motor.Temp"));
}

void TestPlotWidget::secondAxisMovesTracesToTheRight()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Motor", "", "Temp"});
    auto *legend = child<QTableWidget>("legendTable");
    auto *axisCombo = qobject_cast<QComboBox *>(legend->cellWidget(1, 2));
    QVERIFY(axisCombo);
    QVERIFY(!axisCombo->isEnabled());
    m_plot->setSecondAxisEnabled(true);
    QVERIFY(axisCombo->isEnabled());
    m_plot->setTraceAxis(1, 1);
    QCOMPARE(axisCombo->currentIndex(), 1);
    QCOMPARE(qobject_cast<QComboBox *>(legend->cellWidget(1, 2)), axisCombo);   // created once per row

    feedSpeed({{0.0, 1000}, {1.0, 2000}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().max[0], 2000.0);
    QCOMPARE(m_plot->shownData().max[1], 0.0);    // raw 40 - 40
    QCOMPARE(child<QDoubleSpinBox>("y2MaxSpin")->value(), 1.0);
    QVERIFY(m_plot->markerRows().at(1).rightAxis);
    m_plot->setSecondAxisEnabled(false);
    QVERIFY(!m_plot->markerRows().at(1).rightAxis);
    QCOMPARE(m_plot->shownData().max[0], 2000.0);
    QCOMPARE(m_plot->shownData().min[0], 0.0);
}

void TestPlotWidget::settingsRoundTrip()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->addSignal({"Mux", "M1", "Wert"});
    m_plot->setTraceAxis(1, 1);
    child<QComboBox>("windowCombo")->setCurrentIndex(3);
    child<QCheckBox>("autoYCheck")->setChecked(false);
    child<QDoubleSpinBox>("yMaxSpin")->setValue(250);
    m_plot->setSecondAxisEnabled(true);
    m_plot->saveSettings();
    QCOMPARE(QSettings().value("plot/signals").toStringList(), (QStringList{"Motor||Drehzahl", "Mux|M1|Wert"}));
    QCOMPARE(QSettings().value("plot/signalsRight").toStringList(), QStringList{"Mux|M1|Wert"});

    QSettings().setValue("plot/timeWindow", 42);   // clamped on load
    PlotWidget restored;
    restored.loadSettings();
    QCOMPARE(restored.recorder().traces().size(), 2);
    QCOMPARE(restored.recorder().traces().at(1).axis, 1);
    QVERIFY(restored.axis2Enabled());
    QCOMPARE(restored.findChild<QComboBox *>("windowCombo")->currentIndex(), 5);
    QCOMPARE(restored.findChild<QDoubleSpinBox *>("yMaxSpin")->value(), 250.0);
    QVERIFY(!restored.findChild<QCheckBox *>("autoYCheck")->isChecked());

    QSettings().clear();
    QSettings().setValue("plot/window", 2);   // the older key, only read
    PlotWidget older;
    older.loadSettings();
    QCOMPARE(older.findChild<QComboBox *>("windowCombo")->currentIndex(), 2);
    QCOMPARE(older.findChild<QDoubleSpinBox *>("y2MaxSpin")->value(), 10.0);
}

void TestPlotWidget::imagesAreWrittenByTheirSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("png") << "plot.PNG" << QByteArray("png");
    QTest::newRow("jpeg") << "plot.jpg" << QByteArray("jpeg");
    QTest::newRow("bmp") << "plot.bmp" << QByteArray("bmp");
}

void TestPlotWidget::imagesAreWrittenByTheirSuffix()
{
    QFETCH(QString, name);
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {1.0, 3}});
    m_plot->setMarker(true, 0.5);
    m_plot->refresh();
    QTemporaryDir dir;
    QString error;
    QVERIFY2(m_plot->saveImage(dir.filePath(name), &error), qPrintable(error));
    QImageReader reader(dir.filePath(name));
    QTEST(reader.format(), "format");
    const QImage image = reader.read();
    const QImage chart = m_plot->findChild<QWidget *>("quickWidget")->grab().toImage();
    QVERIFY(image.height() > chart.height());   // title and legend added

    QVERIFY(!m_plot->saveImage(dir.filePath("missing/dir/" + name), &error));
    QVERIFY(error.startsWith(QStringLiteral("Datei konnte nicht geschrieben werden: ")));
}

void TestPlotWidget::traceViewAndLiveRecordingKeepSeparateBuffers()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    // A trace whose entries are numbered 1, 2, …; it grows and is cleared below.
    QList<CanFrame> traceFrames{motorFrame(5000000, 10), motorFrame(6000000, 20), motorFrame(9000000, 30)};
    quint64 firstNumber = 1;
    m_plot->setTraceSource(
        [&](quint64 after, const PlotWidget::FrameSink &sink) {
            QList<CanFrame> batch;
            for (qsizetype i = 0; i < traceFrames.size(); ++i) {
                if (firstNumber + quint64(i) > after)
                    batch.append(traceFrames.at(i));
            }
            sink(batch);
        },
        [&] {
            PlotWidget::TraceInfo info;
            info.first = traceFrames.isEmpty() ? 0 : firstNumber;
            info.last = traceFrames.isEmpty() ? 0 : firstNumber + quint64(traceFrames.size()) - 1;
            info.startUs = 4000000;
            info.known = true;
            return info;
        });
    child<QComboBox>("windowCombo")->setCurrentIndex(1);
    feedSpeed({{0.0, 1}, {90.7, 2}});
    m_plot->setMarker(true, 90.7);

    child<QCheckBox>("traceCheck")->setChecked(true);
    QVERIFY(m_plot->traceMode());
    QCOMPARE(m_plot->recorder().traces().at(0).points, (QList<QPointF>{{0, 10}, {1, 20}, {4, 30}}));
    QCOMPARE(m_plot->windowSeconds(), 10.0);   // the chosen window stays
    QCOMPARE(m_plot->markerTime(), 4.0);       // brought inside the trace
    QCOMPARE(m_plot->traceTimeOffset(), 1.0);  // first plotted frame 1 s after the trace's start

    feedSpeed({{100.0, 3}});   // recorded live meanwhile, not shown
    QCOMPARE(m_plot->recorder().traces().at(0).count, 3);
    traceFrames.append(motorFrame(9500000, 40));   // the trace grows
    m_plot->refresh();
    QCOMPARE(m_plot->recorder().traces().at(0).points.last(), QPointF(4.5, 40));
    QCOMPARE(m_plot->recorder().traces().at(0).count, 4);
    traceFrames = {motorFrame(7000000, 70)};   // cleared, then one new entry numbered anew
    m_plot->refresh();
    QCOMPARE(m_plot->recorder().traces().at(0).points, (QList<QPointF>{{0, 70}}));

    m_plot->setTraceMode(false);
    QCOMPARE(m_plot->recorder().traces().at(0).points, (QList<QPointF>{{0, 1}, {90.7, 2}, {100, 3}}));
    m_plot->clearData();   // a new connection clears the live recording only
    QCOMPARE(m_plot->recorder().traces().at(0).count, 0);
    m_plot->setTraceMode(true);
    QCOMPARE(m_plot->recorder().traces().at(0).count, 1);
}

void TestPlotWidget::emptyTraceGivesAHintAndLeavesTheCursors()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->setTraceSource([](quint64, const PlotWidget::FrameSink &) {},
                           [] {
                               PlotWidget::TraceInfo info;
                               info.known = true;   // a trace with no entries
                               return info;
                           });
    feedSpeed({{0.0, 1}, {5.0, 2}, {9.0, 3}});
    m_plot->setMarker(true, 2.0);
    m_plot->setCursorB(true, 7.0);
    auto *hint = child<QLabel>("hintLabel");

    m_plot->setTraceMode(true);
    m_plot->refresh();
    QVERIFY(hint->isVisible());
    QVERIFY2(hint->text().contains(QStringLiteral("Der Trace ist leer")), qPrintable(hint->text()));

    m_plot->setTraceMode(false);
    m_plot->refresh();
    QVERIFY(!hint->isVisible());
    QVERIFY(m_plot->markerEnabled());
    QVERIFY(m_plot->cursorBEnabled());
    QCOMPARE(m_plot->markerTime(), 2.0);
    QCOMPARE(m_plot->cursorBTime(), 7.0);
}

void TestPlotWidget::fullBufferIsNamedOnceWithItsSetting()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->setMaxPoints(SignalRecorder::MinMaxPoints);
    auto *hint = child<QLabel>("hintLabel");
    QList<std::pair<double, int>> points;
    for (int i = 0; i < SignalRecorder::MinMaxPoints; ++i)
        points.append({i * 0.01, i % 100});
    feedSpeed(points);
    m_plot->refresh();
    QVERIFY(!hint->isVisible());   // full, nothing dropped yet

    feedSpeed({{20.0, 1}});
    m_plot->refresh();
    QVERIFY(hint->isVisible());
    QVERIFY2(hint->text().contains(QStringLiteral("„Werte je Signal“")), qPrintable(hint->text()));
    QCOMPARE(m_plot->liveRecorder().droppedPoints(), qint64(SignalRecorder::MinMaxPoints / 10));
    m_plot->clearData();
    m_plot->refresh();
    QVERIFY(!hint->isVisible());
}

void TestPlotWidget::composedLegendWrapsLongLines()
{
    QImage chart(300, 200, QImage::Format_ARGB32_Premultiplied);
    chart.fill(Qt::white);
    const QFont font = m_plot->font();
    const QString text = QStringLiteral("Antrieb2.Position [%]    Wert 76.4   Min 1.1   Max 76.4   Mittel 38.75");
    const QImage image = PlotImage::compose(chart, QStringLiteral("Titel"), {{Qt::red, text}}, font);
    const QFontMetrics metrics(font);
    const int wrapped = metrics.boundingRect(QRect(0, 0, 300 - 64, 10000), Qt::TextWordWrap, text).height();
    QVERIFY(wrapped > metrics.height());   // longer than the picture is wide
    // Title, chart and every line of the legend's text.
    QVERIFY2(image.height() >= metrics.height() + 12 + 200 + 20 + wrapped,
             qPrintable(QString::number(image.height())));
}

void TestPlotWidget::hiddenPlotIsNotRefreshed()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {20.0, 2}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.end, 20.0);

    m_plot->hide();   // another tab is in front
    QSignalSpy changed(m_plot, &PlotWidget::markerChanged);
    feedSpeed({{35.0, 3}});
    m_plot->refresh();   // what the refresh timer calls
    QCOMPARE(m_plot->shownData().window.end, 20.0);
    QCOMPARE(m_plot->shownData().points.at(0).size(), 2);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(child<QTableWidget>("legendTable")->item(0, 4)->text(), QStringLiteral("3"));   // values stay current

    m_plot->show();
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.end, 35.0);
    QCOMPARE(changed.count(), 1);
}

void TestPlotWidget::curvesLieOverThePlotAreaAndAnUnchangedViewLeavesTheAxesAlone()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 100}, {5.0, 3000}, {10.0, 200}});
    m_plot->refresh();
    PlotTraces *traces = m_plot->chart()->traces();
    QVERIFY(traces);
    QQuickItem *graph = m_plot->sceneRoot()->findChild<QQuickItem *>(QStringLiteral("graph"));
    QTRY_COMPARE(QRectF(traces->position(), traces->size()), graph->property("plotArea").toRectF());
    const QImage picture = traces->picture();
    bool drawn = false;
    for (int y = 0; y < picture.height() && !drawn; ++y)
        drawn = picture.pixelColor(picture.width() / 2, y) == PlotData::color(0);
    QVERIFY(drawn);   // the peak at 5 s, in the middle of the 10 s window

    // Another refresh of the same view moves nothing: the chart, which lays
    // out its axes at every change of theirs, has nothing to redraw.
    QList<QSignalSpy *> spies;
    for (QValueAxis *axis : m_plot->chart()->findChildren<QValueAxis *>()) {
        const QMetaObject *meta = axis->metaObject();
        for (int m = 0; m < meta->methodCount(); ++m) {
            const QMetaMethod method = meta->method(m);
            if (method.methodType() == QMetaMethod::Signal && method.name() != "destroyed"
                && method.name() != "objectNameChanged")
                spies.append(new QSignalSpy(axis, method));
        }
    }
    QVERIFY(spies.size() > 10);
    m_plot->refresh();
    m_plot->refresh();
    int changes = 0;
    for (QSignalSpy *spy : std::as_const(spies))
        changes += int(spy->count());
    qDeleteAll(spies);
    QCOMPARE(changes, 0);
}

void TestPlotWidget::wheelMovesThroughTheHistory_data()
{
    // Window 10 s over 25 s recorded: the scroll bar runs 0…1500, one step 100.
    QTest::addColumn<double>("scrollTo");   // negative: live
    QTest::addColumn<QList<QPoint>>("deltas");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("live");
    QTest::newRow("one notch back") << -1.0 << QList<QPoint>{{0, 120}} << 1400 << false;
    QTest::newRow("forward at the end") << -1.0 << QList<QPoint>{{0, -120}} << 1500 << true;
    QTest::newRow("half notches add up") << 5.0 << QList<QPoint>{{0, 60}, {0, 60}} << 400 << false;
    QTest::newRow("half a notch does nothing") << 5.0 << QList<QPoint>{{0, 60}} << 500 << false;
    QTest::newRow("remainder carried") << 5.0 << QList<QPoint>{{0, 200}, {0, 40}} << 300 << false;
    QTest::newRow("horizontal before vertical") << 5.0 << QList<QPoint>{{-240, 120}} << 700 << false;
    QTest::newRow("forward to the end is live") << 13.0 << QList<QPoint>{{0, -360}} << 1500 << true;
    QTest::newRow("back beyond the start") << 1.0 << QList<QPoint>{{0, 480}} << 0 << false;
}

void TestPlotWidget::wheelMovesThroughTheHistory()
{
    QFETCH(double, scrollTo);
    QFETCH(QList<QPoint>, deltas);
    auto *quick = child<QWidget>("quickWidget");
    auto *scroll = child<QScrollBar>("timeScroll");
    const auto wheel = [quick](QPoint delta) {
        const QPointF at(quick->width() / 2.0, quick->height() / 2.0);
        // Shift: the wheel scrolls instead of zooming.
        QWheelEvent event(at, quick->mapToGlobal(at), QPoint(), delta, Qt::NoButton, Qt::ShiftModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(quick, &event);
        return event.isAccepted();
    };
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    m_plot->refresh();
    QVERIFY(!scroll->isEnabled());
    wheel({0, 60});   // nothing recorded: the wheel is not the plot's, and no remainder is kept

    feedSpeed({{0.0, 1}, {25.0, 2}});
    m_plot->refresh();
    if (scrollTo >= 0)
        m_plot->scrollTo(scrollTo);
    for (const QPoint &delta : deltas)
        wheel(delta);
    QTEST(scroll->value(), "value");
    QCOMPARE(m_plot->shownData().window.start, scroll->value() / 100.0);
    QTEST(!child<QPushButton>("liveButton")->isEnabled(), "live");   // offered only away from live
}

void TestPlotWidget::saveDialogAddsTheEndingOfTheChosenFilter_data()
{
    QTest::addColumn<QString>("typed");     // empty: the dialog is cancelled
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("written");   // empty: nothing written
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("png by default") << "bild" << "PNG-Bild (*.png)" << "bild.png" << QByteArray("png");
    QTest::newRow("jpeg filter") << "bild" << "JPEG-Bild (*.jpg *.jpeg)" << "bild.jpg" << QByteArray("jpeg");
    QTest::newRow("bmp filter") << "bild" << "BMP-Bild (*.bmp)" << "bild.bmp" << QByteArray("bmp");
    QTest::newRow("own ending wins") << "bild.jpeg" << "PNG-Bild (*.png)" << "bild.jpeg" << QByteArray("jpeg");
    QTest::newRow("cancelled") << "" << "PNG-Bild (*.png)" << "" << QByteArray();
    QTest::newRow("folder missing") << "fehlt/bild" << "BMP-Bild (*.bmp)" << "" << QByteArray();
}

void TestPlotWidget::saveDialogAddsTheEndingOfTheChosenFilter()
{
    QFETCH(QString, typed);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedSpeed({{0.0, 1}, {1.0, 3}});
    m_plot->refresh();
    QTemporaryDir dir;
    QSettings().setValue("plot/imageDir", dir.path());

    // Answers the file dialog, then notes and closes the warning box.
    QString proposed;
    QString warning;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            proposed = dialog->selectedFiles().value(0);
            if (typed.isEmpty()) {
                dialog->reject();
                return;
            }
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Diagramm als Bild speichern"));
            dialog->selectNameFilter(filter);
            acceptFile(dialog, dir.filePath(typed));   // QFileDialog::accept checks the name
        } else if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            warning = box->windowTitle() + ": " + box->text();
            box->reject();
        }
    });
    answer.start();
    m_plot->chooseAndSaveImage();
    answer.stop();

    QVERIFY2(QFileInfo(proposed).fileName().startsWith("plotter_"), qPrintable(proposed));
    QCOMPARE(QFileInfo(proposed).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), written.isEmpty() ? QStringList() : QStringList{written});
    if (!written.isEmpty()) {
        QTEST(QImageReader(dir.filePath(written)).format(), "format");
        QVERIFY(warning.isEmpty());
    } else if (!typed.isEmpty()) {
        QCOMPARE(warning, "Bild speichern: Datei konnte nicht geschrieben werden: "
                              + QDir::toNativeSeparators(dir.filePath(typed + ".bmp")));
    }
}

QTEST_MAIN(TestPlotWidget)
#include "tst_plotwidget.moc"
