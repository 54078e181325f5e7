#include "filedialogs.h"
#include "fakebackend.h"
#include "mainwindow.h"
#include "receivemodel.h"
#include "testsettings.h"
#include "tracemodel.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

// Answers the modal windows that come up while it lives: file dialogs choose
// `file`, question boxes get `answer`; counts both and keeps the questions'
// titles and texts.
struct Modals
{
    explicit Modals(QMessageBox::StandardButton answer, const QString &file = QString())
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, answer, file] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *files = qobject_cast<QFileDialog *>(modal)) {
                ++this->files;
                acceptFile(files, file);
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                questions << box->windowTitle();
                texts << box->text();
                box->button(answer)->click();
            }
        });
        timer.start();
    }
    QTimer timer;
    QStringList questions;
    QStringList texts;
    int files = 0;
};

// The trace tab and the receive list as the main window drives them.
class TestMainWindowTrace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void recordingFollowsTheRecordAction();
    void filterWidgetsReachTheModel();
    void badFilterTextKeepsPreviousRanges();
    void spinBoxLimitsTheTrace();
    void savedTraceLoadsBackAndStopsRecording();
    void failedLoadReportsTheReader();
    void saveChoosesWriterByEndingOrFilter();
    void nameWithoutEndingGetsTheFiltersAndLoadsByContent();
    void saveSaysWhatTheFormatLeavesOut();
    void receiveListIsFedAndClearedByEsc();
    void saveDialogStartsInLastTraceFolder();
    void onlyUnsavedRecordingsAreAskedFor();
    void viewMenuTogglesEveryDock();

private:
    static CanFrame frame(quint32 id, qint64 us = 0)
    {
        CanFrame f;
        f.id = id;
        f.dlc = 2;
        f.data[0] = 0x11;
        f.timestampUs = us;
        return f;
    }
    static QString traceInfo(QWidget *w)
    {
        return w->findChild<QLabel *>("traceInfoLabel")->text();
    }

    QTemporaryDir m_settingsDir;
};

void TestMainWindowTrace::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindowtrace");
}

void TestMainWindowTrace::init()
{
    QSettings().clear();
}

void TestMainWindowTrace::recordingFollowsTheRecordAction()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    auto *record = w.findChild<QAction *>("actionTraceRun");

    w.onFramesReceived({frame(0x100)});
    QCOMPARE(w.traceModel()->rowCount(), 0);   // off at start
    w.onRefreshTick();
    QCOMPARE(traceInfo(&w), QStringLiteral("0 Einträge  (Aufzeichnung aus)"));

    w.setTraceRunning(true);
    QVERIFY(record->isChecked());
    QVERIFY(w.traceModel()->recording());
    w.onFramesReceived({frame(0x100), frame(0x200)});
    QCOMPARE(w.traceModel()->rowCount(), 2);
    w.onRefreshTick();
    QCOMPARE(traceInfo(&w), QStringLiteral("2 Einträge"));
    QCOMPARE(w.findChild<QLabel *>("traceInfoLabel")->toolTip(), QStringLiteral("2 Einträge"));

    record->trigger();
    QVERIFY(!w.traceModel()->recording());
    Modals modals(QMessageBox::Yes);
    w.findChild<QAction *>("actionTraceClear")->trigger();
    QCOMPARE(w.traceModel()->rowCount(), 0);
    QCOMPARE(modals.questions, QStringList {QStringLiteral("Trace leeren")});
}

void TestMainWindowTrace::filterWidgetsReachTheModel()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.findChild<QLineEdit *>("traceFilterEdit")->setText(QStringLiteral("100"));
    w.findChild<QComboBox *>("traceFilterMode")->setCurrentIndex(1);
    auto *check = w.findChild<QCheckBox *>("traceFilterCheck");
    QCOMPARE(check->toolTip(), QStringLiteral("Kein Filter aktiv – alle Nachrichten werden aufgezeichnet"));
    check->setChecked(true);

    const CanIdFilter &filter = w.traceModel()->filter();
    QVERIFY(filter.enabled);
    QCOMPARE(filter.mode, 1);
    QCOMPARE(filter.ranges.size(), 1);
    QVERIFY(check->toolTip().startsWith(QStringLiteral("Aktiv: ")));

    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x100), frame(0x200), frame(0x100)});
    QCOMPARE(w.traceModel()->rowCount(), 1);   // "außer 100"
    w.onRefreshTick();
    QCOMPARE(traceInfo(&w), QStringLiteral("1 Einträge  –  2 durch Filter verworfen"));
}

