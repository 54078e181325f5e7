#pragma once

#include <QString>
#include <QStringList>

// Starts another program on its own, not as a child that ends with this one.
namespace ProgramStart {

// Starts `program` with `arguments` in `workingDirectory`. On Windows this
// goes through the shell (ShellExecuteExW, verb "open"), so that a setup whose
// manifest asks for administrator rights can ask the user for them; elsewhere
// it is an ordinary detached process. On failure: false, and the system's own
// error text in *error.
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory,
                   QString *error);

// The arguments as one Windows command line: each quoted where needed so that
// the started program's CommandLineToArgvW gets them back unchanged.
QString windowsCommandLine(const QStringList &arguments);

} // namespace ProgramStart
