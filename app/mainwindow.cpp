#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "canbackend.h"
#include "canidfilter.h"
#include "connectiondialog.h"
#include "datadelegate.h"
#include "iscanbackend.h"
#include "pcanbasicbackend.h"
#include "receivemodel.h"
#include "sdoclient.h"
#include "settingsdialog.h"
#include "simulationbackend.h"
#ifdef BUSVISTA_SOCKETCAN
#include "socketcanbackend.h"
#endif
#include "symbolfile.h"
#include "tracemodel.h"
#include "transmitmodel.h"
#include "txschedule.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QKeyEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>

namespace {

QIcon recordIcon()
{
    QPixmap off(64, 64);
    off.fill(Qt::transparent);
    {
        QPainter p(&off);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 45, 45));
        p.drawEllipse(QRect(14, 14, 36, 36));
    }
    QPixmap on(64, 64);
    on.fill(Qt::transparent);
    {
        QPainter p(&on);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 80, 80, 90));
        p.drawEllipse(QRect(2, 2, 60, 60));
        p.setBrush(QColor(235, 30, 30));
        p.drawEllipse(QRect(14, 14, 36, 36));
    }
    QIcon icon;
    icon.addPixmap(off, QIcon::Normal, QIcon::Off);
    icon.addPixmap(on, QIcon::Normal, QIcon::On);
    return icon;
}

// Space in the transmit list sends the current row once. The view would
// otherwise hand a Space that reaches it to the delegate, which toggles the
// cyclic box of column 0, so the filter takes the key before the view and
// before the action's shortcut (which could fire as well).
class SpaceSendsFilter : public QObject
{
public:
    SpaceSendsFilter(QAction *send, QObject *parent) : QObject(parent), m_send(send) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier)
            return QObject::eventFilter(watched, event);
        if (event->type() == QEvent::ShortcutOverride) {
            key->accept();   // the key press comes to us, not to the shortcut
            return true;
        }
        m_send->trigger();
        return true;
    }

private:
    QAction *m_send;
};

void setColumnWidths(QTableView *view, std::initializer_list<int> widths)
{
    int column = 0;
    for (int width : widths)
        view->setColumnWidth(column++, width);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    m_receiveModel = new ReceiveModel(this);
    m_transmitModel = new TransmitModel(this);
    m_traceModel = new TraceModel(this);
    m_sdoClient = new SdoClient(this);
    m_schedule = std::make_unique<TxSchedule>(m_transmitModel);

    setupActions();
    setupViews();
    createStatusBar();

    connect(m_transmitModel, &TransmitModel::activeChanged, this, [this](int row, bool active) {
        // A newly started cyclic message goes out at the next transmit tick.
        if (active)
            m_schedule->makeDue(row, m_txClock.elapsed());
    });

    m_txClock.start();
    m_sendErrorClock.start();
    m_txTimer.setTimerType(Qt::PreciseTimer);
    m_txTimer.setInterval(1);
    connect(&m_txTimer, &QTimer::timeout, this, &MainWindow::onTxTick);
    m_refreshTimer.setInterval(100);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindow::onRefreshTick);
    // Precise: a coarse timer may fire 5 % early or late, and the per-second
    // figures are counted over whatever time passed.
    m_statsTimer.setTimerType(Qt::PreciseTimer);
    m_statsTimer.setInterval(1000);
    connect(&m_statsTimer, &QTimer::timeout, this, &MainWindow::onStatsTick);
    m_txTimer.start();
    m_refreshTimer.start();
    m_statsTimer.start();
    // Children by name, so that tests can reach them like the widgets.
    for (QObject *member : {static_cast<QObject *>(&m_statsTimer), static_cast<QObject *>(&m_reloadTimer),
                            static_cast<QObject *>(&m_symbolWatcher)})
        member->setParent(this);
    m_statsTimer.setObjectName(QStringLiteral("statsTimer"));
    m_reloadTimer.setObjectName(QStringLiteral("symbolReloadTimer"));
    m_symbolWatcher.setObjectName(QStringLiteral("symbolWatcher"));

    loadSettings();
    restoreLayout();
    updateConnectionState();
    updateSymbolEditorAction();
}

