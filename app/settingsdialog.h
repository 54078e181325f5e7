#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QSettings;

namespace Ui {
class SettingsDialog;
}

// The general settings: update check at start, the external symbol editor,
// the language of Qt's standard dialogs and the plotter's values per signal. The static accessors are what
// start-up and the main window read; every access is a fresh QSettings.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    void load();
    void save() const;

    // The editor path as typed, trimmed and cleaned (forward slashes); empty stays empty.
    QString path() const;
    void setPath(const QString &path);

    static bool checkUpdatesAtStart();    // "general/checkUpdates", default true
    static QString symbolEditorPath();    // "symbols/editorPath", empty when absent
    static QString language();            // "general/language": "de", "en" or empty
    static int plotMaxPoints();           // "plot/maxPoints", 200,000 by default, 1,000…20,000,000

    // Writes what `settings` has pending to the store, with the changes of
    // every QSettings made and dropped while `settings` lived (Qt forgets
    // those of a store that was never written once the last object goes, so
    // the caller holds `settings` over all its writes). When the store cannot
    // be written (folder missing and not creatable, read-only), the first
    // failure of a run is shown in a warning box; false on every failure.
    static bool syncStore(QSettings &settings, QWidget *parent);
    // Unattended runs (picture taking) report that failure to the message
    // log instead: a box would wait for a click that never comes.
    static void setStoreFailureBoxes(bool shown);

    // Installs Qt's own translation ("qtbase") for the language; empty means
    // the system language. The program's own texts are German regardless.
    static void applyLanguage(const QString &language);

public slots:
    void browse();
    void updateInfo();

private:
    std::unique_ptr<Ui::SettingsDialog> ui;
};
