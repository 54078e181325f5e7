// DBC reader, second half: what the statements collected becomes symbols.
// Attributes and their defaults are applied to each message, and a
// multiplexed message becomes one symbol per combination of multiplexor values.
#include "dbcreader_p.h"

namespace DbcRead {

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

} // namespace DbcRead
