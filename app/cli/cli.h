#pragma once

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <memory>

class QCoreApplication;
class SymbolDatabase;

namespace CliBus {
struct Choice;
}

// The subcommands of busvista-cli register themselves with a static
// CliCommand object in their own source file.
struct CliCommand
{
    using Run = int (*)(const QStringList &args);
    // Creates the application object when a command needs more than a
    // QCoreApplication (drawing); null for the plain one.
    using MakeApplication = QCoreApplication *(*)(int &argc, char **argv);

    CliCommand(const char *name, const char *usage, Run run, MakeApplication makeApplication = nullptr);

    const char *name;
    const char *usage;
    Run run;
    MakeApplication makeApplication;
};

namespace Cli {

// Exit codes shared by all subcommands.
enum ExitCode { Ok = 0, Failed = 1, Usage = 2 };

// Writes UTF-8 text to stdout / stderr.
void out(const QString &text);
void err(const QString &text);

// Loads a symbol file; prints the error and returns false when it fails.
bool loadSymbols(const QString &path, std::shared_ptr<const SymbolDatabase> *db);

// Reads a duration in seconds (decimals allowed); false for anything that is
// not a finite number in 0..1000000, which keeps it within a timer's int ms.
bool parseSeconds(const QString &text, double *seconds);

} // namespace Cli

// The options of one subcommand, parsed with QCommandLineParser. Every
// subcommand answers "--help" with its usage and option list on stdout.
class CliOptions
{
public:
    explicit CliOptions(const char *command);

    void add(const QString &name, const QString &description, const QString &valueName = QString());
    // "--seconds S", required; parse() checks it.
    void addSeconds();
    // Free arguments besides the options; without this they are an error.
    void allowPositional();

    // Parses `args`. With `bus` the bus selection (CliBus) is taken out first
    // and must name a bus. Returns -1 to go on, otherwise the exit code to
    // return at once: Ok after "--help", Usage after an error, which was
    // printed together with the usage.
    int parse(const QStringList &args, CliBus::Choice *bus = nullptr);

    bool isSet(const QString &name) const;
    QString value(const QString &name) const;
    QStringList values(const QString &name) const;   // every occurrence of a repeated option
    QStringList positional() const;
    double seconds() const { return m_seconds; }

    // Prints the message and the usage on stderr; returns Usage.
    int fail(const QString &message = QString()) const;

private:
    QString helpText() const;

    const char *m_command;
    bool m_withBus = false;
    bool m_withSeconds = false;
    bool m_positionalAllowed = false;
    double m_seconds = -1;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
};

namespace Cli {

// "--timeout MS" of the SDO commands, `fallback` when not given. False
// after printing the message with the usage.
bool parseSdoTimeout(const CliOptions &options, int fallback, int *timeoutMs);

} // namespace Cli
