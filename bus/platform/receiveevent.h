#pragma once

#include <QtGlobal>

// Auto-reset event on which a reader thread waits for received frames and
// which another thread (or a driver) sets. The native handle is what a driver
// is given to signal: a Win32 event HANDLE on Windows, a file descriptor that
// becomes readable on POSIX systems.
class ReceiveEvent
{
public:
    ReceiveEvent();
    ~ReceiveEvent();
    ReceiveEvent(const ReceiveEvent &) = delete;
    ReceiveEvent &operator=(const ReceiveEvent &) = delete;

    // False when the system could not create the event.
    bool isValid() const;

    // Callable from any thread. Setting an already set event keeps it set once.
    void set();

    // Waits until the event is set or timeoutMs have passed (negative: no
    // limit). Returns true when it was set, and resets it.
    bool wait(int timeoutMs);

    quintptr nativeHandle() const;

private:
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
