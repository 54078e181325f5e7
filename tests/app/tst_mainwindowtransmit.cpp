#include "filedialogs.h"
#include "fakebackend.h"
#include "mainwindow.h"
#include "testsettings.h"
#include "transmitmodel.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
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

#include <functional>

// The transmit list as the main window edits, sends and stores it.
class TestMainWindowTransmit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void newMessageStartsFromSelectedRowAsTemplate();
    void editReplacesRowAndCancelKeepsIt();
    void deleteAndSendNeedASelection();
    void listFilesRoundTripAndBadFileKeepsList();
    void openingOverAnEditedListAsksFirst_data();
    void openingOverAnEditedListAsksFirst();
    void stopAllEndsCyclicSending();
    void spaceAndDelActOnlyInTheTransmitList();
    void spaceSendsOnceAndLeavesCyclicBoxAlone_data();
    void spaceSendsOnceAndLeavesCyclicBoxAlone();
    void changedCycleCountsFromNow();
    void savedListGetsItsEndingAndFolder();

private:
    // Answers the next modal dialog once the event loop runs it.
    static void answerDialog(bool accept)
    {
        QTimer::singleShot(0, [accept] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (accept)
                dialog->accept();
            else
                dialog->reject();
        });
    }
    // Runs `work` on the next modal dialog once the event loop shows it.
    static void onNextDialog(std::function<void(QDialog *)> work)
    {
        QTimer::singleShot(0, [work] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                work(dialog);
        });
    }
    static TxMessage message(quint32 id, int cycleMs = 0)
    {
        TxMessage m;
        m.frame.id = id;
        m.frame.dlc = 4;
        m.frame.data[0] = 0xAB;
        m.cycleMs = cycleMs;
        return m;
    }

    QTemporaryDir m_settingsDir;
};

void TestMainWindowTransmit::initTestCase()
{
    useTemporarySettings(m_settingsDir, "tst_mainwindowtransmit");
}

void TestMainWindowTransmit::init()
{
    QSettings().clear();
}

void TestMainWindowTransmit::newMessageStartsFromSelectedRowAsTemplate()
{
    TestWindow w;
    w.show();
    TransmitModel *model = w.transmitModel();
    auto *view = w.findChild<QTableView *>("txView");

    answerDialog(true);
    w.newTxMessage();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->message(0).frame.dlc, 8);     // blank start: eight zero bytes
    QCOMPARE(model->message(0).frame.id, 0u);
    QCOMPARE(view->currentIndex().row(), 0);

    model->updateMessage(0, message(0x2A0, 50));
    model->setActive(0, true);
    model->incrementCount(0);
    auto *tabs = w.findChild<QTabWidget *>("tabs");
    tabs->setCurrentIndex(2);
    answerDialog(true);
    w.newTxMessage();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("tabRxTx"));
    const TxMessage &copy = model->message(1);
    QCOMPARE(copy.frame.id, 0x2A0u);
    QCOMPARE(copy.frame.data[0], quint8(0xAB));
    QCOMPARE(copy.cycleMs, 50);
    QVERIFY(!copy.active);
    QCOMPARE(copy.count, 0u);
    QCOMPARE(view->currentIndex().row(), 1);
}

void TestMainWindowTransmit::editReplacesRowAndCancelKeepsIt()
{
    TestWindow w;
    w.show();
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x111));
    auto *view = w.findChild<QTableView *>("txView");

    w.editTxMessage();                          // no current row: no dialog
    QCOMPARE(model->message(0).frame.id, 0x111u);

    view->setCurrentIndex(model->index(0, 0));
    answerDialog(false);
    w.editTxMessage();
    QCOMPARE(model->message(0).frame.id, 0x111u);
    QCOMPARE(model->rowCount(), 1);

    answerDialog(true);
    w.editTxMessage();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->message(0).frame.id, 0x111u);
    QCOMPARE(model->message(0).frame.data[0], quint8(0xAB));
}

void TestMainWindowTransmit::deleteAndSendNeedASelection()
{
    TestWindow w;
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x111));
    model->addMessage(message(0x222));
    QVERIFY(w.openBackend(simulationParams()));

    w.sendSelectedOnce();
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Keine Sendenachricht ausgewählt."));
    QVERIFY(!w.sendRow(2));
    QVERIFY(!w.sendRow(-1));
    QCOMPARE(w.lastBackend->writeCount, 0);
    w.deleteTxMessage();
    QCOMPARE(model->rowCount(), 2);

    auto *view = w.findChild<QTableView *>("txView");
    view->setCurrentIndex(model->index(1, 0));
    w.findChild<QAction *>("actionSendTx")->trigger();
    QCOMPARE(w.lastBackend->writeCount, 1);
    QCOMPARE(w.lastBackend->written.last().id, 0x222u);
    QCOMPARE(model->message(1).count, 1u);

    w.findChild<QAction *>("actionDeleteTx")->trigger();
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->message(0).frame.id, 0x111u);
}