MainWindow::~MainWindow()
{
    stopReplay();
    if (m_backend)
        m_backend->close();
}

void MainWindow::setupActions()
{
    QStyle *s = style();
    const auto icon = [s](QStyle::StandardPixmap pixmap) { return s->standardIcon(pixmap); };

    ui->actionConnect->setIcon(icon(QStyle::SP_MediaPlay));
    ui->actionDisconnect->setIcon(icon(QStyle::SP_MediaStop));
    ui->actionReset->setIcon(icon(QStyle::SP_BrowserReload));
    ui->actionClearRx->setIcon(icon(QStyle::SP_DialogResetButton));
    ui->actionNewTx->setIcon(icon(QStyle::SP_FileIcon));
    ui->actionEditTx->setIcon(icon(QStyle::SP_FileDialogInfoView));
    ui->actionDeleteTx->setIcon(icon(QStyle::SP_TrashIcon));
    ui->actionSendTx->setIcon(icon(QStyle::SP_ArrowRight));
    ui->actionStopAllTx->setIcon(icon(QStyle::SP_MediaPause));
    ui->actionOpenTx->setIcon(icon(QStyle::SP_DialogOpenButton));
    ui->actionSaveTx->setIcon(icon(QStyle::SP_DialogSaveButton));
    ui->actionLoadSym->setIcon(icon(QStyle::SP_FileDialogContentsView));
    ui->actionReloadSym->setIcon(icon(QStyle::SP_BrowserReload));
    ui->actionUnloadSym->setIcon(icon(QStyle::SP_DialogDiscardButton));
    ui->actionOpenSymEditor->setIcon(icon(QStyle::SP_FileDialogDetailedView));
    ui->actionSettings->setIcon(icon(QStyle::SP_FileDialogListView));
    ui->actionLoadTrace->setIcon(icon(QStyle::SP_DialogOpenButton));
    ui->actionSaveTrace->setIcon(icon(QStyle::SP_DialogSaveButton));
    ui->actionQuit->setIcon(icon(QStyle::SP_DialogCloseButton));
    ui->actionTraceRun->setIcon(recordIcon());
    ui->actionTraceClear->setIcon(icon(QStyle::SP_TrashIcon));
    ui->actionAbout->setIcon(icon(QStyle::SP_MessageBoxInformation));

    connect(ui->actionConnect, &QAction::triggered, this, &MainWindow::connectBus);
    connect(ui->actionDisconnect, &QAction::triggered, this, &MainWindow::disconnectBus);
    connect(ui->actionReset, &QAction::triggered, this, &MainWindow::resetHardware);
    connect(ui->actionClearRx, &QAction::triggered, this, [this] {
        m_receiveModel->clear();
        m_transmitModel->resetCounts();
    });
    connect(ui->actionNewTx, &QAction::triggered, this, &MainWindow::newTxMessage);
    connect(ui->actionEditTx, &QAction::triggered, this, &MainWindow::editTxMessage);
    connect(ui->actionDeleteTx, &QAction::triggered, this, &MainWindow::deleteTxMessage);
    connect(ui->actionSendTx, &QAction::triggered, this, &MainWindow::sendSelectedOnce);
    connect(ui->actionStopAllTx, &QAction::triggered, m_transmitModel, &TransmitModel::stopAll);
    connect(ui->actionOpenTx, &QAction::triggered, this, &MainWindow::openTxList);
    connect(ui->actionSaveTx, &QAction::triggered, this, &MainWindow::saveTxList);
    connect(ui->actionLoadSym, &QAction::triggered, this, &MainWindow::chooseSymbolFile);
    connect(ui->actionReloadSym, &QAction::triggered, this, &MainWindow::reloadSymbols);
    connect(ui->actionUnloadSym, &QAction::triggered, this, &MainWindow::unloadSymbols);
    connect(ui->actionOpenSymEditor, &QAction::triggered, this, &MainWindow::openSymbolEditor);
    connect(ui->actionSettings, &QAction::triggered, this, &MainWindow::showSettings);
    connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
    connect(ui->actionTraceRun, &QAction::toggled, this, &MainWindow::toggleTrace);
    connect(ui->actionTraceClear, &QAction::triggered, this, &MainWindow::clearTrace);
    connect(ui->actionLoadTrace, &QAction::triggered, this, &MainWindow::loadTrace);
    connect(ui->actionSaveTrace, &QAction::triggered, this, &MainWindow::saveTrace);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::about);

    // Several file changes in a row (an editor saving) lead to one reload.
    m_reloadTimer.setSingleShot(true);
    m_reloadTimer.setInterval(500);
    connect(&m_reloadTimer, &QTimer::timeout, this, &MainWindow::onSymbolFileChanged);
    connect(&m_symbolWatcher, &QFileSystemWatcher::fileChanged, this, &MainWindow::onSymbolFileNotified);
    connect(&m_symbolWatcher, &QFileSystemWatcher::directoryChanged, this, &MainWindow::onSymbolFolderChanged);

    ui->rxClearButton->setDefaultAction(ui->actionClearRx);
    ui->traceRunButton->setDefaultAction(ui->actionTraceRun);
    ui->traceClearButton->setDefaultAction(ui->actionTraceClear);
    ui->traceLoadButton->setDefaultAction(ui->actionLoadTrace);
    ui->traceSaveButton->setDefaultAction(ui->actionSaveTrace);

    QAction *sdoToggle = ui->sdoDock->toggleViewAction();
    sdoToggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    ui->menuView->addAction(ui->signalDock->toggleViewAction());
    ui->menuView->addAction(sdoToggle);
    ui->menuView->addAction(ui->markerDock->toggleViewAction());
    ui->menuView->addAction(ui->mainToolBar->toggleViewAction());
}

