#pragma once

#include "canbackend.h"
#include "mainwindow.h"

#include <QPointer>
#include <QSettings>
#include <atomic>
#include <functional>
#include <mutex>

// A backend the test steers: status bits, bit rate, write results.
class FakeBackend : public CanBackend
{
    Q_OBJECT

public:
    using CanBackend::CanBackend;

    bool open(const ConnectParams &, QString *error) override
    {
        if (!openResult && error)
            *error = QStringLiteral("Gerät fehlt");
        m_open = openResult;
        return openResult;
    }
    void close() override
    {
        if (onClose)
            onClose();
        ++closeCount;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    // The trace player writes from its own thread.
    bool write(const CanFrame &frame, QString *error) override
    {
        std::lock_guard<std::mutex> lock(writeLock);
        ++writeCount;
        written.append(frame);
        if (!writeError.isEmpty()) {
            if (error)
                *error = writeError;
            return false;
        }
        return true;
    }
    bool resetHardware(QString *error) override
    {
        ++resetCount;
        if (resetError.isEmpty())
            return true;
        if (error)
            *error = resetError;
        m_open = m_open && !resetLosesConnection;
        return false;
    }
    unsigned busStatus() override { return status; }
    bool connectionLost() const override { return lost; }
    QString description() const override { return QStringLiteral("Testbus"); }
    int bitrate() const override { return rate; }

    bool openResult = true;
    unsigned status = 0;
    int rate = 500000;
    QString writeError;
    QString resetError;
    bool resetLosesConnection = false;
    std::atomic<bool> lost{false};
    int resetCount = 0;
    int writeCount = 0;
    int closeCount = 0;
    QList<CanFrame> written;
    std::mutex writeLock;
    std::function<void()> onClose;

private:
    bool m_open = false;
};

// The window with the fake backend behind every interface kind.
class TestWindow : public MainWindow
{
public:
    FakeBackend *lastBackend = nullptr;
    QPointer<FakeBackend> lastAlive;   // null once the window deleted it
    bool openSucceeds = true;          // for the next backend created

protected:
    CanBackend *createBackend(int, QString *) override
    {
        lastBackend = new FakeBackend(this);
        lastBackend->openResult = openSucceeds;
        lastAlive = lastBackend;
        return lastBackend;
    }
};
