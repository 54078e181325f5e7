#include "traceplayerbar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QWidgetAction>

namespace {

QString secondsText(qint64 us)
{
    return QLocale(QLocale::German).toString(double(us) / 1e6, 'f', 3);
}

QDoubleSpinBox *secondsSpin(QWidget *parent, const char *name, double value)
{
    auto *spin = new QDoubleSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(0, 1e7);
    spin->setDecimals(3);
    spin->setSuffix(QStringLiteral(" s"));
    spin->setValue(value);
    return spin;
}

} // namespace

TracePlayerBar::TracePlayerBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tracePlayerBar"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 2);
    QStyle *s = style();

    const auto button = [&](const char *name, const QString &text, QStyle::StandardPixmap icon, const QString &tip) {
        auto *b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(text);
        b->setIcon(s->standardIcon(icon));
        // Icons only: the trace tab shares its width with the docks.
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setToolTip(QStringLiteral("%1: %2").arg(text, tip));
        layout->addWidget(b);
        return b;
    };
    m_play = button("replayPlayButton", tr("Abspielen"), QStyle::SP_MediaPlay,
                    tr("Den angezeigten Trace mit seinen aufgezeichneten Zeitabständen auf den Bus senden"));
    m_pause = button("replayPauseButton", tr("Pause"), QStyle::SP_MediaPause,
                     tr("Anhalten; Fortsetzen behält den restlichen Zeitablauf"));
    m_pause->setCheckable(true);
    m_stop = button("replayStopButton", tr("Stopp"), QStyle::SP_MediaStop, tr("Abspielen beenden"));

    m_speed = new QComboBox(this);
    m_speed->setToolTip(tr("Tempo: Faktor auf die aufgezeichneten Zeitabstände"));
    m_speed->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_speed->setMinimumContentsLength(4);
    m_speed->setObjectName(QStringLiteral("replaySpeedCombo"));
    for (double factor : {0.1, 0.25, 0.5, 1.0, 2.0, 5.0, 10.0})
        m_speed->addItem(ReplayOptions::speedText(factor), factor);
    m_speed->addItem(tr("so schnell wie möglich"), ReplayOptions::AsFastAsPossible);
    m_speed->setCurrentIndex(3);
    layout->addWidget(m_speed);

    m_loops = new QSpinBox(this);
    m_loops->setObjectName(QStringLiteral("replayLoopSpin"));
    m_loops->setRange(0, 1000000);
    m_loops->setValue(1);
    m_loops->setSpecialValueText(tr("endlos"));
    m_loops->setPrefix(QStringLiteral("× "));
    m_loops->setMaximumWidth(80);
    m_loops->setToolTip(tr("Durchläufe: wie oft der Trace gespielt wird; 0 = endlos"));
    layout->addWidget(m_loops);

    // The choices that are seldom changed sit in a menu of the options button.
    auto *form = new QWidget(this);
    auto *formLayout = new QFormLayout(form);
    m_from = secondsSpin(form, "replayFromSpin", 0);
    m_to = secondsSpin(form, "replayToSpin", 0);
    // 0 is no bound: entries stamped before the trace's first one count too.
    m_from->setSpecialValueText(tr("Anfang"));
    m_to->setSpecialValueText(tr("Ende"));
    formLayout->addRow(tr("Ab Trace-Zeit:"), m_from);
    formLayout->addRow(tr("Bis Trace-Zeit:"), m_to);
    m_direction = new QComboBox(form);
    m_direction->setObjectName(QStringLiteral("replayDirectionCombo"));
    m_direction->addItem(tr("empfangene und gesendete"), int(ReplayOptions::Both));
    m_direction->addItem(tr("nur empfangene (Rx)"), int(ReplayOptions::Received));
    m_direction->addItem(tr("nur gesendete (Tx)"), int(ReplayOptions::Sent));
    formLayout->addRow(tr("Einträge:"), m_direction);
    auto *idRow = new QHBoxLayout;
    m_filterMode = new QComboBox(form);
    m_filterMode->setObjectName(QStringLiteral("replayFilterMode"));
    m_filterMode->addItem(tr("nur"), int(CanIdFilter::Include));
    m_filterMode->addItem(tr("außer"), int(CanIdFilter::Exclude));
    m_filter = new QLineEdit(form);
    m_filter->setObjectName(QStringLiteral("replayFilterEdit"));
    m_filter->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_filter->setPlaceholderText(tr("alle, z. B. 100, 180-1FF"));
    m_filter->setToolTip(tr("CAN-IDs hexadezimal wie im Trace-Filter. Error- und Status-Einträge werden nie gesendet."));
    idRow->addWidget(m_filterMode);
    idRow->addWidget(m_filter, 1);
    formLayout->addRow(tr("CAN-IDs:"), idRow);
    auto *pauseRow = new QHBoxLayout;
    m_cutPauses = new QCheckBox(tr("Pausen länger als"), form);
    m_cutPauses->setObjectName(QStringLiteral("replayCutPausesCheck"));
    m_maxPause = secondsSpin(form, "replayMaxPauseSpin", 5);
    m_maxPause->setMinimum(0.001);
    pauseRow->addWidget(m_cutPauses);
    pauseRow->addWidget(m_maxPause);
    pauseRow->addWidget(new QLabel(tr("überspringen"), form));
    formLayout->addRow(pauseRow);
    auto *menu = new QMenu(this);
    auto *formAction = new QWidgetAction(menu);
    formAction->setDefaultWidget(form);
    menu->addAction(formAction);
    m_more = new QToolButton(this);
    m_more->setObjectName(QStringLiteral("replayOptionsButton"));
    m_more->setText(tr("Optionen"));
    m_more->setMenu(menu);
    m_more->setPopupMode(QToolButton::InstantPopup);
    layout->addWidget(m_more);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("replayProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(true);
    // Both never narrower than their texts (see fitTexts).
    m_progress->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    layout->addWidget(m_progress, 2);
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("replayCountsLabel"));
    m_counts->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    layout->addWidget(m_counts, 3);

    connect(m_play, &QToolButton::clicked, this, &TracePlayerBar::playClicked);
    connect(m_pause, &QToolButton::clicked, this, &TracePlayerBar::pauseClicked);
    connect(m_stop, &QToolButton::clicked, this, &TracePlayerBar::stopClicked);
    setPlaying(false, false);
    clearProgress();
}

