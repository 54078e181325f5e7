#include "connectiondialog.h"
#include "ui_connectiondialog.h"

#include "bitrates.h"
#include "iscan.h"
#include "pcanbasic.h"
#include "iscanbackend.h"
#include "pcanbasicbackend.h"
#ifdef BUSVISTA_SOCKETCAN
#include "socketcan.h"
#endif

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

namespace {

constexpr int CustomBitrate = -2;
constexpr int Simulation = 1;
constexpr int PcanBasicInterface = 2;
constexpr int IsCanInterface = 3;
constexpr int SocketCanInterface = 4;

} // namespace

ConnectionDialog::ConnectionDialog(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::ConnectionDialog>())
{
    ui->setupUi(this);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(tr("Verbinden"));
    ui->customBtrEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,4}")), ui->customBtrEdit));

    ui->ifaceCombo->addItem(tr("PEAK PCAN-Basic (PCAN-USB / -PCI / -LAN)"), PcanBasicInterface);
    ui->ifaceCombo->addItem(tr("isCAN (Thorsis / ifak)"), IsCanInterface);
    ui->ifaceCombo->addItem(tr("Simulation (virtueller Bus)"), Simulation);
#ifdef BUSVISTA_SOCKETCAN
    ui->ifaceCombo->addItem(tr("SocketCAN (Linux)"), SocketCanInterface);
#endif
    for (const StandardBitrate &row : standardBitrates)
        ui->baudCombo->addItem(QString::fromLatin1(row.text), int(row.btr));
    ui->baudCombo->addItem(tr("Benutzerdefiniert (BTR0/BTR1)"), CustomBitrate);
    ui->baudCombo->setCurrentIndex(ui->baudCombo->findData(0x001C));

    connect(ui->ifaceCombo, &QComboBox::currentIndexChanged, this, &ConnectionDialog::onInterfaceChanged);
    connect(ui->baudCombo, &QComboBox::currentIndexChanged, this, &ConnectionDialog::updateUi);
    connect(ui->channelCombo, &QComboBox::currentIndexChanged, this, &ConnectionDialog::updateUi);
    connect(ui->customBtrEdit, &QLineEdit::textChanged, this, &ConnectionDialog::updateUi);
    // The hint for a down SocketCAN interface names the chosen interface and bit rate.
    const auto socketCanChanged = [this] {
        if (iface() == SocketCanInterface && ui->channelCombo->count() > 0)
            showSocketCanState();
    };
    connect(ui->channelCombo, &QComboBox::currentIndexChanged, this, socketCanChanged);
    connect(ui->baudCombo, &QComboBox::currentIndexChanged, this, socketCanChanged);
    connect(ui->browseButton, &QPushButton::clicked, this, &ConnectionDialog::browseDll);
    connect(ui->refreshButton, &QPushButton::clicked, this, &ConnectionDialog::loadChannels);
    updateUi();
}

ConnectionDialog::~ConnectionDialog() = default;

int ConnectionDialog::iface() const
{
    return ui->ifaceCombo->currentData().toInt();
}

int ConnectionDialog::customIndex() const
{
    return ui->baudCombo->findData(CustomBitrate);
}

void ConnectionDialog::setParams(const ConnectParams &p)
{
    basicDllPath = p.basicDllPath;
    isCanDllPath = p.isCanDllPath;
    channel = p.channel;
    isCanDevice = p.isCanDevice;
    socketCanInterface = p.socketCanInterface;

    const int baud = ui->baudCombo->findData(p.btr);
    if (baud >= 0 && baud != customIndex()) {
        ui->baudCombo->setCurrentIndex(baud);
    } else {
        ui->baudCombo->setCurrentIndex(customIndex());
        ui->customBtrEdit->setText(QString::number(quint16(p.btr), 16).rightJustified(4, QLatin1Char('0')).toUpper());
    }
    ui->listenOnlyCheck->setChecked(p.listenOnly);
    ui->errorFramesCheck->setChecked(p.errorFrames);

    shownInterface = Simulation;
    const int found = ui->ifaceCombo->findData(p.interface);
    const int index = found >= 0 ? found : 0;
    if (index == ui->ifaceCombo->currentIndex())
        onInterfaceChanged();
    else
        ui->ifaceCombo->setCurrentIndex(index);
}

