#include "symbolfile.h"

#include "dbcfile.h"
#include "symbolparser.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

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

inline int motorolaSlot(int position)
{
    return (position & ~7) + (7 - (position & 7));
}

// A variable loaded from a file carries the slot list of its own position,
// which is one run of bits in the data word (read little-endian for Intel,
// big-endian for Motorola): it can be read with one shift instead of slot by
// slot. The ends of the list and its size tell such a variable from one whose
// list was made some other way; `shift` is the run's lowest bit in the word.
bool positionRun(const SymVariable &variable, int *shift)
{
    const qsizetype width = variable.bits.size();
    const int start = variable.startBit;
    if (width < 1 || width != variable.length || start < 0 || start + width > 64)
        return false;
    const int first = variable.bits.constFirst();
    const int last = variable.bits.constLast();
    const int end = start + int(width) - 1;
    if (!variable.motorola) {
        *shift = start;
        return first == start && last == end;
    }
    *shift = 63 - end;
    return first == motorolaSlot(end) && last == motorolaSlot(start);
}

// Data bytes as one word: byte 0 low for Intel, byte 0 high for Motorola.
quint64 dataWord(const CanFrame &frame, bool motorola)
{
    return motorola ? qFromBigEndian<quint64>(frame.data) : qFromLittleEndian<quint64>(frame.data);
}

} // namespace

QString SymMessage::displayName() const
{
    if (muxName.isEmpty())
        return name;
    return QStringLiteral("%1 [%2]").arg(name, muxName);
}

QString SymbolDatabase::messageAttribute(const SymMessage &message, const QString &name) const
{
    auto it = message.attributes.constFind(name);
    QString written;
    if (it != message.attributes.constEnd())
        written = it.value();
    else
        written = dbcAttributeDefaults.value(name);
    if (written.size() >= 2 && written.startsWith(QLatin1Char('"')) && written.endsWith(QLatin1Char('"')))
        return written.mid(1, written.size() - 2).replace(QLatin1String("\\\""), QLatin1String("\""));
    const auto values = dbcAttributeEnums.constFind(name);
    bool isIndex = false;
    const int index = written.toInt(&isIndex);
    if (values != dbcAttributeEnums.constEnd() && isIndex && index >= 0 && index < values->size())
        return values->at(index);
    return written;
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
    for (int i = length - 1; i >= 0; --i)
        bits.append(quint8(motorolaSlot(start + i)));
    return bits;
}

quint64 SymbolDatabase::extract(const QList<quint8> &bits, const CanFrame &frame)
{
    quint64 value = 0;
    const int count = int(qMin<qsizetype>(bits.size(), 64));
    const quint8 *slotList = bits.constData();
    // Branch-free: data bits are random, a branch per bit would mispredict.
    for (int i = 0; i < count; ++i) {
        const int slot = slotList[i] & 63;
        value |= quint64((frame.data[slot >> 3] >> (slot & 7)) & 1u) << i;
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

int SymbolDatabase::readVariable(const SymVariable &variable, const CanFrame &frame, quint64 *bits)
{
    int shift = 0;
    if (!positionRun(variable, &shift)) {
        if (bits)
            *bits = extract(variable.bits, frame);
        return variable.bits.isEmpty() ? -1 : largestSlot(variable.bits) / 8;
    }
    if (bits) {
        const quint64 word = dataWord(frame, variable.motorola) >> shift;
        const int width = variable.length;
        *bits = width < 64 ? word & ((quint64(1) << width) - 1) : word;
    }
    // Intel and Motorola alike: position p lies in data byte p / 8.
    return (variable.startBit + variable.length - 1) / 8;
}

qint64 SymbolDatabase::signExtended(const SymVariable &variable, quint64 bits)
{
    const int w = int(variable.bits.size());
    if (variable.isSigned && w > 0 && w < 64 && ((bits >> (w - 1)) & 1u))
        bits |= ~quint64(0) << w;
    return qint64(bits);
}

qint64 SymbolDatabase::rawValue(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.type == SymType::String || variable.type == SymType::Raw || variable.bits.isEmpty())
        return 0;
    quint64 bits = 0;
    readVariable(variable, frame, &bits);
    return signExtended(variable, bits);
}

double SymbolDatabase::physicalValue(const SymVariable &variable, const CanFrame &frame) const
{
    if (variable.type == SymType::String || variable.type == SymType::Raw)
        return std::numeric_limits<double>::quiet_NaN();
    return physicalFromRaw(variable, rawValue(variable, frame));
}

double SymbolDatabase::physicalFromRaw(const SymVariable &variable, qint64 raw)
{
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
        // An unsigned 64-bit pattern at 2^63 and above is a large positive number.
        value = variable.isSigned ? double(raw) : double(quint64(raw));
    }
    return value * variable.factor + variable.offset;
}

void SymbolDatabase::setRawValue(const SymVariable &variable, qint64 raw, CanFrame &frame)
{
    insert(variable.bits, quint64(raw), frame);
}

bool SymbolDatabase::coversFrame(const SymVariable &variable, const CanFrame &frame)
{
    const int lastByte = readVariable(variable, frame, nullptr);
    return lastByte >= 0 && lastByte < frame.dlc;
}

