#include "symbolparser.h"

#include "symsyntax.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <utility>

namespace SymbolFile {

namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the five unassigned
// bytes keep their C1 control code like the Windows converter does.
const char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString fromWindows1252(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const quint8 b = quint8(bytes.at(i));
        out[i] = (b >= 0x80 && b < 0xA0) ? QChar(cp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

// Splits a line at the first "//" outside double quotes.
void splitComment(const QString &line, QString *code, QString *comment)
{
    bool inQuotes = false;
    const qsizetype n = line.size();
    const QChar *c = line.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (c[i] == QLatin1Char('"')) {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c[i] == QLatin1Char('/') && i + 1 < n && c[i + 1] == QLatin1Char('/')) {
            *code = QStringView(line).left(i).trimmed().toString();
            *comment = QStringView(line).mid(i + 2).trimmed().toString();
            return;
        }
    }
    *code = line;
    comment->clear();
}

void appendLine(QString &target, const QString &text)
{
    if (text.isEmpty())
        return;
    if (!target.isEmpty())
        target.append(QLatin1Char('\n'));
    target.append(text);
}

bool isSectionLine(const QString &code)
{
    return code.startsWith(QLatin1Char('{')) && code.endsWith(QLatin1Char('}'));
}

bool parseRangedInteger(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    qint64 v = 0;
    if (!SymSyntax::parseInteger(text, &v) || v < low || v > high)
        return false;
    *value = v;
    return true;
}

// "a", "a..b" or "a-b", all non-negative.
bool parseIdentifier(const QString &value, quint64 *low, quint64 *high)
{
    qint64 a = 0;
    qint64 b = 0;
    const qsizetype dots = value.indexOf(QLatin1String(".."));
    if (dots >= 0) {
        if (!SymSyntax::parseInteger(value.left(dots), &a)
            || !SymSyntax::parseInteger(value.mid(dots + 2), &b))
            return false;
    } else if (SymSyntax::parseInteger(value, &a)) {
        b = a;
    } else {
        const qsizetype dash = value.indexOf(QLatin1Char('-'), 1);
        if (dash < 0 || !SymSyntax::parseInteger(value.left(dash), &a)
            || !SymSyntax::parseInteger(value.mid(dash + 1), &b))
            return false;
    }
    if (a < 0 || b < 0)
        return false;
    *low = quint64(a);
    *high = quint64(b);
    return true;
}

} // namespace

Parser::Parser(SymbolDatabase *out, QStringList *warnings)
    : m_db(out), m_warnings(warnings)
{
}

QString Parser::decodeText(const QByteArray &content)
{
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Symbol files come from Windows editors; the local code page on Linux
    // is UTF-8, so fall back to Windows-1252 explicitly.
    return fromWindows1252(bytes);
}

void Parser::warn(int line, const QString &message)
{
    if (m_warnings)
        m_warnings->append(tr("Zeile %1: %2").arg(line).arg(message));
}

bool Parser::parse(const QStringList &lines, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };

    QString code;
    QString comment;
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        splitComment(lines.at(i), &code, &comment);

        if (code.isEmpty()) {
            if (m_section == Section::Header && m_versionSeen)
                appendLine(m_db->description, comment);
            else if (m_section == Section::Enums && m_enumOpen)
                appendLine(m_enumComment, comment);
            else if (m_section == Section::Symbols && m_symbolOpen)
                appendLine(m_symbol.comment, comment);
            continue;
        }

        if (m_section == Section::Enums && m_enumOpen) {
            handleEnumLine(code, comment, lineNo);
            continue;
        }

