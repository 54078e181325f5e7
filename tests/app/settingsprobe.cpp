// One run of the program's settings code in a process of its own, for
// tst_settingsstore: what one run writes, the next must read from the store
// itself, not from the cache of the process that wrote it.
//
//   settingsprobe [--settings-dir DIR] write CHECK LANGUAGE
//       saves through the settings dialog: update check on (1) or off (0),
//       language "de", "en" or "-" for the system language
//   settingsprobe [--settings-dir DIR] read
//       prints "checkUpdates=0|1 language=TEXT"
#include "settingsdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSettings>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The identity of the program, which decides where the native store is.
    QCoreApplication::setOrganizationName(QStringLiteral("busvista.de"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("busvista.de"));
    QCoreApplication::setApplicationName(QStringLiteral("Busvista"));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() >= 2 && args.first() == QLatin1String("--settings-dir")) {
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, args.at(1));
        args = args.mid(2);
    }
    if (args.value(0) == QLatin1String("read") && args.size() == 1) {
        const QByteArray line = "checkUpdates=" + QByteArray::number(int(SettingsDialog::checkUpdatesAtStart()))
                                + " language=" + SettingsDialog::language().toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        return 0;
    }
    if (args.value(0) == QLatin1String("write") && args.size() == 3) {
        SettingsDialog dialog;
        dialog.findChild<QCheckBox *>(QStringLiteral("updateCheck"))->setChecked(args.at(1) == QLatin1String("1"));
        auto *combo = dialog.findChild<QComboBox *>(QStringLiteral("languageCombo"));
        combo->setCurrentIndex(args.at(2) == QLatin1String("-") ? 0 : combo->findData(args.at(2)));
        QSettings store;
        dialog.save();
        return SettingsDialog::syncStore(store, nullptr) ? 0 : 3;
    }
    std::fputs("settingsprobe [--settings-dir DIR] write CHECK LANGUAGE | read\n", stderr);
    return 2;
}
