#pragma once

#include "markerrow.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MarkerPanel;
}

// The values of every plotted signal at the plot's marker (cursor A) and,
// with the second cursor, at cursor B with the differences. Called up to ten
// times a second: only cells whose content changed are written.
class MarkerPanel : public QWidget
{
    Q_OBJECT

public:
    explicit MarkerPanel(QWidget *parent = nullptr);
    ~MarkerPanel() override;

    // The marker alone.
    void setMarker(bool enabled, double time, const QList<MarkerRow> &rows);
    // Both cursors.
    void setState(const MarkerState &state);

    // Texts of the title: seconds with at least 3 and at most 6 decimals,
    // and the frequency 1/|Δt| with its unit ("–" for no time apart).
    static QString timeText(double seconds);
    static QString frequencyText(double deltaSeconds);

private:
    std::unique_ptr<Ui::MarkerPanel> ui;
    bool m_second = false;
};
