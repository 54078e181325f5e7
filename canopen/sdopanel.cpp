#include "sdopanel.h"

#include "canbackend.h"
#include "sdopanellayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QSaveFile>
#include <QSet>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int MaxLogRows = 500;
enum LogRole {
    IndexRole = Qt::UserRole + 2,   // after SdoPanel::NodeRole
    SubRole,
    TypeRole,
    ValueRole,
};

void setupHeader(QTableWidget *table)
{
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setWordWrap(false);
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

} // namespace

QString SdoPanel::hex4(unsigned value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

QString SdoPanel::hex2(unsigned value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

SdoPanel::SdoPanel(QWidget *parent)
    : QWidget(parent)
{
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_nodeTitle = new QLabel(tr("<b>Gefundene Knoten</b> (Heartbeat 700h + ID) – Klick übernimmt die Knoten-ID"), this);
    m_nodeTitle->setObjectName(QStringLiteral("nodeTitle"));
    m_nodeTitle->setTextFormat(Qt::RichText);
    m_nodeTitle->setWordWrap(true);

    m_nodeTable = new QTableWidget(0, 6, this);
    m_nodeTable->setObjectName(QStringLiteral("nodeTable"));
    m_nodeTable->setHorizontalHeaderLabels(
        {tr("Knoten"), tr("Zustand"), tr("Intervall"), tr("Zuletzt"), tr("Gerät"), tr("Emergency")});
    setupHeader(m_nodeTable);
    SdoPanelLayout::fitNodeColumns(m_nodeTable);
    const int rowHeight = QFontMetrics(m_nodeTable->font()).height() + 6;
    m_nodeTable->verticalHeader()->setDefaultSectionSize(rowHeight);
    m_nodeTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_nodeTable->setFixedHeight(5 * rowHeight + m_nodeTable->horizontalHeader()->sizeHint().height() + 4);
    m_nodeTable->setContextMenuPolicy(Qt::CustomContextMenu);
    m_nodeTable->setToolTip(tr("Rechtsklick: NMT-Befehle an den Knoten senden"));

    m_nodeSpin = new QSpinBox(this);
    m_nodeSpin->setObjectName(QStringLiteral("nodeSpin"));
    m_nodeSpin->setRange(1, 127);
    m_nodeSpin->setValue(5);
    m_cobIdLabel = new QLabel(this);
    m_cobIdLabel->setObjectName(QStringLiteral("cobIdLabel"));
    m_cobIdLabel->setStyleSheet(QStringLiteral("color: palette(mid);"));

    m_indexEdit = new QLineEdit(QStringLiteral("1000"), this);
    m_indexEdit->setObjectName(QStringLiteral("indexEdit"));
    m_indexEdit->setMaximumWidth(90);
    m_indexEdit->setToolTip(tr("Index hexadezimal, z. B. 1018 – auch \"1018:04\" kann eingefügt werden"));
    m_indexEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,4}(:[0-9A-Fa-f]{0,2})?")), m_indexEdit));
    m_indexEdit->setFont(fixed);
    m_subLabel = new QLabel(tr("h  Sub"), this);
    m_subLabel->setObjectName(QStringLiteral("subLabel"));
    m_subEdit = new QLineEdit(this);
    m_subEdit->setObjectName(QStringLiteral("subEdit"));
    m_subEdit->setMaximumWidth(50);
    m_subEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,2}")), m_subEdit));
    m_subEdit->setFont(fixed);

    m_typeCombo = new QComboBox(this);
    m_typeCombo->setObjectName(QStringLiteral("typeCombo"));
    for (const Sdo::TypeInfo &info : Sdo::types())
        m_typeCombo->addItem(QString::fromLatin1(info.name), int(info.type));
    m_typeCombo->setCurrentIndex(m_typeCombo->findData(int(Sdo::Unsigned32)));
    m_autoTypeCheck = new QCheckBox(tr("automatisch"), this);
    m_autoTypeCheck->setObjectName(QStringLiteral("autoTypeCheck"));
    m_autoTypeCheck->setChecked(true);
    m_autoTypeCheck->setToolTip(tr("Beim Lesen den Datentyp aus der Länge der Antwort bestimmen (immer vorzeichenlos):\n"
                                   "1/2/4 Byte = UNSIGNED8/16/32; länger: VISIBLE_STRING, wenn alle Zeichen lesbar sind,\n"
                                   "sonst UNSIGNED64 (8 Byte) oder DOMAIN"));

    m_valueEdit = new QLineEdit(this);
    m_valueEdit->setObjectName(QStringLiteral("valueEdit"));
    m_valueEdit->setPlaceholderText(tr("Wert zum Schreiben (z. B. 100, 0x64, -5, Text, 01 02 03)"));
    m_valueEdit->setFont(fixed);

    m_timeoutSpin = new QSpinBox(this);
    m_timeoutSpin->setObjectName(QStringLiteral("timeoutSpin"));
    m_timeoutSpin->setRange(SdoClient::MinTimeoutMs, 30000);
    m_timeoutSpin->setSingleStep(100);
    m_timeoutSpin->setValue(1000);
    m_timeoutSpin->setSuffix(tr(" ms"));

    m_readButton = new QPushButton(tr("Lesen"), this);
    m_readButton->setObjectName(QStringLiteral("readButton"));
    m_readButton->setToolTip(tr("SDO-Upload: Wert aus dem Objektverzeichnis des Geräts lesen"));
    m_writeButton = new QPushButton(tr("Schreiben"), this);
    m_writeButton->setObjectName(QStringLiteral("writeButton"));
    m_writeButton->setToolTip(tr("SDO-Download: Wert in das Objektverzeichnis des Geräts schreiben"));
    m_cancelButton = new QPushButton(tr("Abbrechen"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_clearLogButton = new QPushButton(tr("Verlauf leeren"), this);
    m_clearLogButton->setObjectName(QStringLiteral("clearLogButton"));
    m_scanButton = new QPushButton(tr("Knoten suchen"), this);
    m_scanButton->setObjectName(QStringLiteral("scanButton"));
    m_scanButton->setToolTip(tr("Liest 1000h (Gerätetyp) und 1008h (Name) der Knoten 1 bis 127, %1 zugleich;\n"
                                "gefundene Knoten erscheinen auch ohne Heartbeat in der Liste")
                                 .arg(16));

    m_blockCheck = new QCheckBox(tr("Blocktransfer"), this);
    m_blockCheck->setObjectName(QStringLiteral("blockCheck"));
    m_blockCheck->setToolTip(tr("SDO-Blocktransfer mit CRC für große Objekte; lehnt der Knoten ihn ab, "
                                "wird segmentiert übertragen"));
    m_edsButton = new QPushButton(tr("EDS laden …"), this);
    m_edsButton->setObjectName(QStringLiteral("edsButton"));
    m_edsButton->setToolTip(tr("EDS- oder DCF-Datei für diesen Knoten laden: Objektverzeichnis, Datentypen und Zugriffsrechte"));
    m_readAllButton = new QPushButton(tr("Alle lesen"), this);
    m_readAllButton->setObjectName(QStringLiteral("readAllButton"));
    m_readAllButton->setToolTip(tr("Alle lesbaren Einträge des Objektverzeichnisses nacheinander lesen"));
    m_saveDcfButton = new QPushButton(tr("Als DCF speichern …"), this);
    m_saveDcfButton->setObjectName(QStringLiteral("saveDcfButton"));
    m_saveDcfButton->setToolTip(tr("Die gelesenen Werte als DCF-Datei speichern"));
    m_edsLabel = new QLabel(this);
    m_edsLabel->setObjectName(QStringLiteral("edsLabel"));
    m_odTree = new QTreeWidget(this);
    m_odTree->setObjectName(QStringLiteral("odTree"));
    m_odTree->setColumnCount(6);
    m_odTree->setHeaderLabels({tr("Objekt"), tr("Name"), tr("Typ"), tr("Zugriff"), tr("Vorgabe"), tr("Wert")});
    m_odTree->setFont(fixed);
    m_odTree->setColumnWidth(0, 90);
    m_odTree->setColumnWidth(1, 200);
    m_odTree->setToolTip(tr("Klick übernimmt Objekt und Datentyp in die Eingabefelder"));
    m_odTree->hide();

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_logTable = new QTableWidget(0, 5, this);
    m_logTable->setObjectName(QStringLiteral("logTable"));
    m_logTable->setHorizontalHeaderLabels({tr("Zeit"), tr("Knoten"), tr("Objekt"), tr("R/W"), tr("Wert / Ergebnis")});
    setupHeader(m_logTable);
    m_logTable->setAlternatingRowColors(true);
    SdoPanelLayout::fitLogColumns(m_logTable);
    m_logTable->setToolTip(tr("Doppelklick übernimmt den Eintrag in die Eingabefelder"));

    auto *nodeRow = new QHBoxLayout;
    nodeRow->addWidget(m_nodeSpin);
    nodeRow->addWidget(m_cobIdLabel, 1);
    auto *objectRow = new QHBoxLayout;
    objectRow->addWidget(m_indexEdit);
    objectRow->addWidget(m_subLabel);
    objectRow->addWidget(m_subEdit);
    objectRow->addStretch(1);
    auto *typeRow = new QHBoxLayout;
    typeRow->addWidget(m_typeCombo, 1);
    typeRow->addWidget(m_autoTypeCheck);
    typeRow->addWidget(m_blockCheck);
    auto *form = new QFormLayout;
    form->addRow(tr("Knoten-ID:"), nodeRow);
    form->addRow(tr("Objekt:"), objectRow);
    form->addRow(tr("Datentyp:"), typeRow);
    form->addRow(tr("Wert:"), m_valueEdit);
    form->addRow(tr("Timeout:"), m_timeoutSpin);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_readButton);
    buttons->addWidget(m_writeButton);
    buttons->addWidget(m_cancelButton);
    buttons->addStretch(1);
    buttons->addWidget(m_clearLogButton);

    auto *layout = new QVBoxLayout(this);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(m_nodeTitle, 1);
    titleRow->addWidget(m_scanButton);
    layout->addLayout(titleRow);
    layout->addWidget(m_nodeTable);
    auto *edsRow = new QHBoxLayout;
    edsRow->addWidget(m_edsButton);
    edsRow->addWidget(m_edsLabel, 1);
    edsRow->addWidget(m_readAllButton);
    edsRow->addWidget(m_saveDcfButton);
    layout->addLayout(edsRow);
    layout->addWidget(m_odTree, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_logTable, 1);

    connect(m_nodeTable, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (QTableWidgetItem *item = m_nodeTable->item(row, 0))
            m_nodeSpin->setValue(item->data(NodeRole).toInt());
    });
    connect(m_nodeTable, &QWidget::customContextMenuRequested, this, &SdoPanel::showNodeMenu);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SdoPanel::refreshNodeTable);
    connect(m_readButton, &QPushButton::clicked, this, &SdoPanel::doRead);
    connect(m_writeButton, &QPushButton::clicked, this, &SdoPanel::doWrite);
    connect(m_valueEdit, &QLineEdit::returnPressed, this, &SdoPanel::doWrite);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        m_readAllQueue.clear();
        m_readAllTotal = 0;
        if (m_scanner.isRunning())
            m_scanner.cancel();
        else if (m_client && m_client->isBusy())
            m_client->cancel();
        updateUi();
    });
    connect(m_scanButton, &QPushButton::clicked, this, &SdoPanel::startScan);
    connect(m_blockCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (m_client)
            m_client->setBlockTransfer(on);
    });
    connect(m_edsButton, &QPushButton::clicked, this, &SdoPanel::chooseEds);
    connect(m_readAllButton, &QPushButton::clicked, this, &SdoPanel::readAll);
    connect(m_saveDcfButton, &QPushButton::clicked, this, &SdoPanel::chooseDcf);
    connect(m_odTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { onTreeItemClicked(item); });
    connect(&m_scanner, &NodeScanner::nodeFound, this, [this](const NodeScanner::Node &node) {
        m_monitor.noteScanned(node.nodeId, node.deviceTypeRead, node.deviceType, node.name);
        m_nodesDirty = true;
        refreshNodeTable();
    });
    connect(&m_scanner, &NodeScanner::progress, this, [this](int done, int total) {
        m_progressBar->setRange(0, total);
        m_progressBar->setValue(done);
        m_progressBar->show();
        setStatus(tr("Suche Knoten … %1 von %2").arg(done).arg(total), QString());
    });
    connect(&m_scanner, &NodeScanner::finished, this, &SdoPanel::onScanFinished);
    connect(m_clearLogButton, &QPushButton::clicked, this, [this] { m_logTable->setRowCount(0); });
    connect(m_nodeSpin, &QSpinBox::valueChanged, this, [this](int value) {
        updateCobIds();
        selectNodeRow(value);
        fillTree();
        showEdsObject();
        updateUi();
    });
    connect(m_timeoutSpin, &QSpinBox::valueChanged, this, [this](int value) {
        if (m_client)
            m_client->setTimeoutMs(value);
    });
    connect(m_indexEdit, &QLineEdit::textEdited, this, &SdoPanel::onIndexEdited);
    connect(m_indexEdit, &QLineEdit::textChanged, this, &SdoPanel::showEdsObject);
    connect(m_subEdit, &QLineEdit::textChanged, this, &SdoPanel::showEdsObject);
    connect(m_typeCombo, &QComboBox::activated, this, [this] { m_typeStamp = typeStamp(); });
    connect(m_logTable, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { restoreFromLog(row); });

    // The dock shares its area with the other panels: the form must not force
    // the main window wider than its saved size.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(200);

    updateCobIds();
    m_refreshTimer.start(500);
    loadSettings();
    updateUi();
}