void TestMainWindowTrace::badFilterTextKeepsPreviousRanges()
{
    TestWindow w;
    auto *edit = w.findChild<QLineEdit *>("traceFilterEdit");
    edit->setText(QStringLiteral("180-1FF"));
    QVERIFY(edit->styleSheet().isEmpty());
    const auto ranges = w.traceModel()->filter().ranges;
    QCOMPARE(ranges.size(), 1);

    edit->setText(QStringLiteral("180-1FF, xyz"));
    QCOMPARE(edit->styleSheet(), QStringLiteral("background: #ffe0e0;"));
    QVERIFY(edit->toolTip().endsWith(QStringLiteral("\nEs gilt weiter der zuletzt gültige Filter.")));
    QCOMPARE(w.traceModel()->filter().ranges, ranges);

    edit->setText(QStringLiteral("100"));
    QVERIFY(edit->styleSheet().isEmpty());
    QVERIFY(edit->toolTip().startsWith(QStringLiteral("CAN-IDs hexadezimal")));
}

void TestMainWindowTrace::spinBoxLimitsTheTrace()
{
    QSettings().setValue(QStringLiteral("trace/maxEntries"), 500);
    TestWindow w;
    QCOMPARE(w.findChild<QSpinBox *>("traceMaxSpin")->value(), 1000);
    QCOMPARE(w.traceModel()->maxEntries(), 1000);
    w.findChild<QSpinBox *>("traceMaxSpin")->setValue(2000);
    QCOMPARE(w.traceModel()->maxEntries(), 2000);
}

void TestMainWindowTrace::savedTraceLoadsBackAndStopsRecording()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("aufnahme.CSV"));
    {
        TestWindow w;
        QVERIFY(w.openBackend(simulationParams()));
        w.setTraceRunning(true);
        w.onFramesReceived({frame(0x100, 1000), frame(0x7FF, 2000), frame(0x123, 3000)});
        QString error;
        QVERIFY2(w.traceModel()->saveCsv(path, &error), qPrintable(error));
    }
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.setTraceRunning(true);
    QString error;
    QVERIFY2(w.loadTraceFile(path, &error), qPrintable(error));   // ".CSV" picks the CSV reader
    QVERIFY(!w.findChild<QAction *>("actionTraceRun")->isChecked());
    QVERIFY(!w.traceModel()->recording());
    QCOMPARE(w.traceModel()->rowCount(), 3);
    QCOMPARE(w.traceModel()->frameAt(1)->id, 0x7FFu);
    QCOMPARE(w.findChild<QTabWidget *>("tabs")->currentIndex(), 2);
    QVERIFY(w.statusBar()->currentMessage().startsWith(QStringLiteral("Trace geladen: 3 Nachrichten aus ")));

    // Recording stays off: new batches do not reach the loaded trace.
    w.onFramesReceived({frame(0x100)});
    QCOMPARE(w.traceModel()->rowCount(), 3);
}

