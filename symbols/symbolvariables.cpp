// Variable lines of symbol files: "Var=" inside symbols and in VIRTUALVARS,
// "Sig=" definitions in SIGNALS and their placement into symbols.
#include "symbolparser.h"

#include "symsyntax.h"

#include <cmath>

namespace SymbolFile {

namespace {

bool isDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Decimal digits saturating at a value far beyond any bit position.
qint64 digitsValue(QStringView text)
{
    qint64 v = 0;
    for (QChar c : text)
        v = qMin<qint64>(v * 10 + (c.unicode() - '0'), qint64(1) << 40);
    return v;
}

int defaultLength(int type)
{
    switch (type) {
    case SymType::Bit: return 1;
    case SymType::Char: return 8;
    case SymType::Float: return 32;
    case SymType::Double: return 64;
    default: return 0;
    }
}

bool smallestValueNegative(const SymEnum &e)
{
    return !e.values.isEmpty() && e.values.firstKey() < 0;
}

} // namespace

QString Parser::ownerLabel(VarKind kind) const
{
    switch (kind) {
    case VirtualVariable: return tr("virtuelle Variable");
    case SignalDefinition: return tr("Signaldefinition");
    case SymbolVariable: break;
    }
    return m_symbol.name;
}

bool Parser::parseDouble(QString text, double *value) const
{
    text = text.trimmed();
    if (m_db->decimalSeparator == QLatin1Char(','))
        text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok && value)
        *value = v;
    return ok;
}

