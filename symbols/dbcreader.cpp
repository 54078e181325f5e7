// DBC reader: statements of a DBC file into the symbol database. Messages
// (BO_) and signals (SG_) are collected first; comments, attributes, value
// descriptions and value types that follow refer to them by identifier and
// name, and are applied when the whole file has been read. Multiplexed
// messages become one symbol per combination of multiplexor values.
#include "dbcfile.h"

#include "symbolparser.h"
#include "symsyntax.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

namespace {

class Tr
{
    Q_DECLARE_TR_FUNCTIONS(DbcFile)
};

// More variants than this per message are not built (a 16-bit multiplexor
// with every value used would make 65,536 symbols of one message).
constexpr int MaxVariants = 1024;

enum class MuxRole { None, Multiplexor, Multiplexed, Both };

struct MuxRange
{
    qint64 low = 0;
    qint64 high = 0;
};

// What the reader keeps of a signal besides its variable.
struct DbcSignal
{
    QString fileName;          // name as written in SG_ (references use it)
    size_t nameHash = 0;       // textHash(fileName): most names of a message differ in it
    MuxRole role = MuxRole::None;
    qint64 muxValue = 0;       // mN
    QString muxParent;         // SG_MUL_VAL_: the multiplexor
    QList<MuxRange> muxRanges; // SG_MUL_VAL_: its values
    int valueType = 0;         // SIG_VALTYPE_: 0 integer, 1 float, 2 double
    bool hasStartValue = false;
    double startValue = 0.0;   // GenSigStartValue, made raw when the type is known
    int line = 0;
    QList<std::pair<qint64, QString>> valueTexts;   // VAL_
    bool hasValueTexts = false;
    bool beyond = false;       // outside the 64 data bits: not loaded
};

struct DbcMessage
{
    // msg.variables holds the variables of the signals, signalList the rest,
    // both in SG_ order: a message without variants hands its variables
    // over to the database as they are, without copying each.
    SymMessage msg;
    quint32 rawId = 0;
    QString fileName;
    int line = 0;
    std::vector<DbcSignal> signalList;
    QStringList beyondData;     // signals outside the 64 data bits
    bool hasFrameFormat = false;
    QString frameFormat;        // VFrameFormat text
    bool hasCycle = false;
    bool hasLongName = false;
    bool pseudo = false;        // VECTOR__INDEPENDENT_SIG_MSG: holds unplaced signals

    SymVariable &variable(const DbcSignal &signal) { return msg.variables[&signal - signalList.data()]; }
};

enum class AttrType { Int, Hex, Float, String, Enum };

struct AttrDef
{
    AttrType type = AttrType::String;
    QStringList enumValues;
    bool hasDefault = false;
    QString defaultText;
    double defaultNumber = 0.0;
};

// Classes of the ASCII characters; all others belong to words. A table,
// since the reader asks for the class of every character of the file.
enum CharClass : quint8 { WordChar, SpaceChar, PunctChar };

constexpr std::array<CharClass, 128> charClasses()
{
    std::array<CharClass, 128> classes{};
    for (char c : {' ', '\t', '\r', '\n', '\f', '\v'})
        classes[size_t(c)] = SpaceChar;
    for (char c : {':', ';', ',', '|', '@', '(', ')', '[', ']', '"'})
        classes[size_t(c)] = PunctChar;
    return classes;
}
constexpr std::array<CharClass, 128> CharClasses = charClasses();

CharClass charClass(char16_t c)
{
    return c < 128 ? CharClasses[c] : WordChar;
}

bool isSpace(char16_t c)
{
    return charClass(c) == SpaceChar;
}

// Keys of the reader's own tables of names. Their hash is the standard
// library's, which took a fraction of qHash's time in the profile of a load;
// the reader looks up a name for nearly every statement.
size_t textHash(QStringView text)
{
    return std::hash<std::u16string_view>()(std::u16string_view(text.utf16(), size_t(text.size())));
}

struct TextKey
{
    QStringView text;
    friend bool operator==(TextKey a, TextKey b) { return a.text == b.text; }
};

size_t qHash(TextKey key, size_t seed)
{
    return textHash(key.text) ^ seed;
}

enum class Statement {
    Unknown, Message, Signal, Comment, AttrDef, RelationAttrDef, AttrDefault, Attr, Values, ValueTable,
    ValueType, MuxValues, Version, NewSymbols, Nodes, BitTiming, ReadPast,
};

// The statement a keyword starts. Keywords are short ASCII words, compared
// here character by character: every statement of a file goes through this
// list, and the library's string comparison cost 4 % of a load (measured).
Statement statementOf(QStringView keyword)
{
    static constexpr struct
    {
        std::string_view text;
        Statement statement;
    } Keywords[] = {
        {"BO_", Statement::Message}, {"SG_", Statement::Signal}, {"CM_", Statement::Comment},
        {"BA_", Statement::Attr}, {"VAL_", Statement::Values}, {"BA_DEF_", Statement::AttrDef},
        {"BA_DEF_REL_", Statement::RelationAttrDef}, {"BA_DEF_DEF_", Statement::AttrDefault},
        {"VAL_TABLE_", Statement::ValueTable}, {"SIG_VALTYPE_", Statement::ValueType},
        {"SG_MUL_VAL_", Statement::MuxValues}, {"VERSION", Statement::Version}, {"NS_", Statement::NewSymbols},
        {"BU_", Statement::Nodes}, {"BS_", Statement::BitTiming},
        {"BA_REL_", Statement::ReadPast}, {"BA_DEF_DEF_REL_", Statement::ReadPast},
        {"BA_DEF_SGTYPE_", Statement::ReadPast}, {"BA_SGTYPE_", Statement::ReadPast},
        {"SIG_GROUP_", Statement::ReadPast}, {"SIGTYPE_VALTYPE_", Statement::ReadPast},
        {"SGTYPE_", Statement::ReadPast}, {"SGTYPE_VAL_", Statement::ReadPast}, {"SIG_TYPE_REF_", Statement::ReadPast},
        {"EV_", Statement::ReadPast}, {"ENVVAR_DATA_", Statement::ReadPast}, {"BO_TX_BU_", Statement::ReadPast},
        {"CAT_DEF_", Statement::ReadPast}, {"CAT_", Statement::ReadPast}, {"FILTER", Statement::ReadPast},
        {"BU_SG_REL_", Statement::ReadPast}, {"BU_EV_REL_", Statement::ReadPast}, {"BU_BO_REL_", Statement::ReadPast},
        {"EV_DATA_", Statement::ReadPast}, {"NS_DESC_", Statement::ReadPast},
    };
    for (const auto &entry : Keywords) {
        if (keyword.size() == qsizetype(entry.text.size())
            && std::equal(entry.text.begin(), entry.text.end(), keyword.begin(),
                          [](char a, QChar b) { return b.unicode() == char16_t(a); }))
            return entry.statement;
    }
    return Statement::Unknown;
}

// A quoted text as written in the file. Most quoted texts of a DBC file are
// attribute names and values that are only compared, so they stay views into
// the file until text() makes a string of one.
struct Quoted
{
    QStringView raw;              // between the quotes
    bool escaped = false;         // holds \" or \\ .
    bool carriageReturn = false;  // holds a carriage return, which is dropped

    QString text() const
    {
        QString value = raw.toString();
        if (escaped)
            value.replace(QLatin1String("\\\""), QLatin1String("\"")).replace(QLatin1String("\\\\"), QLatin1String("\\"));
        if (carriageReturn)
            value.remove(QLatin1Char('\r'));
        return value;
    }
    // The text, compared without making a string where nothing needs replacing.
    bool is(QLatin1StringView other) const { return escaped || carriageReturn ? text() == other : raw == other; }
};

class Reader
{
public:
    Reader(QStringView text, SymbolDatabase *out, QStringList *warnings)
        : m_text(text), m_db(out), m_warnings(warnings)
    {
    }