void SdoPanel::setClient(SdoClient *client)
{
    if (m_client)
        disconnect(m_client, nullptr, this, nullptr);
    m_client = client;
    if (m_client) {
        connect(m_client, &SdoClient::finished, this, &SdoPanel::onFinished);
        connect(m_client, &SdoClient::progress, this, &SdoPanel::onProgress);
        m_client->setTimeoutMs(m_timeoutSpin->value());
        m_client->setBlockTransfer(m_blockCheck->isChecked());
    }
    updateUi();
}

void SdoPanel::setBackend(CanBackend *backend)
{
    m_backend = backend;
    if (!backend && m_scanner.isRunning())
        m_scanner.cancel();
    m_scanner.setBackend(backend);
    updateUi();
}

void SdoPanel::startScan()
{
    if (!m_scanButton->isEnabled())
        return;
    // Quiet IDs must not hold the search up: a short time-out per node.
    m_scanner.setTimeoutMs(qMin(m_timeoutSpin->value(), 250));
    QString error;
    if (!m_scanner.start(1, 127, &error)) {
        setStatus(error, QString::fromLatin1(ErrorColor));
        return;
    }
    updateUi();
}

void SdoPanel::onScanFinished(bool cancelled)
{
    m_progressBar->hide();
    QStringList ids;
    for (const NodeScanner::Node &node : m_scanner.nodes())
        ids << QString::number(node.nodeId);
    const QString found = ids.isEmpty() ? tr("kein Knoten gefunden") : tr("%n Knoten gefunden (%1)", nullptr, int(ids.size())).arg(ids.join(QStringLiteral(", ")));
    setStatus(cancelled ? tr("Suche abgebrochen: %1.").arg(found) : tr("Suche beendet: %1.").arg(found),
              QString::fromLatin1(OkColor));
    refreshNodeTable();
    updateUi();
}

