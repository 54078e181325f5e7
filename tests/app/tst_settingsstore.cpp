#include "mainwindow.h"
#include "plotwidget.h"
#include "settingsdialog.h"
#include "nextmodal.h"
#include "testsettings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <functional>

// The general settings as start-up reads them, the settings dialog and the
// language switch.
class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void defaultsWhenAbsent();
    void storedValuesAreRead();
    void dialogShowsStoredValues_data();
    void dialogShowsStoredValues();
    void dialogSavesWhatWasChosen_data();
    void dialogSavesWhatWasChosen();
    void infoNamesAMissingOrUnusableEditor();
    void acceptedDialogAppliesEditorAndLanguage();
    void cancelledDialogChangesNothing();
    void plotPointsReachThePlotter();
    void languageSwitchesQtTexts();
    void generalSettingsSurviveARestart_data();
    void generalSettingsSurviveARestart();
    void unwritableStoreIsReportedOnce();
    void editorExampleFitsThePlatform();

private:
    // Runs `edit` on the settings dialog that the window opens, then presses `button`.
    static void driveNextSettingsDialog(const std::function<void(SettingsDialog *)> &edit,
                                        QDialogButtonBox::StandardButton button, bool *seen)
    {
        QTimer::singleShot(0, [=] {
            auto *dialog = qobject_cast<SettingsDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            *seen = true;
            edit(dialog);
            dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(button)->click();
        });
    }
    static QString cancelText()
    {
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        return box.button(QDialogButtonBox::Cancel)->text();
    }
    static bool germanAvailable()
    {
        SettingsDialog::applyLanguage(QStringLiteral("de"));
        const bool german = cancelText() == QStringLiteral("Abbrechen");
        SettingsDialog::applyLanguage(QStringLiteral("en"));
        return german;
    }

    QTemporaryDir m_dir;
};

void TestSettingsStore::initTestCase()
{
    useTemporarySettings(m_dir, "tst_settingsstore");
}

void TestSettingsStore::init()
{
    QSettings().clear();
}

void TestSettingsStore::defaultsWhenAbsent()
{
    QVERIFY(SettingsDialog::checkUpdatesAtStart());
    QCOMPARE(SettingsDialog::symbolEditorPath(), QString());
    QCOMPARE(SettingsDialog::language(), QString());
}

void TestSettingsStore::storedValuesAreRead()
{
    {
        QSettings settings;
        settings.setValue(QStringLiteral("general/checkUpdates"), false);
        settings.setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("C:/PEAK/PcanSEdt.exe"));
        settings.setValue(QStringLiteral("general/language"), QStringLiteral("en"));
    }
    QVERIFY(!SettingsDialog::checkUpdatesAtStart());
    QCOMPARE(SettingsDialog::symbolEditorPath(), QStringLiteral("C:/PEAK/PcanSEdt.exe"));
    QCOMPARE(SettingsDialog::language(), QStringLiteral("en"));
    // The keys live in the INI file below the chosen directory.
    QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("busvista-test/tst_settingsstore.ini"))));
}

void TestSettingsStore::dialogShowsStoredValues_data()
{
    QTest::addColumn<QVariant>("checkUpdates");
    QTest::addColumn<QVariant>("language");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("languageItem");

    QTest::newRow("nothing stored") << QVariant() << QVariant() << true << "Systemsprache";
    QTest::newRow("German, no check") << QVariant(false) << QVariant("de") << false << "Deutsch";
    QTest::newRow("English") << QVariant(true) << QVariant("en") << true << "English";
    QTest::newRow("unknown language") << QVariant() << QVariant("fr") << true << "Systemsprache";
    QTest::newRow("case differs") << QVariant() << QVariant("DE") << true << "Systemsprache";
}

