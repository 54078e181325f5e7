#pragma once

#include "infoupdatechecker.h"

#include <QDialog>
#include <QPixmap>
#include <QUrl>

#include <memory>

namespace Ui {
class InfoDialog;
}

// The about box: program, version, build and Qt data, the website, and the
// update check with its button. Where a setup can be started the button
// downloads, verifies and starts it; elsewhere it points to the website with
// the release notes.
class InfoDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InfoDialog(QWidget *parent = nullptr);
    ~InfoDialog() override;

    void setProgramName(const QString &name);
    void setVersion(const QString &version);
    void setDescription(const QString &text);
    void setCopyright(const QString &text);
    void setExtraText(const QString &text);
    void setWebsite(const QString &url);
    void setApplicationIcon(const QPixmap &icon);
    void setLogo(const QPixmap &light, const QPixmap &dark);
    // Also enables the check, which starts when the dialog is first shown.
    void setUpdateUrl(const QUrl &url);
    // The build line from the compiler's __DATE__ and __TIME__ ("Dec  8 2026").
    static QString buildText(const QString &compilerDate, const QString &compilerTime);

    bool updateCheckEnabled() const { return m_updateCheckEnabled; }
    InfoUpdateChecker *updateChecker() const { return m_checker; }
    bool isUpdateAvailable() const { return m_updateAvailable; }

signals:
    void updateCheckFinished(bool available);
    void updateStarted();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void onCheckFinished(InfoUpdateChecker::Status status);
    void onUpdateClicked();
    void installUpdate();
    void updateTitle();
    void updateLogo();

    std::unique_ptr<Ui::InfoDialog> ui;
    InfoUpdateChecker *m_checker = nullptr;
    QString m_programName;
    QString m_version;
    QString m_website;
    QPixmap m_lightLogo;
    QPixmap m_darkLogo;
    bool m_updateCheckEnabled = false;
    bool m_updateAvailable = false;
    bool m_checkStarted = false;
};