    bool run(QString *error);

private:
    QStringView m_text;
    qsizetype m_pos = 0;
    int m_line = 1;
    qsizetype m_lineStart = 0;
    SymbolDatabase *m_db;
    QStringList *m_warnings;
    bool m_sawKeyword = false;
    int m_wordLine = 0;   // where the last word() started
    int m_wordCol = 0;

    std::vector<DbcMessage> m_messages;
    QHash<quint32, int> m_byId;     // raw identifier as written -> first message
    int m_current = -1;             // message that SG_ lines belong to
    QHash<QString, AttrDef> m_attrs;
    QList<std::pair<QString, QList<std::pair<qint64, QString>>>> m_tables;   // VAL_TABLE_
    // Units, node names, receiver lists and slot lists repeat on thousands of
    // signals; each is made once and shared, which saves an allocation per
    // signal when loading and a free when the database goes.
    QHash<TextKey, QString> m_sharedTexts;
    QHash<TextKey, QStringList> m_receiverLists;   // by the text of the list
    QHash<TextKey, QList<std::pair<qint64, QString>>> m_valueLists;   // VAL_ lists by their text
    QHash<int, QList<quint8>> m_slotLists;             // by start, length and order
    QString shared(const Quoted &text) { return text.escaped || text.carriageReturn ? text.text() : shared(text.raw); }
    QString shared(QStringView text)
    {
        auto it = m_sharedTexts.find({text});
        if (it == m_sharedTexts.end())
            it = m_sharedTexts.insert({text}, text.toString());
        return it.value();
    }

    // --- characters -----------------------------------------------------
    bool atEnd() const { return m_pos >= m_text.size(); }
    char16_t peek() const { return atEnd() ? 0 : m_text.at(m_pos).unicode(); }
    int column() const { return int(m_pos - m_lineStart) + 1; }
    void advance()
    {
        if (m_text.at(m_pos) == QLatin1Char('\n')) {
            ++m_line;
            m_lineStart = m_pos + 1;
        }
        ++m_pos;
    }
    // Skips white space; within a line only, unless `lines`.
    void skipSpace(bool lines)
    {
        while (!atEnd()) {
            const char16_t c = peek();
            if (!isSpace(c) || (c == '\n' && !lines))
                return;
            advance();
        }
    }
    bool atLineEnd()
    {
        skipSpace(false);
        return atEnd() || peek() == '\n';
    }
    void skipLine()
    {
        while (!atEnd() && peek() != '\n')
            ++m_pos;
    }
    bool take(char c, bool lines = true)
    {
        skipSpace(lines);
        if (peek() == char16_t(c)) {
            advance();
            return true;
        }
        return false;
    }
    QStringView word(bool lines = true)
    {
        skipSpace(lines);
        const qsizetype start = m_pos;
        m_wordLine = m_line;
        m_wordCol = column();
        while (!atEnd() && charClass(peek()) == WordChar)
            ++m_pos;
        return m_text.sliced(start, m_pos - start);
    }
    bool quoted(Quoted *out, bool lines = true);
    bool string(QString *out, bool lines = true);
    bool number(double *out, bool lines = true);
    bool integer(qint64 *out, bool lines = true);

    // --- reporting --------------------------------------------------------
    void warnAt(int line, int col, const QString &message)
    {
        if (m_warnings)
            m_warnings->append(Tr::tr("Zeile %1, Spalte %2: %3").arg(line).arg(col).arg(message));
    }
    void warnHere(const QString &message) { warnAt(m_line, column(), message); }
    void warnLine(int line, const QString &message)
    {
        if (m_warnings)
            m_warnings->append(Tr::tr("Zeile %1: %2").arg(line).arg(message));
    }
    // Moves past the ';' that ends the statement. A line that starts with a
    // keyword ends an unterminated statement too, so that one missing ';'
    // costs one statement and not the rest of the file.
    void skipStatement(bool warnMissing);
    bool keywordAt(qsizetype p) const;
    // The ';' that ends a statement; a missing one is reported, and the
    // statement ends at the next line that starts with a keyword.
    bool endStatement()
    {
        const int line = m_line;
        const int col = column();
        if (take(';'))
            return true;
        warnAt(line, col, Tr::tr("„;“ erwartet"));
        if (m_pos != m_lineStart || !keywordAt(m_pos))
            skipStatement(false);
        return false;
    }

    // --- statements -------------------------------------------------------
    void skipListLines(bool keywords);
    int signalLinesAhead() const;
    void readMessage(int line, int col);
    void readSignal(int line, int col);
    void readComment();
    void readAttrDef(bool relation);
    void readAttrDefault();
    void readAttr();
    void readValueTable();
    void readValues();
    void readValueType();
    void readMuxValues();
    bool readValueList(QList<std::pair<qint64, QString>> *out);

    DbcMessage *messageById(qint64 id, bool warn);
    DbcSignal *signalByName(DbcMessage &message, QStringView name, bool warn);

    // --- building ---------------------------------------------------------
    void finish();
    // Defaults of the attributes the database keeps (BA_DEF_DEF_).
    struct Defaults
    {
        bool hasCycle = false;
        int cycle = 0;
        QString frameFormat;
        double startValue = 0.0;
    };
    Defaults defaults() const;
    void applyAttributes(DbcMessage &message, const Defaults &defaults);
    QString attrText(const AttrDef &def, const QString &valueText, double value) const;
    void buildMessage(DbcMessage &message, const Defaults &defaults);
};

bool Reader::quoted(Quoted *out, bool lines)
{
    skipSpace(lines);
    if (peek() != '"')
        return false;
    advance();
    const qsizetype start = m_pos;
    Quoted result;
    while (!atEnd()) {
        const char16_t c = peek();
        if (c == '\\' && m_pos + 1 < m_text.size() && (m_text.at(m_pos + 1) == QLatin1Char('"') || m_text.at(m_pos + 1) == QLatin1Char('\\'))) {
            result.escaped = true;
            advance();
            advance();
            continue;
        }
        if (c == '"')
            break;
        if (c == '\r')
            result.carriageReturn = true;
        advance();
    }
    if (atEnd()) {
        m_pos = start;
        return false;
    }
    result.raw = m_text.sliced(start, m_pos - start);
    *out = result;
    advance();   // closing quote
    return true;
}

bool Reader::string(QString *out, bool lines)
{
    Quoted text;
    if (!quoted(&text, lines))
        return false;
    *out = text.text();
    return true;
}

bool Reader::number(double *out, bool lines)
{
    skipSpace(lines);
    // Digits, "." and "e", a sign at the start and after the "e". Most
    // numbers of a file are small integers, collected on the way: up to 15
    // digits they are exact in a double, and from_chars would give the same
    // value slower.
    const qsizetype start = m_pos;
    qsizetype end = start;
    bool integral = true;
    quint64 whole = 0;
    for (; end < m_text.size() && end - start < 63; ++end) {
        const char16_t c = m_text[end].unicode();
        if (c >= '0' && c <= '9') {
            whole = whole * 10 + (c - '0');
        } else if (c == '.' || c == 'e' || c == 'E') {
            integral = false;
        } else if (c == '-' || c == '+') {
            const char16_t before = end > start ? m_text[end - 1].unicode() : 0;
            if (end > start && before != 'e' && before != 'E')
                break;
        } else {
            break;
        }
    }
    const QStringView token = m_text.sliced(start, end - start);
    if (token.isEmpty())
        return false;
    const bool negative = token.front() == QLatin1Char('-');
    const qsizetype digits = token.size() - (negative || token.front() == QLatin1Char('+') ? 1 : 0);
    if (integral && digits > 0 && digits <= 15) {
        *out = negative ? -double(whole) : double(whole);
        m_pos = end;
        return true;
    }
    char buffer[64];
    for (qsizetype i = 0; i < token.size(); ++i)
        buffer[i] = char(token[i].unicode());
    const char *first = buffer[0] == '+' ? buffer + 1 : buffer;
    const char *last = buffer + token.size();
    double value = 0.0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value))
        return false;
    *out = value;
    m_pos = end;
    return true;
}

