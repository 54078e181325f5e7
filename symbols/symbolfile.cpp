#include "symbolfile.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

int largestSlot(const QList<quint8> &bits)
{
    int largest = -1;
    for (quint8 slot : bits)
        largest = qMax(largest, int(slot));
    return largest;
}

// Data bytes as one word: byte 0 low for Intel, byte 0 high for Motorola.
quint64 dataWord(const CanFrame &frame, bool motorola)
{
    quint64 word = 0;
    for (int k = 0; k < 8; ++k) {
        const int byte = motorola ? 7 - k : k;
        word |= quint64(frame.data[byte]) << (8 * k);
    }
    return word;
}

} // namespace

QString SymMessage::displayName() const
{
    if (muxName.isEmpty())
        return name;
    return QStringLiteral("%1 [%2]").arg(name, muxName);
}

bool SymEnum::textFor(qint64 value, QString *text) const
{
    const auto it = values.constFind(value);
    if (it != values.constEnd()) {
        if (text)
            *text = it.value();
        return true;
    }
    for (const SymEnumRange &range : ranges) {
        if (range.low <= value && value <= range.high) {
            if (text)
                *text = range.text;
            return true;
        }
    }
    return false;
}

QList<quint8> SymbolDatabase::bitsFromPosition(int start, int length, bool motorola)
{
    QList<quint8> bits;
    if (length < 1 || start < 0 || start > 64 || length > 64 || start + length > 64)
        return bits;
    bits.reserve(length);
    if (!motorola) {
        for (int i = 0; i < length; ++i)
            bits.append(quint8(start + i));
        return bits;
    }
    // Motorola positions count big-endian: position p is slot (p & ~7) + (7 - (p & 7)).
    for (int i = length - 1; i >= 0; --i) {
        const int p = start + i;
        bits.append(quint8((p & ~7) + (7 - (p & 7))));
    }
    return bits;
}

quint64 SymbolDatabase::extract(const QList<quint8> &bits, const CanFrame &frame)
{
    quint64 value = 0;
    const int count = int(qMin<qsizetype>(bits.size(), 64));
    const quint8 *slotList = bits.constData();
    for (int i = 0; i < count; ++i) {
        const int slot = slotList[i] & 63;
        if (frame.data[slot >> 3] & (1u << (slot & 7)))
            value |= quint64(1) << i;
    }
    return value;
}

void SymbolDatabase::insert(const QList<quint8> &bits, quint64 value, CanFrame &frame)
{
    const int count = int(qMin<qsizetype>(bits.size(), 64));
    for (int i = 0; i < count; ++i) {
        const int slot = bits.at(i) & 63;
        const quint8 mask = quint8(1u << (slot & 7));
        if ((value >> i) & 1u)
            frame.data[slot >> 3] |= mask;
        else
            frame.data[slot >> 3] &= quint8(~mask);
    }
}

bool SymbolDatabase::muxMatches(const SymMessage &message, const CanFrame &frame)
{
    if (message.muxMaskMode) {
        for (int k = 0; k < 8; ++k) {
            if (((message.muxMask >> (8 * k)) & 0xFF) == 0)
                continue;
            const int byte = message.muxMotorola ? 7 - k : k;
            if (byte >= frame.dlc)
                return false;
        }
        const quint64 word = dataWord(frame, message.muxMotorola);
        return ((word ^ message.muxValue) & message.muxMask) == 0;
    }
    if (message.muxBits.isEmpty())
        return true;
    if (largestSlot(message.muxBits) / 8 >= frame.dlc)
        return false;
    return extract(message.muxBits, frame) == message.muxValue;
}

void SymbolDatabase::insertMux(const SymMessage &message, CanFrame &frame)
{
    if (message.muxMaskMode) {
        for (int k = 0; k < 8; ++k) {
            const quint8 m = quint8(message.muxMask >> (8 * k));
            const quint8 v = quint8(message.muxValue >> (8 * k));
            quint8 &target = frame.data[message.muxMotorola ? 7 - k : k];
            target = quint8((v & m) | (target & ~m));
        }
        return;
    }
    insert(message.muxBits, message.muxValue, frame);
}

qint64 SymbolDatabase::rawValue(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.type == SymType::String || variable.type == SymType::Raw || variable.bits.isEmpty())
        return 0;
    quint64 v = extract(variable.bits, frame);
    const int w = int(variable.bits.size());
    if (variable.isSigned && w > 0 && w < 64 && ((v >> (w - 1)) & 1u))
        v |= ~quint64(0) << w;
    return qint64(v);
}

