#pragma once

#include <QProcess>
#include <QStringList>

// Runs the real busvista-cli (path from BUSVISTA_CLI) the way scripts do.
struct CliRun
{
    int exitCode = -1; // -1: did not start, crashed or timed out
    QString out;
    QString err;
};

inline CliRun runCli(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(QStringLiteral(BUSVISTA_CLI), args);
    CliRun run;
    if (!process.waitForStarted())
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