bool Reader::integer(qint64 *out, bool lines)
{
    skipSpace(lines);
    const qsizetype start = m_pos;
    const int line = m_line;
    const qsizetype lineStart = m_lineStart;
    double value = 0.0;
    if (!number(&value, lines) || value != std::floor(value) || std::fabs(value) > 9.2e18) {
        m_pos = start;
        m_line = line;
        m_lineStart = lineStart;
        return false;
    }
    // Beyond 2^53 a double is not exact: read the digits again.
    if (std::fabs(value) >= 9007199254740992.0) {
        const QStringView digits = m_text.mid(start, m_pos - start).trimmed();
        bool ok = false;
        const qint64 exact = digits.toLongLong(&ok);
        *out = ok ? exact : qint64(value);
        return true;
    }
    *out = qint64(value);
    return true;
}

bool Reader::keywordAt(qsizetype p) const
{
    // Upper-case letters and "_", ending in "_", then a blank or ":".
    const qsizetype start = p;
    while (p < m_text.size() && (m_text.at(p).isUpper() || m_text.at(p) == QLatin1Char('_')))
        ++p;
    return p > start + 1 && m_text.at(p - 1) == QLatin1Char('_') && p < m_text.size()
        && (m_text.at(p) == QLatin1Char(' ') || m_text.at(p) == QLatin1Char(':') || m_text.at(p) == QLatin1Char('\t'));
}

void Reader::skipStatement(bool warnMissing)
{
    bool inQuotes = false;
    while (!atEnd()) {
        const char16_t c = peek();
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == ';') {
            advance();
            return;
        } else if (!inQuotes && c == '\n') {
            advance();
            // A keyword at the start of the next line begins a new statement.
            if (keywordAt(m_pos)) {
                if (warnMissing)
                    warnAt(m_line - 1, 1, Tr::tr("„;“ fehlt am Ende der Anweisung"));
                return;
            }
            continue;
        }
        advance();
    }
}

DbcMessage *Reader::messageById(qint64 id, bool warn)
{
    const auto it = m_byId.constFind(quint32(quint64(id)));
    if (it == m_byId.constEnd() || id < 0 || id > 0xFFFFFFFFLL) {
        // The text only when someone collects it: a faulty file names unknown
        // messages and signals thousands of times.
        if (warn && m_warnings)
            warnHere(Tr::tr("Botschaft %1 ist nicht definiert").arg(id));
        return nullptr;
    }
    return &m_messages[size_t(it.value())];
}

DbcSignal *Reader::signalByName(DbcMessage &message, QStringView name, bool warn)
{
    const size_t hash = textHash(name);
    for (DbcSignal &signal : message.signalList) {
        if (signal.nameHash == hash && signal.fileName == name)
            return &signal;
    }
    if (warn && m_warnings)
        warnAt(m_wordLine, m_wordCol, Tr::tr("Signal %1 ist in Botschaft %2 nicht definiert").arg(name.toString(), message.fileName));
    return nullptr;
}

bool Reader::run(QString *error)
{
    while (true) {
        skipSpace(true);
        if (atEnd())
            break;
        const int line = m_line;
        const int col = column();
        if (peek() == '/' && m_text.sliced(m_pos).startsWith(QLatin1String("//"))) {
            // Comment lines as some tools write them.
            skipLine();
            continue;
        }
        const QStringView keyword = word(false);
        if (keyword.isEmpty()) {
            warnHere(Tr::tr("Unerwartetes Zeichen „%1“ – Zeile übersprungen").arg(QString(QChar(peek()))));
            skipLine();
            continue;
        }
        switch (statementOf(keyword)) {
        case Statement::Message:
            m_sawKeyword = true;
            readMessage(line, col);
            break;
        case Statement::Signal:
            readSignal(line, col);
            break;
        case Statement::Comment:
            readComment();
            break;
        case Statement::AttrDef:
            readAttrDef(false);
            break;
        case Statement::RelationAttrDef:
            readAttrDef(true);
            break;
        case Statement::AttrDefault:
            readAttrDefault();
            break;
        case Statement::Attr:
            readAttr();
            break;
        case Statement::Values:
            readValues();
            break;
        case Statement::ValueTable:
            readValueTable();
            break;
        case Statement::ValueType:
            readValueType();
            break;
        case Statement::MuxValues:
            readMuxValues();
            break;
        case Statement::Version: {
            m_sawKeyword = true;
            QString version;
            if (string(&version, false))
                m_db->formatVersion = version;
            skipLine();
            break;
        }
        case Statement::NewSymbols:
            m_sawKeyword = true;
            skipListLines(true);
            break;
        case Statement::Nodes:
            // The node list: the database keeps the names only at messages and signals.
            m_sawKeyword = true;
            skipListLines(false);
            break;
        case Statement::BitTiming:
            // Bit timing, obsolete.
            m_sawKeyword = true;
            skipLine();
            break;
        case Statement::ReadPast:
            // Signal groups, environment variables, relations, categories:
            // read past.
            skipStatement(true);
            break;
        case Statement::Unknown:
            warnAt(line, col, Tr::tr("Unbekanntes Schlüsselwort „%1“ – Zeile übersprungen").arg(keyword.toString()));
            skipLine();
            break;
        }
    }
    if (!m_sawKeyword && m_messages.empty()) {
        if (error)
            *error = Tr::tr("Die Datei ist keine DBC-Datei: weder VERSION noch NS_, BU_ oder BO_ gefunden.");
        return false;
    }
    finish();
    return true;
}

void Reader::skipListLines(bool keywords)
{
    // The names that follow "NS_ :" (optional keywords) or "BU_:" (nodes)
    // on lines of their own, usually indented, up to the first line that
    // starts a statement.
    skipLine();
    while (!atEnd()) {
        const qsizetype start = m_pos + 1;   // m_pos is at the line break
        qsizetype end = start;
        while (end < m_text.size() && m_text.at(end) != QLatin1Char('\n'))
            ++end;
        const QStringView lineText = m_text.mid(start, end - start);
        const QStringView trimmed = lineText.trimmed();
        const bool indented = !lineText.isEmpty() && isSpace(lineText.front().unicode());
        const bool single = !trimmed.contains(QLatin1Char(' ')) && !trimmed.contains(QLatin1Char('\t'))
            && !trimmed.contains(QLatin1Char(':'));
        const bool item = trimmed.isEmpty()
            || (single && (indented || (keywords && (trimmed.endsWith(QLatin1Char('_')) || trimmed == QLatin1String("FILTER")))));
        if (!item)
            return;
        advance();   // the line break
        m_pos = end;
    }
}

// The number of lines starting with SG_ that follow the current line.
int Reader::signalLinesAhead() const
{
    int count = 0;
    qsizetype p = m_pos;
    while (p < m_text.size()) {
        ++p;   // the line break
        while (p < m_text.size() && (m_text[p] == QLatin1Char(' ') || m_text[p] == QLatin1Char('\t')))
            ++p;
        if (!m_text.sliced(p).startsWith(QLatin1String("SG_")))
            break;
        ++count;
        p = m_text.indexOf(QLatin1Char('\n'), p);
        if (p < 0)
            break;
    }
    return count;
}

