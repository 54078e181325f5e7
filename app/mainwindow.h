#pragma once

#include "busstatistics.h"
#include "canframe.h"
#include "connectparams.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

class CanBackend;
class QDockWidget;
class QLabel;
class QSortFilterProxyModel;
class QTableView;
class ReceiveModel;
class SdoClient;
class SymbolDatabase;
class TraceModel;
class TracePlayer;
class TracePlayerBar;
class TransmitModel;
struct TxMessage;
class TxSchedule;

namespace Ui {
class MainWindow;
}

// The hub of the program: owns the backend, the models and the panels, and
// routes every received batch to all consumers in a fixed order.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void setVersionString(const QString &text);
    QString versionString() const { return m_versionString; }

    ConnectParams loadConnectParams() const;
    void saveConnectParams(const ConnectParams &params) const;

    bool openBackend(const ConnectParams &params);
    CanBackend *backend() const { return m_backend; }
    const BusStatistics &statistics() const { return m_stats; }

    std::shared_ptr<const SymbolDatabase> symbols() const { return m_symbols; }
    bool loadSymbolFile(const QString &path, bool interactive);
    // Puts the signals named in display form ("Motor.Drehzahl") into the
    // plotter; false with the names that the loaded symbols do not know.
    bool plotSignals(const QStringList &names, QString *error);

    ReceiveModel *receiveModel() const { return m_receiveModel; }
    TraceModel *traceModel() const { return m_traceModel; }
    TransmitModel *transmitModel() const { return m_transmitModel; }
    bool loadTraceFile(const QString &path, QString *error);
    TracePlayer *tracePlayer() const { return m_player; }
    // The writer follows the chosen filter, or the name's ending (any case)
    // under the default filter; a name without ending gets the format's
    // ending, and *savedAs is the name written. The status bar then says
    // what the format could not hold.
    bool saveTraceFile(const QString &path, const QString &selectedFilter, QString *error, QString *savedAs = nullptr);
    // The file work behind the transmit-list actions, without the file dialogs.
    bool loadTxListFile(const QString &path, QString *error);
    bool saveTxListFile(const QString &path, QString *error);

public slots:
    void connectBus();
    void disconnectBus();
    void resetHardware();
    void updateConnectionState();
    void onFramesReceived(const CanFrameList &frames);
    void onRefreshTick();
    void onStatsTick();
    void updateSignalPanel();
    void showTab(int index);

    bool sendRow(int row);
    void sendSelectedOnce();
    void onTxTick();
    void newTxMessage();
    void editTxMessage();
    void deleteTxMessage();
    void openTxList();
    void saveTxList();

    void toggleTrace(bool on);
    void setTraceRunning(bool on);
    void clearTrace();
    void saveTrace();
    void loadTrace();
    void applyTraceFilter();

    // Replay of the shown trace (mainwindowreplay.cpp).
    bool startReplay();
    void pauseReplay(bool paused);
    void stopReplay(const QString &reason = QString());

    void chooseSymbolFile();
    void reloadSymbols();
    void unloadSymbols();
    void applySymbols();
    void onSymbolFileChanged();
    void openSymbolEditor();
    void updateSymbolEditorAction();

    void showSettings();
    void checkForUpdates();
    void about();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Creates the backend for an interface kind; null with a message when
    // this build cannot serve it. Tests substitute their own backends here.
    virtual CanBackend *createBackend(int interface, QString *error);

private:
    void setupActions();
    void setupViews();
    void setupPlot();
    void setupReplay();
    void onReplayFinished(int state, const QString &message);
    void onReplayTick();
    void updateReplayControls();
    void createStatusBar();
    void configureTable(QTableView *view);
    void loadSettings();
    void saveSettings();
    void showStatus(const QString &text, int timeoutMs);
    void onSymbolFileNotified();
    void onSymbolFolderChanged();
    void updateTraceInfo();
    void updateCountLabels();
    bool runTransmitDialog(TxMessage *message);
    // Window layout (mainwindowlayout.cpp).
    QList<QTableView *> layoutTables() const;
    void fitColumns(QTableView *view, const QStringList &samples, int boldColumn = -1);
    void fitAllColumns();
    void saveLayout() const;
    void restoreLayout();
    // The docks' width: a quarter of the window until the user drags it,
    // then the width the user chose (kept under "window/dockWidth").
    void applyDockWidth();
    // A message too long for the status bar hides the counters while it shows.
    void makeRoomForMessage(const QString &message);
    QList<QDockWidget *> layoutDocks() const;

    std::unique_ptr<Ui::MainWindow> ui;
    CanBackend *m_backend = nullptr;
    std::shared_ptr<const SymbolDatabase> m_symbols;
    ReceiveModel *m_receiveModel = nullptr;
    QSortFilterProxyModel *m_receiveProxy = nullptr;
    TransmitModel *m_transmitModel = nullptr;
    TraceModel *m_traceModel = nullptr;
    std::unique_ptr<TxSchedule> m_schedule;
    SdoClient *m_sdoClient = nullptr;
    TracePlayer *m_player = nullptr;
    TracePlayerBar *m_playerBar = nullptr;
    qint64 m_replayDurationUs = 0;

    QFileSystemWatcher m_symbolWatcher;
    QTimer m_reloadTimer;
    int m_reloadAttempts = 0;

    QTimer m_txTimer;
    QTimer m_refreshTimer;
    QTimer m_statsTimer;
    QElapsedTimer m_txClock;

    BusStatistics m_stats;
    QString m_versionString;
    QString m_lastSendError;
    QElapsedTimer m_sendErrorClock;
    bool m_markerRaised = false;
    bool m_markerWasOn = false;
    int m_dockWidth = 0;              // chosen by the user; 0: a quarter of the window
    bool m_applyingDockWidth = false;
    int m_seenWindowWidth = 0;
    QPointer<QDockWidget> m_frontDock;        // tells a dragged dock from a resized window
    // The backend reported its adapter gone: title and status bar say so
    // until a reset brings it back or the user disconnects.
    bool m_adapterLost = false;
    bool m_layoutFitted = false;
    QSet<const QTableView *> m_restoredColumns;   // widths came from the settings

    QLabel *m_messageLabel = nullptr;
    QLabel *m_symbolsLabel = nullptr;
    QLabel *m_busLabel = nullptr;
    QLabel *m_rxLabel = nullptr;
    QLabel *m_txLabel = nullptr;
    QLabel *m_loadLabel = nullptr;
};