void TestSettingsStore::dialogShowsStoredValues()
{
    QFETCH(QVariant, checkUpdates);
    QFETCH(QVariant, language);
    QFETCH(bool, checked);
    QFETCH(QString, languageItem);
    {
        QSettings settings;
        if (checkUpdates.isValid())
            settings.setValue(QStringLiteral("general/checkUpdates"), checkUpdates);
        if (language.isValid())
            settings.setValue(QStringLiteral("general/language"), language);
        settings.setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("/opt/peak/editor"));
    }
    SettingsDialog dialog;
    QCOMPARE(dialog.findChild<QCheckBox *>(QStringLiteral("updateCheck"))->isChecked(), checked);
    QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("languageCombo"))->currentText(), languageItem);
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->text(),
             QDir::toNativeSeparators(QStringLiteral("/opt/peak/editor")));
    QCOMPARE(dialog.path(), QStringLiteral("/opt/peak/editor"));
}

void TestSettingsStore::dialogSavesWhatWasChosen_data()
{
    QTest::addColumn<QString>("typedPath");
    QTest::addColumn<int>("languageIndex");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QVariant>("storedPath");
    QTest::addColumn<QVariant>("storedLanguage");

    QTest::newRow("cleaned path, German") << "  /opt//peak/./bin/../editor  " << 1 << false
                                          << QVariant("/opt/peak/editor") << QVariant("de");
    QTest::newRow("English") << "/usr/bin/editor" << 2 << true << QVariant("/usr/bin/editor") << QVariant("en");
    QTest::newRow("blank path and system language remove their keys") << "   " << 0 << true << QVariant()
                                                                        << QVariant();
}

void TestSettingsStore::dialogSavesWhatWasChosen()
{
    QFETCH(QString, typedPath);
    QFETCH(int, languageIndex);
    QFETCH(bool, checked);
    QFETCH(QVariant, storedPath);
    QFETCH(QVariant, storedLanguage);
    {
        QSettings settings;
        settings.setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("/old/editor"));
        settings.setValue(QStringLiteral("general/language"), QStringLiteral("en"));
        settings.setValue(QStringLiteral("general/checkUpdates"), !checked);
    }
    SettingsDialog dialog;
    dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->setText(typedPath);
    dialog.findChild<QComboBox *>(QStringLiteral("languageCombo"))->setCurrentIndex(languageIndex);
    dialog.findChild<QCheckBox *>(QStringLiteral("updateCheck"))->setChecked(checked);
    dialog.save();

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("symbols/editorPath")), storedPath);
    QCOMPARE(settings.value(QStringLiteral("general/language")), storedLanguage);
    QCOMPARE(SettingsDialog::checkUpdatesAtStart(), checked);
}

void TestSettingsStore::infoNamesAMissingOrUnusableEditor()
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("editor"));
    const QString plain = dir.filePath(QStringLiteral("notes.txt"));
    for (const QString &path : {program, plain}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
    }
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);

    SettingsDialog dialog;
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"));
    auto *info = dialog.findChild<QLabel *>(QStringLiteral("infoLabel"));

    edit->setText(dir.filePath(QStringLiteral("missing")));
    QCOMPARE(info->text(), QStringLiteral("Die Datei existiert nicht."));
    QCOMPARE(info->styleSheet(), QStringLiteral("color: #c02020;"));
    edit->setText(QDir::toNativeSeparators(program));
    QCOMPARE(info->text(), QString());
    QCOMPARE(info->styleSheet(), QString());
    edit->setText(plain);
    QCOMPARE(info->text(), QStringLiteral("Die Datei ist kein ausführbares Programm."));
    edit->setText(dir.path());
    QCOMPARE(info->text(), QStringLiteral("Die Datei ist kein ausführbares Programm."));
    edit->clear();
    QCOMPARE(info->text(), QString());
}

