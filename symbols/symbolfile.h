#pragma once

#include "canframe.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Data type of a variable (SymVariable::type).
namespace SymType {
enum Value : int {
    Bit = 0,
    Char = 1,
    String = 2,
    Signed = 3,
    Unsigned = 4,
    Float = 5,
    Double = 6,
    Raw = 7,
    Enum = 8,
};
} // namespace SymType

// Frame type of a symbol (SymMessage::frameType).
namespace SymFrameType {
enum Value : int {
    Standard = 0,
    Extended = 1,
    J1939Pg = 2,
    FdStandard = 3,
    FdExtended = 4,
};
} // namespace SymFrameType

// Format of the file a database was loaded from (SymbolDatabase::fileFormat).
namespace SymFileFormat {
enum Value : int {
    Sym = 0,
    Dbc = 1,
};
} // namespace SymFileFormat

// Section a symbol was defined in (SymMessage::direction).
namespace SymDirection {
enum Value : int {
    SendReceive = 0,
    Send = 1,
    Receive = 2,
};
} // namespace SymDirection

// One variable (signal) of a symbol, a virtual variable or a signal definition.
// Slot k of a frame is bit (k mod 8) of data byte (k div 8); `bits` lists the
// slots of the value, least significant value bit first.
struct SymVariable
{
    QString name;
    QString longName;
    QString comment;
    QString unit;
    int type = SymType::Unsigned;
    int startBit = -1;
    int length = 0;
    bool motorola = false;
    QList<quint8> bits;
    bool isSigned = false;
    QString enumName;
    double factor = 1.0;
    double offset = 0.0;
    bool hasMin = false;
    bool hasMax = false;
    double minimum = 0.0;
    double maximum = 0.0;
    int decimals = -1;
    int spn = 0;
    int displayFormat = 0;   // 0 decimal, 1 hexadecimal, 2 base-2 digits
    int decodeMode = 0;      // 0 normal, 1 value only, 2 left out of the decoded text
    bool flagT = false;
    bool flagS = false;
    bool hasDefaultRaw = false;
    qint64 defaultRaw = 0;   // bit pattern for Float/Double
    bool hasDefaultText = false;
    QString defaultText;
    bool fromSignal = false;
    // DBC: the nodes that receive the signal.
    QStringList receivers;
    // DBC: the signal selects the variants of its message (multiplexor).
    bool multiplexor = false;
    // DBC: attribute values (BA_ ... SG_) by attribute name, as written (a
    // string in its quotes, a number as it stands).
    QMap<QString, QString> attributes;

    // String and Raw carry bytes, all other types numbers.
    bool isNumeric() const { return type != SymType::String && type != SymType::Raw; }
};

// One symbol (message, or one variant of a multiplexed message).
struct SymMessage
{
    QString name;
    QString comment;
    quint32 idLow = 0;
    quint32 idHigh = 0;
    quint32 idMask = 0xFFFFFFFFu;
    bool extended = false;
    int frameType = SymFrameType::Standard;
    int direction = SymDirection::SendReceive;
    int length = 8;
    bool lengthUnspecified = true;
    int decodeMode = 0;
    bool flagT = false;
    QString muxName;
    QList<quint8> muxBits;
    quint64 muxValue = 0;
    bool muxMaskMode = false;
    bool muxMotorola = false;
    quint64 muxMask = 0;
    int cycleTime = 0;
    int timeout = 0;
    int minInterval = 0;
    int repetitionCount = 0;
    int startDelay = 0;
    bool brs = false;
    bool hasColor = false;
    quint32 color = 0;       // 0xRRGGBB
    bool multiPacket = false;
    bool fastPacket = false;
    bool ignoreSource = false;
    QList<SymVariable> variables;
    // DBC: the node that sends the message; empty when none is named.
    QString sender;
    // DBC: further senders (BO_TX_BU_).
    QStringList transmitters;
    // DBC: attribute values (BA_ ... BO_) by attribute name, as written;
    // SymbolDatabase::messageAttribute() gives them as text.
    QMap<QString, QString> attributes;

    // "Name" or "Name [Multiplexer]".
    QString displayName() const;
};

struct SymEnumRange
{
    qint64 low = 0;
    qint64 high = 0;
    QString text;
};

struct SymEnum
{
    QString name;
    QMap<qint64, QString> values;
    QList<SymEnumRange> ranges;
    QString comment;

    // Single values first, then the first range that holds the value.
    bool textFor(qint64 value, QString *text) const;
};

// One decoded variable of a frame.
struct SymSignalValue
{
    QString name;
    QString text;
    QString unit;
    qint64 raw = 0;
    QString rawText;
    double physical = 0.0;   // NaN for String/Raw
    bool numeric = true;
    // Why the frame does not carry the variable (shorter than the message):
    // then text and rawText are MissingText and physical is NaN. Empty when present.
    QString missing;
};

// A loaded symbol file. Filled once by load() and shared read-only as
// std::shared_ptr<const SymbolDatabase>; every const operation is safe to call
// from any thread and keeps no caches.
class SymbolDatabase
{
    Q_DECLARE_TR_FUNCTIONS(SymbolDatabase)

public:
    // The value of a variable that lies beyond the frame's data.
    static constexpr QChar MissingText = QChar(0x2014);

