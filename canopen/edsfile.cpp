#include "edsfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int MaxWarnings = 100;

struct Section
{
    QString name;                 // as written
    int line = 0;
    QHash<QString, QString> keys; // lower-case key -> value
    QHash<QString, int> keyLines; // lower-case key -> line of its last value
    QStringList spelled;          // keys as first written, in file order
};

// The keys of [DeviceInfo] as data sheets spell and order them.
const char *const DeviceInfoKeys[] = {
    "VendorName", "VendorNumber", "ProductName", "ProductNumber", "RevisionNumber", "OrderCode",
    "BaudRate_10", "BaudRate_20", "BaudRate_50", "BaudRate_125", "BaudRate_250", "BaudRate_500",
    "BaudRate_800", "BaudRate_1000", "SimpleBootUpMaster", "SimpleBootUpSlave", "Granularity",
    "DynamicChannelsSupported", "GroupMessaging", "NrOfRXPDO", "NrOfTXPDO", "LSS_Supported", "CompactPDO",
};

const char *const ListSections[] = {"MandatoryObjects", "OptionalObjects", "ManufacturerObjects"};

QString tr(const char *text)
{
    return QString::fromUtf8(text);
}

QString normalName(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            continue;
        result.append(c.toLower());
    }
    return result;
}

// One number of the files: 0x hex, a leading 0 octal, otherwise decimal.
bool parseNumber(QString text, qint64 *value)
{
    text = text.trimmed();
    bool negative = false;
    if (text.startsWith(QLatin1Char('-'))) {
        negative = true;
        text = text.mid(1).trimmed();
    } else if (text.startsWith(QLatin1Char('+'))) {
        text = text.mid(1).trimmed();
    }
    if (text.isEmpty())
        return false;
    bool ok = false;
    quint64 v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = text.mid(2).toULongLong(&ok, 16);
    else if (text.size() > 1 && text.startsWith(QLatin1Char('0')))
        v = text.toULongLong(&ok, 8);
    else
        v = text.toULongLong(&ok, 10);
    // Beyond 2^56 no expression of a data sheet makes sense; the bound keeps
    // the sums below (at most 64 terms) free of overflow.
    if (!ok || v > (quint64(1) << 56))
        return false;
    *value = negative ? -qint64(v) : qint64(v);
    return true;
}

// "$NODEID+0x180", "0x180 + $NODEID", "$NODEID": the sum of its terms.
bool evaluate(const QString &text, int nodeId, qint64 *value)
{
    qint64 sum = 0;
    const QStringList terms = text.split(QLatin1Char('+'));
    for (const QString &term : terms) {
        const QString t = term.trimmed();
        if (t.compare(QLatin1String("$NODEID"), Qt::CaseInsensitive) == 0) {
            sum += nodeId;
            continue;
        }
        qint64 v = 0;
        if (!parseNumber(t, &v) || terms.size() > 64)
            return false;
        sum += v;
    }
    *value = sum;
    return true;
}

QString resolveNodeId(const QString &text, int nodeId, bool *ok)
{
    *ok = true;
    if (!text.contains(QLatin1String("$NODEID"), Qt::CaseInsensitive))
        return text;
    qint64 value = 0;
    if (!evaluate(text, nodeId, &value)) {
        *ok = false;
        return text;
    }
    return QStringLiteral("0x%1").arg(QString::number(value, 16).toUpper());
}

