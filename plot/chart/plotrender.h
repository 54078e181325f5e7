#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QCoreApplication;
class SignalRecorder;

// Draws everything a recorder holds (window "Alles", automatic Y ranges)
// with the plot scene in an offscreen window. Needs a QApplication: the
// chart library draws through the graphics view framework.
namespace PlotRender {

// The application object a process needs to draw charts: the chart library
// draws through the graphics view framework, which needs a QApplication.
// Without a platform chosen it draws offscreen.
QCoreApplication *createApplication(int &argc, char **argv);

// The window [from, to] in seconds; from > to: everything recorded.
QImage renderChart(const SignalRecorder &recorder, const QSize &size, QString *error, double from = 1.0,
                   double to = 0.0);

} // namespace PlotRender
