#pragma once

#include "plotstyle.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QComboBox;
class QMenu;
class QTableWidget;
class QWidget;

// The plot's legend table: one row per plotted signal with its colour, a
// check box to show or hide it, its axis and unit, its current value and the
// statistics of the shown window (or of the span between the two cursors).
// Its context menu sets the drawing mode, colour and axis of a signal.
// Rows are rebuilt only when the signals change; values are written every
// refresh, and only into cells whose text changed.
class PlotLegend : public QObject
{
    Q_OBJECT

public:
    enum Column { ColSwatch, ColName, ColAxis, ColUnit, ColValue, ColMin, ColMax, ColMean, ColCount, ColumnCount };

    struct Row
    {
        QString name;        // display name, with the note of an unresolved signal
        bool resolved = true;
        QColor color;
        PlotStyle style;
        bool prefersSteps = false;   // what "Automatisch" draws: steps or lines
        QString unit;
        int axis = 0;
    };

    struct Values
    {
        QString value;
        QString min;
        QString max;
        QString mean;
        QString count;
        QString nameTip;     // tool tip of the name: values recorded
        QString rangeTip;    // tool tip of min and max: the whole recording's
    };

    // Takes over the table (columns, fonts, menu); `removeAction` is offered
    // in the context menu.
    PlotLegend(QTableWidget *table, QAction *removeAction, QObject *parent = nullptr);

    void setRows(const QList<Row> &rows, bool secondAxis);
    void setValues(int row, const Values &values);
    // Statistics over the window or between the cursors: the headers say which.
    void setStatisticsBetweenCursors(bool between);

    // The context menu of a row, not yet shown; the caller owns it.
    QMenu *createMenu(int row, QWidget *parent);

signals:
    void shownChanged(int row, bool shown);
    void colorRequested(int row);
    void modeChosen(int row, PlotStyle::Mode mode);
    void axisChosen(int row, int axis);

private:
    void onItemChanged(int row, int column);

    QTableWidget *m_table;
    QAction *m_removeAction;
    QList<Row> m_rows;
    bool m_secondAxis = false;
    bool m_filling = false;
    bool m_between = false;
    bool m_scopeShown = false;
    QList<QPointer<QComboBox>> m_axisCombos;
};