        if (isSectionLine(code)) {
            if (!m_versionSeen)
                return fail(tr("Zeile %1: FormatVersion fehlt (erwartet: FormatVersion=5.0 oder 6.0).")
                                .arg(lineNo));
            finishSymbol();
            const QString name = code.mid(1, code.size() - 2).trimmed().toUpper();
            if (name == QLatin1String("ENUMS")) {
                m_section = Section::Enums;
            } else if (name == QLatin1String("VIRTUALVARS") && m_major == 5) {
                m_section = Section::VirtualVars;
            } else if (name == QLatin1String("SIGNALS") && m_major == 6) {
                m_section = Section::Signals;
            } else if (name == QLatin1String("SEND")) {
                m_section = Section::Symbols;
                m_direction = SymDirection::Send;
            } else if (name == QLatin1String("RECEIVE")) {
                m_section = Section::Symbols;
                m_direction = SymDirection::Receive;
            } else if (name == QLatin1String("SENDRECEIVE")) {
                m_section = Section::Symbols;
                m_direction = SymDirection::SendReceive;
            } else {
                warn(lineNo, tr("Abschnitt {%1} gehört nicht zu Format %2 – ignoriert")
                                 .arg(name, QStringLiteral("%1.0").arg(m_major)));
                m_section = Section::Ignored;
            }
            continue;
        }

        const qsizetype eq = code.indexOf(QLatin1Char('='));
        switch (m_section) {
        case Section::Header: {
            if (eq < 1) {
                warn(lineNo, tr("Unbekannte Zeile im Kopfbereich: %1").arg(code));
                break;
            }
            const QString key = code.left(eq).trimmed();
            if (!m_versionSeen && key.compare(QLatin1String("FormatVersion"), Qt::CaseInsensitive) != 0)
                return fail(tr("Zeile %1: FormatVersion fehlt (erwartet: FormatVersion=5.0 oder 6.0 als erste Zeile).")
                                .arg(lineNo));
            QString message;
            if (!handleHeader(key, code.mid(eq + 1), lineNo, &message))
                return fail(tr("Zeile %1: %2").arg(lineNo).arg(message));
            break;
        }
        case Section::Enums:
            handleEnumLine(code, comment, lineNo);
            break;
        case Section::VirtualVars: {
            if (eq < 1 || code.left(eq).trimmed().compare(QLatin1String("Var"), Qt::CaseInsensitive) != 0) {
                warn(lineNo, tr("Variablendefinition 'Var=...' erwartet: %1").arg(code));
                break;
            }
            m_varKind = VirtualVariable;
            SymVariable variable;
            if (parseVariable(code.mid(eq + 1), comment, lineNo, VirtualVariable, &variable))
                m_db->virtualVariables.append(variable);
            break;
        }
        case Section::Signals: {
            if (eq < 1 || code.left(eq).trimmed().compare(QLatin1String("Sig"), Qt::CaseInsensitive) != 0) {
                warn(lineNo, tr("Signaldefinition 'Sig=...' erwartet: %1").arg(code));
                break;
            }
            m_varKind = SignalDefinition;
            SymVariable variable;
            if (!parseVariable(code.mid(eq + 1), comment, lineNo, SignalDefinition, &variable))
                break;
            const QString key = variable.name.toLower();
            if (m_signalIndex.contains(key)) {
                warn(lineNo, tr("Signalname \"%1\" wird bereits verwendet").arg(variable.name));
                break;
            }
            m_signalIndex.insert(key, int(m_db->signalDefinitions.size()));
            m_db->signalDefinitions.append(variable);
            break;
        }
        case Section::Symbols:
            if (code.startsWith(QLatin1Char('[')) && code.endsWith(QLatin1Char(']'))) {
                finishSymbol();
                startSymbol(code, comment);
                m_symbolLine = lineNo;
            } else if (m_symbolOpen) {
                handleSymbolLine(code, comment, lineNo);
            } else {
                warn(lineNo, tr("Zeile außerhalb eines Symbols ignoriert: %1").arg(code));
            }
            break;
        case Section::Ignored:
            break;
        }
    }

    finishSymbol();
    if (m_enumOpen)
        finishEnum(int(lines.size()));
    if (!m_versionSeen)
        return fail(tr("Die Datei enthält keine FormatVersion (erwartet: FormatVersion=5.0 oder 6.0)."));
    if (m_db->uniqueVariables)
        checkUniqueVariables();
    return true;
}