void SdoPanel::setConnected(bool on)
{
    const bool wasConnected = m_connected;
    m_connected = on;
    if (on && !wasConnected) {
        m_monitor.clear();
        refreshNodeTable();
        if (!m_client || !m_client->isBusy())
            setStatus(tr("Bereit."), QString());
    }
    updateUi();
}

void SdoPanel::handleFrames(const QList<CanFrame> &frames)
{
    m_scanner.handleFrames(frames);
    if (m_monitor.handleFrames(frames))
        m_nodesDirty = true;
}

void SdoPanel::loadSettings()
{
    QSettings settings;
    m_nodeSpin->setValue(settings.value(QStringLiteral("sdo/node"), 5).toInt());
    m_indexEdit->setText(settings.value(QStringLiteral("sdo/index"), QStringLiteral("1000")).toString());
    m_subEdit->setText(settings.value(QStringLiteral("sdo/sub"), QStringLiteral("00")).toString());
    const int type = m_typeCombo->findData(settings.value(QStringLiteral("sdo/type"), 2).toInt());
    if (type >= 0)
        m_typeCombo->setCurrentIndex(type);
    m_timeoutSpin->setValue(settings.value(QStringLiteral("sdo/timeoutMs"), 1000).toInt());
    m_autoTypeCheck->setChecked(settings.value(QStringLiteral("sdo/autoType"), true).toBool());
    m_blockCheck->setChecked(settings.value(QStringLiteral("sdo/block"), false).toBool());
}

