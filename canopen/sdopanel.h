#pragma once

#include "canframe.h"
#include "heartbeatmonitor.h"
#include "nmt.h"
#include "sdoclient.h"
#include "sdotypes.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class CanBackend;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

// Dock panel of the CANopen tools: the nodes found by their heartbeat (with
// NMT commands in their context menu) and an SDO form with a transfer log.
class SdoPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SdoPanel(QWidget *parent = nullptr);

    void setClient(SdoClient *client);
    // The backend NMT commands are sent through; null while disconnected.
    void setBackend(CanBackend *backend);
    void setConnected(bool on);
    void handleFrames(const QList<CanFrame> &frames);
    void loadSettings();
    void saveSettings() const;
    Sdo::DataType currentType() const;

    HeartbeatMonitor &monitor() { return m_monitor; }
    // Sends one NMT command; false with a message in the status line.
    bool sendNmt(Nmt::Command command, int node);
    // The user's NMT command from the node menu: one to all nodes acts on a
    // whole plant and is sent only after a confirmation.
    bool requestNmt(Nmt::Command command, int node);
    // Asks a yes/no question; a message box unless a test replaces it.
    using ConfirmHandler = std::function<bool(const QString &title, const QString &text)>;
    void setConfirmHandler(ConfirmHandler handler) { m_confirm = std::move(handler); }

private:
    bool parseAddress(quint16 *index, quint8 *sub, QString *error) const;
    void doRead();
    void doWrite();
    void onFinished(const SdoClient::Result &result);
    void onProgress(int done, int total);
    void addLogEntry(const SdoClient::Result &result, Sdo::DataType type);
    void restoreFromLog(int row);
    void refreshNodeTable();
    void selectNodeRow(int node);
    void updateCobIds();
    void setStatus(const QString &text, const QString &color);
    void updateUi();
    void onIndexEdited(const QString &text);
    void showNodeMenu(const QPoint &pos);
    void selectType(Sdo::DataType type);
    QString objectText(quint16 index, quint8 sub) const;

    QLabel *m_nodeTitle;
    QTableWidget *m_nodeTable;
    QSpinBox *m_nodeSpin;
    QLabel *m_cobIdLabel;
    QLineEdit *m_indexEdit;
    QLabel *m_subLabel;
    QLineEdit *m_subEdit;
    QComboBox *m_typeCombo;
    QCheckBox *m_autoTypeCheck;
    QLineEdit *m_valueEdit;
    QSpinBox *m_timeoutSpin;
    QPushButton *m_readButton;
    QPushButton *m_writeButton;
    QPushButton *m_cancelButton;
    QPushButton *m_clearLogButton;
    QProgressBar *m_progressBar;
    QLabel *m_statusLabel;
    QTableWidget *m_logTable;

    QPointer<SdoClient> m_client;
    QPointer<CanBackend> m_backend;
    bool m_connected = false;
    Sdo::DataType m_lastType = Sdo::Unsigned32;
    HeartbeatMonitor m_monitor;
    bool m_nodesDirty = false;
    QTimer m_refreshTimer;
    ConfirmHandler m_confirm;
};
