#include "sdoclient.h"

SdoClient::SdoClient(QObject *parent)
    : QObject(parent)
{
}

void SdoClient::setBackend(CanBackend *)
{
}

void SdoClient::handleFrames(const QList<CanFrame> &)
{
}
