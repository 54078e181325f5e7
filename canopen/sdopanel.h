#pragma once

#include "canframe.h"

#include <QWidget>

class CanBackend;
class SdoClient;

// Placeholder: the real SDO panel comes with a later issue.
class SdoPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SdoPanel(QWidget *parent = nullptr);

    void setClient(SdoClient *client);
    void setBackend(CanBackend *backend);
    void setConnected(bool on);
    void handleFrames(const QList<CanFrame> &frames);
    void loadSettings();
    void saveSettings() const;
};
