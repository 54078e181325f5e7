#include "settingsdialog.h"
#include "testsettings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The general settings as start-up reads them, and the language switch.
class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultsWhenAbsent();
    void storedValuesAreRead();
    void languageSwitchesQtTexts();

private:
    QTemporaryDir m_dir;
};

void TestSettingsStore::initTestCase()
{
    useTemporarySettings(m_dir, "tst_settingsstore");
}

void TestSettingsStore::defaultsWhenAbsent()
{
    QSettings().clear();
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

void TestSettingsStore::languageSwitchesQtTexts()
{
    const QString english = QCoreApplication::translate("QPlatformTheme", "Cancel");
    SettingsDialog::applyLanguage(QStringLiteral("de"));
    const QString german = QCoreApplication::translate("QPlatformTheme", "Cancel");
    if (german == english)
        QSKIP("Qt's German translation (qtbase_de.qm) is not installed");
    QCOMPARE(german, QStringLiteral("Abbrechen"));

    // Switching back removes the German catalogue again; one translator serves all calls.
    SettingsDialog::applyLanguage(QStringLiteral("en"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), english);
    SettingsDialog::applyLanguage(QStringLiteral("de"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), german);
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