void MainWindow::configureTable(QTableView *view)
{
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    view->setFont(font);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 6);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void MainWindow::setupViews()
{
    ui->rxTxSplitter->setStretchFactor(0, 3);
    ui->rxTxSplitter->setStretchFactor(1, 2);

    configureTable(ui->rxView);
    m_receiveProxy = new QSortFilterProxyModel(this);
    m_receiveProxy->setSourceModel(m_receiveModel);
    m_receiveProxy->setSortRole(Qt::UserRole + 1);
    ui->rxView->setModel(m_receiveProxy);
    ui->rxView->setSortingEnabled(true);
    ui->rxView->sortByColumn(0, Qt::AscendingOrder);
    setColumnWidths(ui->rxView, {110, 180, 70, 45, 250, 130, 90});
    ui->rxView->setItemDelegateForColumn(4, new DataDelegate(ui->rxView));
    ui->rxView->addAction(ui->actionClearRx);

    configureTable(ui->txView);
    ui->txView->setModel(m_transmitModel);
    setColumnWidths(ui->txView, {130, 180, 70, 45, 250, 100, 100});
    ui->txView->addAction(ui->actionSendTx);
    ui->txView->addAction(ui->actionDeleteTx);
    // Space and Del act on the transmit list only: elsewhere they belong to
    // the focused widget (a check box, a line edit) and must never send or delete.
    ui->actionSendTx->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui->actionDeleteTx->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui->txView->installEventFilter(new SpaceSendsFilter(ui->actionSendTx, this));
    connect(ui->txView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            editTxMessage();
    });
    ui->txView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->txView, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        QMenu menu(this);
        menu.addAction(ui->actionSendTx);
        menu.addSeparator();
        menu.addAction(ui->actionNewTx);
        menu.addAction(ui->actionEditTx);
        menu.addAction(ui->actionDeleteTx);
        menu.addSeparator();
        menu.addAction(ui->actionStopAllTx);
        menu.exec(ui->txView->viewport()->mapToGlobal(pos));
    });

    configureTable(ui->traceView);
    ui->traceView->setModel(m_traceModel);
    setColumnWidths(ui->traceView, {80, 120, 55, 110, 180, 70, 45, 250});

    ui->traceFilterMode->addItem(tr("nur"), 0);
    ui->traceFilterMode->addItem(tr("außer"), 1);
    ui->traceFilterEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->traceMaxSpin->setValue(m_traceModel->maxEntries());
    connect(ui->traceMaxSpin, &QSpinBox::valueChanged, m_traceModel, &TraceModel::setMaxEntries);
    connect(ui->traceFilterCheck, &QCheckBox::toggled, this, &MainWindow::applyTraceFilter);
    connect(ui->traceFilterMode, &QComboBox::currentIndexChanged, this, &MainWindow::applyTraceFilter);
    connect(ui->traceFilterEdit, &QLineEdit::textChanged, this, &MainWindow::applyTraceFilter);
    m_traceModel->setRecording(ui->actionTraceRun->isChecked());

    connect(ui->rxView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::updateSignalPanel);
    connect(ui->traceView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::updateSignalPanel);

    connect(ui->signalPanel, &SignalPanel::plotRequested, this, [this](const PlotSignalRef &ref) {
        QString error;
        if (m_symbols && !SignalRecorder::checkPlottable(*m_symbols, ref, &error)) {
            showStatus(error, 5000);
            return;
        }
        if (!ui->plotWidget->addSignal(ref))
            showStatus(tr("%1 ist bereits im Plotter.").arg(ref.displayName()), 3000);
        showTab(1);
    });
    ui->sdoPanel->setClient(m_sdoClient);
    // Both cursors: the marker (A) with its rows, and B with the differences.
    // The marker dock comes forward on the plotter only while the marker is
    // on: an empty marker list would hide the signals for nothing.
    const auto raiseMarkerDock = [this] {
        if (ui->markerDock->isHidden())
            ui->markerDock->show();
        ui->markerDock->raise();
        m_markerRaised = true;
    };
    const auto updateMarker = [this, raiseMarkerDock] {
        ui->markerPanel->setState(ui->plotWidget->markerState());
        const bool on = ui->plotWidget->markerEnabled();
        if (on && !m_markerWasOn && ui->tabs->currentWidget() == ui->tabPlot)
            raiseMarkerDock();
        m_markerWasOn = on;
    };
    connect(ui->plotWidget, &PlotWidget::markerChanged, this, updateMarker);
    updateMarker();

    connect(ui->tabs, &QTabWidget::currentChanged, this, [this, raiseMarkerDock](int index) {
        if (ui->tabs->widget(index) == ui->tabPlot && ui->plotWidget->markerEnabled()) {
            raiseMarkerDock();
        } else if (m_markerRaised) {
            m_markerRaised = false;
            ui->signalDock->raise();
        }
        updateSignalPanel();
    });

    tabifyDockWidget(ui->signalDock, ui->sdoDock);
    tabifyDockWidget(ui->sdoDock, ui->markerDock);
    ui->signalDock->raise();
    setupPlot();
    setupReplay();
}