void ConnectionDialog::onInterfaceChanged()
{
    const bool channelSelected = ui->channelCombo->currentIndex() >= 0;
    if (shownInterface == PcanBasicInterface) {
        basicDllPath = ui->dllPathEdit->text().trimmed();
        if (channelSelected)
            channel = ui->channelCombo->currentData().toInt();
    } else if (shownInterface == IsCanInterface) {
        isCanDllPath = ui->dllPathEdit->text().trimmed();
        if (channelSelected)
            isCanDevice = ui->channelCombo->currentData().toInt();
    } else if (shownInterface == SocketCanInterface) {
        if (channelSelected)
            socketCanInterface = ui->channelCombo->currentData().toString();
    }

    shownInterface = iface();
    ui->channelCombo->clear();
    setInfo(QString(), false);
    showLibraryTexts();
    if (shownInterface == PcanBasicInterface) {
        ui->hwBox->setTitle(tr("PCAN-Basic"));
        ui->channelLabel->setText(tr("Kanal:"));
        ui->refreshButton->setText(tr("Kanäle suchen"));
        ui->dllPathEdit->setText(basicDllPath);
        loadChannels();
    } else if (shownInterface == IsCanInterface) {
        ui->hwBox->setTitle(tr("isCAN"));
        ui->channelLabel->setText(tr("Gerät:"));
        ui->refreshButton->setText(tr("Geräte suchen"));
        ui->dllPathEdit->setText(isCanDllPath);
        ui->listenOnlyCheck->setChecked(false);
        ui->errorFramesCheck->setChecked(false);
        loadChannels();
    } else if (shownInterface == SocketCanInterface) {
        ui->hwBox->setTitle(tr("SocketCAN"));
        ui->channelLabel->setText(tr("Schnittstelle:"));
        ui->refreshButton->setText(tr("Schnittstellen suchen"));
        ui->dllPathEdit->clear();
        ui->dllPathEdit->setPlaceholderText(tr("keine Bibliothek nötig: Schnittstelle des Linux-Kernels"));
        ui->dllPathEdit->setToolTip(QString());
        loadChannels();
    } else {
        ui->hwBox->setTitle(tr("Hardware"));
        ui->dllPathEdit->clear();
    }
    updateUi();
}

void ConnectionDialog::updateUi()
{
    const int i = iface();
    const bool custom = ui->baudCombo->currentIndex() == customIndex();
    ui->hwBox->setEnabled(i != Simulation);
    ui->customBtrEdit->setEnabled(custom && i != Simulation);
    ui->listenOnlyCheck->setEnabled(i == PcanBasicInterface || i == SocketCanInterface);
    ui->errorFramesCheck->setEnabled(i == PcanBasicInterface || i == SocketCanInterface);
    // A kernel interface has no library and gets its bit rate from "ip link".
    ui->dllLabel->setEnabled(i != SocketCanInterface);
    ui->dllPathEdit->setEnabled(i != SocketCanInterface);
    ui->browseButton->setEnabled(i != SocketCanInterface);
    const QString tip = i == IsCanInterface ? tr("Wird vom isCAN-Treiber nicht unterstützt") : QString();
    ui->listenOnlyCheck->setToolTip(
        i == SocketCanInterface
            ? tr("Busvista sendet nicht. Damit auch der Controller kein ACK gibt, die Schnittstelle mit "
                 "„ip link set %1 type can listen-only on“ einstellen.")
                  .arg(ui->channelCombo->currentData().toString())
            : tip);
    ui->errorFramesCheck->setToolTip(tip);
    ui->baudCombo->setToolTip(i == SocketCanInterface
                                  ? tr("Die Bitrate stellt der Kernel ein; hier nur für den Befehl zum Einschalten.")
                                  : QString());
    const bool ready = i == Simulation
        || (ui->channelCombo->currentIndex() >= 0 && (!custom || !ui->customBtrEdit->text().isEmpty()));
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(ready);
}

void ConnectionDialog::loadChannels()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (iface() == PcanBasicInterface)
        loadPcanChannels();
    else if (iface() == IsCanInterface)
        loadIsCanDevices();
    else if (iface() == SocketCanInterface)
        loadSocketCanInterfaces();
    QGuiApplication::restoreOverrideCursor();
    updateUi();
}

