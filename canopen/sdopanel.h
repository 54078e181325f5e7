#pragma once

#include "canframe.h"
#include "edsfile.h"
#include "heartbeatmonitor.h"
#include "nmt.h"
#include "nodescanner.h"
#include "sdoclient.h"
#include "sdotypes.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class CanBackend;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

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
    NodeScanner &scanner() { return m_scanner; }
    // "Knoten suchen": reads 1000h of nodes 1..127; found nodes join the table.
    void startScan();

    // Data sheet of a node: its dictionary as a tree, its types for reads
    // and writes, its access for writes. False with the reader's message.
    bool loadEds(int node, const QString &path, QString *error);
    const EdsFile *eds(int node) const;
    // "Alle lesen": every readable entry of the node's data sheet, one after another.
    void readAll();
    // "Als DCF speichern": the data sheet with the values read so far.
    bool saveDcf(const QString &path, QString *error);
    // Sends one NMT command; false with a message in the status line.
    bool sendNmt(Nmt::Command command, int node);
    // The user's NMT command from the node menu: one to all nodes acts on a
    // whole plant and is sent only after a confirmation.
    bool requestNmt(Nmt::Command command, int node);
    // Asks a yes/no question; a message box unless a test replaces it.
    using ConfirmHandler = std::function<bool(const QString &title, const QString &text)>;
    void setConfirmHandler(ConfirmHandler handler) { m_confirm = std::move(handler); }

private:
    static constexpr const char *ErrorColor = "#c02020";
    // Node ID on the first cell of a node table row and of a log row.
    static constexpr int NodeRole = Qt::UserRole + 1;
    static constexpr const char *OkColor = "#208020";
    // Index and sub-index as the panel writes them.
    static QString hex4(unsigned value);
    static QString hex2(unsigned value);

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
    void onScanFinished(bool cancelled);
    void chooseEds();
    void chooseDcf();
    void fillTree();
    void onTreeItemClicked(QTreeWidgetItem *item);
    void readNextOfAll();
    const EdsFile::Entry *edsEntry(int node, quint16 index, quint8 sub) const;
    // Node, index and sub-index of the form as one key; false while the address is incomplete.
    bool formKey(quint32 *key) const;
    // The form's object in the node's data sheet: its type and the value last read or written.
    void showEdsObject();
    // The form's object and type in one number; 0 while the address is incomplete.
    quint64 typeStamp() const;
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
    QPushButton *m_scanButton;
    QCheckBox *m_blockCheck;
    QPushButton *m_edsButton;
    QPushButton *m_readAllButton;
    QPushButton *m_saveDcfButton;
    QLabel *m_edsLabel;
    QTreeWidget *m_odTree;
    QProgressBar *m_progressBar;
    QLabel *m_statusLabel;
    QTableWidget *m_logTable;

    QPointer<SdoClient> m_client;
    QPointer<CanBackend> m_backend;
    bool m_connected = false;
    Sdo::DataType m_lastType = Sdo::Unsigned32;
    // typeStamp() when the type was last set for the form's object, by the user or the panel.
    quint64 m_typeStamp = 0;
    HeartbeatMonitor m_monitor;
    NodeScanner m_scanner;
    QMap<int, std::shared_ptr<const EdsFile>> m_eds;      // by node
    QMap<int, QMap<quint32, QByteArray>> m_values;        // by node: last bytes read or written
    QList<quint32> m_readAllQueue;                        // keys still to read
    int m_readAllNode = 0;
    int m_readAllTotal = 0;
    bool m_nodesDirty = false;
    QTimer m_refreshTimer;
    ConfirmHandler m_confirm;
};
