// DBC reader: statements of a DBC file into the symbol database. Messages
// (BO_) and signals (SG_) are collected first (here); comments, attributes,
// value descriptions and value types that follow refer to them by
// identifier and name (dbcstatements.cpp), and are applied when the whole
// file has been read (dbcbuild.cpp). Multiplexed messages become one symbol
// per combination of multiplexor values.
#include "dbcfile.h"
#include "dbcreader_p.h"

#include "symbolparser.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace DbcRead {

bool Reader::quoted(Quoted *out, bool lines)
{
    skipSpace(lines);
    if (peek() != '"')
        return false;
    advance();
    const qsizetype start = m_pos;
    const int line = m_line;
    const qsizetype lineStart = m_lineStart;
    Quoted result;
    while (!atEnd()) {
        const char16_t c = peek();
        // A text may span lines, but a line that starts a statement means
        // the closing quote is missing: the text ends before it.
        if (c == '\n' && keywordLineAt(m_pos + 1)) {
            m_pos = m_text.size();
            break;
        }
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
        else if (c == '\n')
            result.lineBreak = true;
        advance();
    }
    if (atEnd()) {
        m_pos = start;
        m_line = line;
        m_lineStart = lineStart;
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

bool Reader::keywordLineAt(qsizetype p) const
{
    while (p < m_text.size() && (m_text.at(p) == QLatin1Char(' ') || m_text.at(p) == QLatin1Char('\t')))
        ++p;
    return keywordAt(p);
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
        } else if (c == '\n') {
            advance();
            // A keyword at the start of the next line begins a new statement,
            // also after an unterminated quote.
            if (keywordLineAt(m_pos)) {
                if (warnMissing)
                    warnLine(m_statementLine, Tr::tr("„;“ fehlt am Ende der Anweisung"));
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
        m_statementLine = line;
        m_statementStart = m_pos;
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
        case Statement::Nodes: {
            // The node list, with nodes that neither send nor receive.
            m_sawKeyword = true;
            const qsizetype start = m_pos;
            skipListLines(false);
            const QString names = m_text.sliced(start, m_pos - start).toString().replace(QLatin1Char(':'), QLatin1Char(' '));
            m_db->dbcNodes += names.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            break;
        }
        case Statement::BitTiming:
            // Bit timing, obsolete.
            m_sawKeyword = true;
            skipLine();
            break;
        case Statement::ReadPast:
            // Signal groups, environment variables, relations, categories:
            // kept as written.
            if (keyword == QLatin1String("BO_TX_BU_")) {
                readTransmitters();
                break;
            }
            skipStatement(true);
            keepStatement(keyword == QLatin1String("BA_DEF_DEF_REL_") ? &m_db->dbcDefinitions : &m_db->dbcStatements);
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

void Reader::keepStatement(QStringList *list)
{
    QString text = m_text.sliced(m_statementStart, m_pos - m_statementStart).trimmed().toString();
    text.remove(QLatin1Char('\r'));
    if (!text.endsWith(QLatin1Char(';')))
        text += QLatin1Char(';');
    list->append(text);
}

void Reader::readTransmitters()
{
    // BO_TX_BU_ 123 : ECU1,ECU2;
    qint64 id = 0;
    if (!integer(&id)) {
        warnHere(Tr::tr("BO_TX_BU_: CAN-ID erwartet"));
        return skipStatement(true);
    }
    DbcMessage *message = messageById(id, true);
    take(':');
    QStringList names;
    while (true) {
        const QStringView name = word();
        if (name.isEmpty())
            break;
        names.append(shared(name));
        if (!take(','))
            break;
    }
    if (!endStatement() || !message)
        return;
    for (const QString &name : std::as_const(names)) {
        if (!message->msg.transmitters.contains(name))
            message->msg.transmitters.append(name);
    }
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
    v.unit = unit.lineBreak ? oneLine(unit.text()) : shared(unit);
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

} // namespace DbcRead

namespace DbcFile {

bool isDbc(const QString &path, const QByteArray &content)
{
    if (path.endsWith(QLatin1String(".dbc"), Qt::CaseInsensitive))
        return true;
    // The first word of the content: a symbol file starts with FormatVersion
    // (after comments), a DBC file with one of its own keywords.
    qsizetype i = content.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < content.size() && DbcRead::isSpace(char16_t(quint8(content.at(i)))))
        ++i;
    qsizetype end = i;
    while (end < content.size() && !DbcRead::isSpace(char16_t(quint8(content.at(end)))) && content.at(end) != ':')
        ++end;
    const QByteArray first = content.mid(i, end - i);
    return first == "VERSION" || first == "NS_" || first == "BS_" || first == "BU_" || first == "BO_";
}

namespace {

// Text of a file that is not valid UTF-8. Files edited with tools of both
// kinds hold UTF-8 with a few Windows-1252 bytes: valid UTF-8 sequences stay
// UTF-8 then, and each other byte is read as Windows-1252, its line named.
// A file without any multi-byte UTF-8 sequence is plain Windows-1252.
QString decodeMixed(const QByteArray &bytes, QList<int> *faultLines)
{
    QString text;
    text.reserve(bytes.size());
    bool anyUtf8 = false;
    int line = 1;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const quint8 b = quint8(bytes.at(i));
        if (b < 0x80) {
            if (b == '\n' || (b == '\r' && (i + 1 == n || bytes.at(i + 1) != '\n')))
                ++line;
            text += QChar(b);
            ++i;
            continue;
        }
        const int length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
        if (length > 0 && i + length <= n) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString sequence = utf8.decode(QByteArrayView(bytes).sliced(i, length));
            if (!utf8.hasError() && !sequence.isEmpty()) {
                anyUtf8 = true;
                text += sequence;
                i += length;
                continue;
            }
        }
        if (faultLines->isEmpty() || faultLines->constLast() != line)
            faultLines->append(line);
        text += QString(SymbolFile::Parser::decodeText(QByteArray(1, char(b))));
        ++i;
    }
    if (!anyUtf8)
        faultLines->clear();
    return text;
}

} // namespace

bool read(const QByteArray &content, SymbolDatabase *out, QString *error, QStringList *warnings)
{
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    QList<int> faultLines;
    if (utf8.hasError())
        text = decodeMixed(bytes, &faultLines);
    // Line ends of old Mac tools (CR alone) are line breaks too.
    if (text.contains(QLatin1Char('\r')) && text.count(QLatin1Char('\r')) != text.count(QLatin1String("\r\n"))) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i) == QLatin1Char('\r') && (i + 1 == text.size() || text.at(i + 1) != QLatin1Char('\n')))
                text[i] = QLatin1Char('\n');
        }
    }
    if (warnings) {
        QStringList lines;
        for (int line : std::as_const(faultLines).mid(0, 12))
            lines.append(QString::number(line));
        if (!faultLines.isEmpty())
            warnings->append(DbcRead::Tr::tr("UTF-8 mit einzelnen Windows-1252-Zeichen gemischt – diese als Windows-1252 gelesen (Zeile %1)")
                                 .arg(lines.join(QStringLiteral(", "))));
    }
    DbcRead::Reader reader(text, out, warnings);
    return reader.run(error);
}

} // namespace DbcFile