void ConnectionDialog::loadPcanChannels()
{
    const int keep = ui->channelCombo->count() > 0 && ui->channelCombo->currentIndex() >= 0
        ? ui->channelCombo->currentData().toInt()
        : channel;
    QString message;
    const QList<PcanBasicChannelInfo> channels =
        PcanBasicBackend::enumerateChannels(ui->dllPathEdit->text(), &message);
    ui->channelCombo->clear();
    for (const PcanBasicChannelInfo &info : channels)
        ui->channelCombo->addItem(PcanBasicBackend::channelText(info), int(info.handle));
    if (channels.isEmpty()) {
        const struct { quint16 first, last; } ranges[] = {{0x51, 0x58}, {0x41, 0x44}, {0x801, 0x804}};
        for (const auto &range : ranges) {
            for (quint16 handle = range.first; handle <= range.last; ++handle)
                ui->channelCombo->addItem(tr("%1  (nicht erkannt)").arg(PcanBasic::channelName(handle)), int(handle));
        }
    }
    const int index = ui->channelCombo->findData(keep);
    ui->channelCombo->setCurrentIndex(index >= 0 ? index : 0);

    if (!channels.isEmpty()) {
        QString text = tr("%1 Kanal/Kanäle gefunden.").arg(channels.size());
        const QString version = PcanBasic::Library::instance()->apiVersion();
        if (!version.isEmpty())
            text += tr("\nPCAN-Basic API %1").arg(version);
        setInfo(text, false);
    } else {
        setInfo(message.isEmpty() ? tr("Keine PCAN-Hardware gefunden.") : message, true);
    }
}

void ConnectionDialog::loadIsCanDevices()
{
    const int keep = ui->channelCombo->count() > 0 && ui->channelCombo->currentIndex() >= 0
        ? ui->channelCombo->currentData().toInt()
        : isCanDevice;
    int unconfigured = 0;
    QString message;
    const QList<IsCanDeviceInfo> devices =
        IsCanBackend::enumerateDevices(ui->dllPathEdit->text(), &unconfigured, &message);
    ui->channelCombo->clear();
    for (const IsCanDeviceInfo &device : devices)
        ui->channelCombo->addItem(IsCanBackend::deviceText(device), device.number);
    const int index = ui->channelCombo->findData(keep);
    ui->channelCombo->setCurrentIndex(index >= 0 ? index : 0);

    bool isError = false;
    const QString text = IsCanBackend::deviceListInfo(devices, unconfigured, message, &isError);
    setInfo(text, isError);
}

QString ConnectionDialog::libraryFileName() const
{
    return iface() == IsCanInterface ? IsCan::Library::fileName() : PcanBasic::Library::fileName();
}

// The library row names the file and the places that are really searched on
// this system.
void ConnectionDialog::showLibraryTexts()
{
    const QString name = libraryFileName();
    ui->browseButton->setToolTip(tr("%1 auswählen").arg(name));
#ifndef Q_OS_WIN
    ui->dllLabel->setText(tr("Bibliothek:"));
    const QString search = tr("leer = Standardsuche nach %1 (%2)").arg(name, DllLoader::searchPlacesText());
    ui->dllPathEdit->setPlaceholderText(search);
    // The field is narrower than the text: the tool tip shows it whole.
    ui->dllPathEdit->setToolTip(search);
#endif
}

void ConnectionDialog::loadSocketCanInterfaces()
{
#ifdef BUSVISTA_SOCKETCAN
    const QString keep = ui->channelCombo->count() > 0 && ui->channelCombo->currentIndex() >= 0
        ? ui->channelCombo->currentData().toString()
        : socketCanInterface;
    QString message;
    const QList<SocketCan::InterfaceInfo> interfaces = SocketCan::interfaces(&message);
    {
        const QSignalBlocker blocker(ui->channelCombo);
        ui->channelCombo->clear();
        for (const SocketCan::InterfaceInfo &info : interfaces)
            ui->channelCombo->addItem(SocketCan::interfaceText(info), info.name);
        // The remembered interface may come back (adapter plugged in later).
        if (!keep.isEmpty() && ui->channelCombo->findData(keep) < 0 && SocketCan::available())
            ui->channelCombo->addItem(tr("%1  (nicht gefunden)").arg(keep), keep);
        const int index = ui->channelCombo->findData(keep);
        ui->channelCombo->setCurrentIndex(index >= 0 ? index : 0);
    }
    if (interfaces.isEmpty()) {
        setInfo(message, true);
        return;
    }
    showSocketCanState();
#endif
}