void TestMainWindowTransmit::listFilesRoundTripAndBadFileKeepsList()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("liste.cxt"));
    TestWindow w;
    w.transmitModel()->addMessage(message(0x111, 100));
    w.transmitModel()->addMessage(message(0x18FEF100));
    QString error;
    QVERIFY2(w.saveTxListFile(path, &error), qPrintable(error));

    TestWindow other;
    QVERIFY2(other.loadTxListFile(path, &error), qPrintable(error));
    QCOMPARE(other.transmitModel()->rowCount(), 2);
    QCOMPARE(other.transmitModel()->message(0).cycleMs, 100);

    const QString bad = dir.filePath(QStringLiteral("kaputt.cxt"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{ \"format\": ");
    file.close();
    QVERIFY(!other.loadTxListFile(bad, &error));
    QVERIFY2(error.startsWith(QStringLiteral("Ungültige Datei: ")), qPrintable(error));
    QCOMPARE(other.transmitModel()->rowCount(), 2);

    // Saving into a directory that does not exist fails and says so.
    QVERIFY(!w.saveTxListFile(dir.filePath(QStringLiteral("fehlt/liste.cxt")), &error));
    QVERIFY(!error.isEmpty());
}

void TestMainWindowTransmit::openingOverAnEditedListAsksFirst_data()
{
    QTest::addColumn<bool>("edited");
    QTest::addColumn<int>("answer");      // to the question, if one comes
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("rowsAfter");
    QTest::newRow("edited, yes") << true << int(QMessageBox::Yes) << true << 1;
    QTest::newRow("edited, no") << true << int(QMessageBox::No) << true << 2;
    QTest::newRow("unchanged since load") << false << int(QMessageBox::No) << false << 1;
}

void TestMainWindowTransmit::openingOverAnEditedListAsksFirst()
{
    QFETCH(bool, edited);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(int, rowsAfter);
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("eins.cxt"));
    const QString two = dir.filePath(QStringLiteral("zwei.cxt"));
    TestWindow w;
    w.show();
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x111));
    QString error;
    QVERIFY(w.saveTxListFile(one, &error));
    model->addMessage(message(0x222));
    QVERIFY(w.saveTxListFile(two, &error));
    QVERIFY(w.loadTxListFile(one, &error));
    if (edited)
        model->addMessage(message(0x333));
    const int rowsBefore = model->rowCount();

    // Answers whatever comes up: the file dialog chooses the first list,
    // a question gets `answer`.
    QStringList questions;
    QTimer modals;
    modals.setInterval(10);
    connect(&modals, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *files = qobject_cast<QFileDialog *>(modal)) {
            acceptFile(files, one);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            questions << box->windowTitle() + QLatin1Char('|') + box->text();
            box->button(QMessageBox::StandardButton(answer))->click();
        }
    });
    modals.start();
    w.openTxList();
    modals.stop();
    QCOMPARE(questions.size(), asked ? 1 : 0);
    if (asked) {
        QVERIFY2(questions.first().startsWith(
                     QStringLiteral("Sendeliste öffnen|Die Sendeliste (%1 Nachrichten)").arg(rowsBefore)),
                 qPrintable(questions.first()));
    }
    QCOMPARE(model->rowCount(), rowsAfter);
}

void TestMainWindowTransmit::stopAllEndsCyclicSending()
{
    TestWindow w;
    w.transmitModel()->addMessage(message(0x100, 5));
    w.transmitModel()->setActive(0, true);
    QVERIFY(w.openBackend(simulationParams()));
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 1);

    w.findChild<QAction *>("actionStopAllTx")->trigger();
    QVERIFY(!w.transmitModel()->message(0).active);
    const int sent = w.lastBackend->writeCount;
    QTest::qWait(50);
    QCOMPARE(w.lastBackend->writeCount, sent);
}

