// PCAN trace lines of versions 1.2 to 2.1: columns named by letters, in the
// order of the version or of the file's ";$COLUMNS=" line.
#include "trccolumns.h"
#include "tracescan.h"

#include <algorithm>

namespace TrcColumns {

namespace {

using namespace TraceScan;

struct Token
{
    const char *b;
    const char *e;
    bool is(const char *literal) const { return equals(b, e, literal); }
};

constexpr int MaxTokens = 96;

// Length of a CAN FD length code.
int lengthOfCode(quint32 code)
{
    static const int lengths[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return code < 16 ? lengths[code] : -1;
}

bool byteToken(const Token &t, quint8 *value)
{
    quint32 v = 0;
    if (t.e - t.b != 2 || !parseHex(t.b, t.e, &v))
        return false;
    *value = quint8(v);
    return true;
}

// Bus-state, error and counter lines: their bytes are the two-digit tokens
// at the end, behind a state word some writers add ("BUSHEAVY").
Kind trailingBytes(const Token *tokens, int n, int from, CanFrame &f)
{
    int last = n;
    quint8 unused = 0;
    if (last > from && !byteToken(tokens[last - 1], &unused) && tokens[last - 1].e - tokens[last - 1].b > 2)
        --last;
    int first = last;
    while (first > from && byteToken(tokens[first - 1], &unused))
        --first;
    if (last - first > 8)
        return Kind::Bad;
    for (int i = first; i < last; ++i)
        byteToken(tokens[i], &f.data[i - first]);
    f.dlc = quint8(last - first);
    return Kind::Entry;
}

} // namespace

QByteArray columnsOf(int major, int minor)
{
    if (major == 1)
        return minor == 2 ? QByteArrayLiteral("NOBTILD") : QByteArrayLiteral("NOBTIRLD");
    return minor == 0 ? QByteArrayLiteral("NOTIdlD") : QByteArrayLiteral("NOTBIdRLD");
}

QByteArray parseColumns(const char *b, const char *e)
{
    QByteArray columns;
    for (const char *p = b; p < e; ++p) {
        if (*p != ',' && !isBlank(*p))
            columns += *p;
    }
    // Without the data column last, the line cannot be split.
    if (columns.isEmpty() || !columns.endsWith('D') || columns.count('D') != 1)
        return QByteArray();
    return columns;
}

Kind readLine(const char *p, const char *e, const QByteArray &columns, TraceEntry *entry)
{
    Token tokens[MaxTokens];
    int n = 0;
    const char *b = nullptr;
    const char *t = nullptr;
    while (nextToken(p, e, &b, &t)) {
        if (n == MaxTokens)
            return Kind::Bad;
        tokens[n++] = {b, t};
    }
    if (n == 0)
        return Kind::Empty;

    CanFrame &f = entry->frame;
    f = CanFrame();
    entry->number = 0;
    Token type {nullptr, nullptr};
    quint32 dlcCode = 0;
    int length = -1;
    bool haveLength = false;
    int at = 0;
    for (const char column : columns) {
        if (column == 'D')
            break;
        if (at == n)
            return Kind::Bad;
        const Token &tok = tokens[at];
        switch (column) {
        case 'N': {
            const char *end = tok.e > tok.b && tok.e[-1] == ')' ? tok.e - 1 : tok.e;
            quint32 high = 0;
            quint32 number = 0;
            // Up to 18 digits, read in two parts.
            if (end - tok.b > 9) {
                if (end - tok.b > 18 || !parseDecimal(tok.b, end - 9, &high))
                    return Kind::Bad;
                if (!parseDecimal(end - 9, end, &number))
                    return Kind::Bad;
            } else if (!parseDecimal(tok.b, end, &number)) {
                return Kind::Bad;
            }
            entry->number = quint64(high) * 1000000000ull + number;
            break;
        }
        case 'O': {
            qint64 scaled = 0;
            // Milliseconds: read as if seconds, which scales by 1000 too much.
            if (!parseSeconds(tok.b, tok.e, &scaled))
                return Kind::Bad;
            f.timestampUs = scaled > 0 ? scaled / 1000 : 0;
            break;
        }
        case 'T':
            type = tok;
            // Lines of these kinds leave out columns; their bytes end the line.
            if (type.is("ST") || type.is("Warng")) {
                f.status = true;
                return trailingBytes(tokens, n, at + 1, f);
            }
            if (type.is("ER") || type.is("Error")) {
                f.error = true;
                for (int i = at + 1; i < n; ++i)
                    f.tx = f.tx || tokens[i].is("Tx");
                return trailingBytes(tokens, n, at + 1, f);
            }
            // 1.x: Rx, Tx; 2.x: DT data, RR remote request, FD/FB/FE/BI CAN FD;
            // events and error counters are no frames.
            if (!type.is("Rx") && !type.is("Tx") && !type.is("DT") && !type.is("RR") && !type.is("FD")
                && !type.is("FB") && !type.is("FE") && !type.is("BI"))
                return Kind::Other;
            break;
        case 'I': {
            quint32 id = 0;
            if (!parseHex(tok.b, tok.e, &id))
                return Kind::Bad;
            f.extended = tok.e - tok.b > 4;
            if (id > (f.extended ? 0x1FFFFFFFu : 0x7FFu))
                return Kind::Bad;
            f.id = id;
            break;
        }
        case 'd':
            if (!tok.is("Rx") && !tok.is("Tx"))
                return Kind::Bad;
            f.tx = tok.is("Tx");
            break;
        case 'L':
            if (!parseDecimal(tok.b, tok.e, &dlcCode) || lengthOfCode(dlcCode) < 0)
                return Kind::Bad;
            if (!haveLength)
                length = lengthOfCode(dlcCode);
            break;
        case 'l': {
            quint32 value = 0;
            if (!parseDecimal(tok.b, tok.e, &value) || value > 64)
                return Kind::Bad;
            length = int(value);
            haveLength = true;
            break;
        }
        default:  // bus, reserved and columns this reader does not use
            break;
        }
        ++at;
    }
    if (!type.b || length < 0)
        return Kind::Bad;

    if (type.is("Rx") || type.is("Tx"))
        f.tx = type.is("Tx");
    const bool fd = type.is("FD") || type.is("FB") || type.is("FE") || type.is("BI");
    if (fd && length > 8)
        return Kind::Fd;
    if (length > 8)
        return Kind::Bad;
    f.dlc = quint8(length);
    if (type.is("RR") || (at < n && tokens[at].is("RTR") && at + 1 == n)) {
        f.rtr = true;
        return Kind::Entry;
    }
    if (n - at < length || n - at > 8)
        return Kind::Bad;
    for (int i = 0; i < n - at; ++i) {
        if (!byteToken(tokens[at + i], &f.data[i]))
            return Kind::Bad;
    }
    return Kind::Entry;
}

} // namespace TrcColumns
