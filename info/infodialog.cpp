#include "infodialog.h"
#include "ui_infodialog.h"

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSysInfo>

InfoDialog::InfoDialog(QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::InfoDialog>()), m_checker(new InfoUpdateChecker(this))
{
    ui->setupUi(this);
    ui->lblBuild->setText(buildText(QStringLiteral(__DATE__), QStringLiteral(__TIME__)));
    ui->lblQt->setText(tr("Basiert auf Qt %1 (%2 Bit)").arg(QString::fromLatin1(qVersion())).arg(QSysInfo::WordSize));
    ui->lblLogo->hide();
    ui->lblIcon->hide();
    for (QLabel *label : {ui->lblDescription, ui->lblCopyright, ui->lblWebsite, ui->lblExtra})
        label->hide();
    updateTitle();
    connect(m_checker, &InfoUpdateChecker::checkFinished, this, &InfoDialog::onCheckFinished);
    connect(ui->btUpdate, &QPushButton::clicked, this, &InfoDialog::onUpdateClicked);
}

InfoDialog::~InfoDialog() = default;

QString InfoDialog::buildText(const QString &compilerDate, const QString &compilerTime)
{
    // The compiler writes "Dec  8 2026": English month, day padded with a blank.
    const QStringList parts = compilerDate.simplified().split(QLatin1Char(' '));
    const QDate date = parts.size() == 3 ? QLocale::c().toDate(parts.join(QLatin1Char(' ')), QStringLiteral("MMM d yyyy"))
                                         : QDate();
    const QString day = date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : compilerDate;
    return tr("Erstellt am %1 um %2").arg(day, compilerTime);
}

namespace {

void showText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

} // namespace

void InfoDialog::setProgramName(const QString &name)
{
    m_programName = name;
    updateTitle();
}

void InfoDialog::setVersion(const QString &version)
{
    m_version = version;
    updateTitle();
}

void InfoDialog::updateTitle()
{
    showText(ui->lblName, (m_programName + QLatin1Char(' ') + m_version).trimmed());
}

void InfoDialog::setDescription(const QString &text)
{
    showText(ui->lblDescription, text);
}

void InfoDialog::setCopyright(const QString &text)
{
    showText(ui->lblCopyright, text);
}

void InfoDialog::setExtraText(const QString &text)
{
    showText(ui->lblExtra, text);
}

void InfoDialog::setWebsite(const QString &url)
{
    m_website = url;
    showText(ui->lblWebsite, url.isEmpty() ? QString()
                                           : QStringLiteral("<a href=\"%1\">%2</a>")
                                                 .arg(url.toHtmlEscaped(), url.toHtmlEscaped()));
}

void InfoDialog::setApplicationIcon(const QPixmap &icon)
{
    ui->lblIcon->setPixmap(icon);
    ui->lblIcon->setVisible(!icon.isNull());
}

void InfoDialog::setLogo(const QPixmap &light, const QPixmap &dark)
{
    m_lightLogo = light;
    m_darkLogo = dark;
    updateLogo();
}

void InfoDialog::updateLogo()
{
    const bool darkWindow = palette().color(QPalette::Window).lightness() <= 127;
    const QPixmap &logo = darkWindow && !m_darkLogo.isNull() ? m_darkLogo : m_lightLogo;
    if (logo.isNull()) {
        ui->lblLogo->clear();
        ui->lblLogo->hide();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap scaled = logo.scaledToWidth(int(380 * ratio), Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    ui->lblLogo->setPixmap(scaled);
    ui->lblLogo->show();
}

void InfoDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateLogo();
}

void InfoDialog::setUpdateUrl(const QUrl &url)
{
    m_checker->setManifestUrl(url);
    m_updateCheckEnabled = true;
}

void InfoDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_updateCheckEnabled || m_checkStarted)
        return;
    m_checkStarted = true;
    ui->btUpdate->setText(tr("Suche nach Updates …"));
    ui->btUpdate->setEnabled(false);
    m_checker->check();
}

