#include "programstart.h"

#include <QDir>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <string>

bool ProgramStart::startDetached(const QString &program, const QStringList &arguments,
                                 const QString &workingDirectory, QString *error)
{
    const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
    const std::wstring parameters = windowsCommandLine(arguments).toStdWString();
    const std::wstring directory = QDir::toNativeSeparators(workingDirectory).toStdWString();

    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    // No error boxes of the shell: the caller reports. Done before returning,
    // since the program may quit right after starting the setup.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info))
        return true;
    // ERROR_CANCELLED when the user refused the administrator rights.
    const DWORD code = GetLastError();
    if (error)
        *error = qt_error_string(int(code));
    return false;
}
