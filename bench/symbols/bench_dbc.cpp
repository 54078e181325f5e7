// Speed of DBC databases:
//   load of the largest DBC file of the corpus and of a generated 10 MB file,
//   in lines per CPU second, side by side with canmatrix on the same files
//   (Debian's python3-canmatrix, timed inside Python by its process CPU time);
//   find + decodeText with a DBC database, in frames per CPU second.
// The corpus is taken from BUSVISTA_CORPUS or ../shared/corpus when present.
#include "symbolfile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

double cpuNow()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A DBC file of about `bytes` bytes: messages with 8 to 16 signals, Intel and
// Motorola, comments, value descriptions, attributes, some multiplexed.
QByteArray generateDbc(qsizetype bytes)
{
    QByteArray text = "VERSION \"\"\n\nNS_ :\n\tCM_\n\tBA_DEF_\n\tBA_\n\tVAL_\n\nBS_:\n\nBU_: ECU1 ECU2 ECU3\n\n";
    QByteArray tail = "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 10000;\nBA_DEF_ SG_ \"GenSigStartValue\" INT 0 100000;\n"
                      "BA_DEF_DEF_ \"GenMsgCycleTime\" 0;\nBA_DEF_DEF_ \"GenSigStartValue\" 0;\n";
    std::mt19937 random(1);
    for (int m = 0; text.size() + tail.size() < bytes; ++m) {
        // Unique identifiers, as in a valid file: standard ones while they
        // last, extended ones (bit 31) for every third message and beyond.
        const bool extended = m % 3 == 0 || m > 0x7FF;
        const quint32 id = extended ? 0x80000000u | (0x18F00000u + quint32(m)) : quint32(m);
        const QByteArray ids = QByteArray::number(id);
        const bool muxed = m % 10 == 9;
        text += "BO_ " + ids + " Message_" + QByteArray::number(m) + ": 8 ECU" + QByteArray::number(m % 3 + 1) + "\n";
        if (muxed)
            text += " SG_ Mode M : 0|4@1+ (1,0) [0|15] \"\" ECU2\n";
        const int signalCount = 8 + int(random() % 9);
        int bit = muxed ? 4 : 0;
        for (int s = 0; s < signalCount && bit < 64; ++s) {
            const int length = 1 + int(random() % 12);
            if (bit + length > 64)
                break;
            const bool motorola = s % 2 == 1;
            const int start = motorola ? (bit & ~7) + (7 - (bit & 7)) : bit;
            const QByteArray name = "Signal_" + QByteArray::number(m) + "_" + QByteArray::number(s);
            text += " SG_ " + name + (muxed && s % 2 ? " m" + QByteArray::number(s % 4) : QByteArray()) + " : "
                + QByteArray::number(start) + "|" + QByteArray::number(length) + (motorola ? "@0" : "@1")
                + (s % 3 == 0 ? "-" : "+") + " (0.125,-40) [-40|" + QByteArray::number(length * 100) + "] \"km/h\" ECU2,ECU3\n";
            if (s % 4 == 0)
                tail += "CM_ SG_ " + ids + " " + name + " \"Comment of " + name + " with some words\";\n";
            if (s % 5 == 0)
                tail += "VAL_ " + ids + " " + name + " 0 \"Off\" 1 \"On\" 2 \"Error\" 3 \"Not available\" ;\n";
            if (s % 7 == 0)
                tail += "BA_ \"GenSigStartValue\" SG_ " + ids + " " + name + " 1;\n";
            bit += length;
        }
        text += "\n";
        tail += "CM_ BO_ " + ids + " \"Message " + QByteArray::number(m) + "\";\n";
        tail += "BA_ \"GenMsgCycleTime\" BO_ " + ids + " " + QByteArray::number(10 * (m % 10 + 1)) + ";\n";
    }
    return text + tail;
}

struct LoadFigure
{
    double linesPerSecond = 0.0;
    int messages = 0;
};

LoadFigure timeLoad(const QString &path, qsizetype lines)
{
    LoadFigure figure;
    int rounds = 0;
    const double start = cpuNow();
    double elapsed = 0.0;
    do {
        SymbolDatabase db;
        QString error;
        if (!db.load(path, &error, nullptr)) {
            std::fprintf(stderr, "load failed: %s\n", qPrintable(error));
            return figure;
        }
        figure.messages = int(db.messages.size());
        ++rounds;
        elapsed = cpuNow() - start;
    } while (elapsed < 1.0);
    figure.linesPerSecond = double(lines) * rounds / elapsed;
    return figure;
}

