#pragma once

#include "canframe.h"
#include "plotsignalref.h"

#include <QWidget>

#include <memory>

class SymbolDatabase;

namespace Ui {
class SignalPanel;
}

// The decoded variables of one frame (the selected row of the receive list
// or the trace); a double click asks for a variable in the plotter.
class SignalPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SignalPanel(QWidget *parent = nullptr);
    ~SignalPanel() override;

    // Null clears the panel. The same frame again (time stamp included) changes nothing.
    void showFrame(const CanFrame *frame);
    void setSymbols(std::shared_ptr<const SymbolDatabase> symbols);
    void requestPlot(int row);

signals:
    void plotRequested(const PlotSignalRef &ref);

private:
    void showContextMenu(const QPoint &pos);
    void setCell(int row, int column, const QString &text);

    std::unique_ptr<Ui::SignalPanel> ui;
    std::shared_ptr<const SymbolDatabase> m_symbols;
    PlotSignalRef m_current;   // message and mux of the symbol shown
    CanFrame m_lastFrame;
    bool m_lastValid = false;
};
