#pragma once

#include <QMetaType>
#include <QString>

// Names one plottable signal by symbol, multiplexer branch and variable, so
// that it survives reloading the symbol file.
struct PlotSignalRef
{
    QString message;
    QString mux;       // empty when the symbol is not multiplexed
    QString variable;

    bool isUsable() const { return !message.isEmpty() && !variable.isEmpty(); }
    QString toString() const;                  // "message|mux|variable"
    static PlotSignalRef fromString(const QString &text);
    QString displayName() const;               // "Msg[Mux].Var" or "Msg.Var"

    bool operator==(const PlotSignalRef &other) const
    {
        return message == other.message && mux == other.mux && variable == other.variable;
    }
    bool operator!=(const PlotSignalRef &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(PlotSignalRef)
