#include "markerpanel.h"
#include "plotchart.h"
#include "plotwidgetfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QQuickItem>
#include <QSettings>
#include <QTableWidget>
#include <QTest>

// The plotter as an engineer moves through it: zoom and pan, two cursors,
// step lines and dots.
class TestPlotNavigation : public PlotWidgetFixture
{
    Q_OBJECT

private slots:
    void boxZoomShowsThePartDrawnAndStepsBack();
    void wheelZoomsAroundTheMouse_data();
    void wheelZoomsAroundTheMouse();
    void zoomedViewStopsFollowingUntilLive();
    void panningMovesTimeAndValues();
    void mouseGesturesReachTheHandlers();
    void keysStepBackAndShowAll();
    void twoCursorsShowDifferences();
    void cursorsSnapToSamplesAndStepWithArrows();
    void stateSignalsAreDrawnAsSteps();
    void drawingModeAndDotsFollowTheLegend();
};

void TestPlotNavigation::boxZoomShowsThePartDrawnAndStepsBack()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    auto *window = child<QComboBox>("windowCombo");
    window->setCurrentIndex(5);   // "Alles": 0…20 s, values -1…21
    m_plot->refresh();
    QVERIFY(!m_plot->canZoomBack());

    // Time 5…10 s and the upper half of the values.
    m_plot->zoomToBox(QRectF(QPointF(0.25, 0.0), QPointF(0.5, 0.5)));
    QCOMPARE(m_plot->shownData().window.start, 5.0);
    QCOMPARE(m_plot->shownData().window.end, 10.0);
    QCOMPARE(window->currentText(), QStringLiteral("frei"));
    QCOMPARE(m_plot->windowSeconds(), 5.0);
    QVERIFY(m_plot->zoomed());
    QVERIFY(!child<QCheckBox>("autoYCheck")->isChecked());
    QCOMPARE(child<QDoubleSpinBox>("yMinSpin")->value(), 10.0);
    QCOMPARE(child<QDoubleSpinBox>("yMaxSpin")->value(), 21.0);

    // A flat box zooms time only; tiny ones are slips of the hand.
    m_plot->zoomToBox(QRectF(0.2, 0.4, 0.4, 0.01));
    QCOMPARE(m_plot->shownData().window.start, 6.0);
    QCOMPARE(m_plot->shownData().window.end, 8.0);
    QCOMPARE(child<QDoubleSpinBox>("yMinSpin")->value(), 10.0);
    m_plot->zoomToBox(QRectF(0.5, 0.5, 0.001, 0.3));
    QCOMPARE(m_plot->shownData().window.end, 8.0);

    m_plot->zoomBack();
    QCOMPARE(m_plot->shownData().window.start, 5.0);
    QCOMPARE(m_plot->shownData().window.end, 10.0);
    m_plot->zoomBack();
    QCOMPARE(window->currentIndex(), 5);
    QVERIFY(!m_plot->zoomed());
    QCOMPARE(m_plot->shownData().window.end, 20.0);
    QVERIFY(child<QCheckBox>("autoYCheck")->isChecked());
    QVERIFY(!m_plot->canZoomBack());
    QVERIFY(!m_plot->findChild<QAction *>("actionZoomBack")->isEnabled());

    // The saved window is the preset, never "frei".
    m_plot->zoomToBox(QRectF(0.1, 0.1, 0.2, 0.005));
    m_plot->saveSettings();
    QCOMPARE(QSettings().value("plot/timeWindow").toInt(), 5);
}

void TestPlotNavigation::wheelZoomsAroundTheMouse_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    QTest::addColumn<bool>("zoomed");
    // 0…20 s shown ("Alles"); one notch forward shows 0.8 of the span.
    QTest::newRow("in at the middle") << 0.5 << 120 << 2.0 << 18.0 << true;
    QTest::newRow("in at the left edge") << 0.0 << 120 << 0.0 << 16.0 << true;
    QTest::newRow("two notches at a quarter") << 0.25 << 240 << 1.8 << 14.6 << true;
    QTest::newRow("out beyond everything is Alles") << 0.5 << -120 << 0.0 << 20.0 << false;
}