double SymbolDatabase::physicalValue(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.type == SymType::String || variable.type == SymType::Raw)
        return std::numeric_limits<double>::quiet_NaN();
    const qint64 raw = rawValue(variable, frame);
    double value;
    if (variable.type == SymType::Float) {
        const quint32 pattern = quint32(quint64(raw));
        float single;
        std::memcpy(&single, &pattern, sizeof single);
        value = double(single);
    } else if (variable.type == SymType::Double) {
        const quint64 pattern = quint64(raw);
        std::memcpy(&value, &pattern, sizeof value);
    } else {
        value = double(raw);
    }
    return value * variable.factor + variable.offset;
}

void SymbolDatabase::setRawValue(const SymVariable &variable, qint64 raw, CanFrame &frame)
{
    insert(variable.bits, quint64(raw), frame);
}

bool SymbolDatabase::coversFrame(const SymVariable &variable, const CanFrame &frame)
{
    if (variable.bits.isEmpty())
        return false;
    return largestSlot(variable.bits) / 8 < frame.dlc;
}

const SymEnum *SymbolDatabase::enumByName(const QString &name) const
{
    const auto it = enums.constFind(name.toUpper());
    return it == enums.constEnd() ? nullptr : &it.value();
}

const SymEnum *SymbolDatabase::enumFor(const SymVariable &variable) const
{
    if (variable.enumName.isEmpty())
        return nullptr;
    return enumByName(variable.enumName);
}

const SymMessage *SymbolDatabase::find(const CanFrame &frame) const
{
    if (frame.error || frame.status)
        return nullptr;

    const SymMessage *best = nullptr;
    int bestScore = -1;
    int bestIndex = std::numeric_limits<int>::max();
    const auto consider = [&](int index) {
        const SymMessage &message = messages.at(index);
        int score = 1;
        if (message.muxMaskMode || !message.muxBits.isEmpty()) {
            if (!muxMatches(message, frame))
                return;
            score = 3;
        }
        if (!message.lengthUnspecified && message.length != frame.dlc)
            score -= 1;
        // Ties go to the earliest definition.
        if (score > bestScore || (score == bestScore && index < bestIndex)) {
            best = &message;
            bestScore = score;
            bestIndex = index;
        }
    };

    const quint64 key = (quint64(frame.extended ? 1 : 0) << 32) | (frame.id & idMask);
    const auto hit = idIndex.constFind(key);
    if (hit != idIndex.constEnd()) {
        for (int index : hit.value())
            consider(index);
    }
    for (int index : rangeMessages) {
        const SymMessage &message = messages.at(index);
        if (message.extended != frame.extended)
            continue;
        if (message.idLow != message.idHigh) {
            if (frame.id < message.idLow || frame.id > message.idHigh)
                continue;
        } else if (((frame.id ^ message.idLow) & message.idMask) != 0) {
            continue;
        }
        consider(index);
    }
    return best;
}

QList<SymSignalValue> SymbolDatabase::decode(const SymMessage &message, const CanFrame &frame) const
{
    QList<SymSignalValue> result;
    result.reserve(message.variables.size());
    for (const SymVariable &variable : message.variables) {
        if (!coversFrame(variable, frame))
            continue;
        SymSignalValue value;
        value.name = variable.name;
        value.text = valueText(variable, frame);
        value.unit = variable.unit;
        value.raw = rawValue(variable, frame);
        value.rawText = rawText(variable, frame);
        value.physical = physicalValue(variable, frame);
        value.numeric = variable.isNumeric();
        result.append(value);
    }
    return result;
}

CanFrame SymbolDatabase::defaultFrame(const SymMessage &message) const
{
    CanFrame frame;
    frame.id = message.idLow;
    frame.extended = message.extended;
    frame.dlc = quint8(message.lengthUnspecified ? 8 : qBound(0, message.length, 8));

    if (!message.muxName.isEmpty()) {
        if (message.muxMaskMode) {
            const quint64 word = message.muxMask & message.muxValue;
            for (int k = 0; k < 8; ++k)
                frame.data[message.muxMotorola ? 7 - k : k] = quint8(word >> (8 * k));
        } else if (!message.muxBits.isEmpty()) {
            insert(message.muxBits, message.muxValue, frame);
        }
    }

    for (const SymVariable &variable : message.variables) {
        if (variable.hasDefaultRaw) {
            insert(variable.bits, quint64(variable.defaultRaw), frame);
        } else if (variable.hasDefaultText) {
            QByteArray bytes;
            if (textToBytes(variable, variable.defaultText, &bytes, nullptr)) {
                const int first = variable.startBit / 8;
                for (int i = 0; i < bytes.size() && first >= 0 && first + i < 8; ++i)
                    frame.data[first + i] = quint8(bytes.at(i));
            }
        }
    }
    return frame;
}
