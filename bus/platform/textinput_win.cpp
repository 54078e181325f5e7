#include "textinput.h"

#include <QFile>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

TextInput::~TextInput()
{
    close();
}

bool TextInput::open(const QString &path, QString *error)
{
    close();
    if (path == QLatin1String("-")) {
        m_fd = _fileno(stdin);
        _setmode(m_fd, _O_BINARY);
        m_ownsFd = false;
        return true;
    }
    m_fd = _wopen(reinterpret_cast<const wchar_t *>(path.utf16()), _O_RDONLY | _O_BINARY);
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("Eingabe %1 kann nicht geöffnet werden.").arg(path);
        return false;
    }
    m_ownsFd = true;
    return true;
}

void TextInput::close()
{
    if (m_fd >= 0 && m_ownsFd)
        _close(m_fd);
    m_fd = -1;
    m_ownsFd = false;
}

TextInput::Wait TextInput::waitReadable(int timeoutMs)
{
    if (m_fd < 0)
        return Failed;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(m_fd));
    if (handle == INVALID_HANDLE_VALUE)
        return Failed;
    if (GetFileType(handle) != FILE_TYPE_PIPE)
        return Readable; // files and consoles: read() does not wait for long
    // Pipes cannot be waited on; look at them in short steps.
    const ULONGLONG until = GetTickCount64() + ULONGLONG(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr))
            return Readable; // broken pipe: read() reports the end
        if (available > 0)
            return Readable;
        if (GetTickCount64() >= until)
            return TimedOut;
        Sleep(5);
    }
}

qint64 TextInput::read(char *buffer, qint64 maxBytes)
{
    if (m_fd < 0)
        return -1;
    const unsigned chunk = unsigned(qMin<qint64>(maxBytes, 1 << 20));
    const int n = _read(m_fd, buffer, chunk);
    return n < 0 ? -1 : qint64(n);
}