void SdoPanel::saveSettings() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("sdo/node"), m_nodeSpin->value());
    settings.setValue(QStringLiteral("sdo/index"), m_indexEdit->text());
    settings.setValue(QStringLiteral("sdo/sub"), m_subEdit->text());
    settings.setValue(QStringLiteral("sdo/type"), m_typeCombo->currentData().toInt());
    settings.setValue(QStringLiteral("sdo/timeoutMs"), m_timeoutSpin->value());
    settings.setValue(QStringLiteral("sdo/autoType"), m_autoTypeCheck->isChecked());
    settings.setValue(QStringLiteral("sdo/block"), m_blockCheck->isChecked());
}

Sdo::DataType SdoPanel::currentType() const
{
    return Sdo::DataType(m_typeCombo->currentData().toInt());
}

void SdoPanel::selectType(Sdo::DataType type)
{
    const int at = m_typeCombo->findData(int(type));
    if (at >= 0)
        m_typeCombo->setCurrentIndex(at);
}

bool SdoPanel::formKey(quint32 *key) const
{
    quint16 index = 0;
    quint8 sub = 0;
    QString error;
    if (!parseAddress(&index, &sub, &error))
        return false;
    *key = quint32(m_nodeSpin->value()) << 24 | quint32(index) << 8 | sub;
    return true;
}