// The information line for the chosen SocketCAN interface: how many there
// are, and for a down one the command that brings it up.
void ConnectionDialog::showSocketCanState()
{
#ifdef BUSVISTA_SOCKETCAN
    const int found = ui->channelCombo->count();
    const QString name = ui->channelCombo->currentData().toString();
    SocketCan::InterfaceInfo info;
    QString text = tr("%1 CAN-Schnittstelle(n) gefunden.").arg(found);
    if (name.isEmpty()) {
        setInfo(text, false);
    } else if (!SocketCan::interfaceInfo(name, &info)) {
        setInfo(tr("Die CAN-Schnittstelle %1 gibt es nicht.").arg(name), true);
    } else if (!info.up) {
        const int btr = ui->baudCombo->currentIndex() == customIndex() ? ui->customBtrEdit->text().toInt(nullptr, 16)
                                                                      : ui->baudCombo->currentData().toInt();
        setInfo(SocketCan::bringUpHint(name, btr > 0 ? bitrateOfBtr(quint16(btr)) : 500000), true);
    } else {
        setInfo(text, false);
    }
#endif
}

void ConnectionDialog::browseDll()
{
    const QString name = libraryFileName();
#ifdef Q_OS_WIN
    const QString filter = tr("%1 (%1);;DLL (*.dll)").arg(name);
#else
    const QString filter = tr("%1 (%1 %1.*);;Bibliotheken (*.so *.so.*)").arg(name);
#endif
    const QString file = QFileDialog::getOpenFileName(this, tr("%1 auswählen").arg(name), ui->dllPathEdit->text(), filter);
    if (file.isEmpty())
        return;
    ui->dllPathEdit->setText(QDir::toNativeSeparators(file));
    loadChannels();
}

// A custom word of 0 is no bit timing: refused like any other invalid value,
// instead of silently opening at the default rate.
void ConnectionDialog::accept()
{
    if (iface() != Simulation && ui->baudCombo->currentIndex() == customIndex()) {
        bool ok = false;
        const int btr = ui->customBtrEdit->text().toInt(&ok, 16);
        if (!ok || btr < 1 || btr > 0xFFFF) {
            QMessageBox::warning(this, tr("Bitrate"),
                                 tr("Ungültiger BTR0/BTR1-Wert: %1 (1 bis FFFF hexadezimal)")
                                     .arg(ui->customBtrEdit->text()));
            ui->customBtrEdit->setFocus();
            ui->customBtrEdit->selectAll();
            return;
        }
    }
    QDialog::accept();
}

void ConnectionDialog::setInfo(const QString &text, bool error)
{
    ui->infoLabel->setText(text);
    ui->infoLabel->setStyleSheet(error ? QStringLiteral("color: #c02020;") : QString());
}

ConnectParams ConnectionDialog::params() const
{
    ConnectParams p;
    p.interface = iface();
    p.basicDllPath = basicDllPath;
    p.channel = channel;
    p.isCanDllPath = isCanDllPath;
    p.isCanDevice = isCanDevice;
    const bool channelSelected = ui->channelCombo->currentIndex() >= 0;
    if (p.interface == PcanBasicInterface) {
        p.basicDllPath = ui->dllPathEdit->text().trimmed();
        if (channelSelected)
            p.channel = ui->channelCombo->currentData().toInt();
    } else if (p.interface == IsCanInterface) {
        p.isCanDllPath = ui->dllPathEdit->text().trimmed();
        if (channelSelected)
            p.isCanDevice = ui->channelCombo->currentData().toInt();
    }
    p.socketCanInterface = socketCanInterface;
    if (p.interface == SocketCanInterface && channelSelected)
        p.socketCanInterface = ui->channelCombo->currentData().toString();
    if (ui->baudCombo->currentIndex() == customIndex()) {
        bool ok = false;
        const int btr = ui->customBtrEdit->text().toInt(&ok, 16);
        p.btr = ok ? btr : 0;
    } else {
        p.btr = ui->baudCombo->currentData().toInt();
    }
    p.listenOnly = ui->listenOnlyCheck->isEnabled() && ui->listenOnlyCheck->isChecked();
    p.errorFrames = ui->errorFramesCheck->isEnabled() && ui->errorFramesCheck->isChecked();
    return p;
}
