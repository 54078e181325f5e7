// DBC reader: the statements that refer to messages and signals read
// before them (comments, attribute definitions and values, value
// descriptions and tables, value types, multiplexor value ranges).
#include "dbcreader_p.h"

namespace DbcRead {

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
        // Comments of nodes and environment variables: kept as written.
        skipStatement(true);
        return keepStatement(&m_db->dbcStatements);
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
    // Limits of INT, HEX and FLOAT are not needed; the definition is kept.
    skipStatement(true);
    keepStatement(&m_db->dbcDefinitions);
    if (!relation) {
        if (def.type == AttrType::Enum)
            m_db->dbcAttributeEnums.insert(name, def.enumValues);
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
    skipSpace(true);
    const qsizetype valueStart = m_pos;
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
    m_db->dbcAttributeDefaults.insert(name, m_text.sliced(valueStart, m_pos - valueStart).toString());
    endStatement();
    keepStatement(&m_db->dbcDefinitions);
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
            skipStatement(true);
            return keepStatement(&m_db->dbcStatements);
        } else {
            warnHere(Tr::tr("BA_ %1: unbekannte Art „%2“").arg(name.text(), kind.toString()));
            return skipStatement(true);
        }
    }
    Quoted text;
    double value = 0.0;
    skipSpace(true);
    const qsizetype valueStart = m_pos;
    if (!quoted(&text) && !number(&value)) {
        warnHere(Tr::tr("BA_ %1: Wert erwartet").arg(name.text()));
        return skipStatement(true);
    }
    const QStringView written = m_text.sliced(valueStart, m_pos - valueStart);
    if (!endStatement())
        return;
    // Every value is kept as written; names and values repeat, made once each.
    if (message && !signal)
        message->msg.attributes.insert(shared(name), shared(written));
    else if (signal)
        message->variable(*signal).attributes.insert(shared(name), shared(written));
    else
        keepStatement(&m_db->dbcStatements);
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
        const int lineBefore = m_line;
        skipSpace(true);
        if (peek() == ';') {
            advance();
            complete = true;
            break;
        }
        // The end, or the next statement on a line of its own: the ';' is
        // missing, and the values so far count.
        if (atEnd() || (m_line != lineBefore && keywordLineAt(m_lineStart))) {
            warnLine(m_statementLine, Tr::tr("„;“ fehlt am Ende der Anweisung"));
            break;
        }
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
            made.append({value.first, value.second.lineBreak ? oneLine(value.second.text()) : shared(value.second)});
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

bool Reader::readSignalRef(const char *keyword, DbcMessage **message, DbcSignal **signal)
{
    qint64 id = 0;
    if (!integer(&id)) {
        warnHere(Tr::tr("%1: CAN-ID erwartet").arg(QLatin1String(keyword)));
        skipStatement(true);
        return false;
    }
    *message = messageById(id, true);
    const QStringView name = word();
    *signal = *message ? signalByName(**message, name, true) : nullptr;
    return true;
}

void Reader::readValues()
{
    skipSpace(true);
    if (!(peek() >= '0' && peek() <= '9')) {
        // Value descriptions of an environment variable: kept as written.
        skipStatement(true);
        return keepStatement(&m_db->dbcStatements);
    }
    DbcMessage *message = nullptr;
    DbcSignal *signal = nullptr;
    if (!readSignalRef("VAL_", &message, &signal))
        return;
    QList<std::pair<qint64, QString>> values;
    if (!readValueList(&values) || !signal)
        return;
    signal->valueTexts = values;
    signal->hasValueTexts = true;
}

void Reader::readValueType()
{
    DbcMessage *message = nullptr;
    DbcSignal *signal = nullptr;
    if (!readSignalRef("SIG_VALTYPE_", &message, &signal))
        return;
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
    DbcMessage *message = nullptr;
    DbcSignal *signal = nullptr;
    if (!readSignalRef("SG_MUL_VAL_", &message, &signal))
        return;
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

} // namespace DbcRead
