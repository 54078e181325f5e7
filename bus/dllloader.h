#pragma once

#include "bitrates.h"

#include <QLibrary>
#include <QList>
#include <QString>
#include <QStringList>

// Run-time loading of a vendor driver library: finding the file, loading it,
// resolving its exports and explaining failures in German. Each vendor library
// class derives from it and exists once per process; it stays loaded until
// exit and is only exchanged while no connection uses it.
//
// GUI thread only. Reader threads use the resolved pointers while a connection
// is open, which is exactly when they cannot change (users > 0).
class DllLoader
{
public:
    struct Spec
    {
        QString libraryName;   // base name for the platform's search, without suffix
        QString displayName;   // name in messages
        QString loadHint;      // appended to a load failure
        QString archHint;      // appended to an architecture mismatch
        // Further base names tried in turn when the default search does not
        // find libraryName; used off Windows, where vendors name their files
        // differently.
        QStringList alternativeNames = {};
    };

    enum LoadResult { AlreadyLoaded = 0, LoadedNow = 1, LoadFailed = 2 };

    DllLoader() = default;
    virtual ~DllLoader();
    DllLoader(const DllLoader &) = delete;
    DllLoader &operator=(const DllLoader &) = delete;

    virtual void resetFunctions() = 0;

    bool isLoaded() const;
    // Path of the complete load, empty when it came from the default search.
    QString loadedPath() const;

    // The machine field of a PE file (0x8664 x64, 0x014C x86, 0xAA64 ARM64);
    // 0 when the file cannot be read or is no PE file.
    static quint16 peMachine(const QString &path);
    // The same codes for a PE file or an ELF shared object (x86-64, i386,
    // AArch64; another ELF machine gives 1); 0 when it is neither.
    static quint16 libraryMachine(const QString &path);
    // The file names the default search tries for `spec`, in order:
    // "PCANBasic.dll" on Windows, "libpcanbasic.so", "libPCANBasic.so" elsewhere.
    static QStringList searchedFileNames(const Spec &spec);
    // The places of the platform's default library search, as the dialogs
    // name them: "Programmordner, System32" or "LD_LIBRARY_PATH, /usr/local/lib, /usr/lib".
    static QString searchPlacesText();
    // The first file of `fileNames` in the places of the default search,
    // empty when none is there.
    static QString findInSearchPlaces(const QStringList &fileNames);

    // Open connections that use the library: a backend increments it after it
    // opened a device and decrements it in close. The library cannot be
    // exchanged while it is above 0.
    int users = 0;

protected:
    // 0: already loaded from this path; 1: loaded now, resolve the exports and
    // call finishLoad; 2: failed, message in *error.
    int loadFile(const QString &path, const Spec &spec, QString *error);
    // Completes a load when nothing is missing; otherwise unloads the library
    // again and names the missing exports.
    bool finishLoad(const QList<QString> &missing, const Spec &spec, QString *error);

    // Resolves one export into *target and notes its name when it is absent.
    template<typename Function>
    void resolve(Function *target, const char *name, QList<QString> *missing)
    {
        *target = reinterpret_cast<Function>(library.resolve(name));
        if (!*target)
            missing->append(QString::fromLatin1(name));
    }

    QLibrary library;
    // Own flag: QLibrary shares its state with other QLibrary objects of the
    // same file, so its isLoaded() may outlive our unload().
    bool loaded = false;
    QString loadedPathValue;
    QString requestedPath;
};

// Calling convention of the vendor libraries' exports: WINAPI on 32-bit
// Windows, the platform's C convention everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define BV_DRIVER_CALL __stdcall
#else
#define BV_DRIVER_CALL
#endif
