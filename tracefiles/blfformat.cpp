// Vector BLF logs (.blf): a file header, then objects, most of them inside
// zlib-compressed log containers whose contents form one object stream.
// Every size and offset comes from the file, so each is checked against
// the bytes actually there before it is used.
#include "recorddeflate.h"
#include "traceformat.h"

#include <QIODevice>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace TraceFile {

namespace {

constexpr quint32 FileHeaderSize = 144;
constexpr quint32 FileHeaderMinimum = 72;  // up to the end of the stop time
constexpr quint32 ObjectHeaderBase = 16;
constexpr quint32 ObjectHeaderV1 = 32;
constexpr quint32 ContainerHeader = 32;
constexpr quint32 ContainerSize = 128 * 1024;  // uncompressed, as the vendor's tools write them
// Far above anything a writer produces; a bigger size is a damaged file.
constexpr quint32 MaxUncompressed = 64 << 20;

enum ObjectType : quint32 {
    CanMessage = 1,
    CanError = 2,
    LogContainer = 10,
    CanErrorExt = 73,
    CanMessage2 = 86,
    CanFdMessage = 100,
    CanFdMessage64 = 101,
};

constexpr quint32 ExtendedFlag = 0x80000000;
constexpr quint8 TxFlag = 0x01;
constexpr quint8 RemoteFlag = 0x80;
constexpr quint32 TimeTenMicros = 1;
constexpr quint32 TimeNanos = 2;
constexpr quint8 FdEdl = 0x01;
constexpr quint32 Fd64Edl = 0x1000;
constexpr quint32 Fd64Remote = 0x0010;

inline quint16 u16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}

inline quint32 u32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

inline quint64 u64(const uchar *p)
{
    return quint64(u32(p)) | quint64(u32(p + 4)) << 32;
}

inline void put16(char *p, quint16 v)
{
    p[0] = char(v);
    p[1] = char(v >> 8);
}

inline void put32(char *p, quint32 v)
{
    put16(p, quint16(v));
    put16(p + 2, quint16(v >> 16));
}

inline void put64(char *p, quint64 v)
{
    put32(p, quint32(v));
    put32(p + 4, quint32(v >> 32));
}

// SYSTEMTIME: year, month, day of week, day, hour, minute, second, ms.
QDateTime readSystemTime(const uchar *p)
{
    const QDate date(u16(p), u16(p + 2), u16(p + 6));
    const QTime time(u16(p + 8), u16(p + 10), u16(p + 12), u16(p + 14));
    if (!date.isValid() || !time.isValid() || date.year() < 1980)
        return QDateTime();
    return wallClockTime(date, time);
}

void writeSystemTime(char *p, const QDateTime &t)
{
    const QDate d = t.date();
    const QTime c = t.time();
    put16(p, quint16(d.year()));
    put16(p + 2, quint16(d.month()));
    put16(p + 4, quint16(d.dayOfWeek() % 7));  // Sunday is 0
    put16(p + 6, quint16(d.day()));
    put16(p + 8, quint16(c.hour()));
    put16(p + 10, quint16(c.minute()));
    put16(p + 12, quint16(c.second()));
    put16(p + 14, quint16(c.msec()));
}

class BlfReader : public Reader
{
public:
    BlfReader() : m_decompressor(libdeflate_alloc_decompressor()) {}
    ~BlfReader() override { libdeflate_free_decompressor(m_decompressor); }

    bool read(QFile &file, Sink &sink, LoadResult *result, const Progress &progress, QString *error) override
    {
        WholeFile whole;
        if (!m_decompressor) {
            *error = tr("Kein Speicher für das Entpacken.");
            return false;
        }
        if (!whole.open(file, error))
            return false;
        const uchar *d = whole.data();
        const qint64 size = whole.size();
        if (size < FileHeaderMinimum || std::memcmp(d, "LOGG", 4) != 0) {
            *error = tr("Das ist keine BLF-Datei.");
            return false;
        }
        const quint32 headerSize = u32(d + 4);
        if (headerSize < FileHeaderMinimum || headerSize > size) {
            *error = tr("Der Kopf der BLF-Datei ist beschädigt.");
            return false;
        }
        result->startTime = readSystemTime(d + 40);
        m_sink = &sink;
        m_result = result;

        qint64 pos = headerSize;
        qint64 reported = pos;
        while (size - pos >= ObjectHeaderBase) {
            const uchar *o = d + pos;
            const quint32 objectSize = u32(o + 8);
            if (std::memcmp(o, "LOBJ", 4) != 0 || objectSize < ObjectHeaderBase || objectSize > size - pos) {
                damaged(pos);
                break;
            }
            if (u32(o + 12) == LogContainer) {
                if (!container(o, objectSize, pos))
                    break;
            } else {
                // An object outside any container.
                object(o, objectSize);
            }
            pos += objectSize + objectSize % 4;
            if (pos - reported >= (4 << 20)) {
                reported = pos;
                if (progress && !progress(pos, size)) {
                    *error = tr("Laden abgebrochen.");
                    return false;
                }
            }
        }
        return true;
    }

private:
    void damaged(qint64 offset)
    {
        if (m_result->damagedAt < 0)
            m_result->damagedAt = offset;
    }