quint64 SdoPanel::typeStamp() const
{
    quint32 key = 0;
    return formKey(&key) ? quint64(currentType() + 1) << 32 | key : 0;
}

void SdoPanel::showEdsObject()
{
    quint32 key = 0;
    Sdo::DataType type = Sdo::Domain;
    if (!formKey(&key))
        return;
    const EdsFile::Entry *entry = edsEntry(int(key >> 24), quint16(key >> 8), quint8(key));
    if (!entry || !EdsFile::sdoType(entry->dataType, &type))
        return;
    selectType(type);
    m_typeStamp = typeStamp();
    // Another object's value must not stay in the form to be written here.
    const QMap<quint32, QByteArray> values = m_values.value(int(key >> 24));
    const auto value = values.constFind(key & 0xFFFFFF);
    const int size = Sdo::typeSize(type);
    if (value != values.cend() && (size == 0 || size == value->size()))
        m_valueEdit->setText(Sdo::valueText(type, *value));
    else
        m_valueEdit->clear();
}

QString SdoPanel::objectText(quint16 index, quint8 sub) const
{
    return QStringLiteral("%1:%2").arg(hex4(index), hex2(sub));
}

void SdoPanel::onIndexEdited(const QString &text)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return;
    const QString sub = text.mid(colon + 1).section(QLatin1Char(':'), 0, 0);
    m_indexEdit->setText(text.left(colon));
    if (!sub.isEmpty())
        m_subEdit->setText(sub);
    m_subEdit->setFocus();
}

bool SdoPanel::parseAddress(quint16 *index, quint8 *sub, QString *error) const
{
    bool ok = false;
    const uint i = m_indexEdit->text().toUInt(&ok, 16);
    if (m_indexEdit->text().isEmpty() || !ok || i > 0xFFFF) {
        *error = tr("Ungültiger Index.");
        return false;
    }
    const uint s = m_subEdit->text().toUInt(&ok, 16);
    if (m_subEdit->text().isEmpty() || !ok || s >= 256) {
        *error = tr("Ungültiger Subindex.");
        return false;
    }
    *index = quint16(i);
    *sub = quint8(s);
    return true;
}

void SdoPanel::doRead()
{
    if (!m_readButton->isEnabled() || !m_client)
        return;
    quint16 index = 0;
    quint8 sub = 0;
    QString error;
    if (!parseAddress(&index, &sub, &error) || !m_client->upload(m_nodeSpin->value(), index, sub, &error)) {
        setStatus(error, QString::fromLatin1(ErrorColor));
        return;
    }
    m_lastType = currentType();
    setStatus(tr("Lese %1:%2 von Knoten %3 …").arg(hex4(index), hex2(sub)).arg(m_nodeSpin->value()), QString());
    m_progressBar->hide();
    updateUi();
}