void TestSettingsStore::acceptedDialogAppliesEditorAndLanguage()
{
    const bool germanInstalled = germanAvailable();
    QSettings().setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("/opt/peak/editor"));
    MainWindow window;
    auto *editorAction = window.findChild<QAction *>(QStringLiteral("actionOpenSymEditor"));
    auto *settingsAction = window.findChild<QAction *>(QStringLiteral("actionSettings"));
    QVERIFY(editorAction->isEnabled());
    QVERIFY(settingsAction->isEnabled());

    // Clearing the path and choosing German: the editor action goes off at once,
    // Qt's own buttons speak German from now on.
    bool seen = false;
    driveNextSettingsDialog(
        [](SettingsDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("pathEdit"))->clear();
            dialog->findChild<QComboBox *>(QStringLiteral("languageCombo"))->setCurrentIndex(1);
        },
        QDialogButtonBox::Ok, &seen);
    settingsAction->trigger();
    QVERIFY(seen);
    QVERIFY(!QSettings().contains(QStringLiteral("symbols/editorPath")));
    QCOMPARE(SettingsDialog::language(), QStringLiteral("de"));
    QVERIFY(!editorAction->isEnabled());
    QCOMPARE(editorAction->statusTip(), QStringLiteral("Zuerst den Pfad des Editors festlegen (Datei → Einstellungen)"));
    if (germanInstalled)
        QCOMPARE(cancelText(), QStringLiteral("Abbrechen"));

    seen = false;
    driveNextSettingsDialog(
        [](SettingsDialog *dialog) {
            dialog->findChild<QComboBox *>(QStringLiteral("languageCombo"))->setCurrentIndex(2);
        },
        QDialogButtonBox::Ok, &seen);
    settingsAction->trigger();
    QVERIFY(seen);
    QCOMPARE(cancelText(), QStringLiteral("Cancel"));
    QCOMPARE(SettingsDialog::language(), QStringLiteral("en"));
}

void TestSettingsStore::plotPointsReachThePlotter()
{
    QSettings().setValue(QStringLiteral("plot/maxPoints"), 50);
    QCOMPARE(SettingsDialog::plotMaxPoints(), 1000);   // clamped
    QSettings().setValue(QStringLiteral("plot/maxPoints"), 2000000000);
    QCOMPARE(SettingsDialog::plotMaxPoints(), 20000000);
    QSettings().remove(QStringLiteral("plot/maxPoints"));
    QCOMPARE(SettingsDialog::plotMaxPoints(), 200000);

    MainWindow window;
    auto *plot = window.findChild<PlotWidget *>(QStringLiteral("plotWidget"));
    QCOMPARE(plot->liveRecorder().maxPoints(), 200000);
    bool seen = false;
    driveNextSettingsDialog(
        [](SettingsDialog *dialog) {
            auto *spin = dialog->findChild<QSpinBox *>(QStringLiteral("plotPointsSpin"));
            QCOMPARE(spin->value(), 200000);
            spin->setValue(5000000);
        },
        QDialogButtonBox::Ok, &seen);
    window.findChild<QAction *>(QStringLiteral("actionSettings"))->trigger();
    QVERIFY(seen);
    QCOMPARE(plot->liveRecorder().maxPoints(), 5000000);
    QCOMPARE(QSettings().value(QStringLiteral("plot/maxPoints")).toInt(), 5000000);
}

void TestSettingsStore::cancelledDialogChangesNothing()
{
    QSettings().setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("/opt/peak/editor"));
    MainWindow window;
    bool seen = false;
    driveNextSettingsDialog(
        [](SettingsDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("pathEdit"))->clear();
            dialog->findChild<QComboBox *>(QStringLiteral("languageCombo"))->setCurrentIndex(1);
            dialog->findChild<QCheckBox *>(QStringLiteral("updateCheck"))->setChecked(false);
        },
        QDialogButtonBox::Cancel, &seen);
    window.showSettings();
    QVERIFY(seen);
    QCOMPARE(SettingsDialog::symbolEditorPath(), QStringLiteral("/opt/peak/editor"));
    QCOMPARE(SettingsDialog::language(), QString());
    QVERIFY(SettingsDialog::checkUpdatesAtStart());
    QVERIFY(window.findChild<QAction *>(QStringLiteral("actionOpenSymEditor"))->isEnabled());
}

void TestSettingsStore::languageSwitchesQtTexts()
{
    if (!germanAvailable())
        QSKIP("Qt's German translation (qtbase_de.qm) is not installed");
    const QString english = QCoreApplication::translate("QPlatformTheme", "Cancel");
    SettingsDialog::applyLanguage(QStringLiteral("de"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));

    // Switching back removes the German catalogue again; one translator serves all calls.
    SettingsDialog::applyLanguage(QStringLiteral("en"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), english);
    SettingsDialog::applyLanguage(QStringLiteral("de"));
    QCOMPARE(cancelText(), QStringLiteral("Abbrechen"));
    SettingsDialog::applyLanguage(QString());
}