    bool container(const uchar *o, quint32 objectSize, qint64 pos)
    {
        if (objectSize < ContainerHeader) {
            damaged(pos);
            return false;
        }
        m_containerAt = pos;
        const quint16 method = u16(o + 16);
        const quint32 uncompressed = u32(o + 24);
        const uchar *payload = o + ContainerHeader;
        const quint32 payloadSize = objectSize - ContainerHeader;
        const qsizetype held = m_stream.size();
        if (method == 0) {
            m_stream.append(reinterpret_cast<const char *>(payload), payloadSize);
        } else if (method == 2) {
            if (uncompressed > MaxUncompressed) {
                damaged(pos);
                return false;
            }
            m_stream.resize(held + uncompressed);  // uninitialised, unlike a vector's
            uchar *out = reinterpret_cast<uchar *>(m_stream.data()) + held;
            size_t produced = 0;
            // The whole-buffer decompressor is about three times as fast as
            // zlib's; a container it refuses goes through zlib, which gives
            // back what inflates cleanly before the damage.
            if (libdeflate_zlib_decompress(m_decompressor, payload, payloadSize, out, uncompressed,
                                           &produced) != LIBDEFLATE_SUCCESS || produced != uncompressed) {
                z_stream z {};
                if (inflateInit(&z) != Z_OK)
                    return false;
                z.next_in = const_cast<Bytef *>(payload);
                z.avail_in = payloadSize;
                z.next_out = out;
                z.avail_out = uncompressed;
                inflate(&z, Z_FINISH);
                m_stream.resize(held + (uncompressed - z.avail_out));
                inflateEnd(&z);
                damaged(pos);
                objects();
                return false;
            }
        } else {
            ++m_result->skippedOther;  // a compression this reader does not know
            return true;
        }
        return objects();
    }

    // The complete objects at the front of the stream; an object that goes
    // on in the next container stays.
    bool objects()
    {
        const uchar *s = reinterpret_cast<const uchar *>(m_stream.constData());
        const size_t size = size_t(m_stream.size());
        size_t at = 0;
        bool ok = true;
        while (size - at >= ObjectHeaderBase) {
            // Writers pad objects differently; the next one starts within 8 bytes.
            size_t found = at;
            while (found < at + 8 && found + 4 <= size && std::memcmp(s + found, "LOBJ", 4) != 0)
                ++found;
            if (found + 4 > size)
                break;
            if (found == at + 8) {
                damaged(m_containerAt);
                ok = false;
                at = size;
                break;
            }
            at = found;
            if (size - at < ObjectHeaderBase)
                break;
            const quint32 objectSize = u32(s + at + 8);
            if (objectSize < ObjectHeaderBase || objectSize > MaxUncompressed) {
                damaged(m_containerAt);
                ok = false;
                at = size;
                break;
            }
            if (objectSize > size - at)
                break;
            object(s + at, objectSize);
            at += objectSize;
        }
        m_stream.remove(0, qsizetype(at));
        return ok;
    }