void TestPlotNavigation::wheelZoomsAroundTheMouse()
{
    QFETCH(double, x);
    QFETCH(int, delta);
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    m_plot->refresh();
    m_plot->wheelZoom({x, 0.5}, delta);
    QTEST(m_plot->shownData().window.start, "start");
    QTEST(m_plot->shownData().window.end, "end");
    QTEST(m_plot->zoomed(), "zoomed");
    // The values are left alone by a time zoom.
    QVERIFY(child<QCheckBox>("autoYCheck")->isChecked());

    // Ctrl zooms the values around the mouse: 21…-1 shown, the mouse at the top.
    m_plot->showAll();
    m_plot->wheelZoom({0.5, 0.0}, 120, Qt::ControlModifier);
    QVERIFY(!child<QCheckBox>("autoYCheck")->isChecked());
    QCOMPARE(child<QDoubleSpinBox>("yMaxSpin")->value(), 21.0);
    QCOMPARE(child<QDoubleSpinBox>("yMinSpin")->value(), 21.0 - 0.8 * 22.0);
    QCOMPARE(m_plot->shownData().window.end, 20.0);   // time stays

    // Notches in a row are one step back.
    m_plot->wheelZoom({0.5, 0.5}, 120);
    m_plot->wheelZoom({0.5, 0.5}, 120);
    m_plot->zoomBack();
    QVERIFY(!m_plot->zoomed());
}

void TestPlotNavigation::zoomedViewStopsFollowingUntilLive()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    m_plot->refresh();   // live, 10 s window: 10…20
    m_plot->wheelZoom({1.0, 0.5}, 120);
    QCOMPARE(m_plot->shownData().window.start, 12.0);
    QCOMPARE(m_plot->shownData().window.end, 20.0);
    feedSpeed({{25.0, 25}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.start, 12.0);   // no longer live
    auto *live = child<QPushButton>("liveButton");
    QVERIFY(live->isEnabled());
    live->click();
    // Live again, with the zoomed width.
    QCOMPARE(m_plot->shownData().window.start, 17.0);
    QCOMPARE(m_plot->shownData().window.end, 25.0);
    feedSpeed({{26.0, 26}});
    m_plot->refresh();
    QCOMPARE(m_plot->shownData().window.end, 26.0);

    // Choosing a preset leaves the zoom, and "Zoom zurück" brings it back.
    child<QComboBox>("windowCombo")->setCurrentIndex(0);
    QVERIFY(!m_plot->zoomed());
    QCOMPARE(m_plot->shownData().window.end - m_plot->shownData().window.start, 5.0);
    m_plot->zoomBack();
    QVERIFY(m_plot->zoomed());
    QCOMPARE(m_plot->windowSeconds(), 8.0);
}

void TestPlotNavigation::panningMovesTimeAndValues()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    child<QComboBox>("windowCombo")->setCurrentIndex(1);   // 10 s, live: 10…20
    m_plot->refresh();
    // Dragging the curves a fifth to the right shows 2 s earlier.
    m_plot->panBy(0.2, 0.0);
    QCOMPARE(m_plot->shownData().window.start, 8.0);
    QCOMPARE(m_plot->shownData().window.end, 18.0);
    QVERIFY(!m_plot->zoomed());   // the preset width stays
    QVERIFY(child<QCheckBox>("autoYCheck")->isChecked());
    m_plot->panBy(5.0, 0.0);
    QCOMPARE(m_plot->shownData().window.start, 0.0);   // not before the start
    m_plot->panBy(-5.0, 0.0);
    QCOMPARE(m_plot->shownData().window.start, 10.0);   // nor past the newest

    // Down by a tenth of the height: the values move up by a tenth of the span.
    const double low = child<QDoubleSpinBox>("yMinSpin")->value();
    const double high = child<QDoubleSpinBox>("yMaxSpin")->value();
    m_plot->panBy(0.0, 0.1);
    QVERIFY(!child<QCheckBox>("autoYCheck")->isChecked());
    QCOMPARE(child<QDoubleSpinBox>("yMinSpin")->value(), low + 0.1 * (high - low));
    QCOMPARE(child<QDoubleSpinBox>("yMaxSpin")->value(), high + 0.1 * (high - low));

    // Everything shown ("Alles") pans as a free window of the same width.
    m_plot->showAll();
    m_plot->wheelZoom({0.5, 0.5}, 120);
    m_plot->panBy(0.1, 0.0);
    QCOMPARE(m_plot->shownData().window.start, 2.0 - 1.6);
}

