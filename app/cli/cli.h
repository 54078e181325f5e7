#pragma once

#include <QStringList>

#include <cstdio>
#include <functional>

class SimulationBackend;

// The subcommands of busvista-cli register themselves with a static
// CliCommand object in their own source file.
struct CliCommand
{
    using Run = int (*)(const QStringList &args);

    CliCommand(const char *name, const char *usage, Run run);

    const char *name;
    const char *usage;
    Run run;
};

namespace Cli {

// Exit codes shared by all subcommands.
enum ExitCode { Ok = 0, Failed = 1, Usage = 2 };

// Prints the usage line of the command to stderr and returns Usage.
int usageError(const char *command, const QString &message = QString());

// Writes UTF-8 text to stdout / stderr.
void out(const QString &text);
void err(const QString &text);

// Reads the value after option `name` in `args`; false if absent.
// Sets *missing when the option is present without a value.
bool optionValue(const QStringList &args, const QString &name, QString *value, bool *missing = nullptr);

// Reads a duration in seconds (decimals allowed); false for anything that is
// not a finite number in 0..1000000, which keeps it within a timer's int ms.
bool parseSeconds(const QString &text, double *seconds);

// Opens the simulated bus, calls `started`, runs the event loop for `seconds`,
// closes the bus and delivers what it produced up to then. Prints the error
// and returns false when the bus does not open.
bool runSimulation(SimulationBackend &backend, double seconds,
                   const std::function<void()> &started = {});

} // namespace Cli
