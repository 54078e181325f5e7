#pragma once

#include "replayengine.h"
#include "replayoptions.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSpinBox;
class QToolButton;

// The player bar of the trace tab: Abspielen, Pause, Stopp, speed, passes,
// an options menu (time window, direction, identifiers, long pauses), the
// progress with the current trace time, and the sent and failed counts. It
// only shows and asks; the main window owns the TracePlayer.
class TracePlayerBar : public QWidget
{
    Q_OBJECT

public:
    explicit TracePlayerBar(QWidget *parent = nullptr);

    // The choices of the bar; false with a message when the identifier text
    // does not parse.
    bool options(ReplayOptions *options, QString *error) const;

    // Playing, paused or idle: which buttons and choices are enabled.
    void setPlaying(bool active, bool paused);
    // `durationUs`: trace time of the last entry, for the progress text.
    void showProgress(const ReplayEngine::Progress &progress, qint64 durationUs);
    void clearProgress();

signals:
    void playClicked();
    void pauseClicked(bool paused);
    void stopClicked();

private:
    void fitProgressText();

    QToolButton *m_play;
    QToolButton *m_pause;
    QToolButton *m_stop;
    QComboBox *m_speed;
    QSpinBox *m_loops;
    QToolButton *m_more;
    QDoubleSpinBox *m_from;
    QDoubleSpinBox *m_to;
    QComboBox *m_direction;
    QComboBox *m_filterMode;
    QLineEdit *m_filter;
    QCheckBox *m_cutPauses;
    QDoubleSpinBox *m_maxPause;
    QProgressBar *m_progress;
    QLabel *m_counts;
};