void MainWindow::createStatusBar()
{
    m_messageLabel = new QLabel(this);
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    statusBar()->addWidget(m_messageLabel, 1);
    // One text at a time: the status bar hides its widgets for a temporary
    // message only when they are already visible, so a message shown before
    // the window appears would be drawn over the connection text.
    connect(statusBar(), &QStatusBar::messageChanged, m_messageLabel, [this](const QString &message) {
        m_messageLabel->setVisible(message.isEmpty());
        makeRoomForMessage(message);
    });

    const auto permanent = [this](const char *name) {
        auto *label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setMinimumWidth(110);
        label->setFrameShape(QFrame::StyledPanel);
        label->setContentsMargins(4, 0, 4, 0);
        statusBar()->addPermanentWidget(label);
        return label;
    };
    m_symbolsLabel = permanent("symbolsLabel");
    m_busLabel = permanent("busLabel");
    m_rxLabel = permanent("rxCountLabel");
    m_txLabel = permanent("txCountLabel");
    m_loadLabel = permanent("loadLabel");
}

void MainWindow::showStatus(const QString &text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

void MainWindow::setVersionString(const QString &text)
{
    m_versionString = text;
}

void MainWindow::showTab(int index)
{
    if (index >= 0 && index < ui->tabs->count())
        ui->tabs->setCurrentIndex(index);
}

// --- connection ----------------------------------------------------------

CanBackend *MainWindow::createBackend(int interface, QString *error)
{
    // Failures of the other backends come from their open().
    if (interface == 1)
        return new SimulationBackend(this);
    if (interface == 3)
        return new IsCanBackend(this);
    if (interface == 4) {
#ifdef BUSVISTA_SOCKETCAN
        Q_UNUSED(error)
        return new SocketCanBackend(this);
#else
        if (error)
            *error = tr("SocketCAN gibt es nur unter Linux.");
        return nullptr;
#endif
    }
    return new PcanBasicBackend(this);
}

void MainWindow::connectBus()
{
    ConnectionDialog dialog(this);
    dialog.setParams(loadConnectParams());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ConnectParams params = dialog.params();
    {
        QSettings store;   // held over the writes, so that a failed write is still pending here
        saveConnectParams(params);
        SettingsDialog::syncStore(store, this);
    }
    openBackend(params);
}

bool MainWindow::openBackend(const ConnectParams &params)
{
    disconnectBus();

    QString error;
    CanBackend *backend = createBackend(params.interface, &error);
    bool ok = false;
    if (backend) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        ok = backend->open(params, &error);
        QGuiApplication::restoreOverrideCursor();
    }

    if (ok) {
        m_backend = backend;
        connect(m_backend, &CanBackend::framesReceived, this, &MainWindow::onFramesReceived);
        connect(m_backend, &CanBackend::notice, this, [this](const QString &text) { showStatus(text, 5000); });
        ui->sdoPanel->setBackend(m_backend);
        m_sdoClient->setBackend(m_backend);
        m_receiveModel->clear();
        m_traceModel->clear();
        ui->plotWidget->clearData();
        m_transmitModel->resetCounts();
        m_stats.reset();
        m_schedule->makeAllDue(m_txClock.elapsed());
    } else {
        delete backend;
        QMessageBox::critical(this, tr("Verbindungsfehler"), error);
    }
    updateConnectionState();
    return ok;
}

