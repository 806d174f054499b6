#include "labelplacement.h"

#include <QLatin1Char>

namespace {

// Moves r the least distance that brings it inside area (its left and top
// edge win when it is larger than area).
QRectF pulledInside(QRectF r, const QRectF& area)
{
    if (r.right() > area.right())
        r.moveRight(area.right());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    if (r.bottom() > area.bottom())
        r.moveBottom(area.bottom());
    if (r.top() < area.top())
        r.moveTop(area.top());
    return r;
}

// Smallest k of 1, 2, 5, 10, 20, 50, ... with k * step >= need.
qint64 labelStride(qint64 step, double need)
{
    for (qint64 decade = 1; decade < (qint64(1) << 50); decade *= 10)
        for (int m : {1, 2, 5})
            if (double(decade * m) * double(step) >= need)
                return decade * m;
    return qint64(1) << 50;
}

// Smallest multiple of step (> 0) that is greater than v.
qint64 multipleAbove(qint64 v, qint64 step)
{
    qint64 q = v / step;
    if (q * step > v)
        --q;   // division truncated a negative value upwards
    return (q + 1) * step;
}

QString cmText(qint64 v)
{
    return QString::number(v) + QStringLiteral(" cm");
}

} // namespace

QRectF placeLabel(const QRectF& area, const QPointF& dot, double gap, const QFontMetricsF& fm,
                  const QString& text, const QVector<QRectF>& avoid)
{
    return placeLabel(area, dot, gap, fm, fm.horizontalAdvance(text), avoid);
}

QRectF placeLabel(const QRectF& area, const QPointF& dot, double gap, const QFontMetricsF& fm,
                  double w, const QVector<QRectF>& avoid)
{
    const double h = fm.ascent() + fm.descent();
    const QRectF places[] = {
        QRectF(dot.x() + gap, dot.y() - fm.ascent(), w, h),   // right
        QRectF(dot.x() - gap - w, dot.y() - fm.ascent(), w, h),   // left
        QRectF(dot.x() - w / 2, dot.y() + gap, w, h),          // below
        QRectF(dot.x() - w / 2, dot.y() - gap - h, w, h),      // above
        // A line lower or higher beside the dot, before giving up on a free place.
        QRectF(dot.x() + gap, dot.y() - fm.ascent() + h, w, h),
        QRectF(dot.x() + gap, dot.y() - fm.ascent() - h, w, h),
        QRectF(dot.x() - gap - w, dot.y() - fm.ascent() + h, w, h),
        QRectF(dot.x() - gap - w, dot.y() - fm.ascent() - h, w, h),
    };
    if (!area.contains(dot))
        return places[0];
    auto clear = [&](const QRectF& r) {
        for (const QRectF& a : avoid)
            if (r.intersects(a))
                return false;
        return true;
    };
    for (const QRectF& r : places)
        if (area.contains(r) && clear(r))
            return r;
    for (const QRectF& r : places)
        if (area.contains(r))
            return r;
    return pulledInside(dot.y() + gap + h <= area.bottom() ? places[2] : places[3], area);
}

QPointF labelBaseline(const QRectF& rect, const QFontMetricsF& fm)
{
    return QPointF(rect.left(), rect.top() + fm.ascent());
}

QVector<AxisLabel> axisLabels(const ChartGeometry& geo, const QFontMetricsF& fm,
                              const QVector<QRectF>& keepClear)
{
    QVector<AxisLabel> labels;
    if (geo.gridW <= 0 || geo.gridH <= 0)
        return labels;
    const double cpp = geo.cmPerPixel;
    const QRectF area(0, 0, geo.gridW, geo.gridH);
    const double height = fm.ascent() + fm.descent();
    const double space = fm.horizontalAdvance(QLatin1Char(' '));
    const qint64 gridX = geo.gridX, endX = gridX + geo.gridW;
    const qint64 gridY = geo.gridY, endY = gridY + geo.gridH;

    // Labels only ever touch their neighbours on the same axis when the step is
    // shorter than the widest label (x) or a text line (y).
    const qint64 stepX = qMax(geo.gridStepX, 1), stepY = qMax(geo.gridStepY, 1);
    const double widestX = qMax(fm.horizontalAdvance(cmText(gridX)), fm.horizontalAdvance(cmText(endX)));
    const qint64 everyX = stepX * labelStride(stepX, widestX + 2 * space);
    const qint64 everyY = stepY * labelStride(stepY, height + space);

    // Below the x axis; above it where the bottom edge is in the way.
    const double belowTop = geo.originY + 7 * cpp;   // clear of dots and descenders on the axis
    const double aboveBottom = geo.originY - 5 * cpp;
    QVector<AxisLabel> candidates;
    // The axes' crossing carries its "0", below it and left of the y axis,
    // clear of a master's ring there; it goes first, so neighbours give way.
    if (area.contains(QPointF(geo.originX, geo.originY))) {
        const QString zero = QStringLiteral("0");
        const double w = fm.horizontalAdvance(zero);
        QRectF r(geo.originX - 16 * cpp - w, belowTop, w, height);
        if (r.bottom() > area.bottom())
            r.moveBottom(aboveBottom);
        candidates.append({zero, pulledInside(r, area)});
    }
    for (qint64 x = multipleAbove(gridX, everyX); x < endX; x += everyX) {
        if (x == 0)
            continue;
        const QString text = cmText(x);
        QRectF r(double(geo.originX) + double(x), belowTop, fm.horizontalAdvance(text), height);
        if (r.bottom() > area.bottom())
            r.moveBottom(aboveBottom);
        candidates.append({text, pulledInside(r, area)});
    }
    // Right of the y axis just above the line; left of the axis where the
    // right edge is in the way.
    const double rightOf = geo.originX + 5 * cpp;
    for (qint64 y = multipleAbove(gridY, everyY); y < endY; y += everyY) {
        if (y == 0)
            continue;
        const QString text = cmText(y);
        const double w = fm.horizontalAdvance(text);
        QRectF r(rightOf, 0, w, height);
        r.moveBottom(double(geo.originY) - double(y) - 2 * cpp);
        if (r.right() > area.right())
            r.moveRight(geo.originX - 5 * cpp);
        candidates.append({text, pulledInside(r, area)});
    }

    // Where the axes run along an edge the two sets can meet: the first label
    // placed wins. Modules (anchors on an axis) win over grid labels.
    const double halfSpace = space / 2;
    for (const AxisLabel& c : qAsConst(candidates)) {
        const QRectF grown = c.rect.adjusted(-halfSpace, 0, halfSpace, 0);
        bool clear = true;
        for (const AxisLabel& l : qAsConst(labels))
            clear = clear && !grown.intersects(l.rect.adjusted(-halfSpace, 0, halfSpace, 0));
        for (const QRectF& r : keepClear)
            clear = clear && !grown.intersects(r);
        if (clear)
            labels.append(c);
    }
    return labels;
}
