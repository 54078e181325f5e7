#include "settingsdialog.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

bool SettingsDialog::checkUpdatesAtStart()
{
    return QSettings().value(QStringLiteral("general/checkUpdates"), true).toBool();
}

QString SettingsDialog::symbolEditorPath()
{
    return QSettings().value(QStringLiteral("symbols/editorPath")).toString();
}

QString SettingsDialog::language()
{
    return QSettings().value(QStringLiteral("general/language")).toString();
}

void SettingsDialog::applyLanguage(const QString &language)
{
    // One translator for the whole process, re-loaded on every change.
    static QTranslator *translator = nullptr;
    if (!translator)
        translator = new QTranslator(QCoreApplication::instance());
    QCoreApplication::removeTranslator(translator);

    const QLocale locale = language.isEmpty() ? QLocale::system() : QLocale(language);
    const QString name = QStringLiteral("qtbase");
    const QString prefix = QStringLiteral("_");
    bool loaded = translator->load(locale, name, prefix,
                                   QCoreApplication::applicationDirPath() + QStringLiteral("/translations"));
    if (!loaded)
        loaded = translator->load(locale, name, prefix, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (loaded)
        QCoreApplication::installTranslator(translator);
}