void MainWindow::disconnectBus()
{
    if (!m_backend)
        return;
    ui->sdoPanel->setBackend(nullptr);
    m_sdoClient->setBackend(nullptr);
    // The player writes from its thread: it ends before the backend closes.
    stopReplay(tr("Verbindung getrennt"));
    CanBackend *backend = m_backend;
    m_backend = nullptr;
    backend->close();
    // Deliver what arrived before the close, then stop listening: a late flush
    // of the old backend must not count into the next connection.
    backend->flushQueue();
    disconnect(backend, nullptr, this, nullptr);
    backend->deleteLater();
    updateConnectionState();
}

void MainWindow::resetHardware()
{
    if (!m_backend)
        return;
    QString error;
    if (m_backend->resetHardware(&error)) {
        m_adapterLost = false;
        updateConnectionState();
        showStatus(tr("Hardware zurückgesetzt."), 3000);
        return;
    }
    if (m_backend->isOpen()) {
        QMessageBox::warning(this, tr("Hardware zurücksetzen"), error);
    } else {
        disconnectBus();
        QMessageBox::warning(this, tr("Hardware zurücksetzen"),
                             tr("%1\n\nDie Verbindung wurde getrennt.").arg(error));
    }
}

void MainWindow::updateConnectionState()
{
    const bool open = m_backend && m_backend->isOpen();
    ui->actionConnect->setEnabled(!open);
    ui->actionDisconnect->setEnabled(open);
    ui->actionReset->setEnabled(open);
    ui->sdoPanel->setConnected(open);
    if (!open)
        m_adapterLost = false;
    if (open && m_adapterLost) {
        const QString description = m_backend->description();
        m_messageLabel->setText(tr("Adapter getrennt: %1 – neu einstecken und \"Hardware zurücksetzen\" "
                                   "oder Verbindung trennen").arg(description));
        setWindowTitle(tr("Busvista – %1 (Adapter getrennt)").arg(description));
    } else if (open) {
        const QString description = m_backend->description();
        m_messageLabel->setText(tr("Verbunden: %1").arg(description));
        setWindowTitle(tr("Busvista – %1").arg(description));
    } else {
        m_messageLabel->setText(tr("Nicht verbunden"));
        m_busLabel->setText(tr("Bus: –"));
        m_busLabel->setStyleSheet(QString());
        m_loadLabel->setText(tr("Last: –"));
        setWindowTitle(tr("Busvista"));
    }
    updateCountLabels();
}