void InfoDialog::onCheckFinished(InfoUpdateChecker::Status status)
{
    m_updateAvailable = status == InfoUpdateChecker::UpdateAvailable;
    switch (status) {
    case InfoUpdateChecker::UpdateAvailable:
        ui->btUpdate->setText(tr("Update %1 verfügbar").arg(m_checker->latestVersion()));
        ui->btUpdate->setEnabled(true);
        ui->btUpdate->setToolTip(QString());
        break;
    case InfoUpdateChecker::Error:
        ui->btUpdate->setText(tr("Update-Prüfung fehlgeschlagen"));
        ui->btUpdate->setEnabled(false);
        ui->btUpdate->setToolTip(m_checker->errorText());
        break;
    case InfoUpdateChecker::UpToDate:
        ui->btUpdate->setText(tr("Keine Updates verfügbar"));
        ui->btUpdate->setEnabled(false);
        ui->btUpdate->setToolTip(QString());
        break;
    }
    emit updateCheckFinished(m_updateAvailable);
}

void InfoDialog::onUpdateClicked()
{
    if (!m_updateAvailable)
        return;
    const QString versions = tr("Version %1 ist verfügbar (installiert: %2).")
                                 .arg(m_checker->latestVersion(), m_checker->currentVersion());
    if (!m_checker->isSetupRequired()) {
        // No setup to start here: the website has the package for this system.
        QMessageBox box(QMessageBox::Information, tr("Update"),
                        versions + QStringLiteral("\n\n")
                            + tr("Das Update ist auf der Website erhältlich:\n%1").arg(m_website),
                        QMessageBox::Ok, this);
        if (!m_checker->notes().isEmpty())
            box.setDetailedText(m_checker->notes());
        box.exec();
        return;
    }

    QMessageBox question(QMessageBox::Question, tr("Update"),
                         versions + QStringLiteral("\n\n")
                             + tr("Das Update wird heruntergeladen. Danach wird dieses Programm beendet und "
                                  "das Setup gestartet.\n\nJetzt aktualisieren?"),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::No);
    if (!m_checker->notes().isEmpty())
        question.setDetailedText(m_checker->notes());
    if (question.exec() != QMessageBox::Yes)
        return;
    installUpdate();
}

void InfoDialog::installUpdate()
{
    QProgressDialog progress(tr("Lade Update %1 …").arg(m_checker->latestVersion()), tr("Abbrechen"), 0, 0, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);

    QEventLoop loop;
    bool ok = false;
    bool cancelled = false;
    const auto onProgress = connect(m_checker, &InfoUpdateChecker::downloadProgress, &progress,
                                    [&progress](qint64 received, qint64 total) {
                                        // The bar counts started kibibytes so that large setups fit
                                        // an int and the last byte fills it.
                                        const auto kib = [](qint64 bytes) { return int((bytes + 1023) / 1024); };
                                        progress.setMaximum(total > 0 ? kib(total) : 0);
                                        progress.setValue(total > 0 ? kib(qMin(received, total)) : 0);
                                    });
    const auto onFinished = connect(m_checker, &InfoUpdateChecker::downloadFinished, &loop, [&](bool success) {
        ok = success;
        loop.quit();
    });
    const auto onCancel = connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        m_checker->cancel();
        loop.quit();
    });
    progress.show();
    m_checker->download();
    if (m_checker->isBusy())
        loop.exec();
    disconnect(onProgress);
    disconnect(onFinished);
    disconnect(onCancel);
    progress.close();
    if (cancelled)
        return;

    if (!ok) {
        QMessageBox::critical(this, tr("Update"),
                              tr("Das Update konnte nicht geladen werden:\n%1").arg(m_checker->errorText()));
        return;
    }
    if (!m_checker->startSetup()) {
        QString text = tr("Das Setup konnte nicht gestartet werden:\n%1").arg(m_checker->errorText());
        // A verified setup stays for the user to start by hand.
        if (!m_checker->setupPath().isEmpty())
            text += QStringLiteral("\n\n") + tr("Die heruntergeladene Datei bleibt erhalten und kann von Hand "
                                              "gestartet werden:\n%1")
                                               .arg(QDir::toNativeSeparators(m_checker->setupPath()));
        QMessageBox::critical(this, tr("Update"), text);
        return;
    }
    emit updateStarted();
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}
