#pragma once

#include "canframe.h"
#include "plotsignalref.h"

#include <QWidget>

#include <memory>

class SymbolDatabase;

// Placeholder: the real signal panel comes with a later issue.
class SignalPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SignalPanel(QWidget *parent = nullptr);

    void showFrame(const CanFrame *frame);
    void setSymbols(std::shared_ptr<const SymbolDatabase> symbols);

signals:
    void plotRequested(const PlotSignalRef &ref);
};