void TestMainWindowTrace::failedLoadReportsTheReader()
{
    QTemporaryDir dir;
    TestWindow w;
    w.setTraceRunning(true);
    QString error;
    QVERIFY(!w.loadTraceFile(dir.filePath(QStringLiteral("fehlt.trc")), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!w.findChild<QAction *>("actionTraceRun")->isChecked());
}

void TestMainWindowTrace::saveChoosesWriterByEndingOrFilter()
{
    QTemporaryDir dir;
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x100, 1000)});
    const auto firstLine = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readLine() : QByteArray();
    };
    const QString trcFilter = QStringLiteral("PCAN-Trace (*.trc)");
    QString error;

    const QString upper = dir.filePath(QStringLiteral("A.CSV"));
    QVERIFY2(w.saveTraceFile(upper, trcFilter, &error), qPrintable(error));
    const QString plain = dir.filePath(QStringLiteral("b.trc"));
    QVERIFY2(w.saveTraceFile(plain, trcFilter, &error), qPrintable(error));
    const QString byFilter = dir.filePath(QStringLiteral("c.trc"));
    QVERIFY2(w.saveTraceFile(byFilter, QStringLiteral("CSV (*.csv)"), &error), qPrintable(error));

    // A PCAN trace starts with its ";$FILEVERSION" header; the CSV file does not.
    QVERIFY(firstLine(plain).startsWith(";$FILEVERSION"));
    QVERIFY(!firstLine(upper).startsWith(";"));
    QCOMPARE(firstLine(byFilter), firstLine(upper));
}

void TestMainWindowTrace::nameWithoutEndingGetsTheFiltersAndLoadsByContent()
{
    QTemporaryDir dir;
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x100, 1000), frame(0x200, 2000)});
    QString error;
    QString savedAs;
    QVERIFY2(w.saveTraceFile(dir.filePath(QStringLiteral("ohne")), QStringLiteral("CSV (*.csv)"), &error, &savedAs),
             qPrintable(error));
    QCOMPARE(savedAs, dir.filePath(QStringLiteral("ohne.csv")));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("ohne"))));

    // Files whose name says nothing are read by their content.
    QVERIFY(QFile::copy(savedAs, dir.filePath(QStringLiteral("inhalt"))));
    QVERIFY2(w.saveTraceFile(dir.filePath(QStringLiteral("pcan.dat")), QStringLiteral("PCAN-Trace (*.trc)"), &error),
             qPrintable(error));
    for (const char *name : {"inhalt", "pcan.dat"}) {
        w.traceModel()->clear();
        QVERIFY2(w.loadTraceFile(dir.filePath(QLatin1String(name)), &error), qPrintable(error));
        QCOMPARE(w.traceModel()->rowCount(), 2);
        QCOMPARE(w.traceModel()->frameAt(1)->id, 0x200u);
    }
}

void TestMainWindowTrace::saveSaysWhatTheFormatLeavesOut()
{
    QTemporaryDir dir;
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.setTraceRunning(true);
    CanFrame status = frame(0, 1500);
    status.status = true;
    w.onFramesReceived({frame(0x100, 1000), status, status, frame(0x200, 2000)});
    QCOMPARE(w.traceModel()->rowCount(), 4);
    QString error;
    const QString asc = dir.filePath(QStringLiteral("bus.asc"));
    QVERIFY2(w.saveTraceFile(asc, QStringLiteral("PCAN-Trace (*.trc)"), &error), qPrintable(error));
    QCOMPARE(w.statusBar()->currentMessage(),
             QStringLiteral("Trace gespeichert: %1 – 2 Statuseinträge nicht gespeichert (im Format nicht darstellbar)").arg(asc));
    const QString trc = dir.filePath(QStringLiteral("alles.trc"));
    QVERIFY2(w.saveTraceFile(trc, QStringLiteral("PCAN-Trace (*.trc)"), &error), qPrintable(error));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Trace gespeichert: %1").arg(trc));
}

void TestMainWindowTrace::receiveListIsFedAndClearedByEsc()
{
    TestWindow w;
    QVERIFY(w.openBackend(simulationParams()));
    w.onFramesReceived({frame(0x300), frame(0x100), frame(0x300)});
    w.onRefreshTick();
    auto *view = w.findChild<QTableView *>("rxView");
    QCOMPARE(view->model()->rowCount(), 2);
    // Sorted by identifier through the proxy.
    QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("100h"));

    w.findChild<QAction *>("actionClearRx")->trigger();
    w.onRefreshTick();
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(w.receiveModel()->rowCount(), 0);
}

