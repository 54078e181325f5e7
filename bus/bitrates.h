#pragma once

#include <QString>
#include <QtGlobal>

// Bit timing of an SJA1000-style controller clocked at 16 MHz, as one
// BTR0/BTR1 word (BTR0 in the high byte). Shared by the hardware backends and
// the connection dialog.
struct StandardBitrate
{
    const char *text;
    quint16 btr;
};

inline constexpr StandardBitrate standardBitrates[] = {
    {"1 MBit/s", 0x0014},
    {"800 kBit/s", 0x0016},
    {"500 kBit/s", 0x001C},
    {"250 kBit/s", 0x011C},
    {"125 kBit/s", 0x031C},
    {"100 kBit/s", 0x432F},
    {"95,238 kBit/s", 0xC34E},
    {"83,333 kBit/s", 0x852B},
    {"50 kBit/s", 0x472F},
    {"47,619 kBit/s", 0x1414},
    {"33,333 kBit/s", 0x8B2F},
    {"20 kBit/s", 0x532F},
    {"10 kBit/s", 0x672F},
    {"5 kBit/s", 0x7F7F},
};

// Nominal bit rate of a BTR0/BTR1 word in bit/s: 16 MHz / (2 (BRP + 1)
// (TSEG1 + TSEG2 + 3)); jump width and sampling mode do not change it.
quint32 bitrateOfBtr(quint16 btr);

// The table's text for a standard word, else "45454 Bit/s (BTR 0x0A1C)".
QString bitrateText(quint16 btr);

// The standard word of a bit rate given in kBit/s ("500", "95,238" or
// "95.238"): true and *btr set when the rate is one of the table's.
bool standardBtrOfKbit(const QString &kbit, quint16 *btr);
