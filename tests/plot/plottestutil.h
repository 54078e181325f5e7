#pragma once

#include "symbolfile.h"

#include <QByteArray>
#include <QTest>

#include <cstring>
#include <memory>

// Symbols of the plot tests: scaled, string and float variables, and one
// identifier carrying two multiplexed variants.
inline const QByteArray &plotSymText()
{
    static const QByteArray text = R"(FormatVersion=6.0 // Do not edit this line!
Title="Plot"

{RECEIVE}

[Motor]
ID=100h
Len=8
Var=Drehzahl unsigned 0,16 /u:rpm
Var=Temp signed 16,8 /o:-40 /u:°C
Var=Name string 24,8
Var=Leistung float 32,32 /u:kW

[Mux]
ID=200h
Len=4
Mux=M1 0,8 1
Var=Wert unsigned 8,16

[Mux]
Len=4
Mux=M2 0,8 2
Var=Wert unsigned 8,8
Var=Zweiter unsigned 16,8
)";
    return text;
}

inline std::shared_ptr<const SymbolDatabase> loadSymbols(const QByteArray &text)
{
    auto db = std::make_shared<SymbolDatabase>();
    QString error;
    if (!db->loadData(text, QStringLiteral("plot.sym"), &error))
        qWarning("symbols not loaded: %s", qPrintable(error));
    return db;
}

// A Motor frame (identifier 100h) with speed, raw temperature and power.
inline CanFrame motorFrame(qint64 timestampUs, int speed, int rawTemp = 0, float power = 0.0f)
{
    CanFrame frame;
    frame.id = 0x100;
    frame.dlc = 8;
    frame.data[0] = quint8(speed & 0xFF);
    frame.data[1] = quint8(speed >> 8);
    frame.data[2] = quint8(rawTemp);
    quint32 bits;
    static_assert(sizeof bits == sizeof power);
    std::memcpy(&bits, &power, sizeof bits);
    for (int i = 0; i < 4; ++i)
        frame.data[4 + i] = quint8(bits >> (8 * i));
    frame.timestampUs = timestampUs;
    return frame;
}
