// The transmit, trace and symbol actions of the main window; construction,
// connection and routing are in mainwindow.cpp.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "canbackend.h"
#include "canidfilter.h"
#include "receivemodel.h"
#include "aboutbox.h"
#include "infodialog.h"
#include "infoupdatechecker.h"
#include "settingsdialog.h"
#include "symbolfile.h"
#include "tracemodel.h"
#include "traceplayer.h"
#include "transmitdialog.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>

// --- transmit ------------------------------------------------------------

bool MainWindow::sendRow(int row)
{
    if (!m_backend || !m_backend->isOpen()) {
        showStatus(tr("Nicht verbunden."), 3000);
        return false;
    }
    // A row that does not exist must not go out as an all-zero frame 0.
    if (row < 0 || row >= m_transmitModel->rowCount())
        return false;
    QString error;
    if (m_backend->write(m_transmitModel->message(row).frame, &error)) {
        m_transmitModel->incrementCount(row);
        return true;
    }
    // A failing cyclic row would repeat the same message every few ms.
    if (error == m_lastSendError && m_sendErrorClock.elapsed() < 1001)
        return false;
    showStatus(tr("Sendefehler: %1").arg(error), 3000);
    m_lastSendError = error;
    m_sendErrorClock.restart();
    return false;
}

void MainWindow::sendSelectedOnce()
{
    const QModelIndex current = ui->txView->currentIndex();
    if (!current.isValid()) {
        showStatus(tr("Keine Sendenachricht ausgewählt."), 3000);
        return;
    }
    sendRow(current.row());
}

void MainWindow::onTxTick()
{
    if (!m_backend || !m_backend->isOpen())
        return;
    m_schedule->tick(m_txClock.elapsed(), [this](int row) { sendRow(row); });
}

bool MainWindow::runTransmitDialog(TxMessage *message)
{
    TransmitDialog dialog(m_symbols, this);
    dialog.setMessage(*message);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *message = dialog.message();
    return true;
}

void MainWindow::newTxMessage()
{
    TxMessage message;
    message.frame.dlc = 8;
    const QModelIndex current = ui->txView->currentIndex();
    if (current.isValid()) {
        // The selected row serves as a template.
        message = m_transmitModel->message(current.row());
        message.active = false;
        message.count = 0;
    }
    if (!runTransmitDialog(&message))
        return;
    const int row = m_transmitModel->addMessage(message);
    ui->txView->setCurrentIndex(m_transmitModel->index(row, 0));
    showTab(0);
}

void MainWindow::editTxMessage()
{
    const QModelIndex current = ui->txView->currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    TxMessage message = m_transmitModel->message(row);
    const int cycleBefore = message.cycleMs;
    const bool activeBefore = message.active;
    if (!runTransmitDialog(&message))
        return;
    m_transmitModel->updateMessage(row, message);
    // A changed cycle counts from now: the old due time may lie an hour ahead.
    const TxMessage &updated = m_transmitModel->message(row);
    if (activeBefore && updated.active && updated.cycleMs != cycleBefore)
        m_schedule->makeDue(row, m_txClock.elapsed());
}

void MainWindow::deleteTxMessage()
{
    const QModelIndex current = ui->txView->currentIndex();
    if (current.isValid())
        m_transmitModel->removeMessage(current.row());
}

bool MainWindow::loadTxListFile(const QString &path, QString *error)
{
    return m_transmitModel->loadFile(path, error);
}

bool MainWindow::saveTxListFile(const QString &path, QString *error)
{
    return m_transmitModel->saveFile(path, error);
}

