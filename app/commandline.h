#pragma once

#include <QStringList>

// The options of the GUI program. An option counts only as a whole,
// case-sensitive argument and only at its first occurrence; a value option
// that is last or has an empty value is ignored; unknown arguments are ignored.
struct CommandLine
{
    QString settingsDir;
    QString symbolFile;
    bool sim = false;
    bool trace = false;
    QString loadTrace;
    bool hasTab = false;
    int tab = 0;            // a value that is not a decimal integer selects 0
    bool noUpdateCheck = false;
    QString screenshot;
    QString uiSnapshots;
    QStringList plotSignals;   // "--plot NAME[,NAME...]": display names of signals to plot
    bool help = false;         // "--help" or "-h": print the usage and end
    bool version = false;      // "--version": print the version and end

    // Picture taking makes the run unattended: no update check, no message boxes.
    bool automated() const { return !screenshot.isEmpty() || !uiSnapshots.isEmpty(); }

    static CommandLine parse(const QStringList &arguments);   // arguments[0] is the program

    static QString usageText();     // the options, German, for "--help"
    static QString versionText();   // "busvista VERSION"

    // Value of the first occurrence of `name`; empty when absent, last or empty.
    static QString value(const QStringList &arguments, const QString &name);
    static bool flag(const QStringList &arguments, const QString &name);
};
