// DBC writer: the symbols of a database as DBC messages. The variants of a
// multiplexed message (symbols of the same name and identifier) become one
// message again, with its multiplexors and the multiplexed signals.
#include "dbcfile.h"

#include "symsyntax.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

namespace {

class Tr
{
    Q_DECLARE_TR_FUNCTIONS(DbcFile)
};

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString quoted(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Names of the same kind collected for one warning each.
class Findings
{
public:
    void add(const QString &what, const QString &name)
    {
        auto &names = m_items[what];
        if (!names.contains(name))
            names.append(name);
        if (!m_order.contains(what))
            m_order.append(what);
    }
    void flush(QStringList *warnings) const
    {
        if (!warnings)
            return;
        for (const QString &what : m_order) {
            const QStringList &names = m_items.value(what);
            QString list = QStringList(names.mid(0, 12)).join(QStringLiteral(", "));
            if (names.size() > 12)
                list += Tr::tr(" und %1 weitere").arg(names.size() - 12);
            warnings->append(QStringLiteral("%1: %2").arg(what, list));
        }
    }

private:
    QHash<QString, QStringList> m_items;
    QStringList m_order;
};

// Position of a slot list that is one run of bits: DBC start bit (Intel: the
// least significant bit, Motorola: the most significant, both as slots).
bool dbcPosition(const QList<quint8> &bits, bool motorola, int *start)
{
    if (bits.isEmpty())
        return false;
    if (!motorola) {
        *start = bits.constFirst();
        return SymbolDatabase::bitsFromPosition(*start, int(bits.size()), false) == bits;
    }
    const int msb = bits.constLast();
    const int position = (msb & ~7) + (7 - (msb & 7));
    *start = msb;
    return SymbolDatabase::bitsFromPosition(position, int(bits.size()), true) == bits;
}

// A field of the data that selects variants.
struct MuxField
{
    QList<quint8> bits;
    bool motorola = false;
    int signal = -1;          // index into the group's signals; -1 until placed
};

struct OutSignal
{
    SymVariable var;
    QString name;             // DBC identifier
    QString muxText;          // "M", "m3", "m3M" or empty
    std::vector<int> variants;
    int field = -1;           // this signal is that multiplexor field
};

struct Group
{
    QList<const SymMessage *> variants;
};

} // namespace

namespace DbcFile {

// A DBC identifier: letters, digits and "_", not starting with a digit.
QString identifier(const QString &name)
{
    QString out;
    out.reserve(name.size() + 1);
    for (QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
        out += ok ? c : QLatin1Char('_');
    }
    if (out.isEmpty() || (out.at(0) >= QLatin1Char('0') && out.at(0) <= QLatin1Char('9')))
        out.prepend(QLatin1Char('_'));
    return out;
}

QByteArray write(const SymbolDatabase &db, QStringList *warnings)
{
    Findings findings;
    QString out;
    out += QStringLiteral("VERSION %1\n\n\nNS_ :\n").arg(quoted(db.fileFormat == SymFileFormat::Dbc ? db.formatVersion : QString()));
    for (const char *keyword : {"NS_DESC_", "CM_", "BA_DEF_", "BA_", "VAL_", "CAT_DEF_", "CAT_", "FILTER", "BA_DEF_DEF_",
                                "EV_DATA_", "ENVVAR_DATA_", "SGTYPE_", "SGTYPE_VAL_", "BA_DEF_SGTYPE_", "BA_SGTYPE_",
                                "SIG_TYPE_REF_", "VAL_TABLE_", "SIG_GROUP_", "SIG_VALTYPE_", "SIGTYPE_VALTYPE_",
                                "BO_TX_BU_", "BA_DEF_REL_", "BA_REL_", "BA_DEF_DEF_REL_", "BU_SG_REL_", "BU_EV_REL_",
                                "BU_BO_REL_", "SG_MUL_VAL_"})
        out += QStringLiteral("\t%1\n").arg(QLatin1String(keyword));
    out += QStringLiteral("\nBS_:\n\n");

    // Nodes the file listed, then those named as senders and receivers.
    QStringList nodes;
    for (const QString &node : db.dbcNodes) {
        if (!nodes.contains(identifier(node)))
            nodes.append(identifier(node));
    }
    for (const SymMessage &m : db.messages) {
        if (!m.sender.isEmpty() && !nodes.contains(identifier(m.sender)))
            nodes.append(identifier(m.sender));
        for (const SymVariable &v : m.variables) {
            for (const QString &r : v.receivers) {
                if (!nodes.contains(identifier(r)))
                    nodes.append(identifier(r));
            }
        }
    }
    out += QStringLiteral("BU_: %1\n\n").arg(nodes.join(QLatin1Char(' ')));

    // Value tables: enumerations no signal names (DBC attaches value
    // descriptions to signals; the others keep their names here).
    QSet<QString> usedEnums;
    for (const SymMessage &m : db.messages) {
        for (const SymVariable &v : m.variables) {
            if (!v.enumName.isEmpty())
                usedEnums.insert(v.enumName.toUpper());
        }
    }
    const auto valuesOf = [&](const SymEnum &e, const QString &owner) {
        QString text;
        for (auto it = e.values.constBegin(); it != e.values.constEnd(); ++it)
            text += QStringLiteral(" %1 %2").arg(it.key()).arg(quoted(it.value()));
        for (const SymEnumRange &range : e.ranges) {
            if (range.high - range.low >= 256) {
                findings.add(Tr::tr("Wertebereiche über mehr als 256 Werte nicht in DBC darstellbar"),
                             QStringLiteral("%1 (%2..%3)").arg(owner).arg(range.low).arg(range.high));
                continue;
            }
            findings.add(Tr::tr("Wertebereiche als Einzelwerte geschrieben"), owner);
            for (qint64 value = range.low; value <= range.high; ++value) {
                if (!e.values.contains(value))
                    text += QStringLiteral(" %1 %2").arg(value).arg(quoted(range.text));
            }
        }
        if (!e.comment.isEmpty())
            findings.add(Tr::tr("Kommentare von Enums nicht in DBC darstellbar"), e.name);
        return text;
    };
    {
        QStringList names = db.enums.keys();
        names.sort();
        for (const QString &key : std::as_const(names)) {
            if (usedEnums.contains(key))
                continue;
            const SymEnum &e = db.enums.value(key);
            out += QStringLiteral("VAL_TABLE_ %1%2 ;\n").arg(identifier(e.name), valuesOf(e, e.name));
        }
        out += QLatin1Char('\n');
    }

    // Variants of one message: same name, identifier and frame format.
    QList<Group> groups;
    {
        QHash<QString, int> byKey;
        for (const SymMessage &m : db.messages) {
            const QString key = QStringLiteral("%1|%2|%3").arg(m.name).arg(m.idLow).arg(m.extended);
            const auto it = byKey.constFind(key);
            if (it == byKey.constEnd()) {
                byKey.insert(key, int(groups.size()));
                groups.append(Group{{&m}});
            } else {
                groups[it.value()].variants.append(&m);
            }
        }
    }

    QString comments;
    QString attributes;
    QString transmitters;
    // Attributes the database keeps in records of its own are written from
    // those; kept definitions and defaults of them are used as they are.
    QSet<QString> keptDefinitions;
    for (const QString &statement : db.dbcDefinitions) {
        if (!statement.startsWith(QLatin1String("BA_DEF_DEF_")))
            keptDefinitions.insert(statement.section(QLatin1Char('"'), 1, 1));
    }
    const auto keptDefault = [&](const char *name) {
        return db.dbcAttributeDefaults.contains(QLatin1String(name));
    };
    const auto ownAttribute = [](const QString &name) {
        return name == QLatin1String("GenMsgCycleTime") || name == QLatin1String("VFrameFormat")
            || name == QLatin1String("SystemMessageLongSymbol") || name == QLatin1String("GenSigStartValue")
            || name == QLatin1String("SystemSignalLongSymbol");
    };
    QString valueTexts;
    QString valueTypes;
    QString muxValues;
    QSet<QString> messageNames;
    bool anyCycle = false;
    bool anyStart = false;
    bool anyFormat = false;

    for (const Group &group : std::as_const(groups)) {
        const SymMessage &first = *group.variants.constFirst();
        QString name = identifier(first.name);
        if (name != first.name)
            findings.add(Tr::tr("Namen als DBC-Bezeichner geschrieben"), first.name);
        for (int n = 2; messageNames.contains(name); ++n)
            name = identifier(first.name) + QStringLiteral("_%1").arg(n);
        messageNames.insert(name);

        if (first.idLow != first.idHigh)
            findings.add(Tr::tr("CAN-ID-Bereiche nicht in DBC darstellbar – nur die erste CAN-ID geschrieben"), first.name);
        if (first.idMask != db.idMask || (db.idMask != 0xFFFFFFFFu && db.idMask != (first.extended ? 0x1FFFFFFFu : 0x7FFu)))
            findings.add(Tr::tr("CAN-ID-Masken nicht in DBC darstellbar"), first.name);
        if (first.lengthUnspecified)
            findings.add(Tr::tr("Symbole ohne Längenangabe als 8 Byte geschrieben"), first.name);
        if (first.direction != SymDirection::SendReceive)
            findings.add(Tr::tr("Richtung (Abschnitt SEND/RECEIVE) nicht in DBC darstellbar"), first.name);
        for (const SymMessage *m : group.variants) {
            if (m->timeout || m->minInterval || m->repetitionCount || m->startDelay || m->hasColor || m->multiPacket
                || m->fastPacket || m->ignoreSource || m->decodeMode || m->flagT || m->brs)
                findings.add(Tr::tr("Symboleigenschaften (Timeout, Farbe, J1939-Angaben, Anzeige) nicht in DBC darstellbar"),
                             m->displayName());
        }

        // Fields that select the variants.
        QList<MuxField> fields;
        std::vector<std::vector<std::pair<int, quint64>>> constraints(size_t(group.variants.size()));
        for (qsizetype vi = 0; vi < group.variants.size(); ++vi) {
            const SymMessage &m = *group.variants.at(vi);
            if (m.muxName.isEmpty() && m.muxBits.isEmpty() && !m.muxMaskMode)
                continue;
            if (!m.muxMaskMode) {
                if (m.muxBits.isEmpty())
                    continue;
                int f = -1;
                for (int i = 0; i < fields.size(); ++i) {
                    if (fields.at(i).bits == m.muxBits)
                        f = i;
                }
                if (f < 0) {
                    fields.append({m.muxBits, m.muxMotorola, -1});
                    f = int(fields.size()) - 1;
                }
                constraints[size_t(vi)].push_back({f, m.muxValue});
                continue;
            }
            // A mask over the data: the multiplexor signals it covers, or
            // one run of bits of its own.
            CanFrame valueFrame;
            for (int k = 0; k < 8; ++k)
                valueFrame.data[m.muxMotorola ? 7 - k : k] = quint8((m.muxValue & m.muxMask) >> (8 * k));
            CanFrame maskFrame;
            for (int k = 0; k < 8; ++k)
                maskFrame.data[m.muxMotorola ? 7 - k : k] = quint8(m.muxMask >> (8 * k));
            QList<quint8> maskSlots;
            for (int slot = 0; slot < 64; ++slot) {
                if (maskFrame.data[slot / 8] & (1u << (slot % 8)))
                    maskSlots.append(quint8(slot));
            }
            // The multiplexors it covers: signals marked as such, else (a
            // symbol file keeps no mark) the variant's variables that lie
            // inside the mask without overlapping.
            QSet<quint8> covered;
            std::vector<const SymVariable *> picks;
            for (int pass = 0; pass < 2 && covered.size() != maskSlots.size(); ++pass) {
                covered.clear();
                picks.clear();
                for (const SymVariable &v : m.variables) {
                    if ((pass == 0 && !v.multiplexor) || v.bits.isEmpty())
                        continue;
                    bool inside = true;
                    for (quint8 slot : v.bits)
                        inside = inside && maskSlots.contains(slot) && !covered.contains(slot);
                    if (!inside)
                        continue;
                    picks.push_back(&v);
                    for (quint8 slot : v.bits)
                        covered.insert(slot);
                }
            }
            std::vector<std::pair<int, quint64>> chosen;
            if (covered.size() == maskSlots.size()) {
                for (const SymVariable *v : picks) {
                    int f = -1;
                    for (int i = 0; i < fields.size(); ++i) {
                        if (fields.at(i).bits == v->bits)
                            f = i;
                    }
                    if (f < 0) {
                        fields.append({v->bits, v->motorola, -1});
                        f = int(fields.size()) - 1;
                    }
                    chosen.push_back({f, SymbolDatabase::extract(v->bits, valueFrame)});
                }
            }
            if (covered.size() != maskSlots.size()) {
                // One run of bits, little-endian or big-endian.
                QList<quint8> run = maskSlots;
                int start = 0;
                bool motorola = m.muxMotorola;
                if (!dbcPosition(run, false, &start)) {
                    // Big-endian order of the same slots, least significant first.
                    QList<quint8> big;
                    for (int w = 0; w < 64; ++w) {
                        const int slot = (7 - w / 8) * 8 + w % 8;
                        if (maskSlots.contains(quint8(slot)))
                            big.append(quint8(slot));
                    }
                    run = big;
                    motorola = true;
                }
                if (!dbcPosition(run, motorola, &start)) {
                    findings.add(Tr::tr("Multiplexer-Bitmasken, die kein zusammenhängendes Feld sind, nicht in DBC darstellbar – Variante ohne Multiplexer geschrieben"),
                                 m.displayName());
                    continue;
                }
                chosen.clear();
                int f = -1;
                for (int i = 0; i < fields.size(); ++i) {
                    if (fields.at(i).bits == run)
                        f = i;
                }
                if (f < 0) {
                    fields.append({run, motorola, -1});
                    f = int(fields.size()) - 1;
                }
                chosen.push_back({f, SymbolDatabase::extract(run, valueFrame)});
            }
            constraints[size_t(vi)] = chosen;
        }

        // Signals: one per name and position, with the variants they are in.
        std::vector<OutSignal> signalList;
        QHash<QString, int> signalIndex;
        QSet<QString> signalNames;
        for (qsizetype vi = 0; vi < group.variants.size(); ++vi) {
            for (const SymVariable &v : group.variants.at(vi)->variables) {
                if (v.bits.isEmpty())
                    continue;
                const QString key = QStringLiteral("%1|%2|%3|%4").arg(v.name).arg(v.startBit).arg(v.length).arg(v.motorola);
                auto it = signalIndex.find(key);
                if (it == signalIndex.end()) {
                    OutSignal s;
                    s.var = v;
                    s.name = identifier(v.name);
                    if (s.name != v.name)
                        findings.add(Tr::tr("Namen als DBC-Bezeichner geschrieben"), v.name);
                    for (int n = 2; signalNames.contains(s.name); ++n)
                        s.name = identifier(v.name) + QStringLiteral("_%1").arg(n);
                    signalNames.insert(s.name);
                    it = signalIndex.insert(key, int(signalList.size()));
                    signalList.push_back(s);
                }
                std::vector<int> &in = signalList[size_t(it.value())].variants;
                if (in.empty() || in.back() != int(vi))
                    in.push_back(int(vi));
            }
        }
        // Which variants hold each signal, and the value a variant fixes in a field.
        const size_t variantCount = size_t(group.variants.size());
        const auto holds = [&](const OutSignal &s, int vi) {
            return std::binary_search(s.variants.begin(), s.variants.end(), vi);
        };
        const auto fixedValue = [&](int vi, int f, quint64 *value) {
            for (const auto &c : constraints[size_t(vi)]) {
                if (c.first == f) {
                    *value = c.second;
                    return true;
                }
            }
            return false;
        };
        // Each field's signal: a signal on exactly its bits that every variant
        // fixing the field holds. A marked multiplexor wins over a plain
        // signal on the same bits, then one that variant names call by name
        // ("A=1", a symbol file keeps no mark), then the one in fewer variants
        // (a nested multiplexor is only where its parent selects it), else a
        // new one.
        const auto namedInVariants = [&](const OutSignal &s) {
            const QString call = s.var.name + QLatin1Char('=');
            for (const SymMessage *m : group.variants) {
                if (m->muxName.startsWith(call) || m->muxName.contains(QStringLiteral(", ") + call))
                    return true;
            }
            return false;
        };
        for (int f = 0; f < fields.size(); ++f) {
            int best = -1;
            for (size_t i = 0; i < signalList.size(); ++i) {
                const OutSignal &s = signalList[i];
                if (s.var.bits != fields.at(f).bits || s.field >= 0)
                    continue;
                bool everywhere = true;
                quint64 value = 0;
                for (int vi = 0; vi < int(variantCount) && everywhere; ++vi)
                    everywhere = !fixedValue(vi, f, &value) || holds(s, vi);
                if (!everywhere)
                    continue;
                if (best < 0) {
                    best = int(i);
                    continue;
                }
                const OutSignal &b = signalList[size_t(best)];
                const bool named = namedInVariants(s);
                if (s.var.multiplexor != b.var.multiplexor ? s.var.multiplexor
                        : named != namedInVariants(b)    ? named
                                                         : s.variants.size() < b.variants.size())
                    best = int(i);
            }
            if (best >= 0) {
                fields[f].signal = best;
                signalList[size_t(best)].field = f;
                continue;
            }
            OutSignal s;
            s.var.bits = fields.at(f).bits;
            s.var.length = int(fields.at(f).bits.size());
            s.var.motorola = fields.at(f).motorola;
            s.var.type = SymType::Unsigned;
            s.name = QStringLiteral("Multiplexer");
            for (int n = 2; signalNames.contains(s.name); ++n)
                s.name = QStringLiteral("Multiplexer_%1").arg(n);
            signalNames.insert(s.name);
            s.field = f;
            // In every variant that fixes it.
            for (int vi = 0; vi < int(variantCount); ++vi) {
                quint64 value = 0;
                if (fixedValue(vi, f, &value))
                    s.variants.push_back(vi);
            }
            fields[f].signal = int(signalList.size());
            signalList.push_back(s);
        }

        // Condition of each signal: a field that every variant holding the
        // signal fixes, to values that select the signal wherever the field
        // takes them. The order of constraints says nothing (it follows the
        // variables), so only this test tells a nested parent from its own.
        std::vector<int> parentField(signalList.size(), -1);
        std::vector<std::set<quint64>> parentValues(signalList.size());
        for (size_t i = 0; i < signalList.size(); ++i) {
            const OutSignal &s = signalList[i];
            if (s.variants.size() == variantCount || fields.isEmpty())
                continue;
            int best = -1;
            std::set<quint64> bestValues;
            for (int f = 0; f < fields.size(); ++f) {
                if (f == s.field)
                    continue;
                std::set<quint64> values;
                bool everywhere = !s.variants.empty();
                for (int vi : s.variants) {
                    quint64 value = 0;
                    everywhere = everywhere && fixedValue(vi, f, &value);
                    values.insert(value);
                }
                if (!everywhere)
                    continue;
                bool exact = true;
                for (int vi = 0; vi < int(variantCount) && exact; ++vi) {
                    quint64 value = 0;
                    exact = !fixedValue(vi, f, &value) || !values.count(value) || holds(s, vi);
                }
                if (!exact)
                    continue;
                // Of two fields that fit, the nested one (held by fewer variants).
                if (best < 0 || signalList[size_t(fields.at(f).signal)].variants.size()
                                    < signalList[size_t(fields.at(best).signal)].variants.size()) {
                    best = f;
                    bestValues = values;
                }
            }
            if (best < 0) {
                if (s.field < 0)
                    findings.add(Tr::tr("Signale, die nur in einem Teil der Varianten ohne gemeinsamen Multiplexer stehen, als ungemultiplext geschrieben"),
                                 QStringLiteral("%1.%2").arg(first.name, s.var.name));
                continue;
            }
            parentField[i] = best;
            parentValues[i] = bestValues;
        }
        // A field may not end up below itself.
        for (int f = 0; f < fields.size(); ++f) {
            int p = parentField[size_t(fields.at(f).signal)];
            for (int steps = 0; p >= 0 && steps <= fields.size(); ++steps) {
                if (p == f) {
                    parentField[size_t(fields.at(f).signal)] = -1;
                    parentValues[size_t(fields.at(f).signal)].clear();
                    break;
                }
                p = parentField[size_t(fields.at(p).signal)];
            }
        }
        bool extendedMux = false;
        int rootFields = 0;
        for (int f = 0; f < fields.size(); ++f) {
            if (parentField[size_t(fields.at(f).signal)] < 0)
                ++rootFields;
        }
        // A multiplexor that selects nothing stays one; next to another it
        // needs SG_MUL_VAL_ so that "mN" is not ambiguous.
        bool loneMultiplexor = false;
        for (const OutSignal &s : signalList)
            loneMultiplexor = loneMultiplexor || (s.field < 0 && s.var.multiplexor);
        for (size_t i = 0; i < signalList.size(); ++i) {
            if (parentField[i] >= 0
                && (parentValues[i].size() > 1 || rootFields > 1 || signalList[i].field >= 0 || loneMultiplexor))
                extendedMux = true;
        }
        for (size_t i = 0; i < signalList.size(); ++i) {
            OutSignal &s = signalList[i];
            if (parentField[i] >= 0)
                s.muxText = QStringLiteral("m%1").arg(*parentValues[i].begin());
            if (s.field >= 0 || s.var.multiplexor)
                s.muxText += QLatin1Char('M');
        }

        const quint32 rawId = first.idLow | (first.extended ? 0x80000000u : 0u);
        const int length = first.lengthUnspecified ? 8 : first.length;
        out += QStringLiteral("BO_ %1 %2: %3 %4\n").arg(rawId).arg(name).arg(length)
                   .arg(first.sender.isEmpty() ? QStringLiteral("Vector__XXX") : identifier(first.sender));
        for (size_t i = 0; i < signalList.size(); ++i) {
            const OutSignal &s = signalList[i];
            const SymVariable &v = s.var;
            int start = 0;
            if (!dbcPosition(v.bits, v.motorola, &start)) {
                findings.add(Tr::tr("Signale ohne zusammenhängende Bitposition nicht in DBC darstellbar – übersprungen"),
                             QStringLiteral("%1.%2").arg(first.name, v.name));
                continue;
            }
            bool isSigned = v.isSigned;
            switch (v.type) {
            case SymType::Float:
            case SymType::Double:
                isSigned = true;
                valueTypes += QStringLiteral("SIG_VALTYPE_ %1 %2 : %3;\n").arg(rawId).arg(s.name).arg(v.type == SymType::Float ? 1 : 2);
                break;
            case SymType::Char:
                findings.add(Tr::tr("Datentyp char als 8-Bit-Ganzzahl geschrieben"), QStringLiteral("%1.%2").arg(first.name, v.name));
                break;
            case SymType::String:
            case SymType::Raw:
                findings.add(Tr::tr("Datentypen string und raw als Ganzzahl geschrieben"), QStringLiteral("%1.%2").arg(first.name, v.name));
                isSigned = false;
                break;
            default:
                break;
            }
            double minimum = v.minimum;
            double maximum = v.maximum;
            if (v.hasMin != v.hasMax) {
                // DBC has both limits or none: the other one is the raw range's.
                const int w = int(v.bits.size());
                double rawLow = 0.0;
                double rawHigh = 0.0;
                if (v.type == SymType::Float) {
                    rawLow = -3.4028234663852886e38;
                    rawHigh = 3.4028234663852886e38;
                } else if (v.type == SymType::Double) {
                    rawLow = -1.7976931348623157e308;
                    rawHigh = 1.7976931348623157e308;
                } else if (isSigned) {
                    rawLow = -std::ldexp(1.0, w - 1);
                    rawHigh = std::ldexp(1.0, w - 1) - 1;
                } else {
                    rawHigh = std::ldexp(1.0, w) - 1;
                }
                const double a = rawLow * v.factor + v.offset;
                const double b = rawHigh * v.factor + v.offset;
                if (!v.hasMin)
                    minimum = std::min(a, b);
                if (!v.hasMax)
                    maximum = std::max(a, b);
            } else if (!v.hasMin && !v.hasMax) {
                minimum = maximum = 0.0;
            } else if (minimum == 0.0 && maximum == 0.0) {
                findings.add(Tr::tr("Grenzen 0…0 bedeuten in DBC „keine Grenzen“"), QStringLiteral("%1.%2").arg(first.name, v.name));
            }
            QString unit = v.unit;
            const QStringList receivers = [&] {
                QStringList list;
                for (const QString &r : v.receivers)
                    list.append(identifier(r));
                return list;
            }();
            out += QStringLiteral(" SG_ %1 %2%3: %4|%5@%6%7 (%8,%9) [%10|%11] %12 %13\n")
                       .arg(s.name, s.muxText, s.muxText.isEmpty() ? QString() : QStringLiteral(" "))
                       .arg(start).arg(v.bits.size()).arg(v.motorola ? 0 : 1).arg(isSigned ? QLatin1Char('-') : QLatin1Char('+'))
                       .arg(number(v.factor), number(v.offset), number(minimum), number(maximum), quoted(unit),
                            receivers.isEmpty() ? QStringLiteral("Vector__XXX") : receivers.join(QLatin1Char(',')));
            if (v.factor == 0.0)
                findings.add(Tr::tr("Faktor 0 geschrieben"), QStringLiteral("%1.%2").arg(first.name, v.name));
            if (!v.comment.isEmpty())
                comments += QStringLiteral("CM_ SG_ %1 %2 %3;\n").arg(rawId).arg(s.name, quoted(v.comment));
            if (v.hasDefaultRaw) {
                anyStart = true;
                double startValue = double(v.defaultRaw);
                if (v.type == SymType::Float || v.type == SymType::Double) {
                    SymVariable pattern;
                    pattern.type = v.type;
                    startValue = SymbolDatabase::physicalFromRaw(pattern, v.defaultRaw);
                }
                attributes += QStringLiteral("BA_ \"GenSigStartValue\" SG_ %1 %2 %3;\n").arg(rawId).arg(s.name, number(startValue));
            }
            for (auto it = v.attributes.constBegin(); it != v.attributes.constEnd(); ++it) {
                if (!ownAttribute(it.key()))
                    attributes += QStringLiteral("BA_ %1 SG_ %2 %3 %4;\n").arg(quoted(it.key())).arg(rawId).arg(s.name, it.value());
            }
            if (v.hasDefaultText)
                findings.add(Tr::tr("Anfangswerte von string/raw nicht in DBC darstellbar"), QStringLiteral("%1.%2").arg(first.name, v.name));
            if (!v.longName.isEmpty() || v.decimals >= 0 || v.displayFormat || v.decodeMode || v.flagS || v.flagT || v.spn)
                findings.add(Tr::tr("Anzeigeangaben (Langname, Nachkommastellen, hex/binär, -v/-o, SPN) nicht in DBC darstellbar"),
                             QStringLiteral("%1.%2").arg(first.name, v.name));
            if (const SymEnum *e = db.enumFor(v)) {
                valueTexts += QStringLiteral("VAL_ %1 %2%3 ;\n").arg(rawId).arg(s.name, valuesOf(*e, e->name));
            } else if (s.field >= 0 && v.name.isEmpty()) {
                // A field of its own: the variants' multiplexer names.
                QString texts;
                for (qsizetype vi = 0; vi < group.variants.size(); ++vi) {
                    const auto &c = constraints[size_t(vi)];
                    if (c.size() == 1 && c.front().first == s.field && !group.variants.at(vi)->muxName.isEmpty())
                        texts += QStringLiteral(" %1 %2").arg(c.front().second).arg(quoted(group.variants.at(vi)->muxName));
                }
                if (!texts.isEmpty())
                    valueTexts += QStringLiteral("VAL_ %1 %2%3 ;\n").arg(rawId).arg(s.name, texts);
            }
            if (extendedMux && parentField[i] >= 0) {
                QStringList ranges;
                const std::set<quint64> &values = parentValues[i];
                for (auto it = values.begin(); it != values.end();) {
                    const quint64 low = *it;
                    quint64 high = low;
                    ++it;
                    while (it != values.end() && *it == high + 1) {
                        high = *it;
                        ++it;
                    }
                    ranges.append(QStringLiteral("%1-%2").arg(low).arg(high));
                }
                muxValues += QStringLiteral("SG_MUL_VAL_ %1 %2 %3 %4;\n")
                                 .arg(rawId).arg(s.name, signalList[size_t(fields.at(parentField[i]).signal)].name,
                                                 ranges.join(QStringLiteral(", ")));
            }
        }
        out += QLatin1Char('\n');

        QString comment;
        for (const SymMessage *m : group.variants) {
            if (!m->comment.isEmpty() && !comment.split(QLatin1Char('\n')).contains(m->comment))
                comment = comment.isEmpty() ? m->comment : comment + QLatin1Char('\n') + m->comment;
        }
        if (!comment.isEmpty())
            comments += QStringLiteral("CM_ BO_ %1 %2;\n").arg(rawId).arg(quoted(comment));
        // With a kept default, a message that differs from it says so.
        if (first.cycleTime > 0 || keptDefault("GenMsgCycleTime")) {
            anyCycle = true;
            attributes += QStringLiteral("BA_ \"GenMsgCycleTime\" BO_ %1 %2;\n").arg(rawId).arg(first.cycleTime);
        }
        int format = first.extended ? 1 : 0;
        if (first.frameType == SymFrameType::J1939Pg)
            format = 3;
        else if (first.frameType == SymFrameType::FdStandard || first.frameType == SymFrameType::FdExtended)
            format = first.extended ? 15 : 14;
        if (format != 0 || keptDefault("VFrameFormat")) {
            anyFormat = true;
            attributes += QStringLiteral("BA_ \"VFrameFormat\" BO_ %1 %2;\n").arg(rawId).arg(format);
        }
        for (auto it = first.attributes.constBegin(); it != first.attributes.constEnd(); ++it) {
            if (!ownAttribute(it.key()))
                attributes += QStringLiteral("BA_ %1 BO_ %2 %3;\n").arg(quoted(it.key())).arg(rawId).arg(it.value());
        }
        if (!first.transmitters.isEmpty()) {
            QStringList names;
            for (const QString &node : first.transmitters)
                names.append(identifier(node));
            transmitters += QStringLiteral("BO_TX_BU_ %1 : %2;\n").arg(rawId).arg(names.join(QLatin1Char(',')));
        }
    }

    // Kept statements by their place in a file: comments with the comments,
    // attribute values after the definitions, the rest after the messages.
    QString keptComments;
    QString keptAttributes;
    QString keptOthers;
    for (const QString &statement : db.dbcStatements) {
        const QString keyword = statement.section(QLatin1Char(' '), 0, 0);
        QString &to = keyword == QLatin1String("CM_") ? keptComments
            : keyword == QLatin1String("BA_") || keyword == QLatin1String("BA_REL_") || keyword == QLatin1String("BA_SGTYPE_")
            ? keptAttributes
            : keptOthers;
        to += statement + QLatin1Char('\n');
    }
    out += transmitters;
    out += keptOthers;
    out += QLatin1Char('\n');
    if (!db.description.isEmpty())
        out += QStringLiteral("CM_ %1;\n").arg(quoted(db.description));
    out += keptComments;
    out += comments;
    for (const QString &statement : db.dbcDefinitions)
        out += statement + QLatin1Char('\n');
    anyCycle = anyCycle && !keptDefinitions.contains(QStringLiteral("GenMsgCycleTime"));
    anyStart = anyStart && !keptDefinitions.contains(QStringLiteral("GenSigStartValue"));
    anyFormat = anyFormat && !keptDefinitions.contains(QStringLiteral("VFrameFormat"));
    if (anyCycle)
        out += QStringLiteral("BA_DEF_ BO_  \"GenMsgCycleTime\" INT 0 2147483647;\n");
    if (anyStart)
        out += QStringLiteral("BA_DEF_ SG_  \"GenSigStartValue\" FLOAT -1.7976931348623157e308 1.7976931348623157e308;\n");
    if (anyFormat)
        out += QStringLiteral("BA_DEF_ BO_  \"VFrameFormat\" ENUM  \"StandardCAN\",\"ExtendedCAN\",\"reserved\",\"J1939PG\","
                              "\"reserved\",\"reserved\",\"reserved\",\"reserved\",\"reserved\",\"reserved\",\"reserved\","
                              "\"reserved\",\"reserved\",\"reserved\",\"StandardCAN_FD\",\"ExtendedCAN_FD\";\n");
    if (anyCycle)
        out += QStringLiteral("BA_DEF_DEF_  \"GenMsgCycleTime\" 0;\n");
    if (anyStart)
        out += QStringLiteral("BA_DEF_DEF_  \"GenSigStartValue\" 0;\n");
    if (anyFormat)
        out += QStringLiteral("BA_DEF_DEF_  \"VFrameFormat\" \"StandardCAN\";\n");
    out += keptAttributes;
    out += attributes;
    out += valueTexts;
    out += valueTypes;
    out += muxValues;

    if (!db.virtualVariables.isEmpty()) {
        QStringList names;
        for (const SymVariable &v : db.virtualVariables)
            names.append(v.name);
        for (const QString &n : names)
            findings.add(Tr::tr("Virtuelle Variablen nicht in DBC darstellbar"), n);
    }
    if (!db.title.isEmpty())
        findings.add(Tr::tr("Titel nicht in DBC darstellbar"), db.title);
    findings.flush(warnings);

    // Windows-1252 is what most DBC tools expect; text it cannot hold is
    // written as UTF-8 for the whole file.
    QByteArray bytes;
    bytes.reserve(out.size());
    bool latin = true;
    for (QChar c : std::as_const(out)) {
        if (c.unicode() > 0xFF || (c.unicode() >= 0x80 && c.unicode() < 0xA0)) {
            latin = false;
            break;
        }
    }
    if (!latin)
        return out.toUtf8();
    return out.toLatin1();
}

} // namespace DbcFile