void TestSettingsStore::generalSettingsSurviveARestart_data()
{
    QTest::addColumn<bool>("iniFolder");
    QTest::newRow("--settings-dir") << true;
    QTest::newRow("native store") << false;
}

// Each step is a process of its own: the in-process cache would hide what the
// store really hands back after a restart.
void TestSettingsStore::generalSettingsSurviveARestart()
{
    QFETCH(bool, iniFolder);
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    const QStringList prefix = iniFolder ? QStringList{QStringLiteral("--settings-dir"), dir.path()} : QStringList();
    const auto probe = [&](const QStringList &args, QString *out) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(BUSVISTA_SETTINGS_PROBE), prefix + args);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        *out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        return process.exitCode();
    };
    QString out;
    QCOMPARE(probe({QStringLiteral("read")}, &out), 0);
    QCOMPARE(out, QStringLiteral("checkUpdates=1 language="));
    const QStringList steps[][2] = {
        {{"write", "0", "en"}, {"checkUpdates=0 language=en"}},
        // The store now holds what the previous run wrote: changed, not doubled.
        {{"write", "1", "de"}, {"checkUpdates=1 language=de"}},
        {{"write", "0", "-"}, {"checkUpdates=0 language="}},
    };
    for (const auto &step : steps) {
        QCOMPARE(probe(step[0], &out), 0);
        QCOMPARE(probe({QStringLiteral("read")}, &out), 0);
        QCOMPARE(out, step[1].first());
    }
    const QString file = iniFolder ? dir.filePath(QStringLiteral("busvista.de/Busvista.ini"))
                                   : dir.filePath(QStringLiteral("config/busvista.de/Busvista.conf"));
    QFile stored(file);
    QVERIFY2(stored.open(QIODevice::ReadOnly), qPrintable(file));
    const QByteArray text = stored.readAll();
    QCOMPARE(text.count("checkUpdates="), 1);
    QCOMPARE(text.count("language="), 0);
}

void TestSettingsStore::unwritableStoreIsReportedOnce()
{
    // A settings folder below a plain file cannot be created, not even by root.
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("datei")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, blocker.fileName() + QStringLiteral("/sub"));
    const auto restore = qScopeGuard([this] {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    });

    MainWindow window;
    bool seen = false;
    QStringList boxes;
    driveNextSettingsDialog(
        [&boxes](SettingsDialog *dialog) {
            dialog->findChild<QCheckBox *>(QStringLiteral("updateCheck"))->setChecked(false);
            onNextModal([&boxes](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                boxes << (box ? box->windowTitle() + QLatin1Char('|') + box->text() : QStringLiteral("?"));
                modal->close();
            });
        },
        QDialogButtonBox::Ok, &seen);
    window.findChild<QAction *>(QStringLiteral("actionSettings"))->trigger();
    QVERIFY(seen);
    QTRY_COMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QStringLiteral("Einstellungen|Die Einstellungen können nicht gespeichert werden:\n")),
             qPrintable(boxes.first()));
    QVERIFY2(boxes.first().contains(QDir::toNativeSeparators(blocker.fileName())), qPrintable(boxes.first()));

    // Later saves fail as well, but say nothing more (a box would be closed
    // and counted after a second).
    QObject guard;
    QTimer::singleShot(1000, &guard, [&boxes] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            boxes << QStringLiteral("zweites Mal");
            modal->close();
        }
    });
    {
        QSettings settings;
        settings.setValue(QStringLiteral("trace/filter"), QStringLiteral("100-200"));
        QVERIFY(!SettingsDialog::syncStore(settings, &window));
    }
    window.close();
    QCOMPARE(boxes.size(), 1);
}

void TestSettingsStore::editorExampleFitsThePlatform()
{
    SettingsDialog dialog;
    const QString example = dialog.findChild<QLineEdit *>(QStringLiteral("pathEdit"))->placeholderText();
#ifdef Q_OS_WIN
    QVERIFY2(example.startsWith(QStringLiteral("z. B. C:\\")), qPrintable(example));
#else
    QCOMPARE(example, QStringLiteral("z. B. /usr/local/bin/pcan-symbol-editor"));
#endif
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