void MainWindow::updateCountLabels()
{
    m_rxLabel->setText(tr("Rx: %1").arg(m_stats.rxTotal));
    m_txLabel->setText(tr("Tx: %1").arg(m_stats.txTotal));
}

// --- frame router and timers ---------------------------------------------

void MainWindow::onFramesReceived(const CanFrameList &frames)
{
    m_stats.count(frames);
    m_receiveModel->addFrames(frames);
    m_sdoClient->handleFrames(frames);
    ui->sdoPanel->handleFrames(frames);
    ui->plotWidget->handleFrames(frames);
    if (m_traceModel->recording()) {
        m_traceModel->addFrames(frames);
        if (ui->traceAutoScrollCheck->isChecked() && ui->tabs->currentWidget() == ui->tabTrace)
            ui->traceView->scrollToBottom();
    }
}

void MainWindow::onRefreshTick()
{
    m_receiveModel->refresh();
    m_transmitModel->refresh();
    updateSignalPanel();
    updateCountLabels();
    updateTraceInfo();
    onReplayTick();
}

void MainWindow::updateTraceInfo()
{
    QString text = tr("%1 Einträge").arg(m_traceModel->rowCount());
    if (!m_traceModel->recording())
        text += tr("  (Aufzeichnung aus)");
    const CanIdFilter &filter = m_traceModel->filter();
    if (filter.enabled && !filter.ranges.isEmpty())
        text += tr("  –  %1 durch Filter verworfen").arg(m_traceModel->droppedByFilter());
    ui->traceInfoLabel->setText(text);
    ui->traceInfoLabel->setToolTip(text);
}

void MainWindow::onStatsTick()
{
    if (m_backend && m_backend->isOpen()) {
        const unsigned flags = m_backend->busStatus();
        if (bool(flags & CanBackend::DeviceLost) != m_adapterLost) {
            m_adapterLost = flags & CanBackend::DeviceLost;
            updateConnectionState();
        }
        m_busLabel->setText(tr("Bus: %1").arg(CanBackend::statusText(flags)));
        m_busLabel->setStyleSheet(BusStatistics::statusStyle(flags));
        const int bitrate = m_backend->bitrate();
        if (bitrate < 1) {
            m_loadLabel->setText(tr("%1 msg/s").arg(m_stats.rxThisSecond));
        } else {
            m_loadLabel->setText(tr("Last: ~%1 %  (%2 msg/s)")
                                     .arg(BusStatistics::percentText(m_stats.loadPercent(bitrate)))
                                     .arg(m_stats.rxThisSecond));
        }
    }
    m_stats.resetSecond();
}

void MainWindow::updateSignalPanel()
{
    QWidget *tab = ui->tabs->currentWidget();
    if (tab == ui->tabRxTx) {
        const QModelIndex current = ui->rxView->currentIndex();
        const QModelIndex source = m_receiveProxy->mapToSource(current);
        ui->signalPanel->showFrame(source.isValid() ? m_receiveModel->frameAt(source.row()) : nullptr);
    } else if (tab == ui->tabTrace) {
        const QModelIndex current = ui->traceView->currentIndex();
        ui->signalPanel->showFrame(current.isValid() ? m_traceModel->frameAt(current.row()) : nullptr);
    }
}

