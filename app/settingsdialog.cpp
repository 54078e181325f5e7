#include "settingsdialog.h"
#include "ui_settingsdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QTranslator>

#include <algorithm>

namespace {

const QString CheckUpdatesKey = QStringLiteral("general/checkUpdates");
const QString EditorPathKey = QStringLiteral("symbols/editorPath");
const QString LanguageKey = QStringLiteral("general/language");
const QString PlotPointsKey = QStringLiteral("plot/maxPoints");
// The plot recorder's limits (SignalRecorder); the app does not link the plot's headers here.
constexpr int PlotPointsDefault = 200000;
constexpr int PlotPointsMin = 1000;
constexpr int PlotPointsMax = 20000000;

// Qt's INI format keeps a group called "general" as the section [%General]
// and hands its keys back as "General/...", and keys are case-sensitive
// outside Windows: a value written in one run comes back under the other
// spelling in the next. Reads accept both; writes leave only one.
QString otherSpelling(const QString &key)
{
    return QStringLiteral("General") + key.mid(int(qstrlen("general")));
}

QVariant generalValue(const QString &key, const QVariant &defaultValue = QVariant())
{
    QSettings settings;
    if (settings.contains(key))
        return settings.value(key);
    return settings.value(otherSpelling(key), defaultValue);
}

void setGeneralValue(QSettings &settings, const QString &key, const QVariant &value)
{
    // Removed first: where keys ignore case, this removes `key` as well.
    settings.remove(otherSpelling(key));
    if (value.isValid())
        settings.setValue(key, value);
    else
        settings.remove(key);
}

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>())
{
    ui->setupUi(this);
#ifndef Q_OS_WIN
    // The form's example is a Windows path; here the editor is a program or
    // a start script (for instance one that runs it under Wine).
    ui->pathEdit->setPlaceholderText(tr("z. B. /usr/local/bin/pcan-symbol-editor"));
#endif
    ui->languageCombo->addItem(tr("Systemsprache"), QString());
    ui->languageCombo->addItem(tr("Deutsch"), QStringLiteral("de"));
    ui->languageCombo->addItem(tr("English"), QStringLiteral("en"));
    connect(ui->browseButton, &QPushButton::clicked, this, &SettingsDialog::browse);
    connect(ui->pathEdit, &QLineEdit::textChanged, this, &SettingsDialog::updateInfo);
    load();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::load()
{
    ui->updateCheck->setChecked(checkUpdatesAtStart());
    setPath(symbolEditorPath());
    const int index = ui->languageCombo->findData(language(), Qt::UserRole, Qt::MatchExactly);
    ui->languageCombo->setCurrentIndex(index < 0 ? 0 : index);
    ui->plotPointsSpin->setValue(plotMaxPoints());
    updateInfo();
}

void SettingsDialog::save() const
{
    QSettings settings;
    setGeneralValue(settings, CheckUpdatesKey, ui->updateCheck->isChecked());
    const QString editor = path();
    if (editor.isEmpty())
        settings.remove(EditorPathKey);
    else
        settings.setValue(EditorPathKey, editor);
    const QString chosen = ui->languageCombo->currentData().toString();
    setGeneralValue(settings, LanguageKey, chosen.isEmpty() ? QVariant() : QVariant(chosen));
    settings.setValue(PlotPointsKey, ui->plotPointsSpin->value());
}

int SettingsDialog::plotMaxPoints()
{
    return std::clamp(QSettings().value(PlotPointsKey, PlotPointsDefault).toInt(), PlotPointsMin, PlotPointsMax);
}

QString SettingsDialog::path() const
{
    const QString text = ui->pathEdit->text().trimmed();
    return text.isEmpty() ? text : QDir::cleanPath(QDir::fromNativeSeparators(text));
}

void SettingsDialog::setPath(const QString &path)
{
    ui->pathEdit->setText(QDir::toNativeSeparators(path));
}

void SettingsDialog::updateInfo()
{
    const QString editor = path();
    QString message;
    if (!editor.isEmpty()) {
        const QFileInfo info(editor);
        if (!info.exists())
            message = tr("Die Datei existiert nicht.");
        else if (!info.isFile() || !info.isExecutable())
            message = tr("Die Datei ist kein ausführbares Programm.");
    }
    ui->infoLabel->setText(message);
    ui->infoLabel->setStyleSheet(message.isEmpty() ? QString() : QStringLiteral("color: #c02020;"));
}

void SettingsDialog::browse()
{
    const QString current = path();
    const QString startDir = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
    const QString editorFilter = tr("PCAN Symbol Editor (PcanSEdt.exe)");
    const QString allFilter = tr("Alle Dateien (*)");
    // Outside Windows the editor is whatever executable the user runs, without ".exe".
#ifdef Q_OS_WIN
    QString selected = editorFilter;
#else
    QString selected = allFilter;
#endif
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("PCAN Symbol Editor wählen"), startDir,
        editorFilter + QStringLiteral(";;") + tr("Programme (*.exe)") + QStringLiteral(";;") + allFilter,
        &selected);
    if (!chosen.isEmpty())
        ui->pathEdit->setText(QDir::toNativeSeparators(chosen));
}

bool SettingsDialog::checkUpdatesAtStart()
{
    return generalValue(CheckUpdatesKey, true).toBool();
}

QString SettingsDialog::symbolEditorPath()
{
    return QSettings().value(EditorPathKey).toString();
}

QString SettingsDialog::language()
{
    return generalValue(LanguageKey).toString();
}

namespace {
bool storeFailureBoxes = true;
}

void SettingsDialog::setStoreFailureBoxes(bool shown)
{
    storeFailureBoxes = shown;
}

bool SettingsDialog::syncStore(QSettings &settings, QWidget *parent)
{
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    // Said once per run: every later save fails the same way.
    static bool reported = false;
    if (!reported) {
        reported = true;
        const QString text = tr("Die Einstellungen können nicht gespeichert werden:\n%1\n\n"
                                "Der Ordner fehlt und lässt sich nicht anlegen, oder er ist schreibgeschützt. "
                                "Änderungen gelten nur bis zum Beenden des Programms.")
                                 .arg(QDir::toNativeSeparators(settings.fileName()));
        if (storeFailureBoxes)
            QMessageBox::warning(parent, tr("Einstellungen"), text);
        else
            qWarning("%s", qPrintable(text));
    }
    return false;
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
