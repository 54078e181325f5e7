#include "plotwidget.h"

#include <QLabel>
#include <QVBoxLayout>

PlotWidget::PlotWidget(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(tr("Plotter"), this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

void PlotWidget::handleFrames(const QList<CanFrame> &)
{
}

void PlotWidget::setSymbols(std::shared_ptr<const SymbolDatabase>)
{
}

bool PlotWidget::addSignal(const PlotSignalRef &ref)
{
    // Only remembers the reference, so that a second request reports "already plotted".
    if (!ref.isUsable() || m_signals.contains(ref))
        return false;
    m_signals.append(ref);
    return true;
}

void PlotWidget::clearData()
{
}

bool PlotWidget::markerEnabled() const
{
    return false;
}

double PlotWidget::markerTime() const
{
    return 0.0;
}

QList<MarkerRow> PlotWidget::markerRows() const
{
    return {};
}

void PlotWidget::loadSettings()
{
}

void PlotWidget::saveSettings() const
{
}
