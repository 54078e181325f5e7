// Inside of the DBC reader, shared by its files: dbcreader.cpp reads the
// messages and signals, dbcstatements.cpp what refers to them, dbcbuild.cpp
// turns what was read into symbols.
#pragma once

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

namespace DbcRead {

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

inline CharClass charClass(char16_t c)
{
    return c < 128 ? CharClasses[c] : WordChar;
}

inline bool isSpace(char16_t c)
{
    return charClass(c) == SpaceChar;
}

// Keys of the reader's own tables of names. Their hash is the standard
// library's, which took a fraction of qHash's time in the profile of a load;
// the reader looks up a name for nearly every statement.
inline size_t textHash(QStringView text)
{
    return std::hash<std::u16string_view>()(std::u16string_view(text.utf16(), size_t(text.size())));
}

struct TextKey
{
    QStringView text;
    friend bool operator==(TextKey a, TextKey b) { return a.text == b.text; }
};

inline size_t qHash(TextKey key, size_t seed)
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
inline Statement statementOf(QStringView keyword)
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
    bool lineBreak = false;       // holds a line break

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
    int m_statementLine = 1;   // where the statement being read started
    qsizetype m_statementStart = 0;
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
    // Value texts and units stand in decoded lines: line breaks become blanks.
    static QString oneLine(QString text)
    {
        return text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    }
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
    // keywordAt() after the indentation of a line.
    bool keywordLineAt(qsizetype p) const;
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
    // The statement read last, as written, into `list` of the database.
    void keepStatement(QStringList *list);
    void readTransmitters();
    void readComment();
    void readAttrDef(bool relation);
    void readAttrDefault();
    void readAttr();
    void readValueTable();
    // The message identifier and signal name that start VAL_, SIG_VALTYPE_
    // and SG_MUL_VAL_: false (warned, statement skipped) without an
    // identifier; *message or *signal null when unknown (warned).
    bool readSignalRef(const char *keyword, DbcMessage **message, DbcSignal **signal);
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

} // namespace DbcRead
