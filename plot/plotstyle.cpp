#include "plotstyle.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

namespace {

const char *const ModeKeys[] = {"auto", "line", "step", "points"};

} // namespace

QString PlotStyle::toText() const
{
    return QStringLiteral("%1;%2;%3")
        .arg(color.isValid() ? color.name() : QString(), QLatin1String(ModeKeys[mode]),
             shown ? QStringLiteral("1") : QStringLiteral("0"));
}

PlotStyle PlotStyle::fromText(const QString &text)
{
    PlotStyle style;
    const QStringList parts = text.split(QLatin1Char(';'));
    const QColor color(parts.value(0).trimmed());
    if (color.isValid())
        style.color = color;
    for (int mode = Auto; mode <= Points; ++mode) {
        if (parts.value(1).trimmed() == QLatin1String(ModeKeys[mode]))
            style.mode = Mode(mode);
    }
    style.shown = parts.value(2).trimmed() != QLatin1String("0");
    return style;
}

PlotStyle::Mode PlotStyle::effectiveMode(bool prefersSteps) const
{
    if (mode != Auto)
        return mode;
    return prefersSteps ? Step : Line;
}

QString PlotStyle::modeName(Mode mode)
{
    switch (mode) {
    case Auto:
        return QCoreApplication::translate("PlotStyle", "Automatisch");
    case Line:
        return QCoreApplication::translate("PlotStyle", "Linie");
    case Step:
        return QCoreApplication::translate("PlotStyle", "Stufen");
    case Points:
        return QCoreApplication::translate("PlotStyle", "Punkte");
    }
    return QString();
}

namespace PlotDraw {

void toDisplay(const QList<QPointF> &points, double offset, bool steps, QList<QPointF> *out)
{
    out->resize(0);
    if (points.isEmpty())
        return;
    out->reserve(steps ? points.size() * 2 - 1 : points.size());
    const QPointF shift(offset, 0.0);
    out->append(points.constFirst() + shift);
    for (qsizetype i = 1; i < points.size(); ++i) {
        const QPointF point = points.at(i) + shift;
        // Hold the previous value up to this sample; samples that go back in
        // time get no horizontal run backwards.
        if (steps && point.x() >= out->constLast().x())
            out->append(QPointF(point.x(), out->constLast().y()));
        out->append(point);
    }
}

bool dotsOnLine(const QList<QPointF> &points, double windowSeconds, double widthPixels)
{
    if (points.size() >= DotsBelow)
        return false;
    if (points.size() < 2 || !(windowSeconds > 0.0) || !(widthPixels > 0.0))
        return true;
    double first = points.constFirst().x();
    double last = first;
    for (const QPointF &point : points) {
        first = std::min(first, point.x());
        last = std::max(last, point.x());
    }
    const double spacing = (last - first) / windowSeconds * widthPixels / double(points.size() - 1);
    return !(spacing < DotSpacing);   // NaN times: dots, as without a width
}

} // namespace PlotDraw