// canmatrix's load of the file, lines per CPU second of the Python process
// (without starting Python and importing canmatrix); 0 when not available.
double canmatrixLinesPerSecond(const QString &path, qsizetype lines)
{
    const char script[] = R"PY(
import contextlib, io, sys, time
import canmatrix.formats.dbc as dbc
start = time.process_time()
with open(sys.argv[1], "rb") as f, contextlib.redirect_stdout(io.StringIO()):
    dbc.load(f, dbcImportEncoding="cp1252")
print(time.process_time() - start)
)PY";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QLatin1String(script), path});
    if (!python.waitForFinished(1800000) || python.exitCode() != 0)
        return 0.0;
    const double seconds = python.readAllStandardOutput().trimmed().split('\n').last().toDouble();
    return seconds > 0 ? double(lines) / seconds : 0.0;
}

void reportLoad(const char *what, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    const qsizetype lines = content.count('\n') + (content.endsWith('\n') ? 0 : 1);
    const LoadFigure ours = timeLoad(path, lines);
    const double theirs = canmatrixLinesPerSecond(path, lines);
    std::printf("%-28s %9lld lines %8.1f MB  Busvista %12.0f lines/s", what, qlonglong(lines),
                double(content.size()) / 1e6, ours.linesPerSecond);
    if (theirs > 0)
        std::printf("  canmatrix %10.0f lines/s  ratio %6.1fx\n", theirs, ours.linesPerSecond / theirs);
    else
        std::printf("  canmatrix n/a\n");
    std::fflush(stdout);
}

QString largestCorpusDbc()
{
    QString dir = qEnvironmentVariable("BUSVISTA_CORPUS");
    if (dir.isEmpty()) {
        for (const QString &candidate : {QStringLiteral("../shared/corpus"), QStringLiteral("../../shared/corpus"),
                                         QStringLiteral("/work/shared/corpus")}) {
            if (QFileInfo::exists(candidate)) {
                dir = candidate;
                break;
            }
        }
    }
    QString best;
    qint64 bestSize = -1;
    QDirIterator it(dir + QStringLiteral("/dbc"), {QStringLiteral("*.dbc")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).size() > bestSize) {
            bestSize = QFileInfo(path).size();
            best = path;
        }
    }
    return best;
}

// Frames of `active` messages picked at random (all messages when 0): a
// bus carries a few hundred of a large database's messages at a time.
void benchDecode(const QString &path, int active = 0)
{
    SymbolDatabase db;
    if (!db.load(path, nullptr, nullptr) || db.messages.isEmpty())
        return;
    std::mt19937 random(42);
    std::vector<qsizetype> chosen;
    if (active > 0 && active < db.messages.size()) {
        while (chosen.size() < size_t(active))
            chosen.push_back(qsizetype(random() % quint32(db.messages.size())));
    } else {
        for (qsizetype i = 0; i < db.messages.size(); ++i)
            chosen.push_back(i);
    }
    std::vector<CanFrame> frames(4096);
    for (CanFrame &frame : frames) {
        const SymMessage &m = db.messages.at(chosen[random() % chosen.size()]);
        frame.id = m.idLow;
        frame.extended = m.extended;
        frame.dlc = 8;
        for (quint8 &b : frame.data)
            b = quint8(random());
        SymbolDatabase::insertMux(m, frame);
    }
    qsizetype decoded = 0;
    qsizetype characters = 0;
    const double start = cpuNow();
    double elapsed = 0.0;
    do {
        for (const CanFrame &frame : frames) {
            characters += db.decodeText(frame).size();
            ++decoded;
        }
        elapsed = cpuNow() - start;
    } while (elapsed < 1.0);
    std::printf("find + decodeText (%s, %lld symbols, frames of %lld) %12.0f frames/s (%lld characters)\n",
                qPrintable(QFileInfo(path).fileName()), qlonglong(db.messages.size()), qlonglong(chosen.size()),
                double(decoded) / elapsed, qlonglong(characters));
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const QString generated = dir.filePath(QStringLiteral("generated.dbc"));
    {
        QFile file(generated);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(generateDbc(10 * 1000 * 1000));
    }
    const QString corpus = largestCorpusDbc();
    if (!corpus.isEmpty())
        reportLoad(qPrintable(QFileInfo(corpus).fileName()), corpus);
    else
        std::printf("corpus not found: only the generated file\n");
    reportLoad("generated 10 MB", generated);
    if (!corpus.isEmpty())
        benchDecode(corpus);
    benchDecode(generated, 200);
    benchDecode(generated);
    return 0;
}