QString hexKey(unsigned value, int width)
{
    return QString::number(value, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

QString decodeText(const QByteArray &bytes)
{
    // Data sheets come in UTF-8 or in the Windows code page; take UTF-8
    // only when the bytes are valid UTF-8.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace

bool EdsFile::load(const QString &path, int nodeId, QString *error, QStringList *warnings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("%1 kann nicht gelesen werden: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileBytes) {
        if (error)
            *error = tr("%1 ist zu groß (%2 Byte, höchstens 16 MiB).").arg(path).arg(file.size());
        return false;
    }
    const QByteArray bytes = file.read(MaxFileBytes + 1);
    if (!parse(bytes, nodeId, error, warnings))
        return false;
    m_fileName = path;
    return true;
}

bool EdsFile::parse(const QByteArray &bytes, int nodeId, QString *error, QStringList *warnings)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    int warningCount = 0;
    auto warn = [&](int line, const QString &message) {
        ++warningCount;
        if (!warnings)
            return;
        if (warningCount <= MaxWarnings)
            warnings->append(tr("Zeile %1: %2").arg(line).arg(message));
        else if (warningCount == MaxWarnings + 1)
            warnings->append(tr("… weitere Warnungen ausgelassen"));
    };
    if (bytes.size() > MaxFileBytes)
        return fail(tr("Die Datei ist zu groß (%1 Byte, höchstens 16 MiB).").arg(bytes.size()));
    if (bytes.contains('\0'))
        return fail(tr("Die Datei enthält Null-Bytes – das ist keine EDS- oder DCF-Datei."));

    // 1. Sections and keys.
    QHash<QString, Section> sections;
    QStringList order; // section keys as they appear, so warnings come in file order
    QString current;
    const QString text = decodeText(bytes);
    int lineNumber = 0;
    for (QStringView line : QStringTokenizer(text, QLatin1Char('\n'))) {
        ++lineNumber;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close < 0) {
                warn(lineNumber, tr("Abschnitt ohne \"]\" übersprungen"));
                current.clear();
                continue;
            }
            const QString name = line.mid(1, close - 1).trimmed().toString();
            current = name.toLower();
            if (sections.contains(current))
                warn(lineNumber, tr("Abschnitt [%1] doppelt; die Einträge werden zusammengelegt").arg(name));
            Section &section = sections[current];
            if (section.line == 0) {
                section.name = name;
                section.line = lineNumber;
                order.append(current);
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            warn(lineNumber, tr("Zeile ohne \"=\" übersprungen"));
            continue;
        }
        if (current.isEmpty()) {
            warn(lineNumber, tr("Eintrag vor dem ersten Abschnitt übersprungen"));
            continue;
        }
        Section &section = sections[current];
        const QString key = line.left(equals).trimmed().toString();
        const QString lower = key.toLower();
        if (!section.keys.contains(lower))
            section.spelled.append(key);
        section.keys.insert(lower, line.mid(equals + 1).trimmed().toString());
        section.keyLines.insert(lower, lineNumber);
    }

    // 2. Objects.
    static const QRegularExpression objectName(QStringLiteral("^([0-9a-f]{1,4})$"));
    static const QRegularExpression subName(QStringLiteral("^([0-9a-f]{1,4})sub([0-9a-f]{1,2})$"));
    QMap<quint16, Object> objects;
    auto number = [&](const Section &section, const char *key, qint64 fallback, qint64 max) {
        const QString value = section.keys.value(QString::fromLatin1(key));
        if (value.isEmpty())
            return fallback;
        qint64 v = 0;
        if (!evaluate(value, nodeId, &v) || v < 0 || v > max) {
            warn(section.line, tr("[%1] %2=%3 ist keine gültige Zahl").arg(section.name, QString::fromLatin1(key), value));
            return fallback;
        }
        return v;
    };
    auto fillEntry = [&](Entry *entry, const Section &section) {
        entry->dataType = quint16(number(section, "datatype", entry->dataType, 0xFFFF));
        const QString access = section.keys.value(QStringLiteral("accesstype")).toLower();
        if (!access.isEmpty())
            entry->accessType = access;
        bool ok = true;
        const QString def = section.keys.value(QStringLiteral("defaultvalue"), entry->defaultValue);
        entry->defaultValue = resolveNodeId(def, nodeId, &ok);
        if (!ok)
            warn(section.line, tr("[%1] DefaultValue=%2 lässt sich nicht ausrechnen").arg(section.name, def));
        const QString parameter = section.keys.value(QStringLiteral("parametervalue"));
        entry->parameterValue = resolveNodeId(parameter, nodeId, &ok);
        entry->pdoMapping = number(section, "pdomapping", entry->pdoMapping ? 1 : 0, 1) != 0;
        entry->lowLimit = section.keys.value(QStringLiteral("lowlimit"), entry->lowLimit);
        entry->highLimit = section.keys.value(QStringLiteral("highlimit"), entry->highLimit);
    };

    QHash<quint16, int> defined; // index -> line of its section, also for objects skipped below
    for (const QString &key : std::as_const(order)) {
        const QRegularExpressionMatch match = objectName.match(key);
        if (!match.hasMatch())
            continue;
        const Section &section = sections[key];
        Object object;
        object.index = quint16(match.captured(1).toUInt(nullptr, 16));
        defined.insert(object.index, section.line);
        object.name = section.keys.value(QStringLiteral("parametername"));
        if (object.name.isEmpty())
            warn(section.line, tr("[%1] ohne ParameterName").arg(section.name));
        object.objectType = quint8(number(section, "objecttype", 7, 0xFF));
        const qint64 compact = number(section, "compactsubobj", 0, 0xFE);
        if (object.objectType == 8 || object.objectType == 9) {
            if (compact > 0) {
                // An array written in one section: sub 0 holds the count,
                // subs 1..n share type and access of the section.
                Entry count;
                count.index = object.index;
                count.name = QStringLiteral("NrOfObjects");
                count.objectType = object.objectType;
                count.dataType = Unsigned8;
                count.accessType = QStringLiteral("ro");
                count.defaultValue = QString::number(compact);
                object.entries.append(count);
                const Section names = sections.value(key + QStringLiteral("name"));
                const Section values = sections.value(key + QStringLiteral("value"));
                for (int sub = 1; sub <= compact; ++sub) {
                    Entry entry;
                    entry.index = object.index;
                    entry.subIndex = quint8(sub);
                    entry.objectType = object.objectType;
                    fillEntry(&entry, section);
                    entry.name = names.keys.value(QString::number(sub),
                                                  QStringLiteral("%1%2").arg(object.name).arg(sub));
                    bool ok = true;
                    if (values.keys.contains(QString::number(sub)))
                        entry.defaultValue = resolveNodeId(values.keys.value(QString::number(sub)), nodeId, &ok);
                    object.entries.append(entry);
                }
            }
        } else {
            Entry entry;
            entry.index = object.index;
            entry.name = object.name;
            entry.objectType = object.objectType;
            fillEntry(&entry, section);
            object.entries.append(entry);
        }
        objects.insert(object.index, object);
    }
    for (const QString &key : std::as_const(order)) {
        const QRegularExpressionMatch match = subName.match(key);
        if (!match.hasMatch())
            continue;
        const auto it = sections.constFind(key);
        const quint16 index = quint16(match.captured(1).toUInt(nullptr, 16));
        auto object = objects.find(index);
        if (object == objects.end()) {
            warn(it->line, tr("[%1] gehört zu keinem Objekt").arg(it->name));
            continue;
        }
        if (object->objectType != 8 && object->objectType != 9) {
            warn(it->line, tr("[%1]: das Objekt ist kein ARRAY oder RECORD").arg(it->name));
            continue;
        }
        Entry entry;
        entry.index = index;
        entry.subIndex = quint8(match.captured(2).toUInt(nullptr, 16));
        entry.objectType = object->objectType;
        entry.name = it->keys.value(QStringLiteral("parametername"));
        fillEntry(&entry, it.value());
        auto at = std::lower_bound(object->entries.begin(), object->entries.end(), entry.subIndex,
                                   [](const Entry &e, quint8 sub) { return e.subIndex < sub; });
        if (at != object->entries.end() && at->subIndex == entry.subIndex)
            *at = entry; // a sub section wins over a compact one
        else
            object->entries.insert(at, entry);
    }
    for (auto it = objects.begin(); it != objects.end();) {
        if (it->entries.isEmpty()) {
            const Section section = sections.value(hexKey(it.key(), 4).toLower());
            warn(section.line, tr("Objekt %1h ohne Subindizes übersprungen").arg(hexKey(it.key(), 4)));
            it = objects.erase(it);
        } else {
            ++it;
        }
    }
    if (objects.isEmpty())
        return fail(tr("Keine Objekte gefunden – ist das eine EDS- oder DCF-Datei?"));

    // 3. The lists of mandatory, optional and manufacturer objects.
    std::array<QList<quint16>, 3> lists;
    QHash<quint16, int> listed; // index -> line of its list entry
    bool withLists = false;
    for (int list = 0; list < 3; ++list) {
        const QString listName = QString::fromLatin1(ListSections[list]);
        const auto it = sections.constFind(listName.toLower());
        if (it == sections.cend())
            continue;
        withLists = true;
        const Section &section = *it;
        qint64 count = number(section, "supportedobjects", -1, 0xFFFF);
        if (count < 0) {
            // Without a usable count the numbered keys still say what is listed.
            if (!section.keys.contains(QStringLiteral("supportedobjects")))
                warn(section.line, tr("[%1] ohne SupportedObjects").arg(listName));
            count = 0;
            while (section.keys.contains(QString::number(count + 1)))
                ++count;
        }
        for (int i = 1; i <= count; ++i) {
            const QString key = QString::number(i);
            const auto value = section.keys.constFind(key);
            if (value == section.keys.cend()) {
                warn(section.line, tr("[%1] %2 fehlt (SupportedObjects=%3)").arg(listName, key).arg(count));
                continue;
            }
            const int line = section.keyLines.value(key);
            qint64 index = 0;
            if (!parseNumber(*value, &index) || index < 0 || index > 0xFFFF) {
                warn(line, tr("[%1] %2=%3 ist kein Objektindex").arg(listName, key, *value));
                continue;
            }
            if (listed.contains(quint16(index))) {
                warn(line, tr("Objekt %1h steht mehrfach in den Objektlisten").arg(hexKey(unsigned(index), 4)));
                continue;
            }
            listed.insert(quint16(index), line);
            if (defined.contains(quint16(index)))
                lists[list].append(quint16(index));
            else
                warn(line, tr("Objekt %1h steht in [%2], fehlt aber in der Datei").arg(hexKey(unsigned(index), 4), listName));
        }
    }
    for (const Object &object : std::as_const(objects)) {
        if (listed.contains(object.index))
            continue;
        if (withLists)
            warn(defined.value(object.index), tr("Objekt %1h steht in keiner Objektliste").arg(hexKey(object.index, 4)));
        // CiA 301 decides where an object no list names belongs.
        if (object.index == 0x1000 || object.index == 0x1001 || object.index == 0x1018)
            lists[MandatoryObjects].append(object.index);
        else if (object.index >= 0x2000 && object.index <= 0x5FFF)
            lists[ManufacturerObjects].append(object.index);
        else
            lists[OptionalObjects].append(object.index);
    }
    // An object skipped for want of entries stays out of the lists as well.
    for (QList<quint16> &list : lists)
        list.removeIf([&](quint16 index) { return !objects.contains(index); });

    m_objects = objects;
    m_lists = lists;
    m_nodeId = nodeId;
    m_fileName.clear();
    const Section device = sections.value(QStringLiteral("deviceinfo"));
    m_productName = device.keys.value(QStringLiteral("productname"));
    m_deviceInfo.clear();
    for (const char *key : DeviceInfoKeys) {
        const QString name = QString::fromLatin1(key);
        const auto value = device.keys.constFind(name.toLower());
        if (value != device.keys.cend())
            m_deviceInfo.append({name, *value});
    }
    for (const QString &key : device.spelled) {
        const bool usual = std::any_of(std::begin(DeviceInfoKeys), std::end(DeviceInfoKeys),
                                       [&](const char *name) { return key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0; });
        if (!usual)
            m_deviceInfo.append({key, device.keys.value(key.toLower())});
    }
    return true;
}

const EdsFile::Entry *EdsFile::find(quint16 index, quint8 subIndex) const
{
    const auto object = m_objects.constFind(index);
    if (object == m_objects.cend())
        return nullptr;
    for (const Entry &entry : object->entries) {
        if (entry.subIndex == subIndex)
            return &entry;
    }
    return nullptr;
}

const EdsFile::Entry *EdsFile::findByName(const QString &text) const
{
    static const QRegularExpression address(
        QStringLiteral("^(?:0x)?([0-9a-f]{1,4})(?::|sub)(?:0x)?([0-9a-f]{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = address.match(text.trimmed());
    if (match.hasMatch())
        return find(quint16(match.captured(1).toUInt(nullptr, 16)), quint8(match.captured(2).toUInt(nullptr, 16)));
    const QString wanted = normalName(text);
    if (wanted.isEmpty())
        return nullptr;
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const Entry *found = nullptr;
    const Entry *suffix = nullptr; // "DeviceName" for "Manufacturer device name", when unique
    int suffixCount = 0;
    for (const Object &object : m_objects) {
        if (slash >= 0) {
            if (normalName(text.left(slash)) != normalName(object.name))
                continue;
            const QString sub = normalName(text.mid(slash + 1));
            for (const Entry &entry : object.entries) {
                if (normalName(entry.name) == sub)
                    return &entry;
            }
            continue;
        }
        // A variable by its object name; entries of arrays and records by theirs.
        if (object.entries.size() == 1 && object.objectType != 8 && object.objectType != 9
            && normalName(object.name) == wanted)
            return &object.entries.first();
        for (const Entry &entry : object.entries) {
            const QString name = normalName(entry.name);
            if (!found && name == wanted)
                found = &entry;
            if (name.endsWith(wanted)) {
                suffix = &entry;
                ++suffixCount;
            }
        }
    }
    if (found)
        return found;
    return suffixCount == 1 ? suffix : nullptr;
}

int EdsFile::entryCount() const
{
    int count = 0;
    for (const Object &object : m_objects)
        count += int(object.entries.size());
    return count;
}

bool EdsFile::isReadable(const Entry &entry)
{
    return entry.accessType != QLatin1String("wo");
}

bool EdsFile::isWritable(const Entry &entry)
{
    // No access type given: let the device decide.
    return entry.accessType.isEmpty() || entry.accessType == QLatin1String("rw")
           || entry.accessType == QLatin1String("wo") || entry.accessType == QLatin1String("rwr")
           || entry.accessType == QLatin1String("rww");
}

bool EdsFile::sdoType(quint16 dataType, Sdo::DataType *type)
{
    switch (dataType) {
    case Boolean:
    case Unsigned8:
        *type = Sdo::Unsigned8;
        return true;
    case Unsigned16:
        *type = Sdo::Unsigned16;
        return true;
    case Unsigned32:
        *type = Sdo::Unsigned32;
        return true;
    case Unsigned64:
        *type = Sdo::Unsigned64;
        return true;
    case Integer8:
        *type = Sdo::Integer8;
        return true;
    case Integer16:
        *type = Sdo::Integer16;
        return true;
    case Integer32:
        *type = Sdo::Integer32;
        return true;
    case Integer64:
        *type = Sdo::Integer64;
        return true;
    case Real32:
        *type = Sdo::Real32;
        return true;
    case Real64:
        *type = Sdo::Real64;
        return true;
    case VisibleString:
        *type = Sdo::VisibleString;
        return true;
    case OctetString:
    case UnicodeString:
    case Domain:
        *type = Sdo::Domain;
        return true;
    default:
        return false;
    }
}

QString EdsFile::typeCodeName(quint16 dataType)
{
    switch (dataType) {
    case Boolean:
        return QStringLiteral("BOOLEAN");
    case Integer8:
        return QStringLiteral("INTEGER8");
    case Integer16:
        return QStringLiteral("INTEGER16");
    case Integer32:
        return QStringLiteral("INTEGER32");
    case Integer64:
        return QStringLiteral("INTEGER64");
    case Unsigned8:
        return QStringLiteral("UNSIGNED8");
    case Unsigned16:
        return QStringLiteral("UNSIGNED16");
    case Unsigned32:
        return QStringLiteral("UNSIGNED32");
    case Unsigned64:
        return QStringLiteral("UNSIGNED64");
    case Real32:
        return QStringLiteral("REAL32");
    case Real64:
        return QStringLiteral("REAL64");
    case VisibleString:
        return QStringLiteral("VISIBLE_STRING");
    case OctetString:
        return QStringLiteral("OCTET_STRING");
    case UnicodeString:
        return QStringLiteral("UNICODE_STRING");
    case Domain:
        return QStringLiteral("DOMAIN");
    case 0:
        return QString();
    default:
        return QStringLiteral("0x%1").arg(hexKey(dataType, 4));
    }
}

QString EdsFile::valueText(const Entry &entry, const QByteArray &bytes)
{
    Sdo::DataType type = Sdo::Domain;
    if (!sdoType(entry.dataType, &type))
        type = Sdo::Domain;
    const int size = Sdo::typeSize(type);
    if (size > 0 && bytes.size() != size)
        type = Sdo::Domain;
    if (type == Sdo::VisibleString)
        return Sdo::decode(type, bytes);
    if (type == Sdo::Domain)
        return QStringLiteral("0x") + QString::fromLatin1(bytes.toHex().toUpper());
    if (type == Sdo::Real32 || type == Sdo::Real64)
        return Sdo::decode(type, bytes);
    // Numbers: signed ones in decimal, the rest in hex as data sheets write them.
    const QString text = Sdo::decode(type, bytes);
    if (type >= Sdo::Integer8 && type <= Sdo::Integer64)
        return text.section(QLatin1Char(' '), 0, 0);
    return text.section(QLatin1Char('('), 1).chopped(1);
}

QByteArray EdsFile::toDcf(const QMap<quint32, QByteArray> &values, int nodeId) const
{
    QString out;
    auto line = [&out](const QString &key, const QString &value) {
        out += key + QLatin1Char('=') + value + QStringLiteral("\r\n");
    };
    const QDateTime now = QDateTime::currentDateTime();
    out += QStringLiteral("[FileInfo]\r\n");
    line(QStringLiteral("FileName"), QFileInfo(m_fileName).completeBaseName() + QStringLiteral(".dcf"));
    line(QStringLiteral("FileVersion"), QStringLiteral("1"));
    line(QStringLiteral("FileRevision"), QStringLiteral("0"));
    line(QStringLiteral("EDSVersion"), QStringLiteral("4.0"));
    line(QStringLiteral("Description"), QStringLiteral("Konfiguration von Knoten %1").arg(nodeId));
    line(QStringLiteral("CreationTime"), QLocale::c().toString(now.time(), QStringLiteral("hh:mmAP")));
    line(QStringLiteral("CreationDate"), now.date().toString(QStringLiteral("MM-dd-yyyy")));
    line(QStringLiteral("CreatedBy"), QStringLiteral("Busvista"));
    out += QStringLiteral("\r\n[DeviceInfo]\r\n");
    for (const auto &[key, value] : m_deviceInfo)
        line(key, value);
    out += QStringLiteral("\r\n[DeviceComissioning]\r\n");
    line(QStringLiteral("NodeID"), QStringLiteral("0x%1").arg(hexKey(unsigned(nodeId), 2)));

    for (int list = 0; list < 3; ++list) {
        const QList<quint16> &indexes = m_lists[list];
        out += QStringLiteral("\r\n[%1]\r\n").arg(QLatin1String(ListSections[list]));
        line(QStringLiteral("SupportedObjects"), QString::number(indexes.size()));
        for (int i = 0; i < indexes.size(); ++i)
            line(QString::number(i + 1), QStringLiteral("0x%1").arg(hexKey(indexes.at(i), 4)));
    }

    const auto entryLines = [&](const Entry &entry) {
        line(QStringLiteral("ParameterName"), entry.name);
        line(QStringLiteral("ObjectType"), QStringLiteral("0x7"));
        if (entry.dataType != 0)
            line(QStringLiteral("DataType"), QStringLiteral("0x%1").arg(hexKey(entry.dataType, 4)));
        if (!entry.accessType.isEmpty())
            line(QStringLiteral("AccessType"), entry.accessType);
        line(QStringLiteral("DefaultValue"), entry.defaultValue);
        if (!entry.lowLimit.isEmpty())
            line(QStringLiteral("LowLimit"), entry.lowLimit);
        if (!entry.highLimit.isEmpty())
            line(QStringLiteral("HighLimit"), entry.highLimit);
        line(QStringLiteral("PDOMapping"), entry.pdoMapping ? QStringLiteral("1") : QStringLiteral("0"));
        const auto value = values.constFind(quint32(entry.index) << 8 | entry.subIndex);
        if (value != values.cend())
            line(QStringLiteral("ParameterValue"), valueText(entry, *value));
        else if (!entry.parameterValue.isEmpty())
            line(QStringLiteral("ParameterValue"), entry.parameterValue);
    };
    for (const Object &object : m_objects) {
        out += QStringLiteral("\r\n[%1]\r\n").arg(hexKey(object.index, 4));
        if (object.objectType == 8 || object.objectType == 9) {
            line(QStringLiteral("ParameterName"), object.name);
            line(QStringLiteral("ObjectType"), QStringLiteral("0x%1").arg(object.objectType));
            line(QStringLiteral("SubNumber"), QStringLiteral("0x%1").arg(hexKey(unsigned(object.entries.size()), 1)));
            for (const Entry &entry : object.entries) {
                out += QStringLiteral("\r\n[%1sub%2]\r\n").arg(hexKey(object.index, 4), hexKey(entry.subIndex, 1));
                entryLines(entry);
            }
        } else {
            entryLines(object.entries.first());
        }
    }
    return out.toUtf8();
}