void SdoPanel::doWrite()
{
    if (!m_writeButton->isEnabled() || !m_client)
        return;
    quint16 index = 0;
    quint8 sub = 0;
    QString error;
    QByteArray bytes;
    if (!parseAddress(&index, &sub, &error)) {
        setStatus(error, QString::fromLatin1(ErrorColor));
        return;
    }
    // The data sheet knows what the device refuses anyway.
    const EdsFile::Entry *entry = edsEntry(m_nodeSpin->value(), index, sub);
    if (entry && !EdsFile::isWritable(*entry)) {
        setStatus(tr("%1 ist laut EDS nur lesbar (%2).").arg(objectText(index, sub), entry->accessType),
                  QString::fromLatin1(ErrorColor));
        return;
    }
    // A type left over from another object would write the wrong bytes; one
    // the user chose for this object is his to send.
    Sdo::DataType edsType = Sdo::Domain;
    if (entry && EdsFile::sdoType(entry->dataType, &edsType) && edsType != currentType()
        && typeStamp() != m_typeStamp) {
        setStatus(tr("%1 hat laut EDS den Datentyp %2, gewählt ist %3 – bitte den Datentyp prüfen.")
                      .arg(objectText(index, sub), Sdo::typeName(edsType), Sdo::typeName(currentType())),
                  QString::fromLatin1(ErrorColor));
        return;
    }
    if (!Sdo::encode(currentType(), m_valueEdit->text(), &bytes, &error)
        || !m_client->download(m_nodeSpin->value(), index, sub, bytes, &error)) {
        setStatus(error, QString::fromLatin1(ErrorColor));
        return;
    }
    m_lastType = currentType();
    setStatus(tr("Schreibe %1 Byte nach %2:%3 auf Knoten %4 …")
                  .arg(bytes.size())
                  .arg(hex4(index), hex2(sub))
                  .arg(m_nodeSpin->value()),
              QString());
    m_progressBar->hide();
    updateUi();
}

void SdoPanel::onProgress(int done, int total)
{
    if (total > 7) {
        m_progressBar->setRange(0, total);
        m_progressBar->setValue(done);
        m_progressBar->show();
    } else if (total < 0) {
        m_progressBar->setRange(0, 0);
        m_progressBar->show();
    }
}

void SdoPanel::onFinished(const SdoClient::Result &result)
{
    m_progressBar->hide();
    const QString object = objectText(result.index, result.subIndex);
    // Only the object in the form may change its type and value: "Alle lesen"
    // reads the others, and the user may have moved on during a transfer.
    quint32 key = 0;
    const bool inForm = formKey(&key)
                        && key == (quint32(result.node) << 24 | quint32(result.index) << 8 | result.subIndex);
    const bool ofReadAll = m_readAllTotal > 0 && result.node == m_readAllNode;
    if (result.ok) {
        bool detected = false;
        bool fromEds = false;
        Sdo::DataType edsType = Sdo::Domain;
        const EdsFile::Entry *entry = edsEntry(result.node, result.index, result.subIndex);
        if (result.operation == SdoClient::Upload && entry && EdsFile::sdoType(entry->dataType, &edsType)) {
            // The data sheet's type beats any guess from the length.
            m_lastType = edsType;
            fromEds = true;
        } else if (result.operation == SdoClient::Upload && (m_autoTypeCheck->isChecked() || ofReadAll)) {
            // "Alle lesen" has no type of the form to go by.
            m_lastType = Sdo::typeFromLength(result.data);
            detected = true;
        }
        if (inForm && (fromEds || (detected && m_autoTypeCheck->isChecked()))) {
            selectType(m_lastType);
            m_typeStamp = typeStamp();
        }
        m_values[result.node].insert(quint32(result.index) << 8 | result.subIndex, result.data);
        const QString value = Sdo::decode(m_lastType, result.data);
        if (result.operation == SdoClient::Download) {
            setStatus(tr("%1 geschrieben (%2 Byte, %3 ms).").arg(object).arg(result.data.size()).arg(result.elapsedMs),
                      QString::fromLatin1(OkColor));
        } else {
            const int size = Sdo::typeSize(m_lastType);
            if (inForm && (size == 0 || size == result.data.size()) && currentType() == m_lastType)
                m_valueEdit->setText(Sdo::valueText(m_lastType, result.data));
            setStatus(tr("%1 gelesen (%2 Byte, %3%4 ms): %5")
                          .arg(object)
                          .arg(result.data.size())
                          .arg(detected ? Sdo::typeName(m_lastType) + QStringLiteral(", ") : QString())
                          .arg(result.elapsedMs)
                          .arg(value),
                      QString::fromLatin1(OkColor));
        }
    } else {
        setStatus(tr("%1: %2").arg(object, result.message), QString::fromLatin1(ErrorColor));
    }
    addLogEntry(result, m_lastType);
    if (result.node == m_nodeSpin->value() && m_eds.contains(result.node))
        fillTree();
    if (ofReadAll)
        return readNextOfAll();
    updateUi();
}