bool Parser::handleHeader(const QString &keyText, const QString &value, int line, QString *message)
{
    const QString key = keyText.toLower();
    const QString trimmed = value.trimmed();
    if (key == QLatin1String("formatversion")) {
        static const QRegularExpression versionPattern(QStringLiteral("^(\\d+)\\.(\\d+)$"));
        const QRegularExpressionMatch match = versionPattern.match(trimmed);
        bool majorOk = false;
        bool minorOk = false;
        const int major = match.hasMatch() ? match.captured(1).toInt(&majorOk) : 0;
        const int minor = match.hasMatch() ? match.captured(2).toInt(&minorOk) : -1;
        if (!majorOk || !minorOk || (major != 5 && major != 6) || minor != 0) {
            *message = tr("Es werden nur FormatVersion=5.0 und 6.0 unterstützt (Datei: %1).").arg(trimmed);
            return false;
        }
        m_versionSeen = true;
        m_major = major;
    } else if (key == QLatin1String("brs")) {
        m_brsDefault = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("title")) {
        m_db->title = SymSyntax::unquote(value);
    } else if (key == QLatin1String("decimalseparator")) {
        const QString v = trimmed.toLower();
        const bool comma = v.startsWith(QLatin1Char(',')) || v.startsWith(QLatin1String("comma"))
            || v.startsWith(QLatin1String("komma"));
        m_db->decimalSeparator = comma ? QLatin1Char(',') : QLatin1Char('.');
    } else if (key == QLatin1String("uniquevariables")) {
        m_db->uniqueVariables = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("floatdecimalplaces")) {
        m_db->floatDecimalPlaces = qBound(0, trimmed.toInt(), 15);
    } else if (key == QLatin1String("floatprecision")) {
        m_db->floatPrecision = qBound(0, trimmed.toInt(), 17);
    } else if (key == QLatin1String("idmask")) {
        qint64 mask = 0;
        if (SymSyntax::parseInteger(value, &mask))
            m_db->idMask = quint32(mask);
        else
            warn(line, tr("Ungültige IDMask: %1").arg(trimmed));
    } else if (key == QLatin1String("oldstyledefaultvalues")) {
        m_oldStyleDefaults = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("muxchar") || key == QLatin1String("muxmasks")
               || key == QLatin1String("valueformat") || key == QLatin1String("byteorder")
               || key == QLatin1String("intformat") || key == QLatin1String("wordformat")
               || key == QLatin1String("longformat") || key == QLatin1String("floatformat")) {
        // Editor settings without meaning for decoding.
    } else {
        warn(line, tr("Unbekannter Schlüssel im Kopfbereich: %1").arg(keyText));
    }
    return true;
}

void Parser::handleEnumLine(const QString &code, const QString &comment, int line)
{
    if (!m_enumOpen) {
        if (!code.startsWith(QLatin1String("enum"), Qt::CaseInsensitive)) {
            warn(line, tr("Schlüsselwort 'Enum' erwartet: %1").arg(code));
            return;
        }
        m_enumOpen = true;
        m_enumText = code;
        m_enumComment.clear();
        m_enumDepth = 0;
        m_enumHasParen = false;
        m_enumInQuotes = false;
    } else {
        m_enumText.append(QLatin1Char(' '));
        m_enumText.append(code);
    }
    appendLine(m_enumComment, comment);

    // Counted per line as it arrives; the same as recounting the whole text,
    // but linear for long definitions that never close.
    for (QChar c : code) {
        if (c == QLatin1Char('"'))
            m_enumInQuotes = !m_enumInQuotes;
        else if (c == QLatin1Char('(')) {
            m_enumHasParen = true;
            if (!m_enumInQuotes)
                ++m_enumDepth;
        } else if (c == QLatin1Char(')') && !m_enumInQuotes)
            --m_enumDepth;
    }
    if (m_enumHasParen && m_enumDepth <= 0)
        finishEnum(line);
}