bool Parser::parseVariable(const QString &text, const QString &comment, int line, VarKind kind,
                           SymVariable *out)
{
    m_varKind = kind;
    const QString owner = ownerLabel(kind);
    const QStringList tokens = SymSyntax::splitQuoted(text);
    if (tokens.size() < 2 || tokens.at(0).isEmpty()) {
        warn(line, tr("Ungültige Var-Zeile (erwartet: Name Typ%1): %2")
                       .arg(kind == SymbolVariable ? tr(" Startbit,Länge") : QString(), text.trimmed()));
        return false;
    }

    SymVariable variable;
    variable.name = tokens.at(0);
    variable.comment = comment;
    variable.factor = 1.0;
    variable.decimals = -1;

    // Type.
    int next = 2;
    const QString &typeToken = tokens.at(1);
    const QString keyword = typeToken.toLower();
    static const char *const builtin[] = {"bit", "char", "string", "signed", "unsigned", "float", "double", "raw"};
    int type = -1;
    for (int t = 0; t < 8; ++t) {
        if (keyword == QLatin1String(builtin[t]))
            type = t;
    }
    if (type >= 0) {
        variable.type = type;
        variable.isSigned = type == SymType::Signed;
    } else {
        QString enumToken = typeToken;
        if (keyword == QLatin1String("enum") && tokens.size() > 2 && !m_db->enums.contains(QStringLiteral("ENUM"))) {
            enumToken = tokens.at(2);
            next = 3;
        }
        const auto e = m_db->enums.constFind(enumToken.toUpper());
        if (e != m_db->enums.constEnd()) {
            variable.type = SymType::Enum;
            variable.enumName = e->name;
            variable.isSigned = smallestValueNegative(*e);
        } else if (keyword == QLatin1String("int") || keyword == QLatin1String("word")
                   || keyword == QLatin1String("long") || keyword == QLatin1String("longword")
                   || keyword == QLatin1String("dec") || keyword == QLatin1String("hex")) {
            warn(line, tr("[%1] %2: Datentyp \"%3\" wird ab FormatVersion 5 nicht mehr unterstützt")
                           .arg(owner, variable.name, typeToken));
            return false;
        } else {
            warn(line, tr("[%1] %2: unbekannter Datentyp \"%3\" – als unsigned behandelt")
                           .arg(owner, variable.name, enumToken));
            variable.type = SymType::Unsigned;
        }
    }

    // Position.
    qint64 start = -1;
    qint64 length = defaultLength(variable.type);
    // Warnings name the position as the file writes it; the numbers
    // themselves saturate far beyond any bit position.
    QString startText;
    QString lengthText = QString::number(length);
    if (kind == SymbolVariable) {
        if (next >= tokens.size() || !SymSyntax::parsePosition(tokens.at(next), &start, &length)) {
            warn(line, tr("[%1] %2: Startbit,Länge fehlt oder ist ungültig").arg(owner, variable.name));
            return false;
        }
        const QString &position = tokens.at(next);
        startText = position.section(QLatin1Char(','), 0, 0);
        lengthText = position.section(QLatin1Char(','), 1);
        ++next;
    } else if (kind == SignalDefinition && next < tokens.size() && isDigits(tokens.at(next))) {
        length = digitsValue(tokens.at(next));
        lengthText = tokens.at(next);
        ++next;
    }
    variable.startBit = int(start);
    variable.length = int(length);

    bool hasDefault = false;
    QString defaultText;
    parseOptions(variable, tokens, next, line, &hasDefault, &defaultText);

    if (variable.factor == 0.0) {
        warn(line, tr("[%1] %2: Faktor 0 führt zur Division durch Null – Faktor 1 verwendet (Dezimaltrennzeichen prüfen)")
                       .arg(owner, variable.name));
        variable.factor = 1.0;
    }

    if (kind == SignalDefinition) {
        if (length < 1) {
            warn(line, tr("Signal %1: Länge fehlt oder ist ungültig – übersprungen").arg(variable.name));
            return false;
        }
        if (length > 64) {
            warn(line, tr("Signal %1: %2 Bit reichen über die 64 Datenbits (8 Byte) hinaus – übersprungen")
                           .arg(variable.name, lengthText));
            return false;
        }
        if (!checkTypeLength(variable, line))
            return false;
    } else if (kind == SymbolVariable) {
        if (length < 1) {
            warn(line, tr("[%1] %2: Variablen können nicht kürzer als 1 Bit sein").arg(owner, variable.name));
            return false;
        }
        if (start + length > 64) {
            warn(line, tr("[%1] %2: Position %3,%4 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen")
                           .arg(owner, variable.name, startText, lengthText));
            return false;
        }
        if (!checkTypeLength(variable, line))
            return false;
        variable.bits = SymbolDatabase::bitsFromPosition(variable.startBit, variable.length, variable.motorola);
        if (variable.bits.isEmpty()) {
            warn(line, tr("[%1] %2: ungültige Position %3,%4").arg(owner, variable.name, startText, lengthText));
            return false;
        }
    }
    if (kind != VirtualVariable && variable.length == 1)
        variable.isSigned = false;
    if (hasDefault)
        applyDefault(variable, defaultText, line);
    *out = variable;
    return true;
}

