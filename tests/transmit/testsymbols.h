#pragma once

#include "symbolfile.h"

#include <memory>

// A small symbol database built in memory, so that the transmit tests do not
// depend on the symbol file parser:
//   [Motor]  100h Std, 8 bytes: Drehzahl u16 "rpm" (bytes 0-1), Modus u8 enum
//            Modi (byte 2), Temp s8 "°C" -40..100 (byte 3)
//   [Bremse] 18FEF100h Ext, 2 bytes: Druck u8 "bar" default 5 (byte 0)
namespace TestSymbols {

inline SymVariable variable(const QString &name, int type, int start, int length,
                            const QString &unit = QString())
{
    SymVariable v;
    v.name = name;
    v.type = type;
    v.startBit = start;
    v.length = length;
    v.bits = SymbolDatabase::bitsFromPosition(start, length, false);
    v.isSigned = type == SymType::Signed;
    v.unit = unit;
    return v;
}

inline std::shared_ptr<const SymbolDatabase> database()
{
    auto db = std::make_shared<SymbolDatabase>();
    db->filePath = QStringLiteral("/tmp/test.sym");
    db->formatVersion = QStringLiteral("6.0");

    SymEnum modi;
    modi.name = QStringLiteral("Modi");
    modi.values.insert(0, QStringLiteral("Aus"));
    modi.values.insert(1, QStringLiteral("Ein"));
    modi.values.insert(2, QStringLiteral("Fehler"));
    db->enums.insert(QStringLiteral("MODI"), modi);

    SymMessage motor;
    motor.name = QStringLiteral("Motor");
    motor.idLow = motor.idHigh = 0x100;
    motor.length = 8;
    motor.lengthUnspecified = false;
    motor.variables.append(variable(QStringLiteral("Drehzahl"), SymType::Unsigned, 0, 16,
                                    QStringLiteral("rpm")));
    SymVariable mode = variable(QStringLiteral("Modus"), SymType::Unsigned, 16, 8);
    mode.enumName = QStringLiteral("Modi");
    motor.variables.append(mode);
    SymVariable temp = variable(QStringLiteral("Temp"), SymType::Signed, 24, 8,
                                QStringLiteral("°C"));
    temp.hasMin = temp.hasMax = true;
    temp.minimum = -40;
    temp.maximum = 100;
    motor.variables.append(temp);

    SymMessage brake;
    brake.name = QStringLiteral("Bremse");
    brake.idLow = brake.idHigh = 0x18FEF100;
    brake.extended = true;
    brake.frameType = SymFrameType::Extended;
    brake.length = 2;
    brake.lengthUnspecified = false;
    SymVariable pressure = variable(QStringLiteral("Druck"), SymType::Unsigned, 0, 8,
                                    QStringLiteral("bar"));
    pressure.hasDefaultRaw = true;
    pressure.defaultRaw = 5;
    brake.variables.append(pressure);

    db->messages = {motor, brake};
    db->idIndex.insert(quint64(0x100), {0});
    db->idIndex.insert((quint64(1) << 32) | 0x18FEF100u, {1});
    return db;
}

} // namespace TestSymbols
