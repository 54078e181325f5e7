#pragma once

#include <QString>

// General settings of the program. The dialog that edits them comes with a
// later issue; the accessors below are what start-up and the main window read.
class SettingsDialog
{
public:
    static bool checkUpdatesAtStart();    // "general/checkUpdates", default true
    static QString symbolEditorPath();    // "symbols/editorPath", empty when absent
    static QString language();            // "general/language": "de", "en" or empty

    // Installs Qt's own translation ("qtbase") for the language; empty means
    // the system language. The program's own texts are German regardless.
    static void applyLanguage(const QString &language);
};
