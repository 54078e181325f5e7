#pragma once

#include "symbolfile.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace SymbolFile {

// Reads the lines of a symbol file into a database; used only by
// SymbolDatabase::load. Line structure, sections, enumerations and symbols are
// in symbolparser.cpp, the variable lines in symbolvariables.cpp.
class Parser
{
    Q_DECLARE_TR_FUNCTIONS(SymbolDatabase)

public:
    enum VarKind { SymbolVariable = 0, VirtualVariable = 1, SignalDefinition = 2 };

    Parser(SymbolDatabase *out, QStringList *warnings);

    bool parse(const QStringList &lines, QString *error);
    int majorVersion() const { return m_major; }

    // File text: BOM removed, UTF-8, or Windows-1252 when it is not valid UTF-8.
    static QString decodeText(const QByteArray &content);

private:
    enum class Section { Header, Enums, VirtualVars, Signals, Symbols, Ignored };

    void warn(int line, const QString &message);
    bool handleHeader(const QString &key, const QString &value, int line, QString *message);
    void handleEnumLine(const QString &code, const QString &comment, int line);
    void finishEnum(int line);
    void startSymbol(const QString &code, const QString &comment);
    void handleSymbolLine(const QString &code, const QString &comment, int line);
    void handleMux(const QString &value, int line);
    void handleMuxMask(const QString &value, int line);
    void handleSignalAssignment(const QString &value, const QString &comment, int line);
    void finishSymbol();   // warnings name the line that opened the symbol
    void checkUniqueVariables();

    // Variable lines.
    bool parseVariable(const QString &text, const QString &comment, int line, VarKind kind,
                       SymVariable *out);
    void parseOptions(SymVariable &variable, const QStringList &tokens, int first, int line,
                      bool *hasDefault, QString *defaultText);
    bool checkTypeLength(SymVariable &variable, int line);
    void applyDefault(SymVariable &variable, const QString &text, int line);
    bool parseDouble(QString text, double *value) const;
    QString ownerLabel(VarKind kind) const;

    SymbolDatabase *m_db;
    QStringList *m_warnings;

    Section m_section = Section::Header;
    bool m_versionSeen = false;
    int m_major = 0;

    // Header settings.
    bool m_brsDefault = false;
    bool m_oldStyleDefaults = false;

    // Symbol being built.
    bool m_symbolOpen = false;
    int m_symbolLine = 0;
    SymMessage m_symbol;
    bool m_idGiven = false;
    bool m_typeGiven = false;
    bool m_lengthGiven = false;
    bool m_lengthIsDlc = false;
    bool m_j1939MaskGiven = false;
    qint64 m_lengthValue = 0;
    quint64 m_j1939Mask = 0;
    quint64 m_idLow = 0;   // wider than the record's fields, so oversized identifiers are seen
    quint64 m_idHigh = 0;
    int m_direction = SymDirection::SendReceive;
    VarKind m_varKind = SymbolVariable;

    // Enumeration being collected.
    bool m_enumOpen = false;
    QString m_enumText;
    QString m_enumComment;
    int m_enumDepth = 0;
    bool m_enumHasParen = false;
    bool m_enumInQuotes = false;

    QHash<QString, int> m_signalIndex;             // lower-case name -> signalDefinitions
    QHash<QString, int> m_lastByName;               // name -> latest index into messages
    QSet<QString> m_muxNamesSeen;                   // name + multiplexer name
    QHash<QByteArray, QStringList> m_muxValueUsers; // name + multiplexer -> up to two multiplexer names
};

} // namespace SymbolFile