namespace {

// FNV-1a over the upper-cased name; false for names with non-ASCII characters.
bool asciiUpperHash(QStringView name, quint64 *hash)
{
    quint64 h = 0xCBF29CE484222325ULL;
    for (QChar c : name) {
        char16_t u = c.unicode();
        if (u >= 0x80)
            return false;
        if (u >= 'a' && u <= 'z')
            u = char16_t(u - 'a' + 'A');
        h = (h ^ u) * 0x100000001B3ULL;
    }
    *hash = h;
    return true;
}

bool equalsAsciiIgnoringCase(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= 'a' && x <= 'z')
            x = char16_t(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = char16_t(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

// key == name.toUpper() for an ASCII name, without making the upper-case copy.
bool isAsciiUpperOf(QStringView key, QStringView name)
{
    if (key.size() != name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        char16_t c = name.at(i).unicode();
        if (c >= 'a' && c <= 'z')
            c = char16_t(c - 'a' + 'A');
        if (key.at(i).unicode() != c)
            return false;
    }
    return true;
}

} // namespace

const SymEnum *SymbolDatabase::enumByName(const QString &name) const
{
    quint64 hash = 0;
    if (m_indexedEnums == enums.size() && !m_enumSlots.empty() && asciiUpperHash(name, &hash)) {
        const size_t mask = m_enumSlots.size() - 1;
        for (size_t slot = size_t(hash) & mask; m_enumSlots[slot].index >= 0; slot = (slot + 1) & mask) {
            const EnumSlot &entry = m_enumSlots[slot];
            if (entry.hash == hash && equalsAsciiIgnoringCase(m_enumList[size_t(entry.index)].name, name))
                return &m_enumList[size_t(entry.index)];
        }
        return nullptr;
    }
    const auto it = enums.constFind(name.toUpper());
    return it == enums.constEnd() ? nullptr : &it.value();
}

const SymEnum *SymbolDatabase::enumFor(const SymVariable &variable) const
{
    if (variable.enumName.isEmpty())
        return nullptr;
    return enumByName(variable.enumName);
}

namespace {

// Facts of a candidate packed above its message index.
constexpr quint64 CandidateMuxed = quint64(1) << 32;
constexpr quint64 CandidateAnyLength = quint64(1) << 33;
constexpr int CandidateLengthShift = 40;

quint64 candidateFacts(const SymMessage &message)
{
    quint64 facts = 0;
    if (message.muxMaskMode || !message.muxBits.isEmpty())
        facts |= CandidateMuxed;
    if (message.lengthUnspecified)
        facts |= CandidateAnyLength;
    facts |= quint64(quint8(qBound(0, message.length, 255))) << CandidateLengthShift;
    return facts;
}

inline size_t slotHash(quint64 key)
{
    key ^= key >> 29;
    key *= 0xBF58476D1CE4E5B9ULL;
    key ^= key >> 32;
    return size_t(key);
}

// Best candidate so far; ties go to the earliest definition.
struct BestCandidate
{
    int score = -1;
    int index = std::numeric_limits<int>::max();

    void offer(int candidate, int candidateScore)
    {
        if (candidateScore > score || (candidateScore == score && candidate < index)) {
            score = candidateScore;
            index = candidate;
        }
    }
};

int scoreOf(const SymMessage &message, const CanFrame &frame)
{
    int score = 1;
    if (message.muxMaskMode || !message.muxBits.isEmpty()) {
        if (!SymbolDatabase::muxMatches(message, frame))
            return -1;
        score = 3;
    }
    if (!message.lengthUnspecified && message.length != frame.dlc)
        score -= 1;
    return score;
}

} // namespace

void SymbolDatabase::buildMatchIndex()
{
    m_indexSlots.clear();
    m_indexCandidates.clear();
    size_t capacity = 16;
    while (capacity < size_t(idIndex.size()) * 2)
        capacity *= 2;
    m_indexSlots.assign(capacity, IndexSlot());
    m_indexCandidates.reserve(size_t(messages.size()));
    for (auto it = idIndex.constBegin(); it != idIndex.constEnd(); ++it) {
        size_t slot = slotHash(it.key()) & (capacity - 1);
        while (m_indexSlots[slot].count != 0)
            slot = (slot + 1) & (capacity - 1);
        IndexSlot &entry = m_indexSlots[slot];
        entry.key = it.key();
        entry.first = quint32(m_indexCandidates.size());
        entry.count = quint32(it.value().size());
        for (int index : it.value())
            m_indexCandidates.push_back(quint64(quint32(index)) | candidateFacts(messages.at(index)));
    }
    m_indexedMessages = messages.size();
    m_indexedKeys = idIndex.size();

    m_enumList.clear();
    m_enumSlots.clear();
    m_indexedEnums = -1;
    size_t enumCapacity = 16;
    while (enumCapacity < size_t(enums.size()) * 2)
        enumCapacity *= 2;
    std::vector<EnumSlot> enumSlots(enumCapacity);
    m_enumList.reserve(size_t(enums.size()));
    for (auto it = enums.constBegin(); it != enums.constEnd(); ++it) {
        quint64 hash = 0;
        // Keys are the upper-case names; only ASCII ones go through the table.
        if (!asciiUpperHash(it.value().name, &hash) || !isAsciiUpperOf(it.key(), it.value().name))
            return;
        size_t slot = size_t(hash) & (enumCapacity - 1);
        while (enumSlots[slot].index >= 0)
            slot = (slot + 1) & (enumCapacity - 1);
        enumSlots[slot].hash = hash;
        enumSlots[slot].index = int(m_enumList.size());
        m_enumList.push_back(it.value());
    }
    m_enumSlots = std::move(enumSlots);
    m_indexedEnums = enums.size();
}

const SymMessage *SymbolDatabase::find(const CanFrame &frame) const
{
    if (frame.error || frame.status)
        return nullptr;

    BestCandidate best;
    const quint64 key = (quint64(frame.extended ? 1 : 0) << 32) | (frame.id & idMask);
    if (m_indexedMessages == messages.size() && m_indexedKeys == idIndex.size() && !m_indexSlots.empty()) {
        const size_t mask = m_indexSlots.size() - 1;
        for (size_t slot = slotHash(key) & mask; m_indexSlots[slot].count != 0; slot = (slot + 1) & mask) {
            const IndexSlot &entry = m_indexSlots[slot];
            if (entry.key != key)
                continue;
            for (quint32 i = entry.first; i < entry.first + entry.count; ++i) {
                const quint64 candidate = m_indexCandidates[i];
                const int index = int(quint32(candidate));
                int score;
                if (candidate & CandidateMuxed) {
                    score = scoreOf(messages.at(index), frame);
                } else {
                    score = 1;
                    if (!(candidate & CandidateAnyLength) && int(quint8(candidate >> CandidateLengthShift)) != frame.dlc)
                        score = 0;
                }
                if (score >= 0)
                    best.offer(index, score);
            }
            break;
        }
    } else {
        const auto hit = idIndex.constFind(key);
        if (hit != idIndex.constEnd()) {
            for (int index : hit.value()) {
                const int score = scoreOf(messages.at(index), frame);
                if (score >= 0)
                    best.offer(index, score);
            }
        }
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
        const int score = scoreOf(message, frame);
        if (score >= 0)
            best.offer(index, score);
    }
    return best.score >= 0 ? &messages.at(best.index) : nullptr;
}

QList<SymSignalValue> SymbolDatabase::decode(const SymMessage &message, const CanFrame &frame) const
{
    QList<SymSignalValue> result;
    result.reserve(message.variables.size());
    for (const SymVariable &variable : message.variables) {
        const int lastByte = readVariable(variable, frame, nullptr);
        if (lastByte < 0)
            continue;
        SymSignalValue value;
        value.name = variable.name;
        if (lastByte >= frame.dlc) {
            // Shown, not left out: a short frame must not look like a complete one.
            value.unit = variable.unit;
            value.text = value.rawText = QString(MissingText);
            value.physical = std::numeric_limits<double>::quiet_NaN();
            value.numeric = variable.isNumeric();
            value.missing = tr("Fehlt im Frame: das Signal braucht %1 Datenbytes, der Frame hat %2 (DLC %2).")
                                .arg(lastByte + 1)
                                .arg(frame.dlc);
            result.append(value);
            continue;
        }
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

bool SymbolDatabase::load(const QString &path, QString *error, QStringList *warnings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.close();
    return loadData(content, path, error, warnings);
}

bool SymbolDatabase::loadData(const QByteArray &content, const QString &path, QString *error,
                              QStringList *warnings)
{
    SymbolDatabase result;
    if (DbcFile::isDbc(path, content)) {
        if (!DbcFile::read(content, &result, error, warnings))
            return false;
        result.fileFormat = SymFileFormat::Dbc;
    } else {
        QStringList lines = SymbolFile::Parser::decodeText(content).split(QLatin1Char('\n'));
        // A final line break ends the last line; it does not start another one.
        if (lines.size() > 1 && lines.constLast().isEmpty())
            lines.removeLast();
        for (QString &line : lines)
            line = line.trimmed();

        SymbolFile::Parser parser(&result, warnings);
        if (!parser.parse(lines, error))
            return false;
        if (result.messages.isEmpty()) {
            if (error)
                *error = tr("Die Datei enthält keine Symbole (Nachrichtendefinitionen).");
            return false;
        }
        result.formatVersion = QStringLiteral("%1.0").arg(parser.majorVersion());
    }

    result.filePath = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    result.idIndex.reserve(result.messages.size());
    for (int i = 0; i < result.messages.size(); ++i) {
        const SymMessage &message = result.messages.at(i);
        if (message.idLow == message.idHigh && message.idMask == result.idMask) {
            const quint64 key = (quint64(message.extended ? 1 : 0) << 32) | (message.idLow & result.idMask);
            result.idIndex[key].append(i);
        } else {
            result.rangeMessages.append(i);
        }
    }
    result.buildMatchIndex();
    *this = std::move(result);
    return true;
}
