#include "mainwindow.h"
#include "markerpanel.h"
#include "plotwidget.h"
#include "signalpanel.h"
#include "testsettings.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QDockWidget>
#include <QLabel>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

// The plot's wiring in the main window: signal panel to plotter, frames to
// the recorder, the marker to the marker panel, the trace as plot source.
class TestMainWindowPlot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void plotRequestAddsOnceAndShowsThePlotter();
    void plotterTabBringsTheMarkerDock();
    void framesReachThePlotAndConnectingClearsIt();
    void markerPanelFollowsThePlot();
    void signalsNamedOnTheCommandLine();
    void recordedTraceIsPlottedOnItsOwnTimeAxis();
    void stringAndRawSignalsAreRefused();
    void plotterControlsFitTheDefaultWindow();

private:
    static CanFrame speedFrame(qint64 timestampUs, int speed)
    {
        CanFrame frame;
        frame.id = 0x100;
        frame.dlc = 8;
        frame.data[0] = quint8(speed);
        frame.data[1] = quint8(speed >> 8);
        frame.timestampUs = timestampUs;
        return frame;
    }
    // The tab text of the dock tab bar that is current, for the docks' group.
    static QString currentDockTab(const MainWindow &w)
    {
        for (QTabBar *bar : w.findChildren<QTabBar *>()) {
            for (int i = 0; i < bar->count(); ++i) {
                if (bar->tabText(i) == QLatin1String("Marker"))
                    return bar->tabText(bar->currentIndex());
            }
        }
        return QString();
    }

    QTemporaryDir m_settingsDir;
    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindowPlot::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindowplot");
}

void TestMainWindowPlot::init()
{
    QSettings().clear();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(m_window->loadSymbolFile(QStringLiteral(BUSVISTA_TEST_DATA "/app/one.sym"), false));
}

void TestMainWindowPlot::plotRequestAddsOnceAndShowsThePlotter()
{
    auto *panel = m_window->findChild<SignalPanel *>(QStringLiteral("signalPanel"));
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    auto *tabs = m_window->findChild<QTabWidget *>(QStringLiteral("tabs"));
    emit panel->plotRequested({"Motor", "", "Speed"});
    QCOMPARE(plot->recorder().traces().size(), 1);
    QCOMPARE(tabs->currentIndex(), 1);
    m_window->showTab(0);
    emit panel->plotRequested({"Motor", "", "Speed"});
    QCOMPARE(plot->recorder().traces().size(), 1);
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Motor.Speed ist bereits im Plotter."));
}

void TestMainWindowPlot::plotterTabBringsTheMarkerDock()
{
    // Only with the marker on: an empty marker list would hide the signals.
    auto *markerDock = m_window->findChild<QDockWidget *>(QStringLiteral("markerDock"));
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    m_window->showTab(1);
    QCOMPARE(currentDockTab(*m_window), QStringLiteral("Signale"));
    plot->setMarker(true, -1);   // switched on while the plotter shows
    QCOMPARE(currentDockTab(*m_window), QStringLiteral("Marker"));
    m_window->showTab(2);
    QCOMPARE(currentDockTab(*m_window), QStringLiteral("Signale"));
    markerDock->hide();
    m_window->showTab(1);
    QVERIFY(!markerDock->isHidden());
    QCOMPARE(currentDockTab(*m_window), QStringLiteral("Marker"));
    plot->setMarker(false, -1);
    m_window->showTab(0);
    m_window->showTab(1);
    QCOMPARE(currentDockTab(*m_window), QStringLiteral("Signale"));
}

void TestMainWindowPlot::framesReachThePlotAndConnectingClearsIt()
{
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    plot->addSignal({"Motor", "", "Speed"});
    m_window->onFramesReceived({speedFrame(1000, 5), speedFrame(2000, 6)});
    QCOMPARE(plot->recorder().traces().at(0).count, 2);
    QVERIFY(m_window->openBackend(simulationParams()));
    QCOMPARE(plot->recorder().traces().at(0).count, 0);
    m_window->disconnectBus();
}

