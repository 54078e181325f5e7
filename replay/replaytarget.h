#pragma once

#include "canframe.h"

#include <QString>

class CanBackend;

// Where the player sends to. Called from the player's thread only.
class ReplayTarget
{
public:
    virtual ~ReplayTarget() = default;
    // Sends one frame; false with *error when it was not sent.
    virtual bool send(const CanFrame &frame, QString *error) = 0;
    // Sends frames that are due together, back to back and in order. Returns
    // how many went out before the first that failed (*error says why).
    // The base sends them one by one.
    virtual int sendBurst(const CanFrame *frames, int count, QString *error);
    // After a failed send: whether the connection is gone for good, which
    // ends the replay instead of counting one more failure.
    virtual bool lost() const = 0;
};

// Sends through a bus backend, whose write() may be called from a second
// thread (see CanBackend).
class BackendTarget : public ReplayTarget
{
public:
    explicit BackendTarget(CanBackend *backend) : m_backend(backend) {}
    bool send(const CanFrame &frame, QString *error) override;
    int sendBurst(const CanFrame *frames, int count, QString *error) override;
    bool lost() const override;

private:
    CanBackend *m_backend;
};