void Reader::readMessage(int line, int col)
{
    m_current = -1;
    qint64 id = 0;
    if (!integer(&id, false) || id < 0 || id > 0xFFFFFFFFLL) {
        warnHere(Tr::tr("Ungültige CAN-ID in BO_ – Botschaft übersprungen"));
        skipLine();
        return;
    }
    const QStringView name = word(false);
    if (name.isEmpty() || !take(':', false)) {
        warnHere(Tr::tr("Botschaftsname und „:“ erwartet – Botschaft übersprungen"));
        skipLine();
        return;
    }
    qint64 length = 0;
    if (!integer(&length, false) || length < 0 || length > 64) {
        warnHere(Tr::tr("Ungültige Datenlänge in BO_ %1 – Botschaft übersprungen").arg(name.toString()));
        skipLine();
        return;
    }
    const QStringView sender = word(false);
    if (!atLineEnd())
        warnHere(Tr::tr("Unerwarteter Text nach BO_ %1 ignoriert").arg(name.toString()));
    skipLine();

    DbcMessage message;
    message.rawId = quint32(id);
    message.fileName = name.toString();
    message.line = line;
    SymMessage &m = message.msg;
    m.name = message.fileName;
    // Editors park signals that belong to no message in a message of their
    // own with an identifier no frame can have; it is no symbol.
    message.pseudo = message.rawId == 0xC0000000u || message.fileName == QLatin1String("VECTOR__INDEPENDENT_SIG_MSG");
    const bool extended = (quint32(id) & 0x80000000u) != 0;
    quint32 can = quint32(id) & 0x7FFFFFFFu;
    if (can > 0x1FFFFFFFu && !message.pseudo) {
        warnAt(line, col, Tr::tr("BO_ %1: CAN-ID größer als 1FFFFFFFh").arg(message.fileName));
        can &= 0x1FFFFFFFu;
    }
    m.extended = extended;
    if (!extended && can > 0x7FF) {
        // Written without the extended bit: it cannot be a standard identifier.
        warnAt(line, col, Tr::tr("BO_ %1: CAN-ID %2h ohne Extended-Bit 31 – als Extended behandelt")
                              .arg(message.fileName, QString::number(can, 16).toUpper()));
        m.extended = true;
    }
    m.frameType = m.extended ? SymFrameType::Extended : SymFrameType::Standard;
    m.idLow = m.idHigh = can;
    m.length = int(length);
    m.lengthUnspecified = false;
    if (sender != QLatin1String("Vector__XXX"))
        m.sender = shared(sender);
    if (m_byId.contains(message.rawId))
        warnAt(line, col, Tr::tr("BO_ %1: CAN-ID %2 ist bereits definiert").arg(message.fileName).arg(id));
    else
        m_byId.insert(message.rawId, int(m_messages.size()));
    // Room for the signals at once: growing a message by one signal at a
    // time moved its signals several times (8 % of a load, measured).
    const int signalCount = signalLinesAhead();
    message.signalList.reserve(size_t(signalCount));
    message.msg.variables.reserve(signalCount);
    m_current = int(m_messages.size());
    m_messages.push_back(std::move(message));
}

void Reader::readSignal(int line, int col)
{
    if (m_current < 0) {
        warnAt(line, col, Tr::tr("SG_ ohne gültige Botschaft davor – übersprungen"));
        skipLine();
        return;
    }
    DbcMessage &message = m_messages[size_t(m_current)];
    DbcSignal signal;
    const auto fail = [&](const QString &what) {
        warnHere(signal.fileName.isEmpty()
                     ? Tr::tr("SG_ in %1: %2 – Signal übersprungen").arg(message.fileName, what)
                     : Tr::tr("SG_ %1 in %2: %3 – Signal übersprungen").arg(signal.fileName, message.fileName, what));
        skipLine();
    };

    signal.line = line;
    const QStringView name = word(false);
    if (name.isEmpty())
        return fail(Tr::tr("Signalname erwartet"));
    signal.fileName = name.toString();
    // Multiplexing: "M", "m3" or "m3M" between the name and the colon.
    const QStringView mux = word(false);
    if (!mux.isEmpty()) {
        if (mux == QLatin1String("M")) {
            signal.role = MuxRole::Multiplexor;
        } else if (mux.size() >= 2 && mux.front() == QLatin1Char('m')) {
            QStringView digits = mux.mid(1);
            signal.role = MuxRole::Multiplexed;
            if (digits.endsWith(QLatin1Char('M'))) {
                digits.chop(1);
                signal.role = MuxRole::Both;
            }
            bool ok = false;
            signal.muxValue = digits.toLongLong(&ok);
            if (!ok || signal.muxValue < 0)
                return fail(Tr::tr("ungültiger Multiplexwert „%1“").arg(mux.toString()));
        } else {
            return fail(Tr::tr("„:“ oder Multiplexangabe erwartet statt „%1“").arg(mux.toString()));
        }
    }
    if (!take(':', false))
        return fail(Tr::tr("„:“ erwartet"));
    qint64 start = 0;
    qint64 length = 0;
    if (!integer(&start, false) || start < 0 || start > 4095)
        return fail(Tr::tr("Startbit erwartet"));
    if (!take('|', false) || !integer(&length, false) || length < 1 || length > 512)
        return fail(Tr::tr("„|“ und Länge erwartet"));
    if (!take('@', false))
        return fail(Tr::tr("„@“ erwartet"));
    skipSpace(false);
    const char16_t order = peek();
    if (order != '0' && order != '1')
        return fail(Tr::tr("Bytereihenfolge 0 oder 1 erwartet"));
    advance();
    const char16_t sign = peek();
    if (sign != '+' && sign != '-')
        return fail(Tr::tr("Vorzeichen + oder - erwartet"));
    advance();
    double factor = 1.0;
    double offset = 0.0;
    if (!take('(', false) || !number(&factor, false) || !take(',', false) || !number(&offset, false) || !take(')', false))
        return fail(Tr::tr("(Faktor,Offset) erwartet"));
    double minimum = 0.0;
    double maximum = 0.0;
    if (!take('[', false) || !number(&minimum, false) || !take('|', false) || !number(&maximum, false)
        || !take(']', false))
        return fail(Tr::tr("[Min|Max] erwartet"));
    Quoted unit;
    if (!quoted(&unit, false))
        return fail(Tr::tr("Einheit in Anführungszeichen erwartet"));
    skipSpace(false);
    const qsizetype receiversStart = m_pos;
    QVarLengthArray<QStringView, 8> receivers;
    while (!atLineEnd()) {
        if (take(',', false))
            continue;
        const QStringView receiver = word(false);
        if (receiver.isEmpty()) {
            warnHere(Tr::tr("SG_ %1: unerwartetes Zeichen in der Empfängerliste ignoriert").arg(signal.fileName));
            break;
        }
        if (receiver != QLatin1String("Vector__XXX"))
            receivers.append(receiver);
    }
    const QStringView receiversText = m_text.sliced(receiversStart, m_pos - receiversStart);
    skipLine();

    SymVariable &v = message.msg.variables.emplaceBack();
    v.name = signal.fileName;
    v.unit = shared(unit);
    // The signals of a message mostly have the same receivers: one list each.
    auto list = m_receiverLists.find({receiversText});
    if (list == m_receiverLists.end()) {
        QStringList names;
        names.reserve(receivers.size());
        for (QStringView receiver : receivers)
            names.append(shared(receiver));
        list = m_receiverLists.insert({receiversText}, names);
    }
    v.receivers = list.value();
    v.isSigned = sign == '-';
    v.type = v.isSigned ? SymType::Signed : SymType::Unsigned;
    v.factor = factor;
    v.offset = offset;
    if (minimum != 0.0 || maximum != 0.0) {
        v.hasMin = v.hasMax = true;
        v.minimum = minimum;
        v.maximum = maximum;
    }
    v.length = int(length);
    v.motorola = order == '0';
    v.multiplexor = signal.role == MuxRole::Multiplexor || signal.role == MuxRole::Both;
    // The database counts Motorola positions big-endian from the most
    // significant bit; DBC names the slot of that bit, which is the same
    // position mirrored within its byte.
    const int first = v.motorola ? int((start & ~7) + (7 - (start & 7))) : int(start);
    v.startBit = first;
    // Slot lists repeat as often as positions do: one list each.
    const int position = (first << 11) | (int(length) << 1) | (v.motorola ? 1 : 0);
    auto bits = m_slotLists.find(position);
    if (bits == m_slotLists.end())
        bits = m_slotLists.insert(position, SymbolDatabase::bitsFromPosition(first, int(length), v.motorola));
    v.bits = bits.value();
    if (v.bits.isEmpty()) {
        // Kept without bits, so that statements naming it find it.
        message.beyondData.append(signal.fileName);
        signal.beyond = true;
    }
    if (factor == 0.0)
        warnAt(line, col, Tr::tr("SG_ %1: Faktor 0 – jeder Rohwert ergibt den Offset").arg(signal.fileName));
    signal.nameHash = textHash(name);
    for (const DbcSignal &other : message.signalList) {
        if (other.nameHash == signal.nameHash && other.fileName == signal.fileName) {
            warnAt(line, col, Tr::tr("SG_ %1: Signalname in %2 doppelt").arg(signal.fileName, message.fileName));
            break;
        }
    }
    message.signalList.push_back(std::move(signal));
}

