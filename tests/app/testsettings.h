#pragma once

#include "connectparams.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

// Keeps a test's settings in INI files of its own temporary folder, away
// from the user's store and from the other tests.
inline void useTemporarySettings(const QTemporaryDir &dir, const char *testName)
{
    QCoreApplication::setOrganizationName(QStringLiteral("busvista-test"));
    QCoreApplication::setApplicationName(QString::fromLatin1(testName));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

// What "--sim" hands to the window.
inline ConnectParams simulationParams()
{
    ConnectParams params;
    params.interface = 1;
    return params;
}
