#pragma once

#include "markerrow.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MarkerPanel;
}

// The values of every plotted signal at the plot's marker. Called up to ten
// times a second: only cells whose content changed are written.
class MarkerPanel : public QWidget
{
    Q_OBJECT

public:
    explicit MarkerPanel(QWidget *parent = nullptr);
    ~MarkerPanel() override;

    void setMarker(bool enabled, double time, const QList<MarkerRow> &rows);

private:
    std::unique_ptr<Ui::MarkerPanel> ui;
};
