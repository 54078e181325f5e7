#pragma once

#include <QString>
#include <QtGlobal>

// Lengths of CAN FD frames: the 4-bit DLC code on the bus and the number of
// data bytes it stands for. Every reader and writer of FD frames goes through
// these two functions so that codes 9..15 mean the same everywhere.
namespace CanFdLength {

inline constexpr int MaxLength = 64;

// 0..8 map to themselves, 9..15 to 12, 16, 20, 24, 32, 48, 64; codes above 15
// are cut to 15 as a controller reads only four bits.
int lengthOfDlc(int dlc);

// The smallest code whose length holds `length` bytes (a frame is padded up
// to it); lengths above 64 give 15.
int dlcOfLength(int length);

// True for the lengths an FD frame can have: 0..8, 12, 16, 20, 24, 32, 48, 64.
bool isValidLength(int length);

} // namespace CanFdLength

// Bit timing of one phase of a CAN controller: the time quantum is
// prescaler / clock, a bit is 1 + tseg1 + tseg2 quanta, sampled after 1 + tseg1.
struct CanBitTiming
{
    quint32 prescaler = 0;
    quint32 tseg1 = 0;
    quint32 tseg2 = 0;
    quint32 sjw = 0;

    quint32 quantaPerBit() const { return 1 + tseg1 + tseg2; }
    double samplePoint() const { return double(1 + tseg1) / quantaPerBit(); }
    quint32 bitrate(quint32 clockHz) const { return clockHz / (prescaler * quantaPerBit()); }
};

// What the controller's registers can hold for one phase.
struct CanBitTimingLimits
{
    quint32 prescalerMax;
    quint32 tseg1Max;
    quint32 tseg2Max;
    quint32 sjwMax;
};

namespace CanFdTiming {

// The clock the FD bit-rate strings are computed for (80 MHz, which FD
// adapters commonly run on and which divides every usual rate exactly).
inline constexpr quint32 DefaultClockHz = 80000000;

inline constexpr CanBitTimingLimits NominalLimits{1024, 256, 128, 128};
inline constexpr CanBitTimingLimits DataLimits{1024, 32, 16, 16};

// A timing that gives exactly `bitrate` at `clockHz` with the sample point as
// near `samplePoint` as the limits allow, choosing the finest quantum (the
// smallest prescaler) that fits. False with a German message when no
// prescaler divides the clock into that rate.
bool compute(quint32 clockHz, quint32 bitrate, double samplePoint, const CanBitTimingLimits &limits,
             CanBitTiming *timing, QString *error = nullptr);

// The bit-rate string of an FD channel: "f_clock=80000000,nom_brp=…,nom_tseg1=…,
// nom_tseg2=…,nom_sjw=…,data_brp=…,data_tseg1=…,data_tseg2=…,data_sjw=…",
// nominal phase sampled near 80 %, data phase near 75 %. Empty with a German
// message when either rate cannot be reached or the data rate is below the
// nominal one.
QString bitrateString(quint32 nominalBitrate, quint32 dataBitrate, QString *error = nullptr,
                      quint32 clockHz = DefaultClockHz);

// Both phases read back from such a string (keys in any order, "f_clock_mhz"
// instead of "f_clock" accepted, blanks around keys and values ignored).
// False with a German message naming the missing or wrong key.
bool parseBitrateString(const QString &text, quint32 *clockHz, CanBitTiming *nominal, CanBitTiming *data,
                        QString *error = nullptr);

} // namespace CanFdTiming