void Reader::readComment()
{
    QString text;
    if (string(&text)) {
        m_db->description = text;
        endStatement();
        return;
    }
    const QStringView kind = word();
    if (kind == QLatin1String("BO_") || kind == QLatin1String("SG_")) {
        qint64 id = 0;
        if (!integer(&id)) {
            warnHere(Tr::tr("CM_: CAN-ID erwartet – Kommentar übersprungen"));
            return skipStatement(true);
        }
        DbcMessage *message = messageById(id, true);
        DbcSignal *signal = nullptr;
        if (kind == QLatin1String("SG_")) {
            const QStringView name = word();
            if (message)
                signal = signalByName(*message, name, true);
        }
        if (!string(&text)) {
            warnHere(Tr::tr("CM_: Kommentar in Anführungszeichen erwartet"));
            return skipStatement(true);
        }
        if (signal)
            message->variable(*signal).comment = std::move(text);
        else if (message && kind == QLatin1String("BO_"))
            message->msg.comment = std::move(text);
        endStatement();
        return;
    }
    if (kind == QLatin1String("BU_") || kind == QLatin1String("EV_")) {
        // Comments of nodes and environment variables have no place here.
        return skipStatement(true);
    }
    warnHere(Tr::tr("CM_: unbekannte Art „%1“ – Kommentar übersprungen").arg(kind.toString()));
    skipStatement(true);
}

void Reader::readAttrDef(bool relation)
{
    if (relation) {
        // BA_DEF_REL_ BU_SG_REL_ "name" ...: attributes of relations.
        word();
    } else {
        skipSpace(true);
        if (peek() != '"')
            word();   // BU_, BO_, SG_, EV_ or nothing (network)
    }
    QString name;
    if (!string(&name)) {
        warnHere(Tr::tr("BA_DEF_: Attributname in Anführungszeichen erwartet"));
        return skipStatement(true);
    }
    const QStringView type = word();
    AttrDef def;
    if (type == QLatin1String("INT")) {
        def.type = AttrType::Int;
    } else if (type == QLatin1String("HEX")) {
        def.type = AttrType::Hex;
    } else if (type == QLatin1String("FLOAT")) {
        def.type = AttrType::Float;
    } else if (type == QLatin1String("STRING")) {
        def.type = AttrType::String;
    } else if (type == QLatin1String("ENUM")) {
        def.type = AttrType::Enum;
        QString value;
        while (string(&value)) {
            def.enumValues.append(value);
            if (!take(','))
                break;
        }
    } else {
        warnHere(Tr::tr("BA_DEF_ %1: unbekannter Typ „%2“").arg(name, type.toString()));
        return skipStatement(true);
    }
    // Limits of INT, HEX and FLOAT are not needed.
    skipStatement(true);
    if (!relation) {
        const auto old = m_attrs.constFind(name);
        if (old != m_attrs.constEnd() && old->hasDefault) {
            def.hasDefault = true;
            def.defaultText = old->defaultText;
            def.defaultNumber = old->defaultNumber;
        }
        m_attrs.insert(name, def);
    }
}

void Reader::readAttrDefault()
{
    QString name;
    if (!string(&name)) {
        warnHere(Tr::tr("BA_DEF_DEF_: Attributname in Anführungszeichen erwartet"));
        return skipStatement(true);
    }
    AttrDef &def = m_attrs[name];
    QString text;
    double value = 0.0;
    if (string(&text)) {
        def.defaultText = text;
    } else if (number(&value)) {
        def.defaultNumber = value;
        def.defaultText.clear();
    } else {
        warnHere(Tr::tr("BA_DEF_DEF_ %1: Wert erwartet").arg(name));
        return skipStatement(true);
    }
    def.hasDefault = true;
    endStatement();
}

QString Reader::attrText(const AttrDef &def, const QString &valueText, double value) const
{
    if (!valueText.isEmpty() || def.type == AttrType::String)
        return valueText;
    if (def.type == AttrType::Enum) {
        const qsizetype index = qsizetype(value);
        return index >= 0 && index < def.enumValues.size() && double(index) == value ? def.enumValues.at(index)
                                                                                     : QString();
    }
    return QString();
}

void Reader::readAttr()
{
    Quoted name;
    if (!quoted(&name)) {
        warnHere(Tr::tr("BA_: Attributname in Anführungszeichen erwartet"));
        return skipStatement(true);
    }
    skipSpace(true);
    DbcMessage *message = nullptr;
    DbcSignal *signal = nullptr;
    if (peek() != '"' && !(peek() >= '0' && peek() <= '9') && peek() != '-' && peek() != '.') {
        const QStringView kind = word();
        if (kind == QLatin1String("BO_") || kind == QLatin1String("SG_")) {
            qint64 id = 0;
            if (!integer(&id)) {
                warnHere(Tr::tr("BA_ %1: CAN-ID erwartet").arg(name.text()));
                return skipStatement(true);
            }
            message = messageById(id, true);
            if (kind == QLatin1String("SG_")) {
                const QStringView signalName = word();
                if (message)
                    signal = signalByName(*message, signalName, true);
                if (!signal)
                    return skipStatement(false);
            }
            if (!message)
                return skipStatement(false);
        } else if (kind == QLatin1String("BU_") || kind == QLatin1String("EV_")) {
            return skipStatement(true);
        } else {
            warnHere(Tr::tr("BA_ %1: unbekannte Art „%2“").arg(name.text(), kind.toString()));
            return skipStatement(true);
        }
    }
    Quoted text;
    double value = 0.0;
    if (!quoted(&text) && !number(&value)) {
        warnHere(Tr::tr("BA_ %1: Wert erwartet").arg(name.text()));
        return skipStatement(true);
    }
    if (!endStatement())
        return;
    // Files carry thousands of attributes the database has no place for;
    // they are checked above, and only these few become strings.
    const auto number = [&] { return text.raw.isEmpty() ? value : text.text().toDouble(); };
    if (message && !signal) {
        DbcMessage &m = *message;
        if (name.is(QLatin1String("GenMsgCycleTime"))) {
            m.msg.cycleTime = int(qBound(0.0, number(), 2147483647.0));
            m.hasCycle = true;
        } else if (name.is(QLatin1String("VFrameFormat"))) {
            m.frameFormat = attrText(m_attrs.value(name.text()), text.text(), value);
            m.hasFrameFormat = true;
        } else if (name.is(QLatin1String("SystemMessageLongSymbol")) && !text.text().isEmpty()) {
            m.msg.name = text.text();
            m.hasLongName = true;
        }
    } else if (signal) {
        SymVariable &v = message->variable(*signal);
        if (name.is(QLatin1String("GenSigStartValue"))) {
            signal->hasStartValue = true;
            signal->startValue = number();
        } else if (name.is(QLatin1String("SystemSignalLongSymbol")) && !text.text().isEmpty()) {
            v.name = text.text();
        }
    }
}

