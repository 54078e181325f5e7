#pragma once

#include "sdotypes.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <utility>

// The object dictionary of a device as its electronic data sheet (EDS) or
// device configuration file (DCF) describes it: INI sections [1018] and
// [1018sub2], CompactSubObj arrays, $NODEID expressions, the lists of
// mandatory, optional and manufacturer objects (checked against the objects
// present). Read-only after load; saving writes a DCF with the values read
// from the device.
class EdsFile
{
public:
    // CiA 301 data type codes used in the files.
    enum TypeCode : quint16 {
        Boolean = 0x0001,
        Integer8 = 0x0002,
        Integer16 = 0x0003,
        Integer32 = 0x0004,
        Unsigned8 = 0x0005,
        Unsigned16 = 0x0006,
        Unsigned32 = 0x0007,
        Real32 = 0x0008,
        VisibleString = 0x0009,
        OctetString = 0x000A,
        UnicodeString = 0x000B,
        Domain = 0x000F,
        Real64 = 0x0011,
        Integer64 = 0x0015,
        Unsigned64 = 0x001B,
    };

    struct Entry
    {
        quint16 index = 0;
        quint8 subIndex = 0;
        QString name;
        quint8 objectType = 7;   // 7 VAR, 8 ARRAY, 9 RECORD (of the object)
        quint16 dataType = 0;    // CiA 301 code; 0 when the file gives none
        QString accessType;      // ro, wo, rw, rwr, rww, const (lower case)
        QString defaultValue;    // with $NODEID resolved
        QString parameterValue;  // DCF: the configured value, if any
        bool pdoMapping = false;
        QString lowLimit;
        QString highLimit;
    };

    struct Object
    {
        quint16 index = 0;
        QString name;
        quint8 objectType = 7;
        QList<Entry> entries;    // ascending sub-index; one entry (sub 0) for a VAR
    };

    // Largest file the reader takes; no data sheet comes near it.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

    bool load(const QString &path, int nodeId, QString *error, QStringList *warnings = nullptr);
    // The same from bytes already in memory; `name` is used in messages.
    bool parse(const QByteArray &bytes, int nodeId, QString *error, QStringList *warnings = nullptr);

    bool isEmpty() const { return m_objects.isEmpty(); }
    int nodeId() const { return m_nodeId; }
    QString fileName() const { return m_fileName; }
    QString productName() const { return m_productName; }
    const QMap<quint16, Object> &objects() const { return m_objects; }
    const Entry *find(quint16 index, quint8 subIndex) const;
    // By name: "DeviceName", "Manufacturer device name", "Identity object/Vendor-ID"
    // or "1018:02"/"0x1018:02"/"1018sub2"; blanks, case and "-"/"_" do not count.
    const Entry *findByName(const QString &text) const;
    int entryCount() const;

    static bool isReadable(const Entry &entry);
    static bool isWritable(const Entry &entry);
    // The panel's type for a file's data type; false when it has none.
    static bool sdoType(quint16 dataType, Sdo::DataType *type);
    static QString typeCodeName(quint16 dataType);

    // A DCF of this dictionary: every entry with its default and, where
    // `values` holds bytes for it (key (index << 8) | sub), the value as
    // ParameterValue. `nodeId` goes to [DeviceComissioning].
    QByteArray toDcf(const QMap<quint32, QByteArray> &values, int nodeId) const;
    // The file text of bytes of an entry ("0x0191", "-100", "Text").
    static QString valueText(const Entry &entry, const QByteArray &bytes);

private:
    QMap<quint16, Object> m_objects;
    QString m_fileName;
    QString m_productName;
    int m_nodeId = 0;
    enum ObjectList { MandatoryObjects, OptionalObjects, ManufacturerObjects };
    // The objects of each list in the file's order, those the file defines;
    // an object no list names joins the list its index belongs to.
    std::array<QList<quint16>, 3> m_lists;
    // [DeviceInfo]: the usual keys in their usual spelling and order, then the others as written.
    QList<std::pair<QString, QString>> m_deviceInfo;
};
