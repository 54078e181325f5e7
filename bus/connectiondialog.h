#pragma once

#include "connectparams.h"

#include <QDialog>

#include <memory>

namespace Ui {
class ConnectionDialog;
}

// Chooses how to connect: interface, vendor library, channel or device, bit
// rate and the PCAN-Basic/SocketCAN modes. Lists the hardware that is present. Keeps the
// library path and the channel of both hardware interfaces apart while the
// user switches between them.
class ConnectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConnectionDialog(QWidget *parent = nullptr);
    ~ConnectionDialog() override;

    void setParams(const ConnectParams &p);
    ConnectParams params() const;
    int iface() const;

public slots:
    void accept() override;

private:
    void updateUi();
    void onInterfaceChanged();
    void loadChannels();
    void loadPcanChannels();
    void loadIsCanDevices();
    void loadSocketCanInterfaces();
    void showSocketCanState();
    void browseDll();
    QString libraryFileName() const;
    void showLibraryTexts();
    void setInfo(const QString &text, bool error);
    int customIndex() const;

    std::unique_ptr<Ui::ConnectionDialog> ui;
    int shownInterface = 1;
    QString basicDllPath;
    QString isCanDllPath;
    int channel = 0x51;
    int isCanDevice = 0;
    QString socketCanInterface;
};