bool Reader::readValueList(QList<std::pair<qint64, QString>> *out)
{
    // The texts stay views until the list is complete: many signals have
    // the same list (Off, On, Error, ...), written the same way, and get
    // the list made for the first of them.
    const qsizetype start = m_pos;
    QVarLengthArray<std::pair<qint64, Quoted>, 16> values;
    bool complete = false;
    while (true) {
        skipSpace(true);
        if (peek() == ';') {
            advance();
            complete = true;
            break;
        }
        if (atEnd())
            return false;
        double number = 0.0;
        const int line = m_line;
        const int col = column();
        if (!this->number(&number)) {
            warnHere(Tr::tr("Wert oder „;“ erwartet"));
            skipStatement(true);
            break;
        }
        Quoted text;
        if (!quoted(&text)) {
            warnHere(Tr::tr("Werttext in Anführungszeichen erwartet"));
            skipStatement(true);
            break;
        }
        if (number != std::floor(number) || std::fabs(number) > 9.2e18) {
            warnAt(line, col, Tr::tr("Wert %1 ist keine ganze Zahl – übersprungen").arg(number));
            continue;
        }
        values.append({qint64(number), text});
    }
    if (values.isEmpty())
        return complete;
    const TextKey written{m_text.sliced(start, m_pos - start)};
    auto list = m_valueLists.find(written);
    if (list == m_valueLists.end()) {
        QList<std::pair<qint64, QString>> made;
        made.reserve(values.size());
        for (const auto &value : values)
            made.append({value.first, shared(value.second)});
        list = m_valueLists.insert(written, made);
    }
    *out = list.value();
    return true;
}

void Reader::readValueTable()
{
    const QStringView name = word();
    if (name.isEmpty()) {
        warnHere(Tr::tr("VAL_TABLE_: Name erwartet"));
        return skipStatement(true);
    }
    QList<std::pair<qint64, QString>> values;
    if (readValueList(&values))
        m_tables.append({name.toString(), values});
}

void Reader::readValues()
{
    skipSpace(true);
    if (!(peek() >= '0' && peek() <= '9')) {
        // Value descriptions of an environment variable.
        return skipStatement(true);
    }
    qint64 id = 0;
    if (!integer(&id)) {
        warnHere(Tr::tr("VAL_: CAN-ID erwartet"));
        return skipStatement(true);
    }
    DbcMessage *message = messageById(id, true);
    const QStringView name = word();
    DbcSignal *signal = message ? signalByName(*message, name, true) : nullptr;
    QList<std::pair<qint64, QString>> values;
    if (!readValueList(&values) || !signal)
        return;
    signal->valueTexts = values;
    signal->hasValueTexts = true;
}

void Reader::readValueType()
{
    qint64 id = 0;
    if (!integer(&id)) {
        warnHere(Tr::tr("SIG_VALTYPE_: CAN-ID erwartet"));
        return skipStatement(true);
    }
    DbcMessage *message = messageById(id, true);
    const QStringView name = word();
    DbcSignal *signal = message ? signalByName(*message, name, true) : nullptr;
    take(':');
    qint64 type = 0;
    if (!integer(&type) || type < 0 || type > 2) {
        warnHere(Tr::tr("SIG_VALTYPE_: Typ 0, 1 oder 2 erwartet"));
        return skipStatement(true);
    }
    if (!endStatement() || !signal)
        return;
    signal->valueType = int(type);
}

void Reader::readMuxValues()
{
    qint64 id = 0;
    if (!integer(&id)) {
        warnHere(Tr::tr("SG_MUL_VAL_: CAN-ID erwartet"));
        return skipStatement(true);
    }
    DbcMessage *message = messageById(id, true);
    const QStringView name = word();
    DbcSignal *signal = message ? signalByName(*message, name, true) : nullptr;
    const QStringView parent = word();
    if (parent.isEmpty()) {
        warnHere(Tr::tr("SG_MUL_VAL_: Multiplexor erwartet"));
        return skipStatement(true);
    }
    QList<MuxRange> ranges;
    while (true) {
        skipSpace(true);
        if (peek() == ';')
            break;
        // "3-5": the dash belongs to neither number.
        qint64 low = 0;
        if (!integer(&low) || low < 0) {
            warnHere(Tr::tr("SG_MUL_VAL_: Wertebereich erwartet"));
            return skipStatement(true);
        }
        qint64 high = low;
        skipSpace(true);
        if (peek() == '-') {
            advance();
            if (!integer(&high) || high < low) {
                warnHere(Tr::tr("SG_MUL_VAL_: ungültiger Wertebereich"));
                return skipStatement(true);
            }
        } else if (integer(&high)) {
            // Written "3 -5" would read as a negative end.
            high = -high;
            if (high < low) {
                warnHere(Tr::tr("SG_MUL_VAL_: ungültiger Wertebereich"));
                return skipStatement(true);
            }
        }
        ranges.append({low, high});
        if (!take(','))
            break;
    }
    if (!endStatement() || !signal)
        return;
    if (!signalByName(*message, parent, false)) {
        warnHere(Tr::tr("SG_MUL_VAL_: Multiplexor %1 ist in %2 nicht definiert").arg(parent.toString(), message->fileName));
        return;
    }
    signal->muxParent = parent.toString();
    signal->muxRanges += ranges;
}

// --- building ------------------------------------------------------------

Reader::Defaults Reader::defaults() const
{
    Defaults result;
    const auto cycle = m_attrs.constFind(QStringLiteral("GenMsgCycleTime"));
    if (cycle != m_attrs.constEnd() && cycle->hasDefault) {
        result.hasCycle = true;
        result.cycle = int(qBound(0.0, cycle->defaultText.isEmpty() ? cycle->defaultNumber : cycle->defaultText.toDouble(), 2147483647.0));
    }
    const auto format = m_attrs.constFind(QStringLiteral("VFrameFormat"));
    if (format != m_attrs.constEnd() && format->hasDefault)
        result.frameFormat = attrText(*format, format->defaultText, format->defaultNumber);
    const auto start = m_attrs.constFind(QStringLiteral("GenSigStartValue"));
    if (start != m_attrs.constEnd() && start->hasDefault)
        result.startValue = start->defaultText.isEmpty() ? start->defaultNumber : start->defaultText.toDouble();
    return result;
}