bool TracePlayerBar::options(ReplayOptions *options, QString *error) const
{
    ReplayOptions result;
    result.speed = m_speed->currentData().toDouble();
    result.loops = m_loops->value();
    if (m_from->value() > 0)
        result.fromUs = std::llround(m_from->value() * 1e6);
    if (m_to->value() > 0)
        result.toUs = std::llround(m_to->value() * 1e6);
    result.directions = m_direction->currentData().toInt();
    if (!result.filter.parse(m_filter->text(), error))
        return false;
    result.filter.enabled = !result.filter.ranges.isEmpty();
    result.filter.mode = m_filterMode->currentData().toInt();
    if (m_cutPauses->isChecked())
        result.maxPauseUs = std::llround(m_maxPause->value() * 1e6);
    *options = result;
    return true;
}

void TracePlayerBar::setPlaying(bool active, bool paused)
{
    m_play->setEnabled(!active);
    m_pause->setEnabled(active);
    m_pause->setChecked(active && paused);
    m_pause->setText(active && paused ? tr("Fortsetzen") : tr("Pause"));
    m_stop->setEnabled(active);
    for (QWidget *choice : {static_cast<QWidget *>(m_speed), static_cast<QWidget *>(m_loops),
                            static_cast<QWidget *>(m_more)})
        choice->setEnabled(!active);
}

void TracePlayerBar::showProgress(const ReplayEngine::Progress &progress, qint64 durationUs)
{
    const qint64 total = progress.total > 0 ? progress.total : 0;
    m_progress->setValue(total > 0 ? int(qMin<qint64>(1000, progress.position * 1000 / total)) : 0);
    QString text = tr("%1 s von %2 s").arg(secondsText(progress.traceUs), secondsText(durationUs));
    if (progress.pass > 1)
        text += tr(" (Durchlauf %1)").arg(progress.pass);
    m_progress->setFormat(text);
    fitProgressText();
    m_counts->setText(tr("Gesendet: %1  Fehler: %2").arg(progress.sent).arg(progress.failed));
    m_counts->setToolTip(progress.lastError.isEmpty() ? m_counts->text()
                                                      : tr("Letzter Sendefehler: %1").arg(progress.lastError));
}

void TracePlayerBar::clearProgress()
{
    m_progress->setValue(0);
    m_progress->setFormat(tr("bereit"));
    fitProgressText();
    m_counts->setText(tr("Gesendet: %1  Fehler: %2").arg(0).arg(0));
    m_counts->setToolTip(m_counts->text());
}

void TracePlayerBar::fitProgressText()
{
    // The bar draws its text centred and cuts what does not fit; it grows
    // with the text and never shrinks below it while the bar lives.
    const int needed = m_progress->fontMetrics().horizontalAdvance(m_progress->format()) + 24;
    if (m_progress->minimumWidth() < needed)
        m_progress->setMinimumWidth(needed);
}
