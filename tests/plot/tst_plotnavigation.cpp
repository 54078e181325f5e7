#include "filedialogs.h"
#include "markerpanel.h"
#include "plottestutil.h"
#include "plotchart.h"
#include "plotwidget.h"
#include "rangespinbox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QQuickItem>
#include <QQuickWidget>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

// The plotter as an engineer uses it: zoom and pan, two cursors, step lines,
// statistics, export, signal styles, and the faults found by trying it.
class TestPlotNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

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

private:
    template<typename T>
    T *child(const char *name) const
    {
        return m_plot->findChild<T *>(QLatin1String(name));
    }
    void feedSpeed(const QList<std::pair<double, int>> &points);
    // Speeds 0, 1, 2, … every second from 0 to `seconds`.
    void feedRamp(int seconds);
    QRectF plotArea() const;
    QPoint at(double x, double y) const;   // fractions of the plot area
    void sendMouse(QEvent::Type type, QPoint position, Qt::MouseButton button, Qt::MouseButtons buttons,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void sendWheel(QPoint position, int delta, Qt::KeyboardModifiers modifiers);
    QTableWidget *legend() const { return child<QTableWidget>("legendTable"); }

    PlotWidget *m_plot = nullptr;
    std::shared_ptr<const SymbolDatabase> m_db;
    std::shared_ptr<const SymbolDatabase> m_stateDb;
};

namespace {

// A state message: an enumeration, a single bit, a 3-bit and a 16-bit value.
const QByteArray StateSym = R"(FormatVersion=6.0 // Do not edit this line!
Title="Zustand"

{ENUMS}
Enum=Modus(0="Aus", 1="Ein", 2="Fehler")

{RECEIVE}

[Zustand]
ID=300h
Len=4
Var=Modus Modus 0,8
Var=Bit unsigned 8,1
Var=Stufe unsigned 9,3
Var=Zaehler unsigned 16,16
)";

CanFrame stateFrame(qint64 timestampUs, int mode, int bit, int stage, int counter)
{
    CanFrame frame;
    frame.id = 0x300;
    frame.dlc = 4;
    frame.data[0] = quint8(mode);
    frame.data[1] = quint8((bit & 1) | ((stage & 7) << 1));
    frame.data[2] = quint8(counter);
    frame.data[3] = quint8(counter >> 8);
    frame.timestampUs = timestampUs;
    return frame;
}

QStringList csvLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

void TestPlotNavigation::initTestCase()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    m_db = loadSymbols(plotSymText());
    m_stateDb = loadSymbols(StateSym);
}

void TestPlotNavigation::init()
{
    QSettings().clear();
    m_plot = new PlotWidget;
    m_plot->resize(1000, 650);
    m_plot->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_plot));
    QTRY_VERIFY(m_plot->sceneRoot());
    m_plot->setSymbols(m_db);
    // The chart lays its plot area out asynchronously.
    QTRY_VERIFY(plotArea().width() > 100);
}

void TestPlotNavigation::cleanup()
{
    delete m_plot;
    m_plot = nullptr;
}

void TestPlotNavigation::feedSpeed(const QList<std::pair<double, int>> &points)
{
    QList<CanFrame> frames;
    for (const auto &point : points)
        frames.append(motorFrame(qint64(point.first * 1e6), point.second, 40));
    m_plot->handleFrames(frames);
}

void TestPlotNavigation::feedRamp(int seconds)
{
    QList<std::pair<double, int>> points;
    for (int t = 0; t <= seconds; ++t)
        points.append({double(t), t});
    feedSpeed(points);
}

QRectF TestPlotNavigation::plotArea() const
{
    QQuickItem *graph = m_plot->sceneRoot()->findChild<QQuickItem *>(QStringLiteral("graph"));
    return graph ? graph->property("plotArea").toRectF() : QRectF();
}

QPoint TestPlotNavigation::at(double x, double y) const
{
    const QRectF area = plotArea();
    return QPointF(area.x() + x * area.width(), area.y() + y * area.height()).toPoint();
}

void TestPlotNavigation::sendMouse(QEvent::Type type, QPoint position, Qt::MouseButton button,
                                   Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    auto *quick = child<QWidget>("quickWidget");
    QMouseEvent event(type, position, quick->mapToGlobal(position), button, buttons, modifiers);
    QApplication::sendEvent(quick, &event);
}

void TestPlotNavigation::sendWheel(QPoint position, int delta, Qt::KeyboardModifiers modifiers)
{
    auto *quick = child<QWidget>("quickWidget");
    QWheelEvent event(position, quick->mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(quick, &event);
}

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

void TestPlotNavigation::statisticsCoverTheWindowOrTheCursors()
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

void TestPlotNavigation::exportWritesTheWindowOrEverything()
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

void TestPlotNavigation::hiddenSignalsLeaveAxisAndExport()
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

void TestPlotNavigation::axisTitlesCarryUnitsAndColours()
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

void TestPlotNavigation::colourIsChosenFromTheSwatch()
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

void TestPlotNavigation::traceTimeShiftsTimesShown()
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

void TestPlotNavigation::rightAxisFromTheLegendMenu()
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

void TestPlotNavigation::stylesAndTimeBaseAreRestored()
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

void TestPlotNavigation::cursorsStayInsideANewSource()
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

void TestPlotNavigation::manualRangeKeepsSmallValues()
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

void TestPlotNavigation::saveDialogsStartInTheLastFolder_data()
{
    QTest::addColumn<QString>("imageDir");    // relative to a temporary folder; "-" none
    QTest::addColumn<QString>("traceDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("last image folder") << "bilder" << "traces" << "bilder";
    QTest::newRow("vanished folder: its parent") << "bilder/weg/tiefer" << "-" << "bilder";
    QTest::newRow("none yet: the trace's folder") << "-" << "traces" << "traces";
}

void TestPlotNavigation::saveDialogsStartInTheLastFolder()
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

QTEST_MAIN(TestPlotNavigation)
#include "tst_plotnavigation.moc"