void Parser::parseOptions(SymVariable &variable, const QStringList &tokens, int first, int line,
                          bool *hasDefault, QString *defaultText)
{
    const QString owner = ownerLabel(m_varKind);
    for (int i = first; i < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        if (token.size() == 2 && token.at(0) == QLatin1Char('-')) {
            switch (token.at(1).toLower().unicode()) {
            case 'm': variable.motorola = true; break;
            case 'h': variable.displayFormat = 1; break;
            case 'b': variable.displayFormat = 2; break;
            case 'v': variable.decodeMode = 1; break;
            case 'o': variable.decodeMode = 2; break;
            case 's': variable.flagS = true; break;
            case 't': variable.flagT = true; break;
            default:
                warn(line, tr("[%1] %2: unbekanntes Flag \"%3\"").arg(owner, variable.name, token));
                break;
            }
            continue;
        }
        if (!token.startsWith(QLatin1Char('/'))) {
            warn(line, tr("[%1] %2: unerwartetes Token \"%3\"").arg(owner, variable.name, token));
            continue;
        }
        const qsizetype colon = token.indexOf(QLatin1Char(':'));
        const QString name = (colon < 0 ? token.mid(1) : token.mid(1, colon - 1)).toLower();
        const QString value = colon < 0 ? QString() : token.mid(colon + 1);
        double number = 0.0;
        if (name == QLatin1String("u")) {
            variable.unit = value;
        } else if (name == QLatin1String("f")) {
            // "nan" and "inf" read as numbers but scale nothing sensibly.
            if (parseDouble(value, &number) && std::isfinite(number))
                variable.factor = number;
            else
                warn(line, tr("[%1] %2: ungültiger Faktor \"%3\"").arg(owner, variable.name, value));
        } else if (name == QLatin1String("o")) {
            if (parseDouble(value, &number) && std::isfinite(number))
                variable.offset = number;
            else
                warn(line, tr("[%1] %2: ungültiger Offset \"%3\"").arg(owner, variable.name, value));
        } else if (name == QLatin1String("min")) {
            variable.hasMin = parseDouble(value, &number);
            if (variable.hasMin)
                variable.minimum = number;
        } else if (name == QLatin1String("max")) {
            variable.hasMax = parseDouble(value, &number);
            if (variable.hasMax)
                variable.maximum = number;
        } else if (name == QLatin1String("p")) {
            variable.decimals = qBound(0, value.trimmed().toInt(), 15);
        } else if (name == QLatin1String("e")) {
            const auto e = m_db->enums.constFind(value.toUpper());
            if (e == m_db->enums.constEnd()) {
                warn(line, tr("[%1] %2: unbekanntes Enum \"%3\"").arg(owner, variable.name, value));
            } else {
                variable.enumName = e->name;
                if (variable.type != SymType::Enum && smallestValueNegative(*e))
                    variable.isSigned = true;
            }
        } else if (name == QLatin1String("d")) {
            *hasDefault = true;
            *defaultText = value;
        } else if (name == QLatin1String("ln")) {
            variable.longName = value;
        } else if (name == QLatin1String("spn")) {
            variable.spn = value.trimmed().toInt();
        } else if (name == QLatin1String("pos")) {
            // Editor layout hint.
        } else {
            warn(line, tr("[%1] %2: unbekannte Option \"%3\"").arg(owner, variable.name, token));
        }
    }
}

bool Parser::checkTypeLength(SymVariable &variable, int line)
{
    const QString owner = ownerLabel(m_varKind);
    const char *keyword = nullptr;
    if (variable.type == SymType::Char && variable.length != 8)
        keyword = "char";
    else if (variable.type == SymType::Float && variable.length != 32)
        keyword = "float";
    else if (variable.type == SymType::Double && variable.length != 64)
        keyword = "double";
    if (keyword) {
        warn(line, tr("[%1] %2: falsche Bitanzahl für Datentyp '%3' – als unsigned behandelt")
                       .arg(owner, variable.name, QLatin1String(keyword)));
        variable.type = SymType::Unsigned;
        return true;
    }
    if (variable.type == SymType::String || variable.type == SymType::Raw) {
        if (variable.length % 8 != 0 || (variable.startBit != -1 && variable.startBit % 8 != 0)) {
            warn(line, tr("[%1] %2: String/Raw muss an Byte-Grenzen ausgerichtet sein – übersprungen")
                           .arg(owner, variable.name));
            return false;
        }
    }
    if (variable.type == SymType::Signed && variable.length <= 1)
        warn(line, tr("[%1] %2: nicht genügend Bits für Datentyp 'signed'").arg(owner, variable.name));
    return true;
}