void TestMainWindowPlot::markerPanelFollowsThePlot()
{
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    auto *markerPanel = m_window->findChild<MarkerPanel *>(QStringLiteral("markerPanel"));
    auto *title = markerPanel->findChild<QLabel *>(QStringLiteral("titleLabel"));
    QVERIFY(title->text().startsWith(QStringLiteral("Marker aus")));
    plot->addSignal({"Motor", "", "Speed"});
    m_window->onFramesReceived({speedFrame(0, 1234)});
    plot->setMarker(true, 0.25);
    QCOMPARE(title->text(), QStringLiteral("<b>Marker bei t = 0.250 s</b>"));
    auto *table = markerPanel->findChild<QTableWidget *>(QStringLiteral("table"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("1234 rpm"));
}

void TestMainWindowPlot::signalsNamedOnTheCommandLine()
{
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    QString error;
    QVERIFY(!m_window->plotSignals({"Motor.Speed", "Motor.Nix"}, &error));
    QCOMPARE(error, QStringLiteral("Unbekannte Signale: Motor.Nix"));
    QCOMPARE(plot->recorder().traces().size(), 1);
    QVERIFY(m_window->plotSignals({"Motor.Speed"}, &error));
}

void TestMainWindowPlot::recordedTraceIsPlottedOnItsOwnTimeAxis()
{
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    plot->addSignal({"Motor", "", "Speed"});
    m_window->setTraceRunning(true);
    m_window->onFramesReceived({speedFrame(4000000, 10), speedFrame(4500000, 20)});
    m_window->setTraceRunning(false);
    m_window->onFramesReceived({speedFrame(9000000, 30)});   // live only
    QCOMPARE(plot->recorder().traces().at(0).count, 3);

    plot->findChild<QCheckBox *>(QStringLiteral("traceCheck"))->setChecked(true);
    QCOMPARE(plot->recorder().traces().at(0).points, (QList<QPointF>{{0.0, 10.0}, {0.5, 20.0}}));
    m_window->onFramesReceived({speedFrame(9100000, 40)});
    QCOMPARE(plot->recorder().traces().at(0).count, 2);

    // Recording more: the trace view follows at its next refresh.
    m_window->setTraceRunning(true);
    m_window->onFramesReceived({speedFrame(9200000, 50)});
    plot->refresh();
    QCOMPARE(plot->recorder().traces().at(0).points.last(), QPointF(5.2, 50.0));
    QCOMPARE(plot->traceTimeOffset(), 0.0);   // the trace list counts from the same frame
    // Back to live: everything recorded live is still there, also what came meanwhile.
    plot->findChild<QCheckBox *>(QStringLiteral("traceCheck"))->setChecked(false);
    QCOMPARE(plot->recorder().traces().at(0).count, 5);

    // A new connection clears the trace and the live plot; the trace view is
    // not stuck empty afterwards.
    plot->findChild<QCheckBox *>(QStringLiteral("traceCheck"))->setChecked(true);
    QVERIFY(m_window->openBackend(simulationParams()));
    m_window->onFramesReceived({speedFrame(100, 7)});
    plot->refresh();
    QCOMPARE(plot->recorder().traces().at(0).points.value(0), QPointF(0.0, 7.0));
    m_window->disconnectBus();
}

void TestMainWindowPlot::stringAndRawSignalsAreRefused()
{
    QTemporaryDir dir;
    QFile sym(dir.filePath(QStringLiteral("text.sym")));
    QVERIFY(sym.open(QIODevice::WriteOnly));
    sym.write("FormatVersion=6.0\n{SENDRECEIVE}\n[Motor]\nID=100h\nLen=8\nVar=Speed unsigned 0,16\n"
              "Var=Name string 16,32\nVar=Bytes raw 48,16\n");
    sym.close();
    QVERIFY(m_window->loadSymbolFile(sym.fileName(), false));
    auto *panel = m_window->findChild<SignalPanel *>(QStringLiteral("signalPanel"));
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    emit panel->plotRequested({"Motor", "", "Name"});
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Motor.Name ist eine Zeichenkette und kann nicht geplottet werden."));
    emit panel->plotRequested({"Motor", "", "Bytes"});
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Motor.Bytes enthält Rohdaten und kann nicht geplottet werden."));
    QCOMPARE(plot->recorder().traces().size(), 0);
    emit panel->plotRequested({"Motor", "", "Speed"});
    QCOMPARE(plot->recorder().traces().size(), 1);
}

void TestMainWindowPlot::plotterControlsFitTheDefaultWindow()
{
    m_window->resize(1100, 750);
    m_window->showTab(1);
    auto *plot = m_window->findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    plot->addSignal({"Motor", "", "Speed"});
    QTRY_VERIFY(plot->isVisible());
    QCoreApplication::processEvents();
    auto *tools = plot->findChild<QWidget *>(QStringLiteral("toolBox"));
    QVERIFY(tools);
    // Every control is on screen, inside the tab, without scrolling.
    int controls = 0;
    for (QWidget *control : tools->findChildren<QWidget *>()) {
        if (!qobject_cast<QAbstractButton *>(control) && !qobject_cast<QComboBox *>(control)
            && !qobject_cast<QAbstractSpinBox *>(control))
            continue;
        if (control->parentWidget() && qobject_cast<QAbstractSpinBox *>(control->parentWidget()))
            continue;
        ++controls;
        QVERIFY2(control->isVisible(), qPrintable(control->objectName()));
        const QRect place(control->mapTo(plot, QPoint(0, 0)), control->size());
        QVERIFY2(plot->rect().contains(place), qPrintable(control->objectName()));
        // Not squeezed below what it needs (or may have, for the range boxes).
        QVERIFY2(control->width() >= std::min(control->minimumSizeHint().width(), control->maximumWidth()),
                 qPrintable(control->objectName()));
    }
    QCOMPARE(controls, 19);
    for (const char *name : {"pauseButton", "clearButton", "saveImageButton", "exportButton", "traceCheck",
                             "yMaxSpin", "zoomBackButton", "showAllButton", "cursorBCheck"})
        QVERIFY2(tools->findChild<QWidget *>(QLatin1String(name))->isVisible(), name);
    // The chart keeps most of the height.
    QVERIFY(plot->findChild<QWidget *>(QStringLiteral("quickWidget"))->height() > 250);

    // The legend's axis column is in view.
    auto *legend = plot->findChild<QTableWidget *>(QStringLiteral("legendTable"));
    QHeaderView *header = legend->horizontalHeader();
    QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Achse"));
    QVERIFY(header->sectionViewportPosition(2) + header->sectionSize(2) <= legend->viewport()->width());
    // So are the statistics up to the count, without scrolling.
    m_window->onFramesReceived({speedFrame(0, 1234), speedFrame(100000, 12345)});
    plot->refresh();
    QCoreApplication::processEvents();
    const int count = header->count() - 1;
    QCOMPARE(header->model()->headerData(count, Qt::Horizontal).toString(), QStringLiteral("Anzahl"));
    QVERIFY2(header->sectionViewportPosition(count) + 50 <= legend->viewport()->width(),
             qPrintable(QStringLiteral("%1 of %2").arg(header->sectionViewportPosition(count))
                            .arg(legend->viewport()->width())));
}

QTEST_MAIN(TestMainWindowPlot)
#include "tst_mainwindowplot.moc"
