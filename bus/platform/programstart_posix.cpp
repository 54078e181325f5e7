#include "programstart.h"

#include <QProcess>

bool ProgramStart::startDetached(const QString &program, const QStringList &arguments,
                                 const QString &workingDirectory, QString *error)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}
