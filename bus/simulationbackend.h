#pragma once

#include "canbackend.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <functional>
#include <vector>

// A bus without hardware: deterministic cyclic traffic of a small network with
// CANopen nodes, transmit echoes and answers to remote requests.
class SimulationBackend : public CanBackend
{
    Q_OBJECT

public:
    // One cyclic message of the generator.
    struct SimMessage
    {
        CanFrame frame;       // as last generated
        int periodMs = 0;
        qint64 nextDueMs = 0; // on the backend's elapsed-time clock
        std::function<void(CanFrame &frame, quint64 count)> generator;
        quint64 count = 0;    // sends so far
        bool enabled = true;
    };

    explicit SimulationBackend(QObject *parent = nullptr);
    ~SimulationBackend() override;

    bool open(const ConnectParams &params, QString *error) override;
    void close() override;
    bool isOpen() const override;
    bool write(const CanFrame &frame, QString *error) override;
    unsigned busStatus() override;
    QString description() const override;
    int bitrate() const override;

public slots:
    void tick();

protected:
    // Nanoseconds since open. Virtual so that tests can drive the tick with
    // their own clock instead of waiting for real time.
    virtual qint64 elapsedNs() const;

private:
    void buildMessages();
    void handleSdoRequest(const CanFrame &frame);

    std::vector<SimMessage> m_messages;
    QElapsedTimer m_clock;
    QTimer m_tickTimer;
    QRandomGenerator m_random;
    bool m_open = false;
};