void Reader::applyAttributes(DbcMessage &message, const Defaults &defaults)
{
    SymMessage &m = message.msg;
    if (!message.hasCycle && defaults.hasCycle)
        m.cycleTime = defaults.cycle;
    const QString &format = message.hasFrameFormat ? message.frameFormat : defaults.frameFormat;
    if (format == QLatin1String("J1939PG")) {
        m.frameType = SymFrameType::J1939Pg;
        m.extended = true;
    } else if (format == QLatin1String("StandardCAN_FD") || format == QLatin1String("ExtendedCAN_FD")) {
        m.frameType = m.extended ? SymFrameType::FdExtended : SymFrameType::FdStandard;
    } else if (format == QLatin1String("ExtendedCAN") && !m.extended && message.hasFrameFormat) {
        warnLine(message.line, Tr::tr("BO_ %1: VFrameFormat ExtendedCAN, aber CAN-ID ohne Extended-Bit").arg(message.fileName));
    }
    if (m.length > 8 && m.frameType != SymFrameType::FdStandard && m.frameType != SymFrameType::FdExtended)
        m.frameType = m.extended ? SymFrameType::FdExtended : SymFrameType::FdStandard;

    for (const DbcSignal &signal : message.signalList) {
        const bool hasStart = signal.hasStartValue || defaults.startValue != 0.0;
        if (signal.valueType == 0 && !hasStart)
            continue;
        SymVariable &v = message.variable(signal);
        if (signal.valueType == 1 || signal.valueType == 2) {
            const int wanted = signal.valueType == 1 ? 32 : 64;
            if (v.length == wanted) {
                v.type = signal.valueType == 1 ? SymType::Float : SymType::Double;
                v.isSigned = false;
            } else {
                warnLine(signal.line, Tr::tr("SG_ %1: SIG_VALTYPE_ %2 verlangt %3 Bit – als Ganzzahl gelesen")
                                          .arg(signal.fileName).arg(signal.valueType).arg(wanted));
            }
        }
        if (hasStart) {
            // GenSigStartValue is the raw value; for float signals the number itself.
            const double start = signal.hasStartValue ? signal.startValue : defaults.startValue;
            v.hasDefaultRaw = true;
            if (v.type == SymType::Float)
                v.defaultRaw = SymSyntax::floatPattern(start);
            else if (v.type == SymType::Double)
                v.defaultRaw = SymSyntax::doublePattern(start);
            else
                v.defaultRaw = SymSyntax::roundToInt64(start);
        }
    }
}

// The variants of a multiplexed message: each is the set of multiplexor
// values it requires; more specific variants come before the less specific
// ones they refine, since find() gives equal scores to both and takes the
// earlier one.
struct Constraint
{
    int signal;
    qint64 value;
};

void Reader::buildMessage(DbcMessage &message, const Defaults &defaults)
{
    applyAttributes(message, defaults);
    std::vector<DbcSignal> &list = message.signalList;
    QList<SymVariable> &variables = message.msg.variables;
    if (!message.beyondData.isEmpty()) {
        warnLine(message.line, Tr::tr("BO_ %1: %2 Signal(e) liegen außerhalb der ersten 8 Datenbytes und werden nicht geladen: %3")
                                   .arg(message.fileName).arg(message.beyondData.size())
                                   .arg(message.beyondData.join(QStringLiteral(", "))));
    }

    // SG_MUL_VAL_ makes any signal depend on a multiplexor, also one
    // written "M" or without a multiplex indicator.
    for (DbcSignal &s : list) {
        if (s.muxParent.isEmpty())
            continue;
        if (s.role == MuxRole::Multiplexor)
            s.role = MuxRole::Both;
        else if (s.role == MuxRole::None)
            s.role = MuxRole::Multiplexed;
    }
    // Multiplexors and the multiplexor each multiplexed signal depends on.
    std::vector<int> muxers;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].role == MuxRole::Multiplexor || list[i].role == MuxRole::Both)
            muxers.push_back(int(i));
    }
    const auto indexOf = [&](const QString &name) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].fileName == name)
                return int(i);
        }
        return -1;
    };
    std::vector<int> parent(list.size(), -1);
    std::vector<QList<MuxRange>> ranges(list.size());
    QStringList unmappable;
    int rootMuxers = 0;
    for (int m : muxers) {
        if (list[size_t(m)].role == MuxRole::Multiplexor)
            ++rootMuxers;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        DbcSignal &s = list[i];
        if (s.role != MuxRole::Multiplexed && s.role != MuxRole::Both)
            continue;
        if (!s.muxParent.isEmpty()) {
            const int p = indexOf(s.muxParent);
            if (p < 0 || p == int(i) || !(list[size_t(p)].role == MuxRole::Multiplexor || list[size_t(p)].role == MuxRole::Both)) {
                unmappable.append(s.fileName);
                continue;
            }
            parent[i] = p;
            ranges[i] = s.muxRanges;
        } else if (rootMuxers == 1) {
            for (int m : muxers) {
                if (list[size_t(m)].role == MuxRole::Multiplexor)
                    parent[i] = m;
            }
            ranges[i] = {{s.muxValue, s.muxValue}};
        } else {
            // Without SG_MUL_VAL_ it is unclear which multiplexor selects it.
            unmappable.append(s.fileName);
        }
    }
    // A multiplexor that depends on itself through others cannot be ordered.
    std::vector<int> order;
    {
        std::vector<char> placed(list.size(), 0);
        bool progress = true;
        while (progress) {
            progress = false;
            for (int m : muxers) {
                if (placed[size_t(m)])
                    continue;
                const int p = parent[size_t(m)];
                const bool isRoot = list[size_t(m)].role == MuxRole::Multiplexor;
                if (isRoot || (p >= 0 && placed[size_t(p)])) {
                    placed[size_t(m)] = 1;
                    order.push_back(m);
                    progress = true;
                }
            }
        }
        for (size_t i = 0; i < list.size(); ++i) {
            const int p = parent[i];
            if (p >= 0 && !placed[size_t(p)]) {
                parent[i] = -1;
                unmappable.append(list[i].fileName);
            }
        }
    }
    // Values each multiplexor takes in its children.
    std::map<int, std::vector<qint64>> valuesOf;
    bool tooMany = false;
    for (size_t i = 0; i < list.size(); ++i) {
        if (parent[i] < 0)
            continue;
        std::vector<qint64> &values = valuesOf[parent[i]];
        for (const MuxRange &r : ranges[i]) {
            if (r.high - r.low >= MaxVariants) {
                tooMany = true;
                break;
            }
            for (qint64 v = r.low; v <= r.high; ++v)
                values.push_back(v);
        }
    }
    for (auto &entry : valuesOf) {
        std::sort(entry.second.begin(), entry.second.end());
        entry.second.erase(std::unique(entry.second.begin(), entry.second.end()), entry.second.end());
    }

    const bool multiplexed = !valuesOf.empty();
    std::vector<std::vector<Constraint>> variants;
    if (multiplexed && !tooMany) {
        std::vector<Constraint> current;
        const std::function<void(size_t)> walk = [&](size_t k) {
            if (variants.size() > size_t(MaxVariants)) {
                tooMany = true;
                return;
            }
            if (k == order.size()) {
                variants.push_back(current);
                return;
            }
            const int m = order[k];
            const int p = parent[size_t(m)];
            bool active = list[size_t(m)].role == MuxRole::Multiplexor;
            if (!active && p >= 0) {
                for (const Constraint &c : current) {
                    if (c.signal != p)
                        continue;
                    for (const MuxRange &r : ranges[size_t(m)])
                        active = active || (r.low <= c.value && c.value <= r.high);
                }
            }
            const auto values = valuesOf.find(m);
            if (active && values != valuesOf.end()) {
                for (qint64 value : values->second) {
                    current.push_back({m, value});
                    walk(k + 1);
                    current.pop_back();
                }
            }
            walk(k + 1);
        };
        walk(0);
    }
    if (tooMany) {
        QStringList dropped;
        for (size_t i = 0; i < list.size(); ++i) {
            if (parent[i] >= 0)
                dropped.append(list[i].fileName);
        }
        warnLine(message.line, Tr::tr("BO_ %1: mehr als %2 Multiplex-Varianten – die gemultiplexten Signale werden nicht geladen: %3")
                                   .arg(message.fileName).arg(MaxVariants).arg(dropped.join(QStringLiteral(", "))));
        for (size_t i = 0; i < list.size(); ++i) {
            if (parent[i] >= 0)
                unmappable.removeAll(list[i].fileName);
        }
        std::fill(parent.begin(), parent.end(), -1);
        variants.clear();
    }
    if (!unmappable.isEmpty()) {
        warnLine(message.line, Tr::tr("BO_ %1: Multiplexing nicht abbildbar, Signale nicht geladen: %2")
                                   .arg(message.fileName, unmappable.join(QStringLiteral(", "))));
    }
    const QSet<QString> skip(unmappable.begin(), unmappable.end());

    // Signals present in a variant: those without multiplexor, and those
    // whose multiplexor is set to one of their values (which also makes a
    // multiplexed multiplexor present).
    const auto present = [&](size_t i, const std::vector<Constraint> &constraints) {
        const DbcSignal &s = list[i];
        if (s.beyond || (!skip.isEmpty() && skip.contains(s.fileName)))
            return false;
        if (s.role == MuxRole::None || s.role == MuxRole::Multiplexor)
            return true;
        if (parent[i] < 0)
            return false;
        for (const Constraint &c : constraints) {
            if (c.signal != parent[i])
                continue;
            for (const MuxRange &r : ranges[i]) {
                if (r.low <= c.value && c.value <= r.high)
                    return true;
            }
        }
        return false;
    };

    if (variants.empty())
        variants.push_back({});
    const bool classic = order.size() == 1;
    // A message without variants is the usual case: it becomes the symbol,
    // variables and all, without copying them.
    const bool only = variants.size() == 1 && variants.front().empty();
    for (const std::vector<Constraint> &constraints : variants) {
        bool all = true;
        for (size_t i = 0; i < list.size() && all; ++i)
            all = present(i, constraints);
        QList<SymVariable> kept;
        if (!all) {
            kept.reserve(variables.size());
            for (size_t i = 0; i < list.size(); ++i) {
                if (present(i, constraints))
                    kept.append(variables.at(qsizetype(i)));
            }
        }
        SymMessage m = only ? std::move(message.msg) : message.msg;
        if (!all)
            m.variables = std::move(kept);
        if (!constraints.empty()) {
            QStringList names;
            for (const Constraint &c : constraints) {
                const DbcSignal &s = list[size_t(c.signal)];
                QString text;
                for (const auto &entry : s.valueTexts) {
                    if (entry.first == c.value) {
                        text = entry.second;
                        break;
                    }
                }
                names.append(text.isEmpty() || constraints.size() > 1
                                 ? QStringLiteral("%1=%2").arg(variables.at(c.signal).name).arg(c.value)
                                 : text);
            }
            m.muxName = names.join(QStringLiteral(", "));
            if (classic) {
                const SymVariable &mux = variables.at(constraints.front().signal);
                m.muxBits = mux.bits;
                m.muxMotorola = mux.motorola;
                m.muxValue = quint64(constraints.front().value);
            } else {
                CanFrame maskFrame;
                CanFrame valueFrame;
                for (const Constraint &c : constraints) {
                    const SymVariable &mux = variables.at(c.signal);
                    SymbolDatabase::insert(mux.bits, ~quint64(0), maskFrame);
                    SymbolDatabase::insert(mux.bits, quint64(c.value), valueFrame);
                }
                quint64 mask = 0;
                quint64 value = 0;
                for (int k = 0; k < 8; ++k) {
                    mask |= quint64(maskFrame.data[k]) << (8 * k);
                    value |= quint64(valueFrame.data[k]) << (8 * k);
                }
                m.muxMaskMode = true;
                m.muxMask = mask;
                m.muxValue = value & mask;
            }
        }
        m_db->messages.append(std::move(m));
    }
}

