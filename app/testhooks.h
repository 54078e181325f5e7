#pragma once

#include <QStringList>

class MainWindow;

// Unattended picture taking for documentation and smoke tests:
// "--screenshot FILE" and "--ui-snapshots DIR", after "--delay" ms.
namespace TestHooks {

void schedule(MainWindow *window, const QStringList &arguments, const QString &symbolFile);

// The pictures of "--ui-snapshots": one per main tab, menu, dock and dialog.
// Returns the file names written.
QStringList takeSnapshots(MainWindow *window, const QString &directory);

} // namespace TestHooks
