// busvista-cli symcheck / decode: load a symbol file and decode frames with it,
// headless, for checking symbol files and scripting.
#include "cli.h"

#include "dbcfile.h"
#include "symbolfile.h"
#include "symsyntax.h"

#include <QFile>
#include <QSaveFile>

namespace {

const char SymcheckUsage[] = "symcheck FILE.sym|FILE.dbc";
const char DecodeUsage[] = "decode --sym FILE.sym|FILE.dbc [FRAME ...]";
const char SymconvertUsage[] = "symconvert IN.sym|IN.dbc OUT.sym|OUT.dbc";

// cansend notation: "123#11223344" (up to 3 hex digits: standard), "18FEF100#FF00"
// (8 hex digits: extended), "123#R" or "123#R3" (remote request, optional length).
// Data bytes may be separated by dots.
bool parseFrame(QStringView text, CanFrame *frame)
{
    const qsizetype hash = text.indexOf(QLatin1Char('#'));
    if ((hash < 1 || hash > 3) && hash != 8)
        return false;
    CanFrame result;
    quint64 id = 0;
    for (QChar c : text.left(hash)) {
        const int d = SymSyntax::hexDigit(c);
        if (d < 0)
            return false;
        id = id * 16 + quint64(d);
    }
    result.extended = hash == 8;
    if (id > (result.extended ? 0x1FFFFFFFu : 0x7FFu))
        return false;
    result.id = quint32(id);

    const QStringView payload = text.mid(hash + 1);
    if (!payload.isEmpty() && (payload.front() == QLatin1Char('R') || payload.front() == QLatin1Char('r'))) {
        result.rtr = true;
        if (payload.size() == 2 && payload.at(1) >= QLatin1Char('0') && payload.at(1) <= QLatin1Char('8'))
            result.dlc = quint8(payload.at(1).unicode() - '0');
        else if (payload.size() != 1)
            return false;
        *frame = result;
        return true;
    }
    int nibbles = 0;
    int count = 0;
    int high = 0;
    for (QChar c : payload) {
        if (c == QLatin1Char('.') && nibbles == 0)
            continue;
        const int d = SymSyntax::hexDigit(c);
        if (d < 0)
            return false;
        if (nibbles == 0) {
            high = d;
            nibbles = 1;
            continue;
        }
        if (count == 8)
            return false;
        result.data[count++] = quint8(high * 16 + d);
        nibbles = 0;
    }
    if (nibbles != 0)
        return false;
    result.dlc = quint8(count);
    *frame = result;
    return true;
}

// A "candump -L" line "(1700000000.123456) can0 123#1122" or a bare frame;
// gives the frame text as written.
bool parseInputLine(const QString &line, QString *frameText, CanFrame *frame)
{
    const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString candidate;
    if (fields.size() == 1)
        candidate = fields.at(0);
    else if (fields.size() >= 3 && fields.at(0).startsWith(QLatin1Char('(')) && fields.at(0).endsWith(QLatin1Char(')')))
        candidate = fields.at(2);
    else
        return false;
    if (!parseFrame(candidate, frame))
        return false;
    *frameText = candidate;
    return true;
}

// A failed load prints the warnings collected up to the failure first: they
// usually name the cause (an unclosed enumeration swallowing the rest).
bool loadSymbols(const QString &path, SymbolDatabase *db, QStringList *warnings)
{
    QString error;
    QStringList collected;
    if (!db->load(path, &error, &collected)) {
        for (const QString &warning : std::as_const(collected))
            Cli::err(warning);
        Cli::err(error);
        return false;
    }
    if (warnings)
        *warnings = collected;
    return true;
}

void printDecoded(const SymbolDatabase &db, const QString &frameText, const CanFrame &frame)
{
    const SymMessage *message = db.find(frame);
    Cli::out(QStringLiteral("%1\t%2\t%3")
                 .arg(frameText, message ? message->displayName() : QString(), db.decodeText(frame)));
}

int runSymcheck(const QStringList &args)
{
    CliOptions options("symcheck");
    options.allowPositional();
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    if (options.positional().size() != 1)
        return options.fail();
    SymbolDatabase db;
    QStringList warnings;
    if (!loadSymbols(options.positional().at(0), &db, &warnings))
        return Cli::Failed;
    for (const QString &warning : std::as_const(warnings))
        Cli::out(warning);
    Cli::out(QStringLiteral("OK: %1 Nachrichten, %2 Hinweise").arg(db.messages.size()).arg(warnings.size()));
    return Cli::Ok;
}

int runDecode(const QStringList &args)
{
    CliOptions options("decode");
    options.add(QStringLiteral("sym"), QStringLiteral("Symboldatei oder DBC-Datenbank"), QStringLiteral("FILE.sym|FILE.dbc"));
    options.allowPositional();
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    const QString symPath = options.value(QStringLiteral("sym"));
    const QStringList frames = options.positional();
    if (symPath.isEmpty())
        return options.fail(QStringLiteral("--sym fehlt."));

    QList<CanFrame> parsed;
    for (const QString &text : std::as_const(frames)) {
        CanFrame frame;
        if (!parseFrame(text, &frame))
            return options.fail(QStringLiteral("Ungültiger Frame: %1").arg(text));
        parsed.append(frame);
    }

    SymbolDatabase db;
    if (!loadSymbols(symPath, &db, nullptr))
        return Cli::Failed;

    if (!frames.isEmpty()) {
        for (int i = 0; i < frames.size(); ++i)
            printDecoded(db, frames.at(i), parsed.at(i));
        std::fflush(stdout);
        return Cli::Ok;
    }

    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        Cli::err(input.errorString());
        return Cli::Failed;
    }
    int lineNo = 0;
    while (true) {
        const QByteArray bytes = input.readLine();
        if (bytes.isEmpty())
            break;   // end of input; an empty line still holds its "\n"
        ++lineNo;
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.isEmpty())
            continue;
        QString frameText;
        CanFrame frame;
        if (!parseInputLine(line, &frameText, &frame)) {
            Cli::err(QStringLiteral("Zeile %1: kein CAN-Frame: %2").arg(lineNo).arg(line));
            continue;
        }
        printDecoded(db, frameText, frame);
    }
    std::fflush(stdout);
    return Cli::Ok;
}

