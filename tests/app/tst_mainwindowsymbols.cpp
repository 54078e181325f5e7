#include "mainwindow.h"
#include "symbolfile.h"
#include "testsettings.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// Loading, unloading and watching the symbol file from the main window.
class TestMainWindowSymbols : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void loadShowsSymbolsAndRemembersFile();
    void failedLoadKeepsPreviousDatabase();
    void unloadForgetsFileForNextStart();
    void storedFileLoadsAtStartAndMissingFileIsIgnored();
    void editorActionFollowsConfiguredPath();
    void editorStartsDetachedWithTheSymbolFile();

    void watcherFindsAFileRestoredLater();
    void startMessageDoesNotCoverConnectionText();
    void watcherReloadsOnceAfterEditorSave_data();
    void watcherReloadsOnceAfterEditorSave();

private:
    static QByteArray fileBytes(const char *name)
    {
        QFile file(QStringLiteral(BUSVISTA_TEST_DATA "/app/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }
    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        return file.write(bytes) == bytes.size();
    }
    static int messageCount(const MainWindow &w)
    {
        return w.symbols() ? int(w.symbols()->messages.size()) : -1;
    }
    // Reads and closes the next message box once the event loop runs it.
    static void answerNextBox(QString *shown)
    {
        QTimer::singleShot(0, [shown] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                *shown = box->windowTitle() + QLatin1Char('|') + box->text();
                box->accept();
            }
        });
    }
    // A window that has loaded one.sym from a private copy.
    QString prepareCopy(const QTemporaryDir &dir)
    {
        const QString path = dir.filePath(QStringLiteral("bus.sym"));
        writeFile(path, fileBytes("one.sym"));
        return path;
    }

    QTemporaryDir m_settingsDir;
};

void TestMainWindowSymbols::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindowsymbols");
    QVERIFY(!fileBytes("one.sym").isEmpty());
    QVERIFY(!fileBytes("two.sym").isEmpty());
}

void TestMainWindowSymbols::init()
{
    QSettings().clear();
}

void TestMainWindowSymbols::loadShowsSymbolsAndRemembersFile()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    MainWindow w;
    // The symbol and signal columns of the three tables.
    const QList<QPair<const char *, int>> symbolColumns = {
        {"rxView", 1}, {"rxView", 7}, {"txView", 1}, {"traceView", 4}, {"traceView", 8}};
    const auto hiddenColumns = [&] {
        int hidden = 0;
        for (const auto &[view, column] : symbolColumns)
            hidden += w.findChild<QTableView *>(view)->isColumnHidden(column) ? 1 : 0;
        return hidden;
    };
    auto *label = w.findChild<QLabel *>("symbolsLabel");
    QCOMPARE(hiddenColumns(), 5);
    QVERIFY(!w.findChild<QAction *>("actionUnloadSym")->isEnabled());
    QCOMPARE(label->text(), QStringLiteral("Symbole: –"));
    QCOMPARE(label->toolTip(), QStringLiteral("Keine Symboldatei geladen"));

    QVERIFY(w.loadSymbolFile(path, false));
    QCOMPARE(messageCount(w), 1);
    QCOMPARE(hiddenColumns(), 0);
    QCOMPARE(label->toolTip(), QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())
                                   + QStringLiteral("\n1 Nachrichten"));
    QVERIFY(w.findChild<QAction *>("actionUnloadSym")->isEnabled());
    QVERIFY(w.findChild<QAction *>("actionReloadSym")->isEnabled());
    QCOMPARE(label->text(), QStringLiteral("Symbole: bus.sym"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Symboldatei geladen: 1 Nachrichten"));
    QCOMPARE(QSettings().value(QStringLiteral("symbols/file")).toString(), path);
    QCOMPARE(QSettings().value(QStringLiteral("symbols/lastDir")).toString(), QFileInfo(path).absolutePath());
}

void TestMainWindowSymbols::failedLoadKeepsPreviousDatabase()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    MainWindow w;
    QVERIFY(w.loadSymbolFile(path, false));
    const auto before = w.symbols();

    const QString missing = dir.filePath(QStringLiteral("missing.sym"));
    QVERIFY(!w.loadSymbolFile(missing, false));
    QCOMPARE(w.symbols(), before);
    QVERIFY(w.statusBar()->currentMessage().startsWith(QStringLiteral("Symboldatei nicht geladen: ")));

    // Chosen by the user: a warning box names the file, the old database stays.
    QString shown;
    answerNextBox(&shown);
    QVERIFY(!w.loadSymbolFile(missing, true));
    QVERIFY2(shown.startsWith(QStringLiteral("Symboldatei|Symboldatei konnte nicht geladen werden:\n") + missing
                              + QStringLiteral("\n\n")),
             qPrintable(shown));
    QCOMPARE(w.symbols(), before);
    QCOMPARE(QSettings().value(QStringLiteral("symbols/file")).toString(), path);

    // A file that fails after warnings: the box's details name the cause.
    const QString unclosed = dir.filePath(QStringLiteral("unclosed.sym"));
    QVERIFY(writeFile(unclosed, "FormatVersion=6.0\n{ENUMS}\nenum OnOff(0=\"Aus\"\n{SEND}\n[A]\nID=100h\n"));
    QString details;
    QTimer::singleShot(0, [&details] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            details = box->detailedText();
            box->accept();
        }
    });
    QVERIFY(!w.loadSymbolFile(unclosed, true));
    QCOMPARE(details, QStringLiteral("Zeile 6: Ungültige Enum-Definition"));
    QCOMPARE(w.symbols(), before);
}

