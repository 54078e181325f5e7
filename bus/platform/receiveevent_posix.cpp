#include "receiveevent.h"
#include "monotonicclock.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

// An eventfd whose counter is the set state: a driver or another thread
// writes to it, the reader polls it and reads it back to zero.

ReceiveEvent::ReceiveEvent()
{
    m_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

ReceiveEvent::~ReceiveEvent()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ReceiveEvent::isValid() const
{
    return m_fd >= 0;
}

void ReceiveEvent::set()
{
    if (m_fd < 0)
        return;
    const std::uint64_t one = 1;
    // EAGAIN only when the counter is at its maximum, which is still "set".
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool ReceiveEvent::wait(int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const qint64 deadlineUs = timeoutMs >= 0 ? MonotonicClock::nowUs() + qint64(timeoutMs) * 1000 : -1;
    for (;;) {
        int remainingMs = -1;
        if (deadlineUs >= 0) {
            const qint64 leftUs = deadlineUs - MonotonicClock::nowUs();
            remainingMs = leftUs <= 0 ? 0 : int((leftUs + 999) / 1000);
        }
        pollfd entry {};
        entry.fd = m_fd;
        entry.events = POLLIN;
        const int ready = ::poll(&entry, 1, remainingMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (ready == 0)
            return false;
        std::uint64_t counter = 0;
        if (::read(m_fd, &counter, sizeof counter) == ssize_t(sizeof counter))
            return true;
        // Another waiter took it first (EAGAIN) or a signal interrupted: wait on.
        if (errno != EAGAIN && errno != EINTR)
            return false;
    }
}

quintptr ReceiveEvent::nativeHandle() const
{
    return quintptr(m_fd);
}