void SdoPanel::addLogEntry(const SdoClient::Result &result, Sdo::DataType type)
{
    if (m_logTable->rowCount() >= MaxLogRows)
        m_logTable->removeRow(m_logTable->rowCount() - 1);
    m_logTable->insertRow(0);
    const QString text = result.ok ? Sdo::decode(type, result.data) : result.message;
    const QStringList cells = {QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                               QString::number(result.node), objectText(result.index, result.subIndex),
                               result.operation == SdoClient::Upload ? QStringLiteral("R") : QStringLiteral("W"),
                               text};
    for (int column = 0; column < cells.size(); ++column) {
        auto *item = new QTableWidgetItem(cells.at(column));
        if (!result.ok)
            item->setForeground(QColor(QString::fromLatin1(ErrorColor)));
        m_logTable->setItem(0, column, item);
    }
    QTableWidgetItem *first = m_logTable->item(0, 0);
    first->setData(NodeRole, result.node);
    first->setData(IndexRole, int(result.index));
    first->setData(SubRole, int(result.subIndex));
    first->setData(TypeRole, int(type));
    first->setData(ValueRole, result.ok ? Sdo::valueText(type, result.data) : QString());
    // One multi-argument arg(): a device text holding "%1" must stay as it is.
    m_logTable->item(0, 4)->setToolTip(tr("%1\n%2 Byte: %3\nTyp: %4, Dauer: %5 ms")
                                           .arg(text, QString::number(result.data.size()), Sdo::toHex(result.data),
                                                Sdo::typeName(type), QString::number(result.elapsedMs)));
}

void SdoPanel::restoreFromLog(int row)
{
    const QTableWidgetItem *item = m_logTable->item(row, 0);
    if (!item)
        return;
    m_nodeSpin->setValue(item->data(NodeRole).toInt());
    m_indexEdit->setText(hex4(item->data(IndexRole).toUInt()));
    m_subEdit->setText(hex2(item->data(SubRole).toUInt()));
    selectType(Sdo::DataType(item->data(TypeRole).toInt()));
    m_typeStamp = typeStamp();
    const QString value = item->data(ValueRole).toString();
    if (!value.isEmpty())
        m_valueEdit->setText(value);
}

void SdoPanel::updateCobIds()
{
    const int node = m_nodeSpin->value();
    m_cobIdLabel->setText(tr("Anfrage %1h, Antwort %2h")
                              .arg(QString::number(0x600 + node, 16).toUpper(), QString::number(0x580 + node, 16).toUpper()));
}

void SdoPanel::setStatus(const QString &text, const QString &color)
{
    m_statusLabel->setText(text);
    m_statusLabel->setStyleSheet(color.isEmpty() ? QString() : QStringLiteral("color: %1;").arg(color));
}

void SdoPanel::updateUi()
{
    const bool idle = !m_scanner.isRunning() && !(m_client && m_client->isBusy()) && m_readAllTotal == 0;
    const bool withEds = m_eds.contains(m_nodeSpin->value());
    m_scanButton->setEnabled(m_connected && m_backend && idle);
    m_readAllButton->setEnabled(withEds && m_connected && m_client && idle);
    m_saveDcfButton->setEnabled(withEds);
    if (m_scanner.isRunning()) {
        m_readButton->setEnabled(false);
        m_writeButton->setEnabled(false);
        m_cancelButton->setEnabled(true);
        return;
    }
    if ((m_client && m_client->isBusy()) || m_readAllTotal > 0) {
        m_readButton->setEnabled(false);
        m_writeButton->setEnabled(false);
        m_cancelButton->setEnabled(true);
        return;
    }
    const bool ready = m_client && m_connected;
    m_readButton->setEnabled(ready);
    m_writeButton->setEnabled(ready);
    m_cancelButton->setEnabled(false);
    if (!m_connected)
        setStatus(tr("Nicht verbunden."), QString());
}