void MainWindow::openTxList()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Sendeliste öffnen"), QString(),
                                                      tr("Sendeliste (*.cxt *.json)"));
    if (path.isEmpty())
        return;
    if (m_transmitModel->isEdited() && m_transmitModel->rowCount() > 0) {
        const auto answer = QMessageBox::question(
            this, tr("Sendeliste öffnen"),
            tr("Die Sendeliste (%1 Nachrichten) wurde seit dem letzten Öffnen oder Speichern geändert "
               "und wird durch die Datei ersetzt.\nNicht gespeicherte Änderungen gehen verloren. Fortfahren?")
                .arg(m_transmitModel->rowCount()),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    QString error;
    if (loadTxListFile(path, &error))
        QSettings().setValue(QStringLiteral("transmit/lastDir"), QFileInfo(path).absolutePath());
    else
        QMessageBox::warning(this, tr("Fehler"), error);
}

void MainWindow::saveTxList()
{
    QString path = QFileDialog::getSaveFileName(this, tr("Sendeliste speichern"),
                                                QSettings().value(QStringLiteral("transmit/lastDir")).toString(),
                                                tr("Sendeliste (*.cxt)"));
    if (path.isEmpty())
        return;
    // Without an ending the open dialog's filter would hide the file.
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(".cxt");
    // Written atomically: a failed save leaves the previous file intact.
    QString error;
    if (saveTxListFile(path, &error))
        QSettings().setValue(QStringLiteral("transmit/lastDir"), QFileInfo(path).absolutePath());
    else
        QMessageBox::warning(this, tr("Fehler"), error);
}

// --- trace ---------------------------------------------------------------

void MainWindow::toggleTrace(bool on)
{
    if (on && m_player->isActive()) {
        // The player reads the trace in place; it must not grow meanwhile.
        ui->actionTraceRun->setChecked(false);
        return;
    }
    m_traceModel->setRecording(on);
    updateTraceInfo();
}

void MainWindow::setTraceRunning(bool on)
{
    ui->actionTraceRun->setChecked(on);
}

void MainWindow::clearTrace()
{
    if (m_traceModel->hasUnsavedEntries()) {
        const auto answer = QMessageBox::question(
            this, tr("Trace leeren"),
            tr("Der aktuelle Trace (%1 Einträge) wird gelöscht.\n"
               "Ungespeicherte Aufzeichnungen gehen verloren. Fortfahren?").arg(m_traceModel->rowCount()),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    stopReplay();
    m_traceModel->clear();
    updateTraceInfo();
}

void MainWindow::saveTrace()
{
    QString selectedFilter;
    const QString path = QFileDialog::getSaveFileName(this, tr("Trace speichern"),
                                                      QSettings().value(QStringLiteral("trace/lastDir")).toString(),
                                                      TraceFile::saveFilters(), &selectedFilter);
    if (path.isEmpty())
        return;
    QString error;
    QString savedAs;
    if (saveTraceFile(path, selectedFilter, &error, &savedAs)) {
        QSettings().setValue(QStringLiteral("trace/lastDir"), QFileInfo(savedAs).absolutePath());
    } else {
        QMessageBox::warning(this, tr("Fehler"), tr("Trace konnte nicht gespeichert werden: %1").arg(error));
    }
}

bool MainWindow::saveTraceFile(const QString &path, const QString &selectedFilter, QString *error, QString *savedAs)
{
    QString target = path;
    const TraceFile::Format format = TraceFile::formatForSaving(&target, selectedFilter);
    if (savedAs)
        *savedAs = target;
    TraceFile::SaveResult result;
    if (!m_traceModel->save(target, format, error, &result))
        return false;
    QString text = tr("Trace gespeichert: %1").arg(target);
    if (!result.notice().isEmpty())
        text += QStringLiteral(" – ") + result.notice();
    showStatus(text, 5000);
    return true;
}

void MainWindow::loadTrace()
{
    const QString startDir = QSettings().value(QStringLiteral("trace/lastDir")).toString();
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Trace laden"), startDir,
        TraceFile::loadFilters());
    if (path.isEmpty())
        return;
    // Asked only when something recorded would be lost: a trace that was
    // saved or loaded is in its file.
    const int rows = m_traceModel->rowCount();
    if (rows > 0 && m_traceModel->hasUnsavedEntries()) {
        const auto answer = QMessageBox::question(
            this, tr("Trace laden"),
            tr("Der aktuelle Trace (%1 Einträge) wird durch die Datei ersetzt.\n"
               "Ungespeicherte Aufzeichnungen gehen verloren. Fortfahren?").arg(rows),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    QString error;
    if (loadTraceFile(path, &error)) {
        QSettings().setValue(QStringLiteral("trace/lastDir"), QFileInfo(path).absolutePath());
    } else {
        QMessageBox::warning(this, tr("Trace laden"),
                             tr("Der Trace konnte nicht geladen werden:\n%1\n\n%2")
                                 .arg(QDir::toNativeSeparators(path), error));
    }
}

bool MainWindow::loadTraceFile(const QString &path, QString *error)
{
    stopReplay();
    ui->actionTraceRun->setChecked(false);

    // Big files take seconds: a progress dialog keeps the window alive and
    // lets the user cancel (the trace then stays as it was).
    std::unique_ptr<QProgressDialog> progressDialog;
    const TraceModel::Progress progress = [&](qint64 done, qint64 total) {
        if (total < (8 << 20))
            return true;
        if (!progressDialog) {
            progressDialog = std::make_unique<QProgressDialog>(
                tr("Trace wird geladen…"), tr("Abbrechen"), 0, 1000, this);
            progressDialog->setWindowModality(Qt::WindowModal);
            progressDialog->setMinimumDuration(300);
        }
        progressDialog->setValue(int(done * 1000 / total));
        return !progressDialog->wasCanceled();
    };

    int count = 0;
    // By the ending; a file without a known ending by its content.
    TraceFile::Format format = TraceFile::Format::Trc;
    TraceFile::LoadResult result;
    const bool ok = TraceFile::formatOfFile(path, &format, error)
        && m_traceModel->load(path, format, error, &count, progress, &result);
    progressDialog.reset();
    if (ok) {
        ui->plotWidget->reloadTrace();
        showTab(ui->tabs->indexOf(ui->tabTrace));
        ui->traceView->scrollToTop();
        QString text = tr("Trace geladen: %1 Nachrichten aus %2").arg(count).arg(QDir::toNativeSeparators(path));
        if (!result.notice().isEmpty())
            text += QStringLiteral(" – ") + result.notice();
        showStatus(text, 5000);
    }
    updateTraceInfo();
    return ok;
}

void MainWindow::applyTraceFilter()
{
    CanIdFilter filter = m_traceModel->filter();
    QString error;
    const bool parsed = filter.parse(ui->traceFilterEdit->text(), &error);
    filter.enabled = ui->traceFilterCheck->isChecked();
    filter.mode = ui->traceFilterMode->currentData().toInt();
    if (parsed) {
        ui->traceFilterEdit->setStyleSheet(QString());
        ui->traceFilterEdit->setToolTip(
            tr("CAN-IDs hexadezimal, einzeln oder als Bereich von-bis, getrennt durch Komma.\n"
               "Beispiel: 100, 180-1FF, 18FEF100\n"
               "Status- und Error-Frames werden immer aufgezeichnet."));
    } else {
        ui->traceFilterEdit->setStyleSheet(QStringLiteral("background: #ffe0e0;"));
        ui->traceFilterEdit->setToolTip(tr("%1\nEs gilt weiter der zuletzt gültige Filter.").arg(error));
    }
    m_traceModel->setFilter(filter);
    const QString summary = filter.summary();
    ui->traceFilterCheck->setToolTip(summary.isEmpty()
                                         ? tr("Kein Filter aktiv – alle Nachrichten werden aufgezeichnet")
                                         : tr("Aktiv: %1").arg(summary));
}

// --- symbols -------------------------------------------------------------

bool MainWindow::loadSymbolFile(const QString &path, bool interactive)
{
    // Loaded aside: a file that fails to load never replaces the current database.
    auto database = std::make_shared<SymbolDatabase>();
    QString error;
    QStringList warnings;
    if (!database->load(path, &error, &warnings)) {
        if (interactive) {
            QMessageBox box(QMessageBox::Warning, tr("Symboldatei"),
                            tr("Symboldatei konnte nicht geladen werden:\n%1\n\n%2").arg(path, error),
                            QMessageBox::Ok, this);
            // What the parser noticed before it gave up usually names the cause.
            if (!warnings.isEmpty())
                box.setDetailedText(warnings.join(QLatin1Char('\n')));
            box.exec();
        } else {
            showStatus(tr("Symboldatei nicht geladen: %1").arg(error), 5000);
        }
        return false;
    }

    m_symbols = database;
    applySymbols();
    {
        QSettings settings;
        settings.setValue(QStringLiteral("symbols/file"), database->filePath);
        settings.setValue(QStringLiteral("symbols/lastDir"), QFileInfo(database->filePath).absolutePath());
    }
    const QStringList watched = m_symbolWatcher.files() + m_symbolWatcher.directories();
    if (!watched.isEmpty())
        m_symbolWatcher.removePaths(watched);
    m_symbolWatcher.addPath(database->filePath);

    const int count = int(database->messages.size());
    showStatus(tr("Symboldatei geladen: %1 Nachrichten").arg(count), 4000);
    if (interactive && !warnings.isEmpty()) {
        QMessageBox box(QMessageBox::Information, tr("Symboldatei"),
                        tr("%1 Nachrichten geladen, %2 Hinweis(e) beim Einlesen.").arg(count).arg(warnings.size()),
                        QMessageBox::Ok, this);
        box.setDetailedText(warnings.join(QLatin1Char('\n')));
        box.exec();
    }
    return true;
}

void MainWindow::chooseSymbolFile()
{
    const QString startDir = m_symbols
        ? QFileInfo(m_symbols->filePath).absolutePath()
        : QSettings().value(QStringLiteral("symbols/lastDir")).toString();
    const QString path = QFileDialog::getOpenFileName(this, tr("Symboldatei laden"), startDir,
                                                      tr("Symboldateien (*.sym *.dbc);;PCAN-Symboldatei (*.sym);;DBC-Datenbank (*.dbc);;Alle Dateien (*)"));
    if (!path.isEmpty())
        loadSymbolFile(path, true);
}

void MainWindow::reloadSymbols()
{
    if (m_symbols)
        loadSymbolFile(m_symbols->filePath, true);
}

void MainWindow::unloadSymbols()
{
    m_symbols.reset();
    m_reloadTimer.stop();
    const QStringList watched = m_symbolWatcher.files() + m_symbolWatcher.directories();
    if (!watched.isEmpty())
        m_symbolWatcher.removePaths(watched);
    QSettings().remove(QStringLiteral("symbols/file"));
    applySymbols();
}

void MainWindow::applySymbols()
{
    m_receiveModel->setSymbols(m_symbols);
    m_transmitModel->setSymbols(m_symbols);
    m_traceModel->setSymbols(m_symbols);
    ui->signalPanel->setSymbols(m_symbols);
    ui->plotWidget->setSymbols(m_symbols);

    const bool loaded = m_symbols != nullptr;
    ui->rxView->setColumnHidden(1, !loaded);
    ui->rxView->setColumnHidden(7, !loaded);
    ui->txView->setColumnHidden(1, !loaded);
    ui->traceView->setColumnHidden(4, !loaded);
    ui->traceView->setColumnHidden(8, !loaded);

    ui->actionUnloadSym->setEnabled(loaded);
    ui->actionReloadSym->setEnabled(loaded);
    if (loaded) {
        const QFileInfo info(m_symbols->filePath);
        m_symbolsLabel->setText(tr("Symbole: %1").arg(info.fileName()));
        m_symbolsLabel->setToolTip(tr("%1\n%2 Nachrichten")
                                       .arg(QDir::toNativeSeparators(m_symbols->filePath))
                                       .arg(m_symbols->messages.size()));
    } else {
        m_symbolsLabel->setText(tr("Symbole: –"));
        m_symbolsLabel->setToolTip(tr("Keine Symboldatei geladen"));
    }
    updateSignalPanel();
}

void MainWindow::onSymbolFileNotified()
{
    m_reloadAttempts = 0;
    m_reloadTimer.start();
}

void MainWindow::onSymbolFileChanged()
{
    if (!m_symbols)
        return;
    const QString path = m_symbols->filePath;
    const QFileInfo info(path);
    if (info.exists() && info.size() > 0) {
        // A file replaced on disk drops out of the watch list.
        if (!m_symbolWatcher.files().contains(path))
            m_symbolWatcher.addPath(path);
        loadSymbolFile(path, false);
        return;
    }
    // Missing or still empty: the editor is probably in the middle of saving.
    ++m_reloadAttempts;
    if (m_reloadAttempts <= 10) {
        m_reloadTimer.start();
        return;
    }
    // Still gone after the quick retries: watch the folder, so that a file
    // restored later (from a backup, a checkout) is loaded again.
    const QString folder = info.absolutePath();
    if (!m_symbolWatcher.directories().contains(folder))
        m_symbolWatcher.addPath(folder);
}

void MainWindow::onSymbolFolderChanged()
{
    // The file is back (maybe still empty): the usual retries take it from here.
    if (m_symbols && QFileInfo::exists(m_symbols->filePath))
        onSymbolFileNotified();
}

void MainWindow::openSymbolEditor()
{
    const QString editor = SettingsDialog::symbolEditorPath();
    if (editor.isEmpty())
        return;
    QStringList arguments;
    if (m_symbols)
        arguments << QDir::toNativeSeparators(m_symbols->filePath);
    if (QProcess::startDetached(editor, arguments, QFileInfo(editor).absolutePath())) {
        showStatus(m_symbols
                       ? tr("Symbol Editor gestartet – gespeicherte Änderungen werden automatisch übernommen.")
                       : tr("Symbol Editor gestartet."),
                   5000);
    } else {
        QMessageBox::warning(this, tr("Symbol-Editor"),
                             tr("Der PCAN Symbol Editor konnte nicht gestartet werden:\n%1\n\n"
                                "Der Pfad lässt sich im Menü Datei → Einstellungen ändern.")
                                 .arg(QDir::toNativeSeparators(editor)));
    }
}

void MainWindow::updateSymbolEditorAction()
{
    const QString editor = SettingsDialog::symbolEditorPath();
    ui->actionOpenSymEditor->setEnabled(!editor.isEmpty());
    ui->actionOpenSymEditor->setStatusTip(
        editor.isEmpty() ? tr("Zuerst den Pfad des Editors festlegen (Datei → Einstellungen)") : editor);
}

// --- settings, update check, about ---------------------------------------

void MainWindow::showSettings()
{
    SettingsDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QSettings store;   // held over save(), so that a failed write is still pending here
    dialog.save();
    SettingsDialog::syncStore(store, this);
    SettingsDialog::applyLanguage(SettingsDialog::language());
    updateSymbolEditorAction();
    ui->plotWidget->setMaxPoints(SettingsDialog::plotMaxPoints());
}

void MainWindow::checkForUpdates()
{
    // One check at a time: a second request while one runs would ask twice.
    const QString name = QStringLiteral("updateCheckAtStart");
    if (findChild<InfoUpdateChecker *>(name, Qt::FindDirectChildrenOnly))
        return;
    auto *checker = new InfoUpdateChecker(this);
    checker->setObjectName(name);
    checker->setManifestUrl(InfoUpdateChecker::defaultManifestUrl());
    checker->addCaCertificatesFromEnvironment();
    connect(checker, &InfoUpdateChecker::checkFinished, this, [this, checker](InfoUpdateChecker::Status status) {
        const QString latest = checker->latestVersion();
        const QString current = checker->currentVersion();
        checker->deleteLater();
        // Errors stay silent: nobody asked for this check.
        if (status != InfoUpdateChecker::UpdateAvailable)
            return;
        const auto answer = QMessageBox::question(
            this, tr("Update"),
            tr("Version %1 ist verfügbar (installiert: %2).\n\nInfo-Dialog öffnen, um das Update zu laden?")
                .arg(latest, current),
            QMessageBox::Yes | QMessageBox::No);
        if (answer == QMessageBox::Yes)
            about();
    });
    checker->check();
}

void MainWindow::about()
{
    InfoDialog dialog(this);
    AboutBox::fill(&dialog, windowIcon(), versionString());
    AboutBox::enableUpdateCheck(&dialog);
    dialog.exec();
}

