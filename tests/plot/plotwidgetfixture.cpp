#include "plotwidgetfixture.h"

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QQuickItem>
#include <QSettings>
#include <QTest>
#include <QWheelEvent>

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

void PlotWidgetFixture::initTestCase()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    m_db = loadSymbols(plotSymText());
    m_stateDb = loadSymbols(StateSym);
}

void PlotWidgetFixture::init()
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

void PlotWidgetFixture::cleanup()
{
    delete m_plot;
    m_plot = nullptr;
}

void PlotWidgetFixture::feedSpeed(const QList<std::pair<double, int>> &points)
{
    QList<CanFrame> frames;
    for (const auto &point : points)
        frames.append(motorFrame(qint64(point.first * 1e6), point.second, 40));
    m_plot->handleFrames(frames);
}

void PlotWidgetFixture::feedRamp(int seconds)
{
    QList<std::pair<double, int>> points;
    for (int t = 0; t <= seconds; ++t)
        points.append({double(t), t});
    feedSpeed(points);
}

QRectF PlotWidgetFixture::plotArea() const
{
    QQuickItem *graph = m_plot->sceneRoot()->findChild<QQuickItem *>(QStringLiteral("graph"));
    return graph ? graph->property("plotArea").toRectF() : QRectF();
}

QPoint PlotWidgetFixture::at(double x, double y) const
{
    const QRectF area = plotArea();
    return QPointF(area.x() + x * area.width(), area.y() + y * area.height()).toPoint();
}

void PlotWidgetFixture::sendMouse(QEvent::Type type, QPoint position, Qt::MouseButton button,
                                   Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    auto *quick = child<QWidget>("quickWidget");
    QMouseEvent event(type, position, quick->mapToGlobal(position), button, buttons, modifiers);
    QApplication::sendEvent(quick, &event);
}

void PlotWidgetFixture::sendWheel(QPoint position, int delta, Qt::KeyboardModifiers modifiers)
{
    auto *quick = child<QWidget>("quickWidget");
    QWheelEvent event(position, quick->mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(quick, &event);
}
