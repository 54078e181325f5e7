// PlotWidget: how each signal is drawn, and the legend.
#include "plotwidget.h"
#include "ui_plotwidget.h"

#include "plotchart.h"
#include "plotlegend.h"
#include "plotstats.h"
#include "symbolfile.h"

#include <QColorDialog>
#include <QMenu>

#include <algorithm>
#include <cfloat>

namespace {

const QString Dash = QStringLiteral("–");

} // namespace

// --- signal styles -----------------------------------------------------------

PlotStyle PlotWidget::traceStyle(int index) const
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    if (index < 0 || index >= traces.size())
        return PlotStyle();
    return m_styles.value(traces.at(index).ref.toString());
}

void PlotWidget::setTraceStyle(int index, const PlotStyle &style)
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    if (index < 0 || index >= traces.size())
        return;
    m_styles.insert(traces.at(index).ref.toString(), style);
    if (m_chart) {
        m_chart->setSeriesColor(index, traceColor(index));
        m_chart->setSeriesVisible(index, style.shown);
    }
    rebuildLegend();
    refresh();
}

QColor PlotWidget::traceColor(int index) const
{
    const QColor chosen = traceStyle(index).color;
    return chosen.isValid() ? chosen : PlotData::color(index);
}

PlotStyle::Mode PlotWidget::drawMode(int index) const
{
    return traceStyle(index).effectiveMode(prefersSteps(index));
}

bool PlotWidget::prefersSteps(int index) const
{
    const SignalRecorder::Trace *trace = index >= 0 && index < rec().traces().size() ? &rec().traces().at(index)
                                                                                      : nullptr;
    return trace && trace->variable && rec().symbols() && PlotData::prefersSteps(*rec().symbols(), *trace->variable);
}

QString PlotWidget::valueText(int index, double value) const
{
    return PlotData::valueText(rec().symbols().get(), rec().traces().at(index).variable, value);
}

QString PlotWidget::numberText(int index, double value) const
{
    return PlotData::numberText(rec().symbols().get(), rec().traces().at(index).variable, value);
}

void PlotWidget::chooseTraceColor(int index)
{
    if (index < 0 || index >= rec().traces().size())
        return;
    const QColor color = QColorDialog::getColor(traceColor(index), this,
                                                tr("Farbe von %1").arg(rec().traces().at(index).ref.displayName()));
    if (!color.isValid())
        return;
    PlotStyle style = traceStyle(index);
    style.color = color;
    setTraceStyle(index, style);
}

QMenu *PlotWidget::createLegendMenu(int row, QWidget *parent)
{
    return m_legend->createMenu(row, parent);
}

int PlotWidget::timeBase() const
{
    return ui->timeBaseCombo->currentIndex();
}

void PlotWidget::setTimeBase(int base)
{
    ui->timeBaseCombo->setCurrentIndex(std::clamp(base, 0, 1));
}

double PlotWidget::timeOffset() const
{
    return timeBase() == 1 ? traceTimeOffset() : 0.0;
}

// --- legend ------------------------------------------------------------------

void PlotWidget::rebuildLegend()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    QList<PlotLegend::Row> rows;
    for (int i = 0; i < traces.size(); ++i) {
        const SignalRecorder::Trace &trace = traces.at(i);
        PlotLegend::Row row;
        row.name = trace.resolved ? trace.ref.displayName()
                                  : tr("%1  (nicht in der Symboldatei)").arg(trace.ref.displayName());
        row.resolved = trace.resolved;
        row.color = traceColor(i);
        row.style = traceStyle(i);
        row.prefersSteps = prefersSteps(i);
        row.unit = trace.unit;
        row.axis = trace.axis;
        rows.append(row);
    }
    m_legend->setRows(rows, ui->axis2Check->isChecked());
    updateHint();
    updateLegendValues();
}

void PlotWidget::updateHint()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    const bool noValues = std::all_of(traces.cbegin(), traces.cend(),
                                      [](const SignalRecorder::Trace &trace) { return trace.count == 0; });
    QString hint;
    if (!rec().symbols()) {
        hint = tr("Zuerst eine Symboldatei laden (Symboldatei → Laden…), dann Signale auswählen.");
    } else if (traces.isEmpty()) {
        hint = tr("Signal oben auswählen und „Hinzufügen“ klicken – oder in der Signal-Ansicht per Doppelklick "
                  "bzw. Kontextmenü „Im Plotter anzeigen“.");
    } else if (m_traceMode && m_traceFed.known && m_traceFed.last == 0) {
        hint = tr("„Aus Trace“: Der Trace ist leer. Zuerst aufzeichnen (Trace → Trace aufzeichnen) oder einen "
                  "Trace laden (Trace → Trace laden…).");
    } else if (m_traceMode && noValues) {
        hint = tr("„Aus Trace“: Der Trace enthält keine Werte der gewählten Signale.");
    } else if (!m_traceMode && m_liveRecorder.droppedPoints() > 0) {
        // Said once, and it stays until the recording is cleared.
        hint = tr("Der Puffer ist voll: Die ältesten Werte werden verworfen. Mehr Werte je Signal unter "
                  "Datei → Einstellungen → Plotter, „Werte je Signal“ (jetzt %L1).")
                   .arg(m_liveRecorder.maxPoints());
    }
    if (!m_sceneError.isEmpty())
        hint = m_sceneError;
    if (ui->hintLabel->text() != hint)
        ui->hintLabel->setText(hint);
    ui->hintLabel->setVisible(!hint.isEmpty());
}

PlotStats::Stats PlotWidget::statistics(int index) const
{
    // Between the cursors when both are on, else over the window shown
    // (before the first refresh: everything recorded).
    double from = m_winStart;
    double to = m_dataEnd;
    if (markerEnabled() && cursorBEnabled()) {
        from = std::min(m_markerTime, m_cursorBTime);
        to = std::max(m_markerTime, m_cursorBTime);
    } else if (!m_graph || !isVisible()) {
        from = -DBL_MAX;
        to = DBL_MAX;
    }
    return PlotStats::compute(rec().traces().at(index), from, to);
}

void PlotWidget::updateLegendValues()
{
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    m_legend->setStatisticsBetweenCursors(markerEnabled() && cursorBEnabled());
    for (int row = 0; row < traces.size(); ++row) {
        const SignalRecorder::Trace &trace = traces.at(row);
        const PlotStats::Stats stats = statistics(row);
        PlotLegend::Values values;
        values.value = trace.count > 0 ? valueText(row, trace.last) : Dash;
        values.min = stats.count > 0 ? valueText(row, stats.min) : Dash;
        values.max = stats.count > 0 ? valueText(row, stats.max) : Dash;
        values.mean = stats.count > 0 ? numberText(row, stats.mean) : Dash;
        values.count = QString::number(stats.count);
        values.nameTip = tr("%1 Werte aufgezeichnet").arg(trace.count);
        if (trace.count > 0) {
            values.rangeTip = tr("Seit dem Leeren: Min %1, Max %2")
                                  .arg(valueText(row, trace.min), valueText(row, trace.max));
        }
        m_legend->setValues(row, values);
    }
}