void Reader::finish()
{
    // Enumerations: value tables by their names, value descriptions of a
    // signal by the signal's name (the message's name in front when that is
    // taken). Names are unique without regard to case; the database's
    // upper-case keys are the names taken so far.
    QHash<const std::pair<qint64, QString> *, QMap<qint64, QString>> valueMaps;   // by list
    const auto addEnum = [&](const QString &name, const QList<std::pair<qint64, QString>> &values,
                             const std::function<QString()> &fallback) {
        // Looked up and inserted in one go when the name is free, as it
        // nearly always is.
        QString unique = name;
        const qsizetype before = m_db->enums.size();
        SymEnum *e = &m_db->enums[SymSyntax::upperCased(unique)];
        if (m_db->enums.size() == before) {
            const QString other = fallback();
            unique = other;
            QString key = SymSyntax::upperCased(unique);
            for (int n = 2; m_db->enums.contains(key); ++n) {
                unique = QStringLiteral("%1_%2").arg(other).arg(n);
                key = SymSyntax::upperCased(unique);
            }
            e = &m_db->enums[key];
        }
        e->name = unique;
        // Signals that share a list of values share its map too.
        QMap<qint64, QString> &map = valueMaps[values.constData()];
        if (map.isEmpty()) {
            for (const auto &entry : values) {
                if (!map.contains(entry.first))
                    map.insert(entry.first, entry.second);
            }
        }
        e->values = map;
        return unique;
    };
    qsizetype enumCount = m_tables.size();
    for (const DbcMessage &message : m_messages) {
        for (const DbcSignal &signal : message.signalList)
            enumCount += signal.hasValueTexts ? 1 : 0;
    }
    m_db->enums.reserve(enumCount);
    for (const auto &table : std::as_const(m_tables))
        addEnum(table.first, table.second, [&] { return table.first; });
    for (DbcMessage &message : m_messages) {
        for (DbcSignal &signal : message.signalList) {
            if (!signal.hasValueTexts || signal.valueTexts.isEmpty())
                continue;
            SymVariable &v = message.variable(signal);
            v.enumName = addEnum(v.name, signal.valueTexts, [&] {
                return QStringLiteral("%1_%2").arg(message.msg.name, v.name);
            });
        }
    }
    const Defaults fromDefaults = defaults();
    m_db->messages.reserve(qsizetype(m_messages.size()));
    for (DbcMessage &message : m_messages) {
        if (!message.pseudo)
            buildMessage(message, fromDefaults);
    }
}

} // namespace

namespace DbcFile {

bool isDbc(const QString &path, const QByteArray &content)
{
    if (path.endsWith(QLatin1String(".dbc"), Qt::CaseInsensitive))
        return true;
    // The first word of the content: a symbol file starts with FormatVersion
    // (after comments), a DBC file with one of its own keywords.
    qsizetype i = content.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < content.size() && isSpace(char16_t(quint8(content.at(i)))))
        ++i;
    qsizetype end = i;
    while (end < content.size() && !isSpace(char16_t(quint8(content.at(end)))) && content.at(end) != ':')
        ++end;
    const QByteArray first = content.mid(i, end - i);
    return first == "VERSION" || first == "NS_" || first == "BS_" || first == "BU_" || first == "BO_";
}

bool read(const QByteArray &content, SymbolDatabase *out, QString *error, QStringList *warnings)
{
    const QString text = SymbolFile::Parser::decodeText(content);
    Reader reader(text, out, warnings);
    return reader.run(error);
}

} // namespace DbcFile
