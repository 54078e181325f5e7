#include "aboutbox.h"

#include "busvistaversion.h"
#include "infodialog.h"
#include "infoupdatechecker.h"

#include <QCoreApplication>
#include <QIcon>

namespace {

const char Website[] = "https://www.busvista.de";

} // namespace

QString AboutBox::interfacesText()
{
#ifdef BUSVISTA_SOCKETCAN
    return QCoreApplication::translate("MainWindow", "Schnittstellen: PEAK PCAN-Basic, Thorsis isCAN (beide dynamisch "
                                                     "geladen), SocketCAN (can0, vcan0 …) oder Simulation.");
#else
    return QCoreApplication::translate(
        "MainWindow", "Schnittstellen: PEAK PCAN-Basic, Thorsis isCAN (beide dynamisch geladen) oder Simulation.");
#endif
}

void AboutBox::fill(InfoDialog *dialog, const QIcon &windowIcon, const QString &notice)
{
    dialog->setWindowTitle(QCoreApplication::translate("MainWindow", "Über Busvista"));
    dialog->setProgramName(QCoreApplication::applicationName());
    dialog->setVersion(QStringLiteral(BUSVISTA_VERSION));
    dialog->setDescription(QCoreApplication::translate("MainWindow", "CAN-Bus-Monitor"));
    dialog->setCopyright(notice);
    dialog->setExtraText(interfacesText());
    dialog->setWebsite(QString::fromLatin1(Website));
    // The icon file may hold smaller sizes only; the box shows it at 100 × 100.
    QPixmap icon = windowIcon.pixmap(100, 100);
    if (!icon.isNull() && icon.size() != QSize(100, 100))
        icon = icon.scaled(100, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    dialog->setApplicationIcon(icon);
    dialog->setLogo(QPixmap(QStringLiteral(":/info/logo_light.png")), QPixmap(QStringLiteral(":/info/logo_dark.png")));
}

void AboutBox::enableUpdateCheck(InfoDialog *dialog)
{
    dialog->setUpdateUrl(InfoUpdateChecker::defaultManifestUrl());
    // A certificate file that cannot be read leaves the system's trust; the
    // check then reports the certificate error on its button.
    dialog->updateChecker()->addCaCertificatesFromEnvironment();
}
