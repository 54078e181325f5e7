#include "programstart.h"

QString ProgramStart::windowsCommandLine(const QStringList &arguments)
{
    QStringList quoted;
    for (const QString &argument : arguments) {
        if (!argument.isEmpty() && !argument.contains(QLatin1Char(' ')) && !argument.contains(QLatin1Char('\t'))
            && !argument.contains(QLatin1Char('"'))) {
            quoted << argument;
            continue;
        }
        // Backslashes count only before a quote: doubled there, and before
        // the closing quote, so that they stay backslashes.
        QString text = QStringLiteral("\"");
        int backslashes = 0;
        for (const QChar c : argument) {
            if (c == QLatin1Char('\\')) {
                ++backslashes;
                continue;
            }
            if (c == QLatin1Char('"')) {
                text += QString(backslashes * 2 + 1, QLatin1Char('\\'));
            } else {
                text += QString(backslashes, QLatin1Char('\\'));
            }
            backslashes = 0;
            text += c;
        }
        text += QString(backslashes * 2, QLatin1Char('\\'));
        text += QLatin1Char('"');
        quoted << text;
    }
    return quoted.join(QLatin1Char(' '));
}