void TestMainWindowSymbols::unloadForgetsFileForNextStart()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    {
        MainWindow w;
        QVERIFY(w.loadSymbolFile(path, false));
        w.unloadSymbols();
        QVERIFY(!w.symbols());
        QVERIFY(w.findChild<QTableView *>("txView")->isColumnHidden(1));
        QVERIFY(!QSettings().contains(QStringLiteral("symbols/file")));
        w.close();
    }
    MainWindow next;
    QVERIFY(!next.symbols());
}

void TestMainWindowSymbols::storedFileLoadsAtStartAndMissingFileIsIgnored()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    QSettings().setValue(QStringLiteral("symbols/file"), path);
    {
        MainWindow w;
        QCOMPARE(messageCount(w), 1);
    }
    QFile::remove(path);
    MainWindow w;
    QVERIFY(!w.symbols());
    QCOMPARE(w.statusBar()->currentMessage(), QString());
    QCOMPARE(QSettings().value(QStringLiteral("symbols/file")).toString(), path);
}

void TestMainWindowSymbols::editorActionFollowsConfiguredPath()
{
    {
        MainWindow w;
        auto *action = w.findChild<QAction *>("actionOpenSymEditor");
        QVERIFY(!action->isEnabled());
        QCOMPARE(action->statusTip(), QStringLiteral("Zuerst den Pfad des Editors festlegen (Datei → Einstellungen)"));
    }
    QSettings().setValue(QStringLiteral("symbols/editorPath"), QStringLiteral("/opt/editor/PcanSEdt.exe"));
    MainWindow w;
    auto *action = w.findChild<QAction *>("actionOpenSymEditor");
    QVERIFY(action->isEnabled());
    QCOMPARE(action->statusTip(), QStringLiteral("/opt/editor/PcanSEdt.exe"));
}