// Converts between symbol files and DBC databases; the output format follows
// the output's ending. What the output cannot hold is named on stderr.
int runSymconvert(const QStringList &args)
{
    CliOptions options("symconvert");
    options.allowPositional();
    if (const int exit = options.parse(args); exit >= 0)
        return exit;
    if (options.positional().size() != 2)
        return options.fail();
    const QString in = options.positional().at(0);
    const QString out = options.positional().at(1);
    const bool toDbc = out.endsWith(QLatin1String(".dbc"), Qt::CaseInsensitive);
    if (!toDbc && !out.endsWith(QLatin1String(".sym"), Qt::CaseInsensitive))
        return options.fail(QStringLiteral("Unbekannte Endung der Ausgabedatei (.sym oder .dbc): %1").arg(out));

    SymbolDatabase db;
    QStringList warnings;
    if (!loadSymbols(in, &db, &warnings))
        return Cli::Failed;
    for (const QString &warning : std::as_const(warnings))
        Cli::err(warning);
    QString refusal;
    if (!toDbc && !SymFile::canWrite(db, &refusal)) {
        Cli::err(QStringLiteral("%1: %2").arg(out, refusal));
        return Cli::Failed;
    }
    QStringList lost;
    const QByteArray bytes = toDbc ? DbcFile::write(db, &lost) : SymFile::write(db, &lost);
    QSaveFile file(out);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        Cli::err(QStringLiteral("%1: %2").arg(out, file.errorString()));
        return Cli::Failed;
    }
    for (const QString &item : std::as_const(lost))
        Cli::err(QStringLiteral("Nicht übernommen – %1").arg(item));
    Cli::out(QStringLiteral("OK: %1 Nachrichten als %2 geschrieben, %3 Hinweise beim Lesen, %4 nicht übernommene Angaben")
                 .arg(db.messages.size())
                 .arg(toDbc ? QStringLiteral("DBC") : QStringLiteral("Symboldatei"))
                 .arg(warnings.size())
                 .arg(lost.size()));
    return Cli::Ok;
}

const CliCommand symcheckCommand("symcheck", SymcheckUsage, runSymcheck);
const CliCommand symconvertCommand("symconvert", SymconvertUsage, runSymconvert);
const CliCommand decodeCommand("decode", DecodeUsage, runDecode);

} // namespace
