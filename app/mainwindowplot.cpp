// The plot side of the main window: the trace as a source of the plot and
// signals named on the command line.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "signalrecorder.h"
#include "symbolfile.h"
#include "tracemodel.h"

void MainWindow::setupPlot()
{
    // "Aus Trace" plots what the trace holds, loaded or recorded, and
    // follows it while it grows.
    ui->plotWidget->setTraceSource(
        [this](quint64 afterNumber, const PlotWidget::FrameSink &sink) {
            m_traceModel->forEachBatchAfter(afterNumber, 65536, sink);
        },
        [this] {
            PlotWidget::TraceInfo info;
            info.first = m_traceModel->firstNumber();
            info.last = m_traceModel->lastNumber();
            info.startUs = m_traceModel->startUs();
            info.known = true;
            return info;
        });
}

bool MainWindow::plotSignals(const QStringList &names, QString *error)
{
    QStringList unknown = names;
    QList<PlotSignalRef> refs;
    if (m_symbols) {
        unknown.clear();
        refs = SignalRecorder::signalsNamed(*m_symbols, names, &unknown);
    }
    for (const PlotSignalRef &ref : std::as_const(refs))
        ui->plotWidget->addSignal(ref);
    if (unknown.isEmpty())
        return true;
    if (error) {
        *error = m_symbols ? tr("Unbekannte Signale: %1").arg(unknown.join(QStringLiteral(", ")))
                           : tr("Keine Symboldatei geladen für die Signale: %1").arg(unknown.join(QStringLiteral(", ")));
    }
    return false;
}