    QString filePath;
    QString formatVersion;                 // "5.0" or "6.0"; a DBC file's VERSION text
    QList<SymVariable> signalDefinitions;  // section SIGNALS, without position
    QString title;
    QString description;
    QChar decimalSeparator = QLatin1Char('.');
    quint32 idMask = 0xFFFFFFFFu;
    bool uniqueVariables = false;
    int floatDecimalPlaces = -1;
    int floatPrecision = 0;
    QList<SymMessage> messages;            // index = identity of a symbol
    QList<SymVariable> virtualVariables;   // section VIRTUALVARS, without position
    QHash<QString, SymEnum> enums;         // keyed by upper-case name
    // (extended ? 1 : 0) << 32 | (id & idMask) -> indices into messages.
    QHash<quint64, QList<int>> idIndex;
    QList<int> rangeMessages;              // matched by range or by their own mask
    int fileFormat = SymFileFormat::Sym;
    // DBC: what has no record of its own, kept so that a DBC written from
    // the database holds it again: the nodes (BU_), the attribute
    // definitions and defaults (BA_DEF_*, as written), and every other
    // statement as written (network and node attributes, comments of nodes
    // and environment variables, EV_, SIG_GROUP_, relations, ...).
    QStringList dbcNodes;
    QStringList dbcDefinitions;
    QStringList dbcStatements;
    QHash<QString, QString> dbcAttributeDefaults;     // by name, as written
    QHash<QString, QStringList> dbcAttributeEnums;    // values of ENUM attributes

    // DBC: a message attribute as text (a string without its quotes, an
    // enumeration's index as its value), the attribute's default when the
    // message has none; empty when neither is known.
    QString messageAttribute(const SymMessage &message, const QString &name) const;

    // --- frames ---------------------------------------------------------
    const SymMessage *find(const CanFrame &frame) const;
    QList<SymSignalValue> decode(const SymMessage &message, const CanFrame &frame) const;
    QString decodeText(const CanFrame &frame) const;
    CanFrame defaultFrame(const SymMessage &message) const;

    static quint64 extract(const QList<quint8> &bits, const CanFrame &frame);
    static void insert(const QList<quint8> &bits, quint64 value, CanFrame &frame);
    static bool muxMatches(const SymMessage &message, const CanFrame &frame);
    static void insertMux(const SymMessage &message, CanFrame &frame);

    qint64 rawValue(const SymVariable &variable, const CanFrame &frame) const;
    double physicalValue(const SymVariable &variable, const CanFrame &frame) const;
    static void setRawValue(const SymVariable &variable, qint64 raw, CanFrame &frame);
    // Physical value of a raw value: the bit pattern of a Float/Double, the
    // integer otherwise, scaled with factor and offset.
    static double physicalFromRaw(const SymVariable &variable, qint64 raw);
    static bool coversFrame(const SymVariable &variable, const CanFrame &frame);

    const SymEnum *enumByName(const QString &name) const;
    const SymEnum *enumFor(const SymVariable &variable) const;

    // Slot list of a position (start bit, length, byte order); empty when the
    // position does not fit into the 64 data bits.
    static QList<quint8> bitsFromPosition(int start, int length, bool motorola);

    // --- value text -----------------------------------------------------
    QString formatNumber(const SymVariable &variable, double value) const;
    QString formatValue(const SymVariable &variable, qint64 raw) const;
    QString rawText(const SymVariable &variable, const CanFrame &frame) const;
    QString valueText(const SymVariable &variable, const CanFrame &frame) const;
    bool parseValue(const SymVariable &variable, const QString &text, qint64 *raw,
                    QString *error) const;
    // Bytes of a String or Raw variable (padded with zeros to length / 8).
    static bool textToBytes(const SymVariable &variable, const QString &text, QByteArray *bytes,
                            QString *error);
    bool applyText(const SymVariable &variable, const QString &text, CanFrame &frame,
                   QString *error) const;

    // --- loading --------------------------------------------------------
    // Replaces the content with the file's; on failure the database is unchanged.
    bool load(const QString &path, QString *error = nullptr, QStringList *warnings = nullptr);
    // Same as load() for file content already in memory; `path` only names it.
    bool loadData(const QByteArray &content, const QString &path, QString *error = nullptr,
                  QStringList *warnings = nullptr);

private:
    // Flat copy of idIndex with the matching facts of each candidate, built by
    // load(): find() then reads the message of a candidate only when it is
    // multiplexed. A database filled by hand (no load) uses idIndex directly.
    struct IndexSlot
    {
        quint64 key = 0;
        quint32 first = 0;
        quint32 count = 0;   // 0: empty slot
    };
    std::vector<IndexSlot> m_indexSlots;        // open addressing, power-of-two size
    std::vector<quint64> m_indexCandidates;     // message index | facts << 32
    qsizetype m_indexedMessages = -1;
    qsizetype m_indexedKeys = -1;

    // Enumerations with ASCII names in a flat table, so that naming a value
    // needs neither an upper-case copy nor a string hash.
    struct EnumSlot
    {
        quint64 hash = 0;
        int index = -1;   // into m_enumList; -1: empty slot
    };
    std::vector<EnumSlot> m_enumSlots;
    std::vector<SymEnum> m_enumList;
    qsizetype m_indexedEnums = -1;

    void buildMatchIndex();

    // Largest slot / 8 of the variable's bits (-1 without bits) and, when
    // `bits` is given, extract() of them: a shift and a mask for a variable
    // whose slot list is that of its own position.
    static int readVariable(const SymVariable &variable, const CanFrame &frame, quint64 *bits);
    // rawValue() of extracted bits.
    static qint64 signExtended(const SymVariable &variable, quint64 bits);
};

using SymbolDatabasePtr = std::shared_ptr<const SymbolDatabase>;
