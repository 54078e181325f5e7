#pragma once

#include "plottestutil.h"
#include "plotwidget.h"

#include <QByteArray>
#include <QEvent>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRectF>
#include <QStringList>
#include <QTableWidget>

#include <memory>
#include <utility>

// A shown plot widget with the plot's symbols, fresh for every test, and the
// mouse, wheel and feeding helpers of the plotter's widget tests.
class PlotWidgetFixture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
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

// A state message (identifier 300h): an enumeration, a single bit, a 3-bit
// and a 16-bit value.
extern const QByteArray StateSym;
CanFrame stateFrame(qint64 timestampUs, int mode, int bit, int stage, int counter);
QStringList csvLines(const QString &path);