void TestPlotNavigation::mouseGesturesReachTheHandlers()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    m_plot->refresh();

    // Left drag: a box from a quarter to a half of the width.
    sendMouse(QEvent::MouseButtonPress, at(0.25, 0.2), Qt::LeftButton, Qt::LeftButton);
    sendMouse(QEvent::MouseMove, at(0.4, 0.5), Qt::NoButton, Qt::LeftButton);
    QQuickItem *box = m_plot->sceneRoot()->findChild<QQuickItem *>(QStringLiteral("zoomBox"));
    QVERIFY(box && box->isVisible());
    sendMouse(QEvent::MouseMove, at(0.5, 0.7), Qt::NoButton, Qt::LeftButton);
    sendMouse(QEvent::MouseButtonRelease, at(0.5, 0.7), Qt::LeftButton, Qt::NoButton);
    QVERIFY(!box->isVisible());
    QVERIFY(m_plot->zoomed());
    QVERIFY(std::abs(m_plot->shownData().window.start - 5.0) < 0.1);
    QVERIFY(std::abs(m_plot->shownData().window.end - 10.0) < 0.1);

    // Middle drag pans: half the width to the left shows later times.
    const double start = m_plot->shownData().window.start;
    m_plot->scrollTo(start);
    sendMouse(QEvent::MouseButtonPress, at(0.8, 0.5), Qt::MiddleButton, Qt::MiddleButton);
    sendMouse(QEvent::MouseMove, at(0.3, 0.5), Qt::NoButton, Qt::MiddleButton);
    sendMouse(QEvent::MouseButtonRelease, at(0.3, 0.5), Qt::MiddleButton, Qt::NoButton);
    const double width = m_plot->shownData().window.end - m_plot->shownData().window.start;
    QVERIFY(std::abs(m_plot->shownData().window.start - (start + width / 2)) < 0.1);

    // A click with the marker on places it; Shift + click places cursor B.
    m_plot->setMarker(true, -1);
    sendMouse(QEvent::MouseButtonPress, at(0.1, 0.95), Qt::LeftButton, Qt::LeftButton);
    sendMouse(QEvent::MouseButtonRelease, at(0.1, 0.95), Qt::LeftButton, Qt::NoButton);
    const double w0 = m_plot->shownData().window.start;
    QVERIFY(std::abs(m_plot->markerTime() - (w0 + 0.1 * width)) < 0.05 * width);
    QVERIFY(!m_plot->cursorBEnabled());
    sendMouse(QEvent::MouseButtonPress, at(0.9, 0.95), Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    sendMouse(QEvent::MouseButtonRelease, at(0.9, 0.95), Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
    QVERIFY(m_plot->cursorBEnabled());
    QVERIFY(std::abs(m_plot->cursorBTime() - (w0 + 0.9 * width)) < 0.05 * width);
    QCOMPARE(m_plot->sceneRoot()->property("cursorBShown").toBool(), true);

    // Plain wheel zooms, Shift + wheel scrolls.
    const double shownWidth = m_plot->windowSeconds();
    sendWheel(at(0.5, 0.5), 120, Qt::NoModifier);
    QCOMPARE(m_plot->windowSeconds(), shownWidth * 0.8);
    const double before = m_plot->shownData().window.start;
    sendWheel(at(0.5, 0.5), 120, Qt::ShiftModifier);
    QVERIFY(m_plot->shownData().window.start < before);
    QCOMPARE(m_plot->windowSeconds(), shownWidth * 0.8);
}

void TestPlotNavigation::keysStepBackAndShowAll()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    feedRamp(20);
    m_plot->refresh();
    auto *quick = child<QWidget>("quickWidget");
    quick->setFocus();
    m_plot->zoomToBox(QRectF(0.0, 0.0, 0.5, 1.0));
    QVERIFY(m_plot->zoomed());
    QTest::keyClick(quick, Qt::Key_Home);
    QVERIFY(!m_plot->zoomed());
    QCOMPARE(child<QComboBox>("windowCombo")->currentText(), QStringLiteral("Alles"));
    QVERIFY(child<QCheckBox>("autoYCheck")->isChecked());
    QCOMPARE(m_plot->shownData().window.end, 20.0);
    QTest::keyClick(quick, Qt::Key_Backspace);
    QVERIFY(m_plot->zoomed());
    QTest::keyClick(quick, Qt::Key_Backspace);
    QCOMPARE(child<QComboBox>("windowCombo")->currentIndex(), 1);
    QVERIFY(!m_plot->canZoomBack());

    // Typing in the signal box keeps its own Backspace.
    m_plot->zoomToBox(QRectF(0.0, 0.0, 0.5, 1.0));
    QLineEdit *edit = child<QComboBox>("signalCombo")->lineEdit();
    edit->setFocus();
    edit->setText(QStringLiteral("Mot"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("Mo"));
    QVERIFY(m_plot->zoomed());
}

void TestPlotNavigation::twoCursorsShowDifferences()
{
    m_plot->addSignal({"Motor", "", "Leistung"});
    m_plot->addSignal({"Mux", "M1", "Wert"});
    m_plot->handleFrames({motorFrame(0, 0, 0, 1000.0f), motorFrame(1000000, 0, 0, 1500.0f),
                          motorFrame(2000000, 0, 0, 1234567.0f)});
    m_plot->setMarker(true, 0.5);
    m_plot->setCursorB(true, 2.5);
    QVERIFY(m_plot->cursorBEnabled());
    const MarkerState state = m_plot->markerState();
    QVERIFY(state.enabled && state.second);
    QCOMPARE(state.time, 0.5);
    QCOMPARE(state.timeB, 2.5);
    QCOMPARE(state.rows.at(0).value, QStringLiteral("1000"));
    QCOMPARE(state.rows.at(0).valueB, QStringLiteral("1234567"));   // in full
    QCOMPARE(state.rows.at(0).delta, QStringLiteral("1233567"));
    QCOMPARE(state.rows.at(1).valueB, QStringLiteral("–"));
    QCOMPARE(state.rows.at(1).delta, QStringLiteral("–"));

    MarkerPanel panel;
    panel.setState(state);
    const QString title = panel.findChild<QLabel *>("titleLabel")->text();
    QVERIFY2(title.contains(QStringLiteral("Δt = 2.000 s")), qPrintable(title));
    QVERIFY2(title.contains(QStringLiteral("1/Δt = 0.5 Hz")), qPrintable(title));
    auto *table = panel.findChild<QTableWidget *>("table");
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("1234567 kW"));
    QCOMPARE(table->item(0, 4)->text(), QStringLiteral("1233567 kW"));
    QVERIFY(!table->isColumnHidden(4));

    // B goes with the marker; B on brings the marker.
    m_plot->setMarker(false, -1);
    QVERIFY(!m_plot->cursorBEnabled());
    QVERIFY(!m_plot->markerState().second);
    m_plot->setCursorB(true, -1);
    QVERIFY(m_plot->markerEnabled());
    panel.setMarker(true, 1, {});
    QVERIFY(table->isColumnHidden(4));
}

