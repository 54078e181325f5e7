#include "hardwarebackend.h"

#include "bitrates.h"
#include "platform/monotonicclock.h"

#include <QThread>

#include <algorithm>

QString HardwareBackend::description() const
{
    return m_descriptionText;
}

int HardwareBackend::bitrate() const
{
    return int(m_bitrateBps);
}

void HardwareBackend::describeConnection(const QString &deviceText, quint16 btr, const QString &details)
{
    m_bitrateBps = bitrateOfBtr(btr);
    m_descriptionText = QStringLiteral("%1 @ %2").arg(deviceText, bitrateText(btr)) + details;
}

void HardwareBackend::describeConnection(const QString &text, quint32 bitrateBps)
{
    m_bitrateBps = bitrateBps;
    m_descriptionText = text;
}

void HardwareBackend::clearConnection()
{
    m_bitrateBps = 0;
    m_descriptionText.clear();
}

bool HardwareBackend::checkOpen(QString *error) const
{
    if (isOpen())
        return true;
    if (error)
        *error = notConnectedText();
    return false;
}

void HardwareBackend::startReader(const QString &name, const std::function<void()> &loop)
{
    m_reader = QThread::create(loop);
    m_reader->setObjectName(name);
    m_reader->start(QThread::TimeCriticalPriority);
}

void HardwareBackend::joinReader()
{
    if (!m_reader)
        return;
    m_reader->wait();
    delete m_reader;
    m_reader = nullptr;
}

qint64 HardwareBackend::elapsedMicros() const
{
    return std::max<qint64>(0, MonotonicClock::nowUs() - m_startMicros);
}