void Parser::finishEnum(int line)
{
    m_enumOpen = false;
    const QString text = m_enumText.trimmed();
    m_enumText.clear();

    static const QRegularExpression definition(
        QStringLiteral("^enum(?:\\s*=\\s*|\\s+)([^\\s(]+)\\s*\\((.*)\\)\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = definition.match(text);
    if (!match.hasMatch()) {
        warn(line, tr("Ungültige Enum-Definition"));
        return;
    }
    SymEnum result;
    result.name = match.captured(1);
    result.comment = m_enumComment;

    static const QRegularExpression item(
        QStringLiteral("([-+]?\\w+)\\s*(?:\\.\\.\\s*([-+]?\\w+)\\s*)?=\\s*\"([^\"]*)\""));
    const QString body = match.captured(2);
    QRegularExpressionMatchIterator it = item.globalMatch(body);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        qint64 low = 0;
        if (!SymSyntax::parseInteger(m.capturedView(1), &low)) {
            warn(line, tr("Enum %1: ungültiger Wert \"%2\"").arg(result.name, m.captured(1)));
            continue;
        }
        if (m.capturedStart(2) >= 0) {
            qint64 high = 0;
            if (!SymSyntax::parseInteger(m.capturedView(2), &high) || high < low) {
                warn(line, tr("Enum %1: ungültiger Bereich \"%2..%3\"")
                               .arg(result.name, m.captured(1), m.captured(2)));
                continue;
            }
            result.ranges.append(SymEnumRange{low, high, m.captured(3)});
        } else if (!result.values.contains(low)) {
            result.values.insert(low, m.captured(3));
        }
    }

    const QString key = result.name.toUpper();
    if (m_db->enums.contains(key))
        warn(line, tr("Enum-Neudefinition: %1").arg(result.name));
    m_db->enums.insert(key, result);
}

void Parser::startSymbol(const QString &code, const QString &comment)
{
    m_symbol = SymMessage();
    m_symbol.name = SymSyntax::unquote(code.mid(1, code.size() - 2));
    m_symbol.comment = comment;
    m_symbol.direction = m_direction;
    m_symbol.brs = m_brsDefault;
    m_symbolOpen = true;
    m_idGiven = m_typeGiven = m_lengthGiven = m_lengthIsDlc = m_j1939MaskGiven = false;
    m_lengthValue = 0;
    m_j1939Mask = 0;
    m_idLow = m_idHigh = 0;
}

void Parser::handleSymbolLine(const QString &code, const QString &comment, int line)
{
    const qsizetype eq = code.indexOf(QLatin1Char('='));
    if (eq < 1) {
        warn(line, tr("Unbekannte Zeile: %1").arg(code));
        return;
    }
    const QString keyText = code.left(eq).trimmed();
    const QString key = keyText.toLower();
    const QString value = code.mid(eq + 1).trimmed();
    const bool isVariableLine = key == QLatin1String("var") || (m_major == 6 && key == QLatin1String("sig"));
    if (!isVariableLine)
        appendLine(m_symbol.comment, comment);

    qint64 number = 0;
    const auto setCount = [&](int *field) {
        if (parseRangedInteger(value, 0, 2147483647, &number))
            *field = int(number);
        else
            warn(line, tr("Ungültiger Wert für %1: %2").arg(key, value));
    };

    if (key == QLatin1String("id")) {
        quint64 low = 0;
        quint64 high = 0;
        if (parseIdentifier(value, &low, &high)) {
            m_idLow = low;
            m_idHigh = high;
            m_idGiven = true;
        } else {
            warn(line, tr("Ungültige CAN-ID: %1").arg(value));
        }
    } else if (key == QLatin1String("type")) {
        const QString type = value.toLower();
        int frameType = -1;
        if (type == QLatin1String("standard"))
            frameType = SymFrameType::Standard;
        else if (type == QLatin1String("extended"))
            frameType = SymFrameType::Extended;
        else if (type == QLatin1String("j1939pg"))
            frameType = SymFrameType::J1939Pg;
        else if (type == QLatin1String("fdstandard"))
            frameType = SymFrameType::FdStandard;
        else if (type == QLatin1String("fdextended"))
            frameType = SymFrameType::FdExtended;
        if (frameType < 0) {
            warn(line, tr("Unbekannter Symboltyp: %1").arg(value));
            m_typeGiven = false;
            return;
        }
        if (m_major == 5 && (frameType == SymFrameType::FdStandard || frameType == SymFrameType::FdExtended)) {
            warn(line, tr("Typ \"%1\" gehört erst zu Format 6.0 – als klassisches CAN behandelt").arg(value));
            frameType = frameType == SymFrameType::FdStandard ? SymFrameType::Standard : SymFrameType::Extended;
        }
        m_symbol.frameType = frameType;
        m_typeGiven = true;
    } else if (key == QLatin1String("dlc") || key == QLatin1String("len")) {
        if (parseRangedInteger(value, 0, 64, &number)) {
            m_lengthValue = number;
            m_lengthGiven = true;
            m_lengthIsDlc = key == QLatin1String("dlc");
        } else {
            warn(line, tr("Ungültige Datenlänge: %1").arg(value));
        }
    } else if (key == QLatin1String("cycletime") || key == QLatin1String("period")) {
        setCount(&m_symbol.cycleTime);
    } else if (key == QLatin1String("timeout")) {
        setCount(&m_symbol.timeout);
    } else if (key == QLatin1String("mininterval")) {
        setCount(&m_symbol.minInterval);
    } else if (key == QLatin1String("repetitioncount")) {
        setCount(&m_symbol.repetitionCount);
    } else if (key == QLatin1String("startdelay")) {
        setCount(&m_symbol.startDelay);
    } else if (key == QLatin1String("color")) {
        if (parseRangedInteger(value, 0, 0xFFFFFF, &number)) {
            m_symbol.color = quint32(number);
            m_symbol.hasColor = true;
        } else {
            warn(line, tr("Ungültige Farbe: %1").arg(value));
        }
    } else if (key == QLatin1String("multipacket")) {
        m_symbol.multiPacket = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("fastpacket")) {
        m_symbol.fastPacket = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("ignoresource")) {
        m_symbol.ignoreSource = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("brs")) {
        m_symbol.brs = SymSyntax::parseBool(value);
    } else if (key == QLatin1String("j1939mask")) {
        if (SymSyntax::parseInteger(value, &number)) {
            m_j1939Mask = quint64(number);
            m_j1939MaskGiven = true;
        } else {
            warn(line, tr("Ungültige J1939Mask: %1").arg(value));
        }
    } else if (key == QLatin1String("priority") || key == QLatin1String("pgn")) {
        // Part of the identifier already; nothing to keep.
    } else if (key == QLatin1String("mux")) {
        handleMux(value, line);
    } else if (key == QLatin1String("muxmask")) {
        handleMuxMask(value, line);
    } else if (key == QLatin1String("var")) {
        m_varKind = SymbolVariable;
        SymVariable variable;
        if (parseVariable(value, comment, line, SymbolVariable, &variable))
            m_symbol.variables.append(variable);
    } else if (key == QLatin1String("sig")) {
        if (m_major == 6)
            handleSignalAssignment(value, comment, line);
        else
            warn(line, tr("Signalzuweisung (Sig=) gehört zu Format 6.0 – ignoriert"));
    } else {
        warn(line, tr("Unbekannter Schlüssel: %1").arg(keyText));
    }
}

void Parser::handleMux(const QString &value, int line)
{
    const QStringList tokens = SymSyntax::splitQuoted(value);
    qint64 start = 0;
    qint64 length = 0;
    qint64 muxValue = 0;
    if (tokens.size() < 3 || tokens.at(0).isEmpty() || !SymSyntax::parsePosition(tokens.at(1), &start, &length)
        || !SymSyntax::parseInteger(tokens.at(2), &muxValue) || muxValue < 0) {
        warn(line, tr("Ungültige Mux-Zeile (erwartet: Name Startbit,Länge Wert): %1").arg(value));
        return;
    }
    if (m_symbol.muxMaskMode) {
        warn(line, tr("Klassische Multiplexer und Multiplexer-Bitmasken dürfen nicht im selben Symbol stehen"));
        return;
    }
    m_symbol.muxName = tokens.at(0);
    m_symbol.muxValue = quint64(muxValue);
    m_symbol.muxMaskMode = false;
    bool motorola = false;
    for (int i = 3; i < tokens.size(); ++i) {
        const QString flag = tokens.at(i).toLower();
        if (flag == QLatin1String("-m"))
            motorola = true;
        else if (flag == QLatin1String("-o"))
            m_symbol.decodeMode = 2;
        else if (flag == QLatin1String("-v"))
            m_symbol.decodeMode = 1;
        else if (flag == QLatin1String("-t"))
            m_symbol.flagT = true;
        else
            warn(line, tr("Mux %1: unbekannte Angabe \"%2\"").arg(m_symbol.muxName, tokens.at(i)));
    }
    m_symbol.muxMotorola = motorola;
    m_symbol.muxBits = SymbolDatabase::bitsFromPosition(int(qMin<qint64>(start, 65)),
                                                        int(qMin<qint64>(length, 65)), motorola);
    if (length > 0 && m_symbol.muxBits.isEmpty())
        warn(line, tr("[%1]: Multiplexer %2,%3 liegt außerhalb der 64 Datenbits")
                       .arg(m_symbol.name).arg(start).arg(length));
}

void Parser::handleMuxMask(const QString &value, int line)
{
    const QStringList tokens = SymSyntax::splitQuoted(value);
    quint64 muxValue = 0;
    quint64 mask = 0;
    bool ok = tokens.size() >= 2;
    if (ok) {
        const QStringList parts = tokens.at(1).split(QLatin1Char(','));
        ok = parts.size() == 2 && !parts.at(0).trimmed().isEmpty() && !parts.at(1).trimmed().isEmpty()
            && SymSyntax::parseHex(parts.at(0), &muxValue) && SymSyntax::parseHex(parts.at(1), &mask);
    }
    if (!ok) {
        warn(line, tr("Ungültige MuxMask-Zeile (erwartet: Name Wert,Maske): %1").arg(value));
        return;
    }
    if (!m_symbol.muxName.isEmpty() && !m_symbol.muxMaskMode) {
        warn(line, tr("Klassische Multiplexer und Multiplexer-Bitmasken dürfen nicht im selben Symbol stehen"));
        return;
    }
    m_symbol.muxName = tokens.at(0);
    m_symbol.muxMaskMode = true;
    m_symbol.muxMask = mask;
    m_symbol.muxValue = muxValue & mask;
    m_symbol.muxBits.clear();
    m_symbol.muxMotorola = false;
    for (int i = 2; i < tokens.size(); ++i) {
        if (tokens.at(i).compare(QLatin1String("-m"), Qt::CaseInsensitive) == 0)
            m_symbol.muxMotorola = true;
    }
}

void Parser::finishSymbol()
{
    if (!m_symbolOpen)
        return;
    // Warnings point at the line that opened the symbol.
    const int line = m_symbolLine;
    m_symbolOpen = false;
    SymMessage symbol = std::move(m_symbol);
    m_symbol = SymMessage();
    const QString &name = symbol.name;

    // 1. Continuation of an earlier block of the same name.
    const SymMessage *earlier = nullptr;
    const auto byName = m_lastByName.constFind(name);
    if (byName != m_lastByName.constEnd())
        earlier = &m_db->messages.at(byName.value());
    bool j1939MaskGiven = m_j1939MaskGiven;
    quint64 j1939Mask = m_j1939Mask;
    if (earlier) {
        if (!m_idGiven) {
            m_idLow = earlier->idLow;
            m_idHigh = earlier->idHigh;
            if (!m_typeGiven) {
                symbol.extended = earlier->extended;
                symbol.frameType = earlier->frameType;
            }
        } else if (m_idLow != earlier->idLow || m_idHigh != earlier->idHigh) {
            warn(line, tr("[%1]: die CAN-ID weicht von der früheren Definition desselben Symbols ab").arg(name));
        }
        if (symbol.frameType == SymFrameType::J1939Pg && earlier->frameType == SymFrameType::J1939Pg) {
            symbol.multiPacket = symbol.multiPacket || earlier->multiPacket;
            symbol.fastPacket = symbol.fastPacket || earlier->fastPacket;
            symbol.ignoreSource = symbol.ignoreSource || earlier->ignoreSource;
            if (!j1939MaskGiven && earlier->idMask != m_db->idMask && !earlier->ignoreSource) {
                j1939MaskGiven = true;
                j1939Mask = earlier->idMask;
            }
        }
        if (earlier->direction != symbol.direction)
            warn(line, tr("[%1]: Symbol wurde zuerst in einem anderen Abschnitt definiert").arg(name));
    } else if (!m_idGiven) {
        warn(line, tr("Nachricht [%1] hat keine CAN-ID und es gibt keine gleichnamige Nachricht davor – übersprungen")
                       .arg(name));
        return;
    }

    // 2. and 3. Identifier range.
    if ((m_idLow | m_idHigh) > 0x1FFFFFFFu) {
        warn(line, tr("[%1]: CAN-ID größer als 1FFFFFFFh").arg(name));
        m_idLow &= 0x1FFFFFFFu;
        m_idHigh &= 0x1FFFFFFFu;
    }
    if (m_idHigh < m_idLow)
        std::swap(m_idLow, m_idHigh);
    symbol.idLow = quint32(m_idLow);
    symbol.idHigh = quint32(m_idHigh);

    // 4. and 5. Standard or extended.
    if (m_typeGiven) {
        symbol.extended = symbol.frameType != SymFrameType::Standard
            && symbol.frameType != SymFrameType::FdStandard;
    } else if (earlier && earlier->idLow == symbol.idLow && earlier->idHigh == symbol.idHigh) {
        symbol.extended = earlier->extended;
        symbol.frameType = earlier->frameType;
    } else {
        symbol.extended = symbol.idHigh > 0x7FF;
        symbol.frameType = symbol.extended ? SymFrameType::Extended : SymFrameType::Standard;
    }
    if (!symbol.extended && symbol.idHigh > 0x7FF) {
        warn(line, tr("[%1]: Typ passt nicht zur angegebenen Extended-CAN-ID").arg(name));
        symbol.extended = true;
    }

    // 6. Length.
    const bool fd = symbol.frameType == SymFrameType::FdStandard || symbol.frameType == SymFrameType::FdExtended;
    symbol.length = 8;
    symbol.lengthUnspecified = !m_lengthGiven;
    if (m_lengthGiven) {
        const int n = int(m_lengthValue);
        if (n <= 8) {
            symbol.length = n;
        } else if (!m_lengthIsDlc) {
            if (fd) {
                symbol.length = n;
                warn(line, tr("[%1]: CAN FD mit %2 Byte – nur die ersten 8 Datenbytes lassen sich dekodieren")
                               .arg(name).arg(n));
            } else {
                warn(line, tr("[%1]: Datenlänge %2 > 8 ist nur bei CAN FD erlaubt – auf 8 begrenzt").arg(name).arg(n));
            }
        } else if (n <= 15) {
            static const int fdLengths[7] = {12, 16, 20, 24, 32, 48, 64};
            if (fd) {
                symbol.length = fdLengths[n - 9];
                warn(line, tr("[%1]: CAN FD mit %2 Byte – nur die ersten 8 Datenbytes lassen sich dekodieren")
                               .arg(name).arg(symbol.length));
            } else {
                warn(line, tr("[%1]: Datenlänge %2 > 8 ist nur bei CAN FD erlaubt – auf 8 begrenzt").arg(name).arg(n));
            }
        } else {
            warn(line, tr("[%1]: ungültiger Datenlängencode %2").arg(name).arg(n));
        }
    }

    // 7. Mask used for matching.
    symbol.idMask = m_db->idMask;
    if (symbol.frameType == SymFrameType::J1939Pg) {
        if (j1939MaskGiven)
            symbol.idMask = quint32(j1939Mask);
        else if (symbol.ignoreSource)
            symbol.idMask = m_db->idMask & 0xFFFFFF00u;
    }

    // 8. Limits of send symbols.
    if (symbol.direction == SymDirection::Send) {
        if (symbol.timeout >= 1)
            warn(line, tr("[%1]: Timeouts sind für Sendesymbole nicht erlaubt").arg(name));
        if (symbol.idLow != symbol.idHigh)
            warn(line, tr("[%1]: CAN-ID-Bereiche sind nur für Empfangssymbole erlaubt").arg(name));
    }

    // 9. Multiplexer variants of one message must differ. Remembered per name
    // and multiplexer instead of comparing with every earlier block, so that a
    // file with very many variants stays linear; each kind of clash is
    // reported once per block.
    if (!symbol.muxName.isEmpty()) {
        const QString nameKey = name + QChar(0x1F) + symbol.muxName;
        QByteArray muxKey = name.toUtf8();
        muxKey += '\x1F';
        muxKey += symbol.muxMaskMode ? 'k' : 'c';
        muxKey += QByteArray::number(symbol.muxMask) + ',' + QByteArray::number(symbol.muxValue) + ','
            + QByteArray::number(symbol.length) + ',';
        muxKey += QByteArray(reinterpret_cast<const char *>(symbol.muxBits.constData()), symbol.muxBits.size());
        if (m_muxNamesSeen.contains(nameKey)) {
            warn(line, tr("[%1]: Multiplexername \"%2\" wird bereits verwendet").arg(name, symbol.muxName));
        }
        QStringList &users = m_muxValueUsers[muxKey];
        for (const QString &other : std::as_const(users)) {
            if (other != symbol.muxName) {
                warn(line, tr("[%1]: Multiplexerwert wird bereits von \"%2\" verwendet").arg(name, other));
                break;
            }
        }
        // Two distinct names are enough to find one that differs from any later one.
        if (users.size() < 2 && !users.contains(symbol.muxName))
            users.append(symbol.muxName);
        m_muxNamesSeen.insert(nameKey);
    }

    // 10. The list grew line by line; the database keeps it for its whole life.
    symbol.variables.squeeze();
    m_lastByName.insert(name, int(m_db->messages.size()));
    m_db->messages.append(std::move(symbol));
}

void Parser::checkUniqueVariables()
{
    QHash<QString, QString> seen;   // lower-case name -> place of first use
    const auto check = [&](const SymVariable &variable, const QString &place) {
        const QString key = variable.name.toLower();
        const auto it = seen.constFind(key);
        if (it == seen.constEnd())
            seen.insert(key, place);
        else
            warn(0, tr("Variablenname \"%1\" (%2) wird bereits verwendet (%3) – UniqueVariables=True")
                        .arg(variable.name, place, it.value()));
    };
    const QString virtualPlace = tr("virtuelle Variable");
    for (const SymVariable &variable : std::as_const(m_db->virtualVariables))
        check(variable, virtualPlace);
    for (const SymMessage &message : std::as_const(m_db->messages)) {
        const QString place = message.displayName();
        for (const SymVariable &variable : message.variables) {
            if (!variable.fromSignal)
                check(variable, place);
        }
    }
}

} // namespace SymbolFile
