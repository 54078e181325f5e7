// PlotWidget: image and data export, and the settings.
#include "plotwidget.h"
#include "ui_plotwidget.h"

#include "plotcsv.h"
#include "plotimage.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <algorithm>

// --- image and data export -----------------------------------------------------

QString PlotWidget::legendText(int index) const
{
    const SignalRecorder::Trace &trace = rec().traces().at(index);
    double value = 0;
    const bool atMarker = markerEnabled() && SignalRecorder::valueAt(trace, m_markerTime, &value);
    const PlotStats::Stats stats = statistics(index);
    return PlotData::legendText(trace, axis2Enabled() && trace.axis == 1, atMarker ? &value : nullptr,
                                rec().symbols().get(), &stats);
}

QImage PlotWidget::renderImage() const
{
    if (!m_graph)
        return QImage();
    QImage grab = ui->quickWidget->grabFramebuffer();
    if (grab.isNull())
        return QImage();
    if (grab.devicePixelRatio() == 1.0 && devicePixelRatioF() > 1.0)
        grab.setDevicePixelRatio(devicePixelRatioF());

    QString title = tr("Busvista – Plotter   %1   Zeitfenster: %2")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                             ui->windowCombo->currentText());
    if (markerEnabled())
        title += tr("   Marker: t = %1 s").arg(m_markerTime + timeOffset(), 0, 'f', 3);
    if (markerEnabled() && cursorBEnabled())
        title += tr("   B: t = %1 s").arg(m_cursorBTime + timeOffset(), 0, 'f', 3);
    QList<PlotImage::LegendLine> legend;
    for (int i = 0; i < rec().traces().size(); ++i) {
        if (traceStyle(i).shown)
            legend.append({traceColor(i), legendText(i)});
    }
    return PlotImage::compose(grab, title, legend, font());
}