    void object(const uchar *o, quint32 objectSize)
    {
        const quint16 headerSize = u16(o + 4);
        const quint32 type = u32(o + 12);
        if (headerSize < ObjectHeaderV1 || headerSize > objectSize) {
            ++m_result->skippedOther;
            return;
        }
        const quint32 timeFlags = u32(o + 16);
        const quint64 stamp = u64(o + 24);
        const uchar *b = o + headerSize;
        const quint32 n = objectSize - headerSize;
        CanFrame &f = m_entry.frame;
        f = CanFrame();
        if (timeFlags == TimeTenMicros)
            f.timestampUs = stamp > quint64(std::numeric_limits<qint64>::max() / 10) ? std::numeric_limits<qint64>::max() : qint64(stamp * 10);
        else
            f.timestampUs = qint64(stamp / 1000 + (stamp % 1000 >= 500));
        switch (type) {
        case CanMessage:
        case CanMessage2: {
            if (n < 16)
                return bad();
            identifier(u32(b + 4));
            f.tx = b[2] & TxFlag;
            f.rtr = b[2] & RemoteFlag;
            f.dlc = quint8(std::min<int>(b[3], 8));
            if (!f.rtr)
                std::memcpy(f.data, b + 8, f.dlc);
            break;
        }
        case CanError:
            f.error = true;
            break;
        case CanErrorExt: {
            if (n < 32)
                return bad();
            f.error = true;
            identifier(u32(b + 16));
            f.dlc = quint8(std::min<int>(b[10], 8));
            std::memcpy(f.data, b + 24, f.dlc);
            break;
        }
        case CanFdMessage: {
            if (n < 20)
                return bad();
            const quint8 valid = b[14];
            if ((b[13] & FdEdl) && (valid > 8 || b[3] > 8))
                return skippedFd();
            identifier(u32(b + 4));
            f.tx = b[2] & TxFlag;
            f.rtr = b[2] & RemoteFlag;
            f.dlc = quint8(std::min<int>((b[13] & FdEdl) ? valid : b[3], 8));
            if (!f.rtr) {
                if (n < 20u + f.dlc)
                    return bad();
                std::memcpy(f.data, b + 20, f.dlc);
            }
            break;
        }
        case CanFdMessage64: {
            if (n < 40)
                return bad();
            const quint8 valid = b[2];
            const quint32 flags = u32(b + 12);
            if ((flags & Fd64Edl) && (valid > 8 || b[1] > 8))
                return skippedFd();
            identifier(u32(b + 4));
            f.tx = b[34] != 0;
            f.rtr = flags & Fd64Remote;
            f.dlc = quint8(std::min<int>((flags & Fd64Edl) ? valid : b[1], 8));
            if (!f.rtr) {
                if (n < 40u + f.dlc)
                    return bad();
                std::memcpy(f.data, b + 40, f.dlc);
            }
            break;
        }
        default:
            ++m_result->skippedOther;
            return;
        }
        m_entry.number = ++m_number;
        m_sink->add(m_entry);
    }

    // An identifier above 11 bits without the flag can only be a 29-bit one;
    // cutting it to 11 bits would show another frame.
    void identifier(quint32 raw)
    {
        m_entry.frame.id = raw & 0x1FFFFFFFu;
        m_entry.frame.extended = (raw & ExtendedFlag) || m_entry.frame.id > 0x7FF;
    }
    void bad() { ++m_result->unrecognised; }
    void skippedFd() { ++m_result->skippedFd; }

    libdeflate_decompressor *m_decompressor;
    qint64 m_containerAt = 0;
    Sink *m_sink = nullptr;
    LoadResult *m_result = nullptr;
    QByteArray m_stream;
    quint64 m_number = 0;
    TraceEntry m_entry;
};

// The objects as this writer lays them out: header, then the CAN message
// or the extended error frame.
constexpr quint32 MessageObjectSize = ObjectHeaderV1 + 16;
constexpr quint32 ErrorObjectSize = ObjectHeaderV1 + 32;

struct ObjectTemplates
{
    char message[MessageObjectSize] = {};
    char error[ErrorObjectSize] = {};
    ObjectTemplates()
    {
        fill(message, MessageObjectSize, CanMessage);
        fill(error, ErrorObjectSize, CanErrorExt);
    }
    static void fill(char *o, quint32 size, quint32 type)
    {
        std::memcpy(o, "LOBJ", 4);
        put16(o + 4, ObjectHeaderV1);
        put16(o + 6, 1);
        put32(o + 8, size);
        put32(o + 12, type);
        put32(o + 16, TimeNanos);
        put16(o + ObjectHeaderV1, 1);  // channel 1
    }
};

