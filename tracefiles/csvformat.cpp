// The program's own CSV trace: the decoded symbol names and signal texts
// for spreadsheets, read back without them.
#include "traceformat.h"
#include "traceline.h"
#include "symbolfile.h"

#include <QHash>

namespace TraceFile {

namespace {

class CsvReader : public LineReader
{
protected:
    bool line(const char *b, const char *e, Sink &sink, LoadResult *result, QString *error) override
    {
        if (m_headerPending) {
            m_headerPending = !startsWith(b, e, "Nr;Zeit_ms;");
            return finish(result, error);
        }
        switch (TraceLine::readCsv(b, e, &m_entry)) {
        case TraceLine::Result::Entry: sink.add(m_entry); break;
        case TraceLine::Result::Unrecognised: ++result->unrecognised; break;
        case TraceLine::Result::Empty: break;
        }
        return true;
    }
    // A file without the header line, even an empty one, is not one of ours.
    bool finish(LoadResult *, QString *error) override
    {
        if (m_headerPending)
            *error = tr("Das ist keine mit Busvista gespeicherte CSV-Datei.");
        return !m_headerPending;
    }

private:
    bool m_headerPending = true;
    TraceEntry m_entry;
};

class CsvWriter : public LineWriter
{
public:
    bool holdsStatus() const override { return true; }

protected:
    void header(QByteArray &out, const Source &source) override
    {
        m_symbols = source.symbols.get();
        out += "Nr;Zeit_ms;Richtung;ID;Symbol;Typ;DLC;Daten;Signale\n";
    }
    void entry(QByteArray &out, const TraceEntry &entry, qint64 offsetUs) override
    {
        const SymMessage *message = m_symbols ? m_symbols->find(entry.frame) : nullptr;
        if (!message) {
            TraceLine::appendCsv(out, entry.number, entry.frame, offsetUs, m_none, m_none);
            return;
        }
        // A ";" in a symbol name would shift the columns that the reader
        // relies on; it is written as ",". Line ends would split the line.
        auto name = m_names.find(message);
        if (name == m_names.end()) {
            QString text = message->displayName();
            text.replace(QLatin1Char(';'), QLatin1Char(','));
            text.replace(QLatin1Char('\r'), QLatin1Char(' '));
            text.replace(QLatin1Char('\n'), QLatin1Char(' '));
            name = m_names.insert(message, text.toUtf8());
        }
        QString signalText = m_symbols->decodeText(entry.frame);
        signalText.replace(QLatin1Char('\r'), QLatin1Char(' '));
        signalText.replace(QLatin1Char('\n'), QLatin1Char(' '));
        TraceLine::appendCsv(out, entry.number, entry.frame, offsetUs, name.value(), signalText.toUtf8());
    }

private:
    const SymbolDatabase *m_symbols = nullptr;
    QHash<const SymMessage *, QByteArray> m_names;
    const QByteArray m_none;
};

} // namespace

std::unique_ptr<Reader> makeCsvReader()
{
    return std::make_unique<CsvReader>();
}

std::unique_ptr<Writer> makeCsvWriter()
{
    return std::make_unique<CsvWriter>();
}

} // namespace TraceFile
