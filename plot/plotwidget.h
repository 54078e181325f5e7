#pragma once

#include "canframe.h"
#include "markerrow.h"
#include "plotsignalref.h"

#include <QWidget>

#include <memory>

class SymbolDatabase;

// Placeholder: the real plotter comes with a later issue.
class PlotWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PlotWidget(QWidget *parent = nullptr);

    void handleFrames(const QList<CanFrame> &frames);
    void setSymbols(std::shared_ptr<const SymbolDatabase> symbols);
    bool addSignal(const PlotSignalRef &ref);
    void clearData();

    bool markerEnabled() const;
    double markerTime() const;
    QList<MarkerRow> markerRows() const;

    void loadSettings();
    void saveSettings() const;

signals:
    void markerChanged();

private:
    QList<PlotSignalRef> m_signals;
};