void TestPlotNavigation::cursorsSnapToSamplesAndStepWithArrows()
{
    m_plot->addSignal({"Motor", "", "Drehzahl"});
    // Samples at 0, 1.3, 2, 4 s; window "Alles" 0…4 s.
    feedSpeed({{0.0, 10}, {1.3, 20}, {2.0, 30}, {4.0, 40}});
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    m_plot->setMarker(true, 0.0);
    m_plot->refresh();
    QQuickItem *root = m_plot->sceneRoot();
    const auto yOf = [this](double value) {
        // Automatic range of 10…40 with 5 % margins, fraction from the top.
        return 1 - (value - 8.5) / 33.0;
    };
    QCOMPARE(child<QDoubleSpinBox>("yMinSpin")->value(), 8.5);

    // A click a pixel beside the 1.3 s sample snaps onto it.
    const double pixel = 4.0 / plotArea().width();
    QMetaObject::invokeMethod(root, "cursorPointed", Q_ARG(int, 0), Q_ARG(double, 1.3 / 4 + pixel),
                              Q_ARG(double, yOf(20)));
    QCOMPARE(m_plot->markerTime(), 1.3);
    // Far from any drawn sample: the time under the mouse.
    QMetaObject::invokeMethod(root, "cursorPointed", Q_ARG(int, 0), Q_ARG(double, 0.4), Q_ARG(double, yOf(40)));
    QCOMPARE(m_plot->markerTime(), 1.6);

    // Arrows step through the samples of the signal snapped to.
    auto *quick = child<QWidget>("quickWidget");
    quick->setFocus();
    QTest::keyClick(quick, Qt::Key_Right);
    QCOMPARE(m_plot->markerTime(), 2.0);
    QTest::keyClick(quick, Qt::Key_Right);
    QCOMPARE(m_plot->markerTime(), 4.0);
    QTest::keyClick(quick, Qt::Key_Right);   // no later sample
    QCOMPARE(m_plot->markerTime(), 4.0);
    QTest::keyClick(quick, Qt::Key_Left);
    QTest::keyClick(quick, Qt::Key_Left);
    QCOMPARE(m_plot->markerTime(), 1.3);

    // Shift + arrows move B, which snaps the same way.
    QMetaObject::invokeMethod(root, "cursorPointed", Q_ARG(int, 1), Q_ARG(double, 0.0), Q_ARG(double, yOf(10)));
    QVERIFY(m_plot->cursorBEnabled());
    QCOMPARE(m_plot->cursorBTime(), 0.0);
    QTest::keyClick(quick, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(m_plot->cursorBTime(), 1.3);
    QCOMPARE(m_plot->markerTime(), 1.3);

    // A cursor stepped out of a zoomed window brings the window along.
    m_plot->zoomToBox(QRectF(0.0, 0.0, 0.4, 1.0));   // 0…1.6 s
    m_plot->moveCursor(0, 2);
    QCOMPARE(m_plot->markerTime(), 4.0);
    QVERIFY(m_plot->shownData().window.start <= 4.0 && m_plot->shownData().window.end >= 4.0);
}

void TestPlotNavigation::stateSignalsAreDrawnAsSteps()
{
    m_plot->setSymbols(m_stateDb);
    for (const char *name : {"Modus", "Bit", "Stufe", "Zaehler"})
        QVERIFY(m_plot->addSignal({"Zustand", "", name}));
    QCOMPARE(m_plot->drawMode(0), PlotStyle::Step);   // enumeration
    QCOMPARE(m_plot->drawMode(1), PlotStyle::Step);   // single bit
    QCOMPARE(m_plot->drawMode(2), PlotStyle::Step);   // 3 bits
    QCOMPARE(m_plot->drawMode(3), PlotStyle::Line);   // a count

    m_plot->handleFrames({stateFrame(0, 0, 0, 1, 100), stateFrame(1000000, 1, 1, 5, 200),
                          stateFrame(2000000, 2, 0, 3, 150)});
    m_plot->setMarker(true, 1.5);
    m_plot->refresh();
    // Three samples held as steps: two corners added; the count as a line.
    auto *legendTable = legend();
    QCOMPARE(legendTable->item(0, 4)->text(), QStringLiteral("Fehler"));   // enumeration text
    QCOMPARE(m_plot->markerRows().at(0).value, QStringLiteral("Ein"));
    QCOMPARE(m_plot->markerRows().at(3).value, QStringLiteral("200"));
}

void TestPlotNavigation::drawingModeAndDotsFollowTheLegend()
{
    m_plot->setSymbols(m_stateDb);
    m_plot->addSignal({"Zustand", "", "Modus"});
    m_plot->addSignal({"Zustand", "", "Zaehler"});
    QList<CanFrame> frames;
    for (int i = 0; i < 3; ++i)
        frames.append(stateFrame(i * 1000000, i % 3, 0, 0, 100 + i));
    m_plot->handleFrames(frames);
    child<QComboBox>("windowCombo")->setCurrentIndex(5);
    m_plot->refresh();
    PlotChart *chart = m_plot->chart();
    QVERIFY(chart);
    QCOMPARE(chart->pointCount(0), 5);   // 3 samples held: 2 corners added
    QCOMPARE(chart->pointCount(1), 3);
    QCOMPARE(chart->dotCount(0), 3);     // few samples: dots on the lines
    QCOMPARE(chart->dotCount(1), 3);

    // The legend's menu: "Darstellung" → "Punkte" for the first signal.
    std::unique_ptr<QMenu> menu(m_plot->createLegendMenu(0, m_plot));
    QMenu *modes = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->menu() && action->text() == QStringLiteral("Darstellung"))
            modes = action->menu();
    }
    QVERIFY(modes);
    QCOMPARE(modes->actions().at(0)->text(), QStringLiteral("Automatisch (Stufen)"));
    QVERIFY(modes->actions().at(0)->isChecked());
    modes->actions().at(3)->trigger();
    QCOMPARE(m_plot->traceStyle(0).mode, PlotStyle::Points);
    QCOMPARE(chart->pointCount(0), 0);
    QCOMPARE(chart->dotCount(0), 3);
    m_plot->setTraceStyle(1, {QColor(), PlotStyle::Step, true});
    QCOMPARE(chart->pointCount(1), 5);

    // Many samples in view: no dots.
    frames.clear();
    for (int i = 3; i < 400; ++i)
        frames.append(stateFrame(i * 1000000, 0, 0, 0, i));
    m_plot->handleFrames(frames);
    m_plot->refresh();
    QCOMPARE(chart->dotCount(1), 0);
    QCOMPARE(chart->dotCount(0), 400);   // points mode draws every sample
}

QTEST_MAIN(TestPlotNavigation)
#include "tst_plotnavigation.moc"
