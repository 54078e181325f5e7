#include "receiveevent.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

ReceiveEvent::ReceiveEvent()
{
    // Auto-reset, initially not set; a successful wait resets it.
    m_handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

ReceiveEvent::~ReceiveEvent()
{
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
}

bool ReceiveEvent::isValid() const
{
    return m_handle != nullptr;
}

void ReceiveEvent::set()
{
    if (m_handle)
        SetEvent(static_cast<HANDLE>(m_handle));
}

bool ReceiveEvent::wait(int timeoutMs)
{
    if (!m_handle)
        return false;
    const DWORD timeout = timeoutMs < 0 ? INFINITE : DWORD(timeoutMs);
    return WaitForSingleObject(static_cast<HANDLE>(m_handle), timeout) == WAIT_OBJECT_0;
}

quintptr ReceiveEvent::nativeHandle() const
{
    return reinterpret_cast<quintptr>(m_handle);
}