bool PlotWidget::saveImage(const QString &path, QString *error) const
{
    QImage image = renderImage();
    if (image.isNull()) {
        if (error)
            *error = tr("Das Diagramm ist noch nicht bereit.");
        return false;
    }
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        image = image.convertToFormat(QImage::Format_RGB32);
    if (!image.save(path)) {
        if (error)
            *error = tr("Datei konnte nicht geschrieben werden: %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

namespace {

// The folder a save dialog of the plotter starts in: the one last used for
// this kind of file, else for the other kind, else the last folder of the
// program's other save dialogs; a folder that no longer exists gives way to
// its nearest existing parent.
QString startFolder(const QString &key, const QString &otherKey)
{
    QSettings settings;
    QString folder;
    for (const QString &candidate : {key, otherKey, QStringLiteral("trace/lastDir"), QStringLiteral("transmit/lastDir")}) {
        folder = settings.value(candidate).toString();
        if (!folder.isEmpty())
            break;
    }
    if (folder.isEmpty())
        return QDir::homePath();
    QString existing = QDir(folder).absolutePath();
    while (!QDir(existing).exists()) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            return QDir::homePath();
        existing = parent;
    }
    return existing;
}

QString timeStampedName(const char *pattern)
{
    return QString::fromLatin1(pattern).arg(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")));
}

} // namespace

void PlotWidget::chooseAndSaveImage()
{
    const QString proposed = QDir(startFolder(QStringLiteral("plot/imageDir"), QStringLiteral("plot/exportDir")))
                                 .filePath(timeStampedName("plotter_%1.png"));
    QString filter;
    QString path = QFileDialog::getSaveFileName(
        this, tr("Diagramm als Bild speichern"), proposed,
        tr("PNG-Bild (*.png);;JPEG-Bild (*.jpg *.jpeg);;BMP-Bild (*.bmp)"), &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty()) {
        if (filter.startsWith(QLatin1String("JPEG")))
            path += QStringLiteral(".jpg");
        else if (filter.startsWith(QLatin1String("BMP")))
            path += QStringLiteral(".bmp");
        else
            path += QStringLiteral(".png");
    }
    // The folder the user went to is where the next dialog starts, even
    // when this file could not be written.
    if (QFileInfo(path).absoluteDir().exists())
        QSettings().setValue(QStringLiteral("plot/imageDir"), QFileInfo(path).absolutePath());
    QString error;
    if (!saveImage(path, &error))
        QMessageBox::warning(this, tr("Bild speichern"), error);
}

bool PlotWidget::exportData(const QString &path, bool windowOnly, QString *error) const
{
    PlotCsv::Options options;
    if (windowOnly) {
        options.from = m_winStart;
        options.to = m_dataEnd;
    }
    for (int i = 0; i < rec().traces().size(); ++i) {
        if (traceStyle(i).shown)
            options.traces.append(i);
    }
    if (options.traces.isEmpty()) {
        if (error)
            *error = tr("Kein Signal wird gezeigt: nichts zu exportieren.");
        return false;
    }
    options.timeOffset = timeOffset();
    return PlotCsv::writeFile(rec(), path, options, error);
}

void PlotWidget::chooseAndExportData()
{
    QMessageBox ask(QMessageBox::Question, tr("Daten exportieren"),
                    tr("Welche Werte der gezeigten Signale sollen in die CSV-Datei?"), QMessageBox::Cancel, this);
    QPushButton *window = ask.addButton(tr("Sichtbares Zeitfenster"), QMessageBox::AcceptRole);
    QPushButton *all = ask.addButton(tr("Alles"), QMessageBox::AcceptRole);
    ask.setDefaultButton(window);
    ask.exec();
    if (ask.clickedButton() != window && ask.clickedButton() != all)
        return;
    const bool windowOnly = ask.clickedButton() == window;

    const QString proposed = QDir(startFolder(QStringLiteral("plot/exportDir"), QStringLiteral("plot/imageDir")))
                                 .filePath(timeStampedName("plotter_%1.csv"));
    QString path = QFileDialog::getSaveFileName(this, tr("Daten exportieren"), proposed,
                                                tr("CSV-Datei (*.csv);;Alle Dateien (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    if (QFileInfo(path).absoluteDir().exists())
        QSettings().setValue(QStringLiteral("plot/exportDir"), QFileInfo(path).absolutePath());
    QString error;
    if (!exportData(path, windowOnly, &error))
        QMessageBox::warning(this, tr("Daten exportieren"), error);
}

// --- settings ----------------------------------------------------------------

void PlotWidget::saveSettings() const
{
    QSettings settings;
    QStringList all;
    QStringList right;
    QStringList styles;
    const QList<SignalRecorder::Trace> &traces = rec().traces();
    for (int i = 0; i < traces.size(); ++i) {
        all << traces.at(i).ref.toString();
        if (traces.at(i).axis == 1)
            right << traces.at(i).ref.toString();
        styles << traceStyle(i).toText();
    }
    settings.setValue(QStringLiteral("plot/signals"), all);
    // A zoomed width is not kept: the preset chosen before it is.
    settings.setValue(QStringLiteral("plot/timeWindow"), m_free ? m_presetIndex : ui->windowCombo->currentIndex());
    settings.setValue(QStringLiteral("plot/autoY"), ui->autoYCheck->isChecked());
    settings.setValue(QStringLiteral("plot/yMin"), ui->yMinSpin->value());
    settings.setValue(QStringLiteral("plot/yMax"), ui->yMaxSpin->value());
    settings.setValue(QStringLiteral("plot/axis2"), ui->axis2Check->isChecked());
    settings.setValue(QStringLiteral("plot/y2Min"), ui->y2MinSpin->value());
    settings.setValue(QStringLiteral("plot/y2Max"), ui->y2MaxSpin->value());
    settings.setValue(QStringLiteral("plot/signalsRight"), right);
    settings.setValue(QStringLiteral("plot/maxPoints"), m_liveRecorder.maxPoints());
    settings.setValue(QStringLiteral("plot/signalStyles"), styles);
    settings.setValue(QStringLiteral("plot/timeBase"), timeBase());
}

void PlotWidget::loadSettings()
{
    QSettings settings;
    const QStringList right = settings.value(QStringLiteral("plot/signalsRight")).toStringList();
    const QStringList signalTexts = settings.value(QStringLiteral("plot/signals")).toStringList();
    const QStringList styles = settings.value(QStringLiteral("plot/signalStyles")).toStringList();
    for (int i = 0; i < signalTexts.size(); ++i) {
        const QString &text = signalTexts.at(i);
        const PlotSignalRef ref = PlotSignalRef::fromString(text);
        if (!ref.isUsable() || !m_liveRecorder.add(ref))
            continue;
        m_traceRecorder.add(ref);
        if (right.contains(text)) {
            m_liveRecorder.setAxis(int(m_liveRecorder.traces().size()) - 1, 1);
            m_traceRecorder.setAxis(int(m_traceRecorder.traces().size()) - 1, 1);
        }
        if (i < styles.size())
            m_styles.insert(text, PlotStyle::fromText(styles.at(i)));
    }
    const int fallback = settings.value(QStringLiteral("plot/window"), 1).toInt();
    const int window = settings.value(QStringLiteral("plot/timeWindow"), fallback).toInt();
    ui->windowCombo->setCurrentIndex(std::clamp(window, 0, FreeWindowIndex - 1));
    ui->autoYCheck->setChecked(settings.value(QStringLiteral("plot/autoY"), true).toBool());
    ui->yMinSpin->setValue(settings.value(QStringLiteral("plot/yMin"), 0.0).toDouble());
    ui->yMaxSpin->setValue(settings.value(QStringLiteral("plot/yMax"), 100.0).toDouble());
    {
        const QSignalBlocker blocker(ui->axis2Check);
        ui->axis2Check->setChecked(settings.value(QStringLiteral("plot/axis2"), false).toBool());
    }
    ui->y2MinSpin->setValue(settings.value(QStringLiteral("plot/y2Min"), 0.0).toDouble());
    ui->y2MaxSpin->setValue(settings.value(QStringLiteral("plot/y2Max"), 10.0).toDouble());
    setTimeBase(settings.value(QStringLiteral("plot/timeBase"), 0).toInt());
    updateYControls();
    rebuildSeries();
    rebuildLegend();
    setMaxPoints(settings.value(QStringLiteral("plot/maxPoints"), SignalRecorder::DefaultMaxPoints).toInt());
}
