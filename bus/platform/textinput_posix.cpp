#include "textinput.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TextInput::~TextInput()
{
    close();
}

bool TextInput::open(const QString &path, QString *error)
{
    close();
    if (path == QLatin1String("-")) {
        m_fd = STDIN_FILENO;
        m_ownsFd = false;
        return true;
    }
    // Non-blocking open: a named pipe without a writer yet must not hang here.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("Eingabe %1 kann nicht geöffnet werden: %2")
                         .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_ownsFd = true;
    const int flags = fcntl(m_fd, F_GETFL);
    if (flags >= 0)
        fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    return true;
}

void TextInput::close()
{
    if (m_fd >= 0 && m_ownsFd)
        ::close(m_fd);
    m_fd = -1;
    m_ownsFd = false;
}

TextInput::Wait TextInput::waitReadable(int timeoutMs)
{
    if (m_fd < 0)
        return Failed;
    pollfd entry = {m_fd, POLLIN, 0};
    const int n = ::poll(&entry, 1, timeoutMs);
    if (n == 0)
        return TimedOut;
    if (n < 0)
        return errno == EINTR ? TimedOut : Failed;
    return Readable; // also on hang-up or error: read() tells which
}

qint64 TextInput::read(char *buffer, qint64 maxBytes)
{
    if (m_fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size_t(maxBytes));
        if (n >= 0)
            return qint64(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -2;
        if (errno != EINTR)
            return -1;
    }
}
