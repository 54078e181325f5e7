// Symbol file writer (format 6.0): enumerations, then the symbols in their
// sections, each variant of a multiplexed message as a block of its own.
#include "dbcfile.h"

#include "symsyntax.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>

#include <cmath>

namespace {

class Tr
{
    Q_DECLARE_TR_FUNCTIONS(SymFile)
};

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

bool needsQuotes(const QString &text)
{
    if (text.isEmpty())
        return true;
    for (QChar c : text) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('='))
            return true;
    }
    return text.startsWith(QLatin1Char('-'));
}

class Writer
{
public:
    Writer(const SymbolDatabase &db, QStringList *warnings) : m_db(db), m_warnings(warnings) {}
    QByteArray run();

private:
    const SymbolDatabase &m_db;
    QStringList *m_warnings;
    QHash<QString, QStringList> m_findings;
    QStringList m_order;
    QHash<QString, QString> m_enumNames;   // upper-case database name -> name written

    void note(const QString &what, const QString &name)
    {
        QStringList &names = m_findings[what];
        if (!names.contains(name))
            names.append(name);
        if (!m_order.contains(what))
            m_order.append(what);
    }
    // Text without double quotes and line breaks, which the format cannot
    // escape: a line break would end the line in the middle of its value.
    QString clean(const QString &text, const QString &owner)
    {
        QString copy = text;
        if (copy.contains(QLatin1Char('\n')) || copy.contains(QLatin1Char('\r'))) {
            note(Tr::tr("Zeilenumbrüche in Namen und Texten als Leerzeichen geschrieben"), owner);
            copy = oneLine(copy);
        }
        if (!copy.contains(QLatin1Char('"')))
            return copy;
        note(Tr::tr("Anführungszeichen in Namen und Texten als ' geschrieben"), owner);
        return copy.replace(QLatin1Char('"'), QLatin1Char('\''));
    }
    QString token(const QString &text, const QString &owner)
    {
        const QString cleaned = clean(text, owner);
        return needsQuotes(cleaned) ? QLatin1Char('"') + cleaned + QLatin1Char('"') : cleaned;
    }
    static QString oneLine(const QString &text)
    {
        QString copy = text;
        return copy.replace(QLatin1String("\r\n"), QLatin1String(" "))
            .replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
    QString variableLine(const SymMessage &message, const SymVariable &v);
    // DBC attributes the symbol file carries in keys of its own.
    static bool carried(const QString &name)
    {
        return name == QLatin1String("GenMsgCycleTime") || name == QLatin1String("VFrameFormat")
            || name == QLatin1String("GenSigStartValue") || name == QLatin1String("SystemMessageLongSymbol")
            || name == QLatin1String("SystemSignalLongSymbol");
    }
};

QString Writer::variableLine(const SymMessage &message, const SymVariable &v)
{
    const QString owner = QStringLiteral("%1.%2").arg(message.displayName(), v.name);
    QString type;
    switch (v.type) {
    case SymType::Bit: type = QStringLiteral("bit"); break;
    case SymType::Char: type = QStringLiteral("char"); break;
    case SymType::String: type = QStringLiteral("string"); break;
    case SymType::Signed: type = QStringLiteral("signed"); break;
    case SymType::Float: type = QStringLiteral("float"); break;
    case SymType::Double: type = QStringLiteral("double"); break;
    case SymType::Raw: type = QStringLiteral("raw"); break;
    case SymType::Enum: type = m_enumNames.value(v.enumName.toUpper()); break;
    default: type = QStringLiteral("unsigned"); break;
    }
    if (v.type == SymType::Enum && type.isEmpty())
        type = v.isSigned ? QStringLiteral("signed") : QStringLiteral("unsigned");
    // Signedness comes from the type; an unsigned one with a negative
    // enumeration value would turn signed, and a 1-bit one cannot be signed.
    if (v.isSigned && v.type != SymType::Signed && v.type != SymType::Enum && v.type != SymType::Float
        && v.type != SymType::Double)
        type = QStringLiteral("signed");
    if (v.isSigned && v.bits.size() == 1)
        note(Tr::tr("Vorzeichenbehaftete 1-Bit-Signale (Werte 0 und -1) als unsigned geschrieben"), owner);

    // Position in the format's numbering: Motorola counts from the most
    // significant bit big-endian.
    int start = v.bits.constFirst();
    if (v.motorola) {
        const int msb = v.bits.constLast();
        start = (msb & ~7) + (7 - (msb & 7));
    }
    if (SymbolDatabase::bitsFromPosition(start, int(v.bits.size()), v.motorola) != v.bits) {
        note(Tr::tr("Variablen ohne zusammenhängende Bitposition nicht darstellbar – übersprungen"), owner);
        return QString();
    }
    QString line = QStringLiteral("Var=%1 %2 %3,%4").arg(token(v.name, owner), token(type, owner)).arg(start).arg(v.bits.size());
    if (v.motorola)
        line += QStringLiteral(" -m");
    if (v.displayFormat == 1)
        line += QStringLiteral(" -h");
    else if (v.displayFormat == 2)
        line += QStringLiteral(" -b");
    if (v.decodeMode == 1)
        line += QStringLiteral(" -v");
    else if (v.decodeMode == 2)
        line += QStringLiteral(" -o");
    if (v.flagS)
        line += QStringLiteral(" -s");
    if (v.flagT)
        line += QStringLiteral(" -t");
    if (!v.unit.isEmpty())
        line += QLatin1Char(' ') + token(QStringLiteral("/u:") + v.unit, owner);
    if (v.factor != 1.0) {
        if (v.factor == 0.0)
            note(Tr::tr("Faktor 0 (in Symboldateien als 1 gelesen)"), owner);
        line += QStringLiteral(" /f:") + number(v.factor);
    }
    if (v.offset != 0.0)
        line += QStringLiteral(" /o:") + number(v.offset);
    if (v.hasMin)
        line += QStringLiteral(" /min:") + number(v.minimum);
    if (v.hasMax)
        line += QStringLiteral(" /max:") + number(v.maximum);
    if (v.decimals >= 0)
        line += QStringLiteral(" /p:%1").arg(v.decimals);
    if (v.spn)
        line += QStringLiteral(" /spn:%1").arg(v.spn);
    if (!v.longName.isEmpty())
        line += QLatin1Char(' ') + token(QStringLiteral("/ln:") + v.longName, owner);
    if (!v.enumName.isEmpty() && v.type != SymType::Enum) {
        const QString name = m_enumNames.value(v.enumName.toUpper());
        if (!name.isEmpty())
            line += QStringLiteral(" /e:") + name;
    }
    if (v.hasDefaultRaw && v.factor != 0.0) {
        // Initial values are physical: the raw value scaled.
        const double physical = SymbolDatabase::physicalFromRaw(v, v.defaultRaw);
        const double back = v.type == SymType::Float || v.type == SymType::Double
            ? physical
            : (physical - v.offset) / v.factor;
        if ((v.hasMin && physical < v.minimum) || (v.hasMax && physical > v.maximum)
            || (v.type != SymType::Float && v.type != SymType::Double && SymSyntax::roundToInt64(back) != v.defaultRaw))
            note(Tr::tr("Anfangswerte außerhalb der Grenzen oder nicht genau darstellbar"), owner);
        line += QStringLiteral(" /d:") + number(physical);
    } else if (v.hasDefaultText) {
        line += QLatin1Char(' ') + token(QStringLiteral("/d:") + v.defaultText, owner);
    }
    if (!v.comment.isEmpty())
        line += QStringLiteral(" // ") + oneLine(v.comment);
    if (!v.receivers.isEmpty())
        note(Tr::tr("Empfänger (DBC-Knoten) nicht in Symboldateien darstellbar"), owner);
    return line;
}

QByteArray Writer::run()
{
    QString out = QStringLiteral("FormatVersion=6.0\n");
    if (!m_db.title.isEmpty())
        out += QStringLiteral("Title=\"%1\"\n").arg(clean(m_db.title, QStringLiteral("Title")));
    for (const QString &line : m_db.description.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out += QStringLiteral("// %1\n").arg(line);

    // Enumerations: names the format can read back ("Enum=Name(...)").
    QStringList keys = m_db.enums.keys();
    keys.sort();
    if (!keys.isEmpty()) {
        out += QStringLiteral("\n{ENUMS}\n");
        QHash<QString, bool> used;
        for (const QString &key : std::as_const(keys)) {
            const SymEnum &e = m_db.enums.value(key);
            QString name = e.name;
            for (QChar &c : name) {
                if (c.isSpace() || c == QLatin1Char('(') || c == QLatin1Char('"') || c == QLatin1Char('=') || c == QLatin1Char('/'))
                    c = QLatin1Char('_');
            }
            if (name.isEmpty())
                name = QStringLiteral("Enum");
            const QString base = name;
            for (int n = 2; used.contains(name.toUpper()); ++n)
                name = QStringLiteral("%1_%2").arg(base).arg(n);
            used.insert(name.toUpper(), true);
            m_enumNames.insert(key, name);
            QStringList items;
            for (auto it = e.values.constBegin(); it != e.values.constEnd(); ++it)
                items.append(QStringLiteral("%1=\"%2\"").arg(it.key()).arg(clean(it.value(), e.name)));
            for (const SymEnumRange &r : e.ranges)
                items.append(QStringLiteral("%1..%2=\"%3\"").arg(r.low).arg(r.high).arg(clean(r.text, e.name)));
            out += QStringLiteral("Enum=%1(%2)").arg(name, items.join(QStringLiteral(", ")));
            if (!e.comment.isEmpty())
                out += QStringLiteral(" // ") + oneLine(e.comment);
            out += QLatin1Char('\n');
        }
    }

    static const char *const sections[] = {"SENDRECEIVE", "SEND", "RECEIVE"};
    static const int directions[] = {SymDirection::SendReceive, SymDirection::Send, SymDirection::Receive};
    for (int s = 0; s < 3; ++s) {
        bool opened = false;
        for (const SymMessage &m : m_db.messages) {
            if (m.direction != directions[s])
                continue;
            if (!opened) {
                out += QStringLiteral("\n{%1}\n").arg(QLatin1String(sections[s]));
                opened = true;
            }
            const QString owner = m.displayName();
            QString name = clean(m.name, owner);
            if (name.contains(QLatin1Char(']'))) {
                note(Tr::tr("Zeichen ] und \" in Symbolnamen ersetzt"), owner);
                name.replace(QLatin1Char(']'), QLatin1Char(')'));
            }
            out += QStringLiteral("\n[%1]\n").arg(name);
            const QString hex = QString::number(m.idLow, 16).toUpper() + QLatin1Char('h');
            out += m.idLow == m.idHigh ? QStringLiteral("ID=%1\n").arg(hex)
                                       : QStringLiteral("ID=%1-%2h\n").arg(hex, QString::number(m.idHigh, 16).toUpper());
            static const char *const types[] = {"Standard", "Extended", "J1939PG", "FDStandard", "FDExtended"};
            out += QStringLiteral("Type=%1\n").arg(QLatin1String(types[qBound(0, m.frameType, 4)]));
            if (!m.lengthUnspecified)
                out += QStringLiteral("Len=%1\n").arg(m.length);
            if (m.cycleTime)
                out += QStringLiteral("CycleTime=%1\n").arg(m.cycleTime);
            if (m.timeout)
                out += QStringLiteral("Timeout=%1\n").arg(m.timeout);
            if (m.minInterval)
                out += QStringLiteral("MinInterval=%1\n").arg(m.minInterval);
            if (m.repetitionCount)
                out += QStringLiteral("RepetitionCount=%1\n").arg(m.repetitionCount);
            if (m.startDelay)
                out += QStringLiteral("StartDelay=%1\n").arg(m.startDelay);
            if (m.hasColor)
                out += QStringLiteral("Color=%1h\n").arg(QString::number(m.color, 16).toUpper());
            if (m.brs)
                out += QStringLiteral("BRS=1\n");
            if (m.multiPacket)
                out += QStringLiteral("MultiPacket=1\n");
            if (m.fastPacket)
                out += QStringLiteral("FastPacket=1\n");
            if (m.ignoreSource)
                out += QStringLiteral("IgnoreSource=1\n");
            if (m.frameType == SymFrameType::J1939Pg && m.idMask != m_db.idMask && !m.ignoreSource)
                out += QStringLiteral("J1939Mask=%1h\n").arg(QString::number(m.idMask, 16).toUpper());
            QString flags;
            if (m.muxMotorola)
                flags += QStringLiteral(" -m");
            if (m.decodeMode == 1)
                flags += QStringLiteral(" -v");
            else if (m.decodeMode == 2)
                flags += QStringLiteral(" -o");
            if (m.flagT)
                flags += QStringLiteral(" -t");
            if (m.muxMaskMode) {
                out += QStringLiteral("MuxMask=%1 %2,%3%4\n")
                           .arg(token(m.muxName, owner), QString::number(m.muxValue & m.muxMask, 16).toUpper(),
                                QString::number(m.muxMask, 16).toUpper(), flags);
            } else if (!m.muxBits.isEmpty()) {
                int start = m.muxBits.constFirst();
                if (m.muxMotorola) {
                    const int msb = m.muxBits.constLast();
                    start = (msb & ~7) + (7 - (msb & 7));
                }
                out += QStringLiteral("Mux=%1 %2,%3 %4%5\n").arg(token(m.muxName, owner)).arg(start).arg(m.muxBits.size())
                           .arg(m.muxValue).arg(flags);
            } else if (!m.muxName.isEmpty()) {
                note(Tr::tr("Multiplexer ohne Position übergangen"), owner);
            }
            if (!m.sender.isEmpty())
                note(Tr::tr("Sender (DBC-Knoten) nicht in Symboldateien darstellbar"), owner);
            if (!m.transmitters.isEmpty())
                note(Tr::tr("Weitere Sender (BO_TX_BU_) nicht in Symboldateien darstellbar"), owner);
            for (auto it = m.attributes.constBegin(); it != m.attributes.constEnd(); ++it) {
                if (!carried(it.key()))
                    note(Tr::tr("DBC-Attribute nicht in Symboldateien darstellbar"), it.key());
            }
            for (const SymVariable &v : m.variables) {
                for (auto it = v.attributes.constBegin(); it != v.attributes.constEnd(); ++it) {
                    if (!carried(it.key()))
                        note(Tr::tr("DBC-Attribute nicht in Symboldateien darstellbar"), it.key());
                }
            }
            for (const QString &line : m.comment.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                out += QStringLiteral("// %1\n").arg(line);
            for (const SymVariable &v : m.variables) {
                if (v.bits.isEmpty())
                    continue;
                const QString line = variableLine(m, v);
                if (!line.isEmpty())
                    out += line + QLatin1Char('\n');
            }
        }
    }
    // What only a DBC file holds, counted by kind.
    QMap<QString, int> statements;
    for (const QString &statement : m_db.dbcStatements) {
        QString kind = statement.section(QLatin1Char(' '), 0, 0);
        if (kind == QLatin1String("CM_") || kind == QLatin1String("BA_"))
            kind += QLatin1Char(' ') + statement.section(QLatin1Char(' '), 1, 1, QString::SectionSkipEmpty);
        if (kind.startsWith(QLatin1String("BA_ \"")))
            kind = QStringLiteral("BA_");
        ++statements[kind];
    }
    for (auto it = statements.constBegin(); it != statements.constEnd(); ++it)
        note(Tr::tr("DBC-Anweisungen nicht in Symboldateien darstellbar"), QStringLiteral("%1 (%2)").arg(it.key()).arg(it.value()));
    for (const QString &statement : m_db.dbcDefinitions) {
        if (!statement.startsWith(QLatin1String("BA_DEF_DEF_")) && !carried(statement.section(QLatin1Char('"'), 1, 1)))
            note(Tr::tr("DBC-Attributdefinitionen nicht in Symboldateien darstellbar"), statement.section(QLatin1Char('"'), 1, 1));
    }
    if (!m_db.dbcNodes.isEmpty())
        note(Tr::tr("DBC-Knotenliste (BU_) nicht in Symboldateien darstellbar"), m_db.dbcNodes.join(QStringLiteral(", ")));
    if (!m_db.virtualVariables.isEmpty() || !m_db.signalDefinitions.isEmpty())
        note(Tr::tr("Virtuelle Variablen und Signaldefinitionen nur als platzierte Variablen geschrieben"),
             QStringLiteral("%1").arg(m_db.virtualVariables.size() + m_db.signalDefinitions.size()));

    if (m_warnings) {
        for (const QString &what : std::as_const(m_order)) {
            const QStringList &names = m_findings.value(what);
            QString list = QStringList(names.mid(0, 12)).join(QStringLiteral(", "));
            if (names.size() > 12)
                list += Tr::tr(" und %1 weitere").arg(names.size() - 12);
            m_warnings->append(QStringLiteral("%1: %2").arg(what, list));
        }
    }
    // UTF-8 reads back everywhere; the reader tells it from Windows-1252.
    return out.toUtf8();
}

} // namespace

namespace SymFile {

QByteArray write(const SymbolDatabase &db, QStringList *warnings)
{
    Writer writer(db, warnings);
    return writer.run();
}

bool canWrite(const SymbolDatabase &db, QString *error)
{
    if (!db.messages.isEmpty())
        return true;
    if (error)
        *error = Tr::tr("Die Datenbank enthält keine Botschaften; eine Symboldatei ohne Symbole lässt sich nicht wieder laden.");
    return false;
}

} // namespace SymFile