void Parser::applyDefault(SymVariable &variable, const QString &text, int line)
{
    const QString owner = ownerLabel(m_varKind);
    const auto invalid = [&]() {
        warn(line, tr("[%1] %2: ungültiger Anfangswert \"%3\"").arg(owner, variable.name, text));
    };

    if (variable.type == SymType::String) {
        variable.defaultText = text;
        variable.hasDefaultText = true;
        return;
    }
    if (variable.type == SymType::Raw) {
        variable.defaultText = text;
        if (variable.defaultText.startsWith(QLatin1Char('r'), Qt::CaseInsensitive))
            variable.defaultText.remove(0, 1);
        variable.hasDefaultText = true;
        return;
    }

    QString rest = text;
    if (variable.type == SymType::Char) {
        if (text.size() == 3 && text.front() == QLatin1Char('\'') && text.back() == QLatin1Char('\'')) {
            const int code = text.at(1).unicode();
            variable.defaultRaw = code > 255 ? 0 : code;
            variable.hasDefaultRaw = true;
            return;
        }
        if (rest.startsWith(QLatin1Char('#')))
            rest.remove(0, 1);
        qint64 value = 0;
        if (!SymSyntax::parseInteger(rest, &value)) {
            invalid();
            return;
        }
        variable.defaultRaw = value & 0xFF;
        variable.hasDefaultRaw = true;
        return;
    }

    if (rest.startsWith(QLatin1Char('#')))
        rest.remove(0, 1);
    double value = 0.0;
    qint64 integer = 0;
    const bool hexInteger = SymSyntax::parseInteger(rest, &integer) && SymSyntax::isHexNotation(rest);
    if (hexInteger)
        value = double(integer);
    else if (!parseDouble(rest, &value)) {
        invalid();
        return;
    }

    double raw = value;
    if (!m_oldStyleDefaults) {
        if (variable.hasMin && value < variable.minimum)
            value = variable.minimum;
        if (variable.hasMax && value > variable.maximum)
            value = variable.maximum;
        raw = (value - variable.offset) / variable.factor;
    }

    if (variable.type == SymType::Float) {
        variable.defaultRaw = SymSyntax::floatPattern(raw);
    } else if (variable.type == SymType::Double) {
        variable.defaultRaw = SymSyntax::doublePattern(raw);
    } else if (m_oldStyleDefaults && hexInteger) {
        variable.defaultRaw = integer;   // exact, also beyond 2^53
    } else {
        variable.defaultRaw = SymSyntax::roundToInt64(raw);
    }
    variable.hasDefaultRaw = true;
}

void Parser::handleSignalAssignment(const QString &value, const QString &comment, int line)
{
    m_varKind = SymbolVariable;
    const QStringList tokens = SymSyntax::splitQuoted(value);
    qint64 start = -1;
    if (tokens.size() < 2 || tokens.at(0).isEmpty() || !SymSyntax::parseInteger(tokens.at(1), &start)
        || start < 0) {
        warn(line, tr("Ungültige Sig-Zeile (erwartet: Name Startbit): %1").arg(value));
        return;
    }
    const auto index = m_signalIndex.constFind(tokens.at(0).toLower());
    if (index == m_signalIndex.constEnd()) {
        warn(line, tr("[%1] Signal \"%2\" ist in {SIGNALS} nicht definiert").arg(m_symbol.name, tokens.at(0)));
        return;
    }

    SymVariable variable = m_db->signalDefinitions.at(index.value());
    variable.fromSignal = true;
    if (!comment.isEmpty())
        variable.comment = comment;
    bool hasDefault = false;
    QString defaultText;
    parseOptions(variable, tokens, 2, line, &hasDefault, &defaultText);

    const QString &owner = m_symbol.name;
    const QString &startText = tokens.at(1);
    // Compared without adding: a start bit near 2^63 must not overflow.
    if (start > 64 - qint64(variable.length)) {
        warn(line, tr("[%1] %2: Position %3,%4 reicht über die 64 Datenbits (8 Byte) hinaus – übersprungen")
                       .arg(owner, variable.name, startText).arg(variable.length));
        return;
    }
    // The start bit is set before the type check so that a String/Raw signal
    // placed off a byte boundary is refused like a misaligned "Var=" line.
    variable.startBit = int(start);
    if (!checkTypeLength(variable, line))
        return;
    variable.bits = SymbolDatabase::bitsFromPosition(variable.startBit, variable.length, variable.motorola);
    if (variable.bits.isEmpty()) {
        warn(line, tr("[%1] %2: ungültige Position %3,%4").arg(owner, variable.name, startText).arg(variable.length));
        return;
    }
    if (variable.length == 1)
        variable.isSigned = false;
    if (hasDefault)
        applyDefault(variable, defaultText, line);
    m_symbol.variables.append(variable);
}

} // namespace SymbolFile
