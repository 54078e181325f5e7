#pragma once

#include "canframe.h"

#include <QObject>

class CanBackend;

// Placeholder: the real SDO client comes with a later issue.
class SdoClient : public QObject
{
    Q_OBJECT

public:
    explicit SdoClient(QObject *parent = nullptr);

    void setBackend(CanBackend *backend);
    void handleFrames(const QList<CanFrame> &frames);
};