void TestMainWindowTransmit::spaceAndDelActOnlyInTheTransmitList()
{
    TestWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x111));
    model->addMessage(message(0x222));
    QVERIFY(w.openBackend(simulationParams()));
    auto *view = w.findChild<QTableView *>("txView");
    view->setCurrentIndex(model->index(0, 0));

    // On the trace tab the keys belong to the focused check box.
    w.showTab(2);
    auto *check = w.findChild<QCheckBox *>("traceAutoScrollCheck");
    check->setFocus();
    QVERIFY(check->hasFocus());
    QTest::keyClick(check, Qt::Key_Space);
    QTest::keyClick(check, Qt::Key_Delete);
    QCOMPARE(w.lastBackend->writeCount, 0);
    QCOMPARE(model->rowCount(), 2);
    QVERIFY(!check->isChecked());   // Space toggled the box instead

    // In the transmit list they send and delete.
    w.showTab(0);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(w.lastBackend->writeCount, 1);
    QCOMPARE(w.lastBackend->written.last().id, 0x111u);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(model->rowCount(), 1);
}

void TestMainWindowTransmit::spaceSendsOnceAndLeavesCyclicBoxAlone_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("spaceTakenElsewhere");
    // When the shortcut does not fire (here: a second taker of Space makes
    // it ambiguous), the key press itself reaches the view.
    for (int column = 0; column < TransmitModel::ColumnCount; ++column) {
        QTest::addRow("column %d", column) << column << false;
        QTest::addRow("column %d, Space taken elsewhere", column) << column << true;
    }
}

void TestMainWindowTransmit::spaceSendsOnceAndLeavesCyclicBoxAlone()
{
    QFETCH(int, column);
    QFETCH(bool, spaceTakenElsewhere);
    TestWindow w;
    if (spaceTakenElsewhere) {
        auto *other = new QAction(&w);
        other->setShortcut(Qt::Key_Space);
        w.addAction(other);
    }
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x111, 3600000));   // a row with a cyclic box
    QVERIFY(w.openBackend(simulationParams()));
    auto *view = w.findChild<QTableView *>("txView");
    view->setFocus();
    view->setCurrentIndex(model->index(0, column));

    QTest::keyClick(view, Qt::Key_Space);
    QVERIFY(!model->message(0).active);
    QCOMPARE(w.lastBackend->writeCount, 1);

    // An active row stays active: Space sends once more and nothing else.
    model->setActive(0, true);
    w.onTxTick();   // the cyclic send that falls due at once; the next is an hour away
    w.lastBackend->writeCount = 0;
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(w.lastBackend->writeCount, 1);
    QVERIFY(model->message(0).active);
}

void TestMainWindowTransmit::changedCycleCountsFromNow()
{
    TestWindow w;
    w.show();
    TransmitModel *model = w.transmitModel();
    model->addMessage(message(0x100, 3600000));
    model->setActive(0, true);
    QVERIFY(w.openBackend(simulationParams()));
    w.onTxTick();
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 1);   // next one due in an hour

    w.findChild<QTableView *>("txView")->setCurrentIndex(model->index(0, 0));
    onNextDialog([](QDialog *dialog) {
        dialog->findChild<QSpinBox *>("cycleSpin")->setValue(100);
        dialog->accept();
    });
    w.editTxMessage();
    QCOMPARE(model->message(0).cycleMs, 100);
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 2);

    // An edit that keeps the cycle keeps the due time.
    onNextDialog([](QDialog *dialog) {
        dialog->findChild<QLineEdit *>("commentEdit")->setText(QStringLiteral("neu"));
        dialog->accept();
    });
    w.editTxMessage();
    w.onTxTick();
    QCOMPARE(w.lastBackend->writeCount, 2);
}

void TestMainWindowTransmit::savedListGetsItsEndingAndFolder()
{
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    TestWindow w;
    w.show();
    w.transmitModel()->addMessage(message(0x123, 10));

    QString startedIn;
    const auto saveAs = [&](const QString &name) {
        onNextDialog([&startedIn, name](QDialog *dialog) {
            auto *files = qobject_cast<QFileDialog *>(dialog);
            if (!files)
                return dialog->reject();
            startedIn = QFileInfo(files->directory().absolutePath()).canonicalFilePath();
            acceptFile(files, name);
        });
        w.saveTxList();
    };
    saveAs(dir.filePath(QStringLiteral("liste")));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("liste.cxt"))));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("liste"))));
    QCOMPARE(QFileInfo(QSettings().value(QStringLiteral("transmit/lastDir")).toString()).canonicalFilePath(), folder);

    // The next save starts where the last one went; a given ending stays.
    saveAs(dir.filePath(QStringLiteral("zwei.json")));
    QCOMPARE(startedIn, folder);
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("zwei.json"))));

    TestWindow other;
    QString error;
    QVERIFY2(other.loadTxListFile(dir.filePath(QStringLiteral("liste.cxt")), &error), qPrintable(error));
    QCOMPARE(other.transmitModel()->rowCount(), 1);
}

QTEST_MAIN(TestMainWindowTransmit)
#include "tst_mainwindowtransmit.moc"
