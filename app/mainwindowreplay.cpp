// The player bar of the trace tab: replays the shown trace onto the bus.
// While it plays, the trace stays as it is (no recording, clearing, loading
// or trimming), since the player thread reads it in place.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "canbackend.h"
#include "tracemodel.h"
#include "tracemodelsource.h"
#include "traceplayer.h"
#include "traceplayerbar.h"

#include <QSpinBox>
#include <QStatusBar>

void MainWindow::setupReplay()
{
    m_player = new TracePlayer(this);
    m_playerBar = new TracePlayerBar(ui->tabTrace);
    // Below the two trace bars, above the table.
    ui->traceLayout->insertWidget(ui->traceLayout->indexOf(ui->traceView), m_playerBar);
    connect(m_playerBar, &TracePlayerBar::playClicked, this, &MainWindow::startReplay);
    connect(m_playerBar, &TracePlayerBar::pauseClicked, this, &MainWindow::pauseReplay);
    connect(m_playerBar, &TracePlayerBar::stopClicked, this, [this] { stopReplay(); });
    connect(m_player, &TracePlayer::finished, this, &MainWindow::onReplayFinished);
}

bool MainWindow::startReplay()
{
    if (m_player->isActive())
        return false;
    if (!m_backend || !m_backend->isOpen()) {
        showStatus(tr("Nicht verbunden."), 3000);
        return false;
    }
    if (m_traceModel->rowCount() == 0) {
        showStatus(tr("Der Trace ist leer."), 3000);
        return false;
    }
    ReplayOptions options;
    QString error;
    if (!m_playerBar->options(&options, &error)) {
        showStatus(tr("CAN-IDs zum Abspielen: %1").arg(error), 5000);
        return false;
    }
    // The played trace must not grow under the player.
    ui->actionTraceRun->setChecked(false);
    if (!m_player->start(std::make_unique<TraceModelSource>(m_traceModel), m_backend, options, &error)) {
        showStatus(tr("Abspielen nicht möglich: %1").arg(error), 5000);
        return false;
    }
    const int rows = m_traceModel->rowCount();
    const CanFrame *last = m_traceModel->frameAt(rows - 1);
    m_replayDurationUs = last ? last->timestampUs - m_traceModel->startUs() : 0;
    updateReplayControls();
    return true;
}

void MainWindow::pauseReplay(bool paused)
{
    if (paused)
        m_player->pause();
    else
        m_player->resume();
    updateReplayControls();
}

void MainWindow::stopReplay(const QString &reason)
{
    if (!m_player->isActive())
        return;
    m_player->stop();
    const TracePlayer::Progress done = m_player->progress();
    QString text = tr("Abspielen gestoppt: %1 gesendet, %2 fehlgeschlagen").arg(done.sent).arg(done.failed);
    if (!reason.isEmpty())
        text += QStringLiteral(" – ") + reason;
    showStatus(text, 5000);
    updateReplayControls();
}

void MainWindow::onReplayFinished(int state, const QString &message)
{
    const TracePlayer::Progress done = m_player->progress();
    if (state == ReplayEngine::Finished)
        showStatus(tr("Abspielen beendet: %1 gesendet, %2 fehlgeschlagen").arg(done.sent).arg(done.failed), 5000);
    else
        showStatus(tr("Abspielen abgebrochen: %1").arg(message), 10000);
    updateReplayControls();
}

void MainWindow::updateReplayControls()
{
    const bool active = m_player->isActive();
    m_playerBar->setPlaying(active, m_player->isPaused());
    m_playerBar->showProgress(m_player->progress(), m_replayDurationUs);
    // What would change the trace waits until the player is done.
    ui->actionTraceRun->setEnabled(!active);
    ui->actionTraceClear->setEnabled(!active);
    ui->actionLoadTrace->setEnabled(!active);
    ui->traceMaxSpin->setEnabled(!active);
}

void MainWindow::onReplayTick()
{
    if (m_player->isActive())
        m_playerBar->showProgress(m_player->progress(), m_replayDurationUs);
}