class BlfWriter : public Writer
{
public:
    bool write(QIODevice &out, const Source &source) override
    {
        static const ObjectTemplates templates;
        m_templates = &templates;
        const QDateTime start = source.startTime.isValid() ? source.startTime : QDateTime::currentDateTime();
        char header[FileHeaderSize] = {};
        if (out.write(header, FileHeaderSize) != FileHeaderSize)
            return false;
        m_out = &out;
        m_pending.resize(ContainerSize + ErrorObjectSize);
        m_packed.resize(ContainerHeader + RecordDeflate::bound(ContainerSize) + 4);
        qint64 lastUs = 0;
        source.forEach([&](const TraceEntry &entry) {
            if (m_failed)
                return;
            const qint64 offset = entry.frame.timestampUs - source.startUs;
            lastUs = std::max(lastUs, offset);
            append(entry.frame, offset);
            if (m_used >= ContainerSize)
                flushContainer(ContainerSize);
        });
        if (!m_failed && m_used > 0)
            flushContainer(m_used);
        if (m_failed)
            return false;

        std::memcpy(header, "LOGG", 4);
        put32(header + 4, FileHeaderSize);
        header[8] = 0;  // application: none of the vendor's
        header[12] = 2;  // format version 2.6.8.1, as current writers give it
        header[13] = 6;
        header[14] = 8;
        header[15] = 1;
        put64(header + 16, quint64(out.pos()));
        put64(header + 24, m_uncompressed + FileHeaderSize);
        put32(header + 32, m_objects);
        writeSystemTime(header + 40, start);
        writeSystemTime(header + 56, start.addMSecs(lastUs / 1000));
        return out.seek(0) && out.write(header, FileHeaderSize) == FileHeaderSize;
    }

private:
    void append(const CanFrame &f, qint64 offsetUs)
    {
        char *o = m_pending.data() + m_used;
        const quint32 id = f.id | (f.extended ? ExtendedFlag : 0);
        const quint8 dlc = quint8(std::min<int>(f.dlc, 8));
        char *b = o + ObjectHeaderV1;
        if (f.error) {
            std::memcpy(o, m_templates->error, ErrorObjectSize);
            b[10] = char(dlc);
            put32(b + 16, id);
            std::memcpy(b + 24, f.data, dlc);
            m_used += ErrorObjectSize;
        } else {
            std::memcpy(o, m_templates->message, MessageObjectSize);
            b[2] = char((f.tx ? TxFlag : 0) | (f.rtr ? RemoteFlag : 0));
            b[3] = char(dlc);
            put32(b + 4, id);
            if (!f.rtr)
                std::memcpy(b + 8, f.data, dlc);
            m_used += MessageObjectSize;
        }
        put64(o + 24, offsetUs > 0 && offsetUs < std::numeric_limits<qint64>::max() / 1000 ? quint64(offsetUs) * 1000 : 0);
        ++m_objects;
    }

    // Compresses the first `n` pending bytes into one container; an object
    // cut at the end goes on in the next one.
    void flushContainer(size_t n)
    {
        uchar *packed = reinterpret_cast<uchar *>(m_packed.data());
        const size_t packedSize = RecordDeflate::compress(reinterpret_cast<const uchar *>(m_pending.data()), n,
                                                          packed + ContainerHeader, MessageObjectSize, ErrorObjectSize);
        const quint32 objectSize = ContainerHeader + quint32(packedSize);
        char *c = m_packed.data();
        std::memset(c, 0, ContainerHeader);
        std::memcpy(c, "LOBJ", 4);
        put16(c + 4, ObjectHeaderBase);
        put16(c + 6, 1);
        put32(c + 8, objectSize);
        put32(c + 12, LogContainer);
        put16(c + 16, 2);  // zlib
        put32(c + 24, quint32(n));
        const quint32 padding = objectSize % 4;
        std::memset(c + objectSize, 0, padding);
        if (m_out->write(c, objectSize + padding) != qint64(objectSize + padding))
            m_failed = true;
        m_uncompressed += ContainerHeader + n;
        m_used -= n;
        std::memmove(m_pending.data(), m_pending.data() + n, m_used);
    }

    const ObjectTemplates *m_templates = nullptr;
    QIODevice *m_out = nullptr;
    std::vector<char> m_pending;
    size_t m_used = 0;
    std::vector<char> m_packed;
    quint64 m_uncompressed = 0;
    quint32 m_objects = 0;
    bool m_failed = false;
};

} // namespace

std::unique_ptr<Reader> makeBlfReader()
{
    return std::make_unique<BlfReader>();
}

std::unique_ptr<Writer> makeBlfWriter()
{
    return std::make_unique<BlfWriter>();
}

} // namespace TraceFile