ConnectParams MainWindow::loadConnectParams() const
{
    QSettings settings;
    ConnectParams params;
    const int interface = settings.value(QStringLiteral("connection/interface"), 2).toInt();
    params.interface = (interface == 1 || interface == 3) ? interface : 2;
#ifdef BUSVISTA_SOCKETCAN
    if (interface == 4)
        params.interface = 4;
#endif
    params.socketCanInterface = settings.value(QStringLiteral("connection/socketCanInterface")).toString();
    params.basicDllPath = settings.value(QStringLiteral("connection/basicDllPath")).toString();
    params.channel = settings.value(QStringLiteral("connection/channel"), 81).toInt();
    params.isCanDllPath = settings.value(QStringLiteral("connection/isCanDllPath")).toString();
    params.isCanDevice = settings.value(QStringLiteral("connection/isCanDevice"), 0).toInt();
    const int btr = settings.value(QStringLiteral("connection/btr"), 28).toInt();
    params.btr = (btr >= 1 && btr <= 0xFFFF) ? btr : 28;
    params.listenOnly = settings.value(QStringLiteral("connection/listenOnly"), false).toBool();
    params.errorFrames = settings.value(QStringLiteral("connection/errorFrames"), false).toBool();
    return params;
}

void MainWindow::saveConnectParams(const ConnectParams &params) const
{
    QSettings settings;
    settings.setValue(QStringLiteral("connection/interface"), params.interface);
    settings.setValue(QStringLiteral("connection/basicDllPath"), params.basicDllPath);
    settings.setValue(QStringLiteral("connection/channel"), params.channel);
    settings.setValue(QStringLiteral("connection/isCanDllPath"), params.isCanDllPath);
    settings.setValue(QStringLiteral("connection/isCanDevice"), params.isCanDevice);
    settings.setValue(QStringLiteral("connection/socketCanInterface"), params.socketCanInterface);
    settings.setValue(QStringLiteral("connection/btr"), params.btr);
    settings.setValue(QStringLiteral("connection/listenOnly"), params.listenOnly);
    settings.setValue(QStringLiteral("connection/errorFrames"), params.errorFrames);
}

void MainWindow::loadSettings()
{
    QSettings settings;
    const QByteArray list = settings.value(QStringLiteral("transmit/list")).toByteArray();
    if (!list.isEmpty())
        m_transmitModel->fromJson(QJsonDocument::fromJson(list).array());
    ui->traceMaxSpin->setValue(settings.value(QStringLiteral("trace/maxEntries"), 100000).toInt());
    ui->traceFilterEdit->setText(settings.value(QStringLiteral("trace/filter")).toString());
    ui->traceFilterMode->setCurrentIndex(
        settings.value(QStringLiteral("trace/filterMode"), 0).toInt() > 0 ? 1 : 0);
    ui->traceFilterCheck->setChecked(settings.value(QStringLiteral("trace/filterEnabled"), false).toBool());
    applyTraceFilter();
    ui->plotWidget->loadSettings();

    const QString symbolFile = settings.value(QStringLiteral("symbols/file")).toString();
    if (!symbolFile.isEmpty() && QFileInfo::exists(symbolFile))
        loadSymbolFile(symbolFile, false);
    else
        applySymbols();
}

void MainWindow::saveSettings()
{
    // Held over the panels' writes too, so that the check at the end covers them.
    QSettings settings;
    settings.setValue(QStringLiteral("transmit/list"),
                      QJsonDocument(m_transmitModel->toJson()).toJson(QJsonDocument::Compact));
    settings.setValue(QStringLiteral("trace/maxEntries"), ui->traceMaxSpin->value());
    settings.setValue(QStringLiteral("trace/filter"), ui->traceFilterEdit->text());
    settings.setValue(QStringLiteral("trace/filterMode"), ui->traceFilterMode->currentIndex());
    settings.setValue(QStringLiteral("trace/filterEnabled"), ui->traceFilterCheck->isChecked());
    ui->sdoPanel->saveSettings();
    ui->plotWidget->saveSettings();
    saveLayout();
    SettingsDialog::syncStore(settings, this);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveSettings();
    disconnectBus();
    event->accept();
}
