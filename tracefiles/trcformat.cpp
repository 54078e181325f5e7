// PCAN trace files (.trc): written as version 1.1, read in the layouts of
// versions 1.0 and 1.1.
#include "traceformat.h"
#include "traceline.h"
#include "trccolumns.h"

#include <QDateTime>

#include <cmath>

namespace TraceFile {

namespace {

// OLE dates count wall-clock days from 30 December 1899, so both ends are
// taken as wall time of the same zone (no historic offset changes).
const QDateTime &oleEpoch()
{
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch;
}

QDateTime startTimeFromOle(double days, bool *ok)
{
    const double ms = days * 86400000.0 + 0.5;
    *ok = std::isfinite(ms) && std::fabs(ms) < 1e15;
    if (!*ok)
        return QDateTime();
    const QDateTime wall = oleEpoch().addMSecs(qint64(ms));
    return wallClockTime(wall.date(), wall.time());
}

double oleFromStartTime(const QDateTime &time)
{
    const QDateTime wall(time.date(), time.time(), Qt::UTC);
    return double(oleEpoch().msecsTo(wall)) / 86400000.0;
}

class TrcReader : public LineReader
{
protected:
    bool line(const char *b, const char *e, Sink &sink, LoadResult *result, QString *error) override
    {
        if ((b == e || *b != ';') && !m_columns.isEmpty()) {
            const TrcColumns::Kind kind = TrcColumns::readLine(b, e, m_columns, &m_entry);
            // A line of the 1.0 or 1.1 layout under a later version line:
            // the layout follows the lines here too (no line reads in both).
            if ((kind == TrcColumns::Kind::Bad || kind == TrcColumns::Kind::Other)
                && readLine(b, e) == TraceLine::Result::Entry) {
                sink.add(m_entry);
                return true;
            }
            switch (kind) {
            case TrcColumns::Kind::Entry: sink.add(m_entry); break;
            case TrcColumns::Kind::Fd: ++result->skippedFd; break;
            case TrcColumns::Kind::Other: ++result->skippedOther; break;
            case TrcColumns::Kind::Bad: ++result->unrecognised; break;
            case TrcColumns::Kind::Empty: break;
            }
            return true;
        }
        if (b == e || *b != ';') {
            switch (readLine(b, e)) {
            case TraceLine::Result::Entry: sink.add(m_entry); break;
            case TraceLine::Result::Unrecognised: ++result->unrecognised; break;
            case TraceLine::Result::Empty: break;
            }
            return true;
        }
        if (startsWith(b, e, ";$FILEVERSION=")) {
            const QString version = QString::fromUtf8(b + 14, e - b - 14).trimmed();
            bool ok = false;
            const int major = version.section(QLatin1Char('.'), 0, 0).toInt(&ok);
            const QString minorText = version.section(QLatin1Char('.'), 1, 1);
            bool minorOk = false;
            const int minor = minorText.isEmpty() ? 0 : minorText.toInt(&minorOk);
            if (!ok || (major != 1 && major != 2) || (!minorText.isEmpty() && !minorOk) || (major == 2 && minor > 1)) {
                *error = tr("Dieses PCAN-Trace-Format (Version %1) wird nicht unterstützt.").arg(version);
                return false;
            }
            // From 1.2 on the columns are named; 1.0 and 1.1 keep the line layouts.
            if (major == 2 || minor >= 2)
                m_columns = TrcColumns::columnsOf(major, minor);
            else if (!m_decided)
                m_layout = minor == 0 ? TraceLine::TrcLayout::V10 : TraceLine::TrcLayout::V11;
        } else if (startsWith(b, e, ";$COLUMNS=") && !m_columns.isEmpty()) {
            const QByteArray columns = TrcColumns::parseColumns(b + 10, e);
            if (columns.isEmpty()) {
                *error = tr("Die Spaltenangabe der PCAN-Trace-Datei ist nicht lesbar: %1").arg(QString::fromUtf8(b, e - b));
                return false;
            }
            m_columns = columns;
        } else if (startsWith(b, e, ";$STARTTIME=")) {
            bool ok = false;
            const double days = QString::fromUtf8(b + 12, e - b - 12).trimmed().toDouble(&ok);
            if (ok) {
                const QDateTime time = startTimeFromOle(days, &ok);
                if (ok)
                    result->startTime = time;
            }
        }
        return true;  // a comment never counts as unrecognised
    }

private:
    // The layout follows the lines, not the version line: the first line
    // that one layout reads decides for the whole file (no line reads in
    // both, since no type word is made of hexadecimal digits). Until then
    // the version line's layout is tried first.
    TraceLine::Result readLine(const char *b, const char *e)
    {
        TraceLine::Result result = TraceLine::readTrc(b, e, m_layout, &m_entry);
        if (m_decided || result != TraceLine::Result::Unrecognised) {
            m_decided = m_decided || result == TraceLine::Result::Entry;
            return result;
        }
        const TraceLine::TrcLayout other =
            m_layout == TraceLine::TrcLayout::V10 ? TraceLine::TrcLayout::V11 : TraceLine::TrcLayout::V10;
        if (TraceLine::readTrc(b, e, other, &m_entry) != TraceLine::Result::Entry)
            return result;
        m_layout = other;
        m_decided = true;
        return TraceLine::Result::Entry;
    }

    QByteArray m_columns;  // versions from 1.2 on
    // A file without a version line is tried as version 1.0 first.
    TraceLine::TrcLayout m_layout = TraceLine::TrcLayout::V10;
    bool m_decided = false;
    TraceEntry m_entry;
};

class TrcWriter : public LineWriter
{
public:
    bool holdsStatus() const override { return true; }

protected:
    void header(QByteArray &out, const Source &source) override
    {
        const QDateTime start = source.startTime.isValid() ? source.startTime : QDateTime::currentDateTime();
        out += ";$FILEVERSION=1.1\n";
        out += ";$STARTTIME=" + QByteArray::number(oleFromStartTime(start), 'f', 10) + '\n';
        out += ";\n";
        out += ";   Start time: " + start.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")).toUtf8() + '\n';
        out += ";   Generated by Busvista\n"
               ";-------------------------------------------------------------------------------\n"
               ";   Message Number\n"
               ";   |         Time Offset (ms)\n"
               ";   |         |        Type\n"
               ";   |         |        |        ID (hex)\n"
               ";   |         |        |        |     Data Length\n"
               ";   |         |        |        |     |   Data Bytes (hex) ...\n"
               ";   |         |        |        |     |   |\n"
               ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\n";
    }
    void entry(QByteArray &out, const TraceEntry &entry, qint64 offsetUs) override
    {
        TraceLine::appendTrc(out, entry.number, entry.frame, offsetUs);
    }
};

} // namespace

std::unique_ptr<Reader> makeTrcReader()
{
    return std::make_unique<TrcReader>();
}

std::unique_ptr<Writer> makeTrcWriter()
{
    return std::make_unique<TrcWriter>();
}

} // namespace TraceFile