void TestMainWindowTrace::saveDialogStartsInLastTraceFolder()
{
    QTemporaryDir saved;
    QTemporaryDir elsewhere;
    const QString folder = QFileInfo(saved.path()).canonicalFilePath();
    TestWindow w;
    w.show();
    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x100)});

    QString startedIn;
    const auto saveAs = [&](const QString &path) {
        QTimer::singleShot(0, [&startedIn, path] {
            auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!files)
                return;
            startedIn = QFileInfo(files->directory().absolutePath()).canonicalFilePath();
            acceptFile(files, path);
        });
        w.saveTrace();
    };
    saveAs(saved.filePath(QStringLiteral("eins.trc")));
    QVERIFY(QFileInfo::exists(saved.filePath(QStringLiteral("eins.trc"))));
    // A file of another kind opened in between does not move the start.
    const QString list = elsewhere.filePath(QStringLiteral("liste.cxt"));
    QVERIFY(w.saveTxListFile(list, nullptr));
    QTimer::singleShot(0, [list] {
        if (auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            acceptFile(files, list);
        }
    });
    w.openTxList();
    saveAs(saved.filePath(QStringLiteral("zwei.trc")));
    QCOMPARE(startedIn, folder);
}

void TestMainWindowTrace::onlyUnsavedRecordingsAreAskedFor()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gesichert.trc"));
    TestWindow w;
    w.show();
    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x100, 1000), frame(0x200, 2000)});
    QVERIFY(w.traceModel()->hasUnsavedEntries());

    // The trash button asks like loading does; No keeps the recording.
    {
        Modals modals(QMessageBox::No);
        w.findChild<QAction *>("actionTraceClear")->trigger();
        QCOMPARE(modals.questions, QStringList {QStringLiteral("Trace leeren")});
        QCOMPARE(modals.texts.value(0), QStringLiteral("Der aktuelle Trace (2 Einträge) wird gelöscht.\n"
                                                       "Ungespeicherte Aufzeichnungen gehen verloren. Fortfahren?"));
        QCOMPARE(w.traceModel()->rowCount(), 2);
    }
    // Loading right after saving: nothing is lost, nothing is asked.
    QString error;
    QVERIFY2(w.saveTraceFile(path, QString(), &error), qPrintable(error));
    QVERIFY(!w.traceModel()->hasUnsavedEntries());
    {
        Modals modals(QMessageBox::No, path);
        w.loadTrace();
        QCOMPARE(modals.questions, QStringList());
        QCOMPARE(modals.files, 1);
        QVERIFY(w.statusBar()->currentMessage().startsWith(QStringLiteral("Trace geladen: 2 Nachrichten")));
    }
    // A loaded trace is in its file: clearing it asks nothing either.
    {
        Modals modals(QMessageBox::No);
        w.findChild<QAction *>("actionTraceClear")->trigger();
        QCOMPARE(modals.questions, QStringList());
        QCOMPARE(w.traceModel()->rowCount(), 0);
    }
    // A new recording is unsaved again, and loading asks.
    w.setTraceRunning(true);
    w.onFramesReceived({frame(0x300, 5000)});
    {
        Modals modals(QMessageBox::No, path);
        w.loadTrace();
        QCOMPARE(modals.questions, QStringList {QStringLiteral("Trace laden")});
        QCOMPARE(w.traceModel()->rowCount(), 1);
    }
}

void TestMainWindowTrace::viewMenuTogglesEveryDock()
{
    TestWindow w;
    w.show();
    auto *menu = w.findChild<QMenu *>("menuView");
    QVERIFY(menu);
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << action->text();
    QVERIFY2(texts.contains(QStringLiteral("Marker")), qPrintable(texts.join(QLatin1Char('|'))));
    auto *dock = w.findChild<QDockWidget *>("markerDock");
    QAction *toggle = menu->actions().at(texts.indexOf(QStringLiteral("Marker")));
    toggle->trigger();
    QCOMPARE(dock->isHidden(), true);
    toggle->trigger();
    QCOMPARE(dock->isHidden(), false);
}

QTEST_MAIN(TestMainWindowTrace)
#include "tst_mainwindowtrace.moc"
