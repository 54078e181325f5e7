#pragma once

#include <QString>

class InfoDialog;
class QIcon;

// What the main window's about box shows: the program's data, the notice
// given at start, the icon and logos, and the update manifest to check.
namespace AboutBox {

// Everything but the update check, so that pictures of the box need no network.
// `icon` is the window's icon, `notice` the notice line given at start.
void fill(InfoDialog *dialog, const QIcon &icon, const QString &notice);
// The manifest address (BUSVISTA_UPDATE_URL may replace it) and the extra
// certificates of BUSVISTA_UPDATE_CA.
void enableUpdateCheck(InfoDialog *dialog);
// The interfaces this build can open, SocketCAN where the system has it.
QString interfacesText();

} // namespace AboutBox