void TestMainWindowSymbols::editorStartsDetachedWithTheSymbolFile()
{
#ifdef Q_OS_WIN
    QSKIP("the stand-in editor is a shell script");
#endif
    QTemporaryDir dir;
    const QString symbolPath = prepareCopy(dir);
    const QString editorDir = dir.filePath(QStringLiteral("editor"));
    QVERIFY(QDir().mkpath(editorDir));
    // The stand-in editor records its working directory and arguments.
    const QString editor = editorDir + QStringLiteral("/PcanSEdt.sh");
    const QString record = dir.filePath(QStringLiteral("started.txt"));
    QVERIFY(writeFile(editor, "#!/bin/sh\n{ pwd -P; echo \"$#\"; echo \"$1\"; } > \"" + QFile::encodeName(record)
                                  + ".part\"\nmv \"" + QFile::encodeName(record) + ".part\" \""
                                  + QFile::encodeName(record) + "\"\n"));
    QVERIFY(QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QSettings().setValue(QStringLiteral("symbols/editorPath"), editor);
    const auto startedWith = [&record] {
        QFile file(record);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    };
    const QString workDir = QFileInfo(editorDir).canonicalFilePath();

    MainWindow w;
    w.openSymbolEditor();
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Symbol Editor gestartet."));
    QTRY_COMPARE_WITH_TIMEOUT(startedWith(), workDir + QStringLiteral("\n0\n\n"), 5000);

    QVERIFY(QFile::remove(record));
    QVERIFY(w.loadSymbolFile(symbolPath, false));
    w.openSymbolEditor();
    QCOMPARE(w.statusBar()->currentMessage(),
             QStringLiteral("Symbol Editor gestartet – gespeicherte Änderungen werden automatisch übernommen."));
    QTRY_COMPARE_WITH_TIMEOUT(startedWith(), workDir + QStringLiteral("\n1\n") + symbolPath + QLatin1Char('\n'), 5000);

    // An editor that cannot be started is reported with its path.
    const QString missing = dir.filePath(QStringLiteral("fehlt/PcanSEdt.exe"));
    QSettings().setValue(QStringLiteral("symbols/editorPath"), missing);
    QString shown;
    answerNextBox(&shown);
    w.openSymbolEditor();
    QCOMPARE(shown, QStringLiteral("Symbol-Editor|Der PCAN Symbol Editor konnte nicht gestartet werden:\n")
                        + QDir::toNativeSeparators(missing)
                        + QStringLiteral("\n\nDer Pfad lässt sich im Menü Datei → Einstellungen ändern."));
}

// The ways an editor saves a file: in place, through a temporary file renamed
// over it, by deleting and recreating it, by truncating first and writing later,
// or by renaming a half-written file over it and completing it in place.
enum class EditorSave { TruncateAndWrite, RenameOver, DeleteAndRecreate, EmptyThenFull, HalfWrittenRenameThenFull };
Q_DECLARE_METATYPE(EditorSave)

void TestMainWindowSymbols::watcherReloadsOnceAfterEditorSave_data()
{
    QTest::addColumn<EditorSave>("save");
    QTest::newRow("truncate and write") << EditorSave::TruncateAndWrite;
    QTest::newRow("rename over") << EditorSave::RenameOver;
    QTest::newRow("delete and recreate") << EditorSave::DeleteAndRecreate;
    QTest::newRow("empty, then full") << EditorSave::EmptyThenFull;
    QTest::newRow("half-written rename, then full") << EditorSave::HalfWrittenRenameThenFull;
}

void TestMainWindowSymbols::watcherReloadsOnceAfterEditorSave()
{
    QFETCH(EditorSave, save);
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    MainWindow w;
    QVERIFY(w.loadSymbolFile(path, false));
    const auto before = w.symbols();

    const auto renameOver = [&](const QByteArray &bytes) {
        const QString temp = dir.filePath(QStringLiteral("bus.sym.tmp"));
        return writeFile(temp, bytes)
            && ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0;
    };
    switch (save) {
    case EditorSave::TruncateAndWrite:
        QVERIFY(writeFile(path, fileBytes("two.sym")));
        break;
    case EditorSave::RenameOver:
        QVERIFY(renameOver(fileBytes("two.sym")));
        break;
    case EditorSave::DeleteAndRecreate:
        QVERIFY(QFile::remove(path));
        QTest::qWait(800);   // the debounce fires while the file is missing
        QCOMPARE(w.symbols(), before);
        QVERIFY(writeFile(path, fileBytes("two.sym")));
        break;
    case EditorSave::EmptyThenFull:
        QVERIFY(writeFile(path, QByteArray()));
        QTest::qWait(1500);   // an empty file never replaces a good database
        QCOMPARE(w.symbols(), before);
        QVERIFY(writeFile(path, fileBytes("two.sym")));
        break;
    case EditorSave::HalfWrittenRenameThenFull:
        QVERIFY(renameOver(QByteArrayLiteral("Format")));
        QTRY_VERIFY_WITH_TIMEOUT(
            w.statusBar()->currentMessage().startsWith(QStringLiteral("Symboldatei nicht geladen: ")), 5000);
        QCOMPARE(w.symbols(), before);
        QVERIFY(writeFile(path, fileBytes("two.sym")));
        break;
    }
    QTRY_COMPARE_WITH_TIMEOUT(messageCount(w), 2, 10000);

    // Loaded once: nothing further follows the single save.
    const auto after = w.symbols();
    QTest::qWait(1200);
    QCOMPARE(w.symbols(), after);

    // The file is watched again, whatever became of its inode.
    QVERIFY(writeFile(path, fileBytes("one.sym")));
    QTRY_COMPARE_WITH_TIMEOUT(messageCount(w), 1, 10000);
}

void TestMainWindowSymbols::watcherFindsAFileRestoredLater()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    MainWindow w;
    QVERIFY(w.loadSymbolFile(path, false));
    auto *watcher = w.findChild<QFileSystemWatcher *>("symbolWatcher");
    auto *reloadTimer = w.findChild<QTimer *>("symbolReloadTimer");
    QVERIFY(watcher && reloadTimer);

    QSignalSpy notified(watcher, &QFileSystemWatcher::fileChanged);
    QVERIFY(QFile::remove(path));
    QTRY_VERIFY(notified.count() > 0);
    // The quick retries run out while the file stays away.
    for (int attempt = 0; attempt <= 10; ++attempt)
        w.onSymbolFileChanged();
    QTRY_VERIFY(!reloadTimer->isActive());
    QCOMPARE(messageCount(w), 1);

    QVERIFY(writeFile(path, fileBytes("two.sym")));
    QTRY_COMPARE_WITH_TIMEOUT(messageCount(w), 2, 5000);
    QCOMPARE(watcher->files(), QStringList{path});
    QCOMPARE(watcher->directories(), QStringList());
}

void TestMainWindowSymbols::startMessageDoesNotCoverConnectionText()
{
    QTemporaryDir dir;
    const QString path = prepareCopy(dir);
    QSettings().setValue(QStringLiteral("symbols/file"), path);
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *connection = w.findChild<QLabel *>("messageLabel");
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Symboldatei geladen: 1 Nachrichten"));
    QVERIFY(!connection->isVisible());
    w.statusBar()->clearMessage();
    QVERIFY(connection->isVisible());
    QCOMPARE(connection->text(), QStringLiteral("Nicht verbunden"));
}

QTEST_MAIN(TestMainWindowSymbols)
#include "tst_mainwindowsymbols.moc"
