#include "chartdrawing.h"

#include "labelplacement.h"
#include "opaquestroke.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLineF>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QTransform>
#include <QVector>

#include <boost/geometry.hpp>
#include <boost/geometry/geometries/linestring.hpp>
#include <boost/geometry/geometries/point_xy.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Smallest v >= x with v = phase (mod step), step > 0.
qint64 ceilCongruent(qint64 x, qint64 phase, qint64 step)
{
    const qint64 diff = ((phase - x) % step + step) % step;
    return x + diff;
}

// The values v = phase (mod step) in [lo, hi], ascending. Where the lines
// would be closer than a pixel only the first one in each pixel column
// (column = floor((v + shift) / cmPerPixel)) is kept: the others would land on
// the same pixels, and drawing them all could take minutes for a wide grid.
QVector<qint64> gridValues(qint64 phase, qint64 step, qint64 lo, qint64 hi,
                           double shift, double cmPerPixel)
{
    QVector<qint64> values;
    if (step <= 0 || lo > hi)
        return values;
    qint64 v = ceilCongruent(lo, phase, step);
    while (v <= hi) {
        values.append(v);
        qint64 next = v + step;
        if (cmPerPixel > step) {
            const double column = std::floor((double(v) + shift) / cmPerPixel);
            const double boundary = std::ceil((column + 1) * cmPerPixel - shift);
            if (boundary > double(hi))
                break;
            if (boundary > double(next))
                next = ceilCongruent(qint64(boundary), phase, step);
        }
        v = next;
    }
    return values;
}

template <typename F>
void forEachValue(const QVector<qint64>& values, bool descending, F f)
{
    if (descending) {
        for (int i = values.size() - 1; i >= 0; --i)
            f(values.at(i));
    } else {
        for (qint64 v : values)
            f(v);
    }
}

QString trMain(const char* text)
{
    return QCoreApplication::translate("MainWin", text);
}

} // namespace

QPixmap renderGridLayer(const ChartGeometry& geo, bool drawGridLines, const QImage* background,
                        int bgOffsetX, int bgOffsetY, double bgFactor, const QVector<QRectF>& keepClear,
                        QVector<GridLabelBox>* labelBoxes, const QFont* font, bool drawLabels,
                        const QImage* shading, const QRectF& shadingRect)
{
    if (labelBoxes)
        labelBoxes->clear();
    QPixmap pixmap(qMax(geo.pixmapW, 0), qMax(geo.pixmapH, 0));
    if (pixmap.isNull() || geo.gridW <= 0 || geo.gridH <= 0)
        return pixmap;
    pixmap.fill(Qt::transparent);

    const double cpp = geo.cmPerPixel;
    QFont gridFont;
    if (font)
        gridFont = *font;
    else
        gridFont.setPixelSize(axisFontPixelSize(cpp));

    QPainter painter(&pixmap);
    painter.setWindow(0, 0, geo.gridW, geo.gridH);

    if (background && !background->isNull()) {
        const double left = double(qint64(geo.originX) + bgOffsetX);
        const double top = double(qint64(geo.originY) - bgOffsetY);
        const double w = std::trunc(background->width() * bgFactor);
        const double h = std::trunc(background->height() * bgFactor);
        if (std::isfinite(w) && std::isfinite(h))
            painter.drawImage(QRectF(left, top, w, h), *background);
    }
    // Over the floor plan, under the grid: cells stay sharp (no smoothing).
    if (shading && !shading->isNull())
        painter.drawImage(shadingRect, *shading);

    if (drawGridLines) {
        QPen linePen(Qt::darkGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
        QPen labelPen(Qt::black, 2 * cpp, Qt::SolidLine, Qt::RoundCap);
        QPen halfPen(Qt::lightGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
        QPen axisPen(Qt::darkGray, 2 * cpp, Qt::SolidLine, Qt::RoundCap);

        painter.setFont(gridFont);

        const qint64 gridX = geo.gridX, gridY = geo.gridY;
        const qint64 endX = gridX + geo.gridW, endY = gridY + geo.gridH;
        const qint64 stepX = qMax(geo.gridStepX, 1), stepY = qMax(geo.gridStepY, 1);
        const double top = 0, bottom = geo.gridH, left = 0, right = geo.gridW;
        // Lines running from zero towards negative values may lie beyond the far
        // edge; past a pen width they are invisible and are not drawn at all.
        const qint64 margin = qint64(std::ceil(2 * cpp)) + 2;
        const double shiftX = geo.originX;
        const double shiftY = -double(geo.originY);

        auto vertical = [&](qint64 x) {
            const double cx = double(geo.originX) + double(x);
            painter.setPen(linePen);
            // Bottom to top, like the world y axis: the dot pattern starts there.
            painter.drawLine(QLineF(cx, bottom, cx, top));
        };
        auto horizontal = [&](qint64 y) {
            const double cy = double(geo.originY) - double(y);
            painter.setPen(linePen);
            painter.drawLine(QLineF(left, cy, right, cy));
        };

        if (endX > 0)
            forEachValue(gridValues(0, stepX, qMax<qint64>(0, gridX + 1), endX - 1, shiftX, cpp),
                         false, [&](qint64 x) { vertical(x); });
        if (gridX < 0)
            forEachValue(gridValues(0, stepX, gridX + 1, qMin<qint64>(0, endX + margin), shiftX, cpp),
                         true, [&](qint64 x) { vertical(x); });
        if (endY > 0)
            forEachValue(gridValues(0, stepY, qMax<qint64>(0, gridY + 1), endY - 1, shiftY, cpp),
                         false, [&](qint64 y) { horizontal(y); });
        if (gridY < 0)
            forEachValue(gridValues(0, stepY, gridY + 1, qMin<qint64>(0, endY + margin), shiftY, cpp),
                         true, [&](qint64 y) { horizontal(y); });

        linePen = halfPen;
        const qint64 halfX = stepX / 2, halfY = stepY / 2;
        forEachValue(gridValues(halfX, stepX, qMax(halfX, gridX + 1), endX - 1, shiftX, cpp),
                     false, [&](qint64 x) { vertical(x); });
        forEachValue(gridValues(-halfX, stepX, gridX + 1, qMin(-halfX, endX + margin), shiftX, cpp),
                     true, [&](qint64 x) { vertical(x); });
        forEachValue(gridValues(halfY, stepY, qMax(halfY, gridY + 1), endY - 1, shiftY, cpp),
                     false, [&](qint64 y) { horizontal(y); });
        forEachValue(gridValues(-halfY, stepY, gridY + 1, qMin(-halfY, endY + margin), shiftY, cpp),
                     true, [&](qint64 y) { horizontal(y); });

        painter.setPen(axisPen);
        painter.drawLine(QLineF(geo.originX, bottom, geo.originX, top));
        painter.drawLine(QLineF(left, geo.originY, right, geo.originY));

        // Labels last, on white boxes aligned to whole pixels: no line runs
        // through them, and a frame can put a box back over whatever it drew
        // there by copying its pixels from this layer.
        const QFontMetricsF fm(gridFont);
        const QVector<AxisLabel> labels = axisLabels(geo, fm, keepClear);
        const QTransform toPixels = painter.combinedTransform();
        const QTransform toUnits = toPixels.inverted();
        const QRect all(0, 0, geo.pixmapW, geo.pixmapH);
        const double pad = cpp;   // a pixel of white before and after the text
        QVector<GridLabelBox> boxes;
        for (const AxisLabel& label : labels) {
            const QRect box = toPixels.mapRect(label.rect.adjusted(-pad, 0, pad, 0)).toAlignedRect() & all;
            boxes.append({box, toUnits.mapRect(QRectF(box))});
        }
        if (drawLabels) {
            painter.setWindow(all);
            for (const GridLabelBox& box : qAsConst(boxes))
                painter.fillRect(box.pixels, Qt::white);
            painter.setWindow(0, 0, geo.gridW, geo.gridH);
            painter.setPen(labelPen);
            for (const AxisLabel& label : labels)
                painter.drawText(labelBaseline(label.rect, fm), label.text);
        }
        if (labelBoxes)
            *labelBoxes = boxes;
    }
    painter.end();
    return pixmap;
}

namespace {

const int ScaleBarMargin = 6;   // pixels between the box and the chart's edges
const int ScaleBarPad = 4;      // white around the bar and its texts

struct ScaleBarParts
{
    QString text;
    int barLen, w0, tw, h;
};

ScaleBarParts scaleBarParts(const ChartGeometry& geo, const QFontMetrics& fm)
{
    ScaleBarParts p;
    p.text = QString::number(geo.gridStepX) + trMain(" cm");
    // One grid step, never wider than the chart.
    p.barLen = qBound(0, truncToInt(geo.gridStepX / geo.cmPerPixel), qMax(geo.pixmapW, 0));
    p.w0 = fm.horizontalAdvance(QStringLiteral("0"));
    p.tw = fm.horizontalAdvance(p.text);
    p.h = fm.height();
    return p;
}

QRect scaleBarBox(const ChartGeometry& geo, const ScaleBarParts& p, ScaleBarCorner corner)
{
    return cornerBox(geo, QSize(2 * ScaleBarPad + p.w0 + 5 + p.barLen + 5 + p.tw, 2 * ScaleBarPad + p.h), corner);
}

QRectF pixelRect(const ChartGeometry& geo, const QRectF& chartUnits)
{
    const double s = 1.0 / geo.cmPerPixel;
    return QRectF(chartUnits.left() * s, chartUnits.top() * s, chartUnits.width() * s,
                  chartUnits.height() * s);
}

// Chart-unit square around the dot at world (x, y), radiusPx pixels each way.
QRectF dotRect(const ChartGeometry& geo, double x, double y, double radiusPx)
{
    const double r = radiusPx * geo.cmPerPixel;
    return QRectF(geo.originX + x - r, geo.originY - y - r, 2 * r, 2 * r);
}

// The label font, made smaller where the text would not fit across the
// chart at all.
QFont fittedFont(const ChartGeometry& geo, const QFont& font, const QString& text, TextWidths& widths)
{
    QFont f = font;
    for (int i = 0; i < 8 && f.pixelSize() > 1; ++i) {
        const double w = widths.width(f, text);
        if (w <= geo.gridW)
            break;
        f.setPixelSize(qMax(1, qMin(f.pixelSize() - 1, int(f.pixelSize() * geo.gridW / w))));
    }
    return f;
}

QPointF chartPoint(const ChartGeometry& geo, double x, double y)
{
    return QPointF(double(geo.originX) + x, double(geo.originY) - y);
}

// A module label on a light backing, so it reads over grid lines, grid
// labels and distance circles alike.
void drawLabelText(QPainter* painter, const QFont& font, const QRectF& rect, const QString& text)
{
    painter->fillRect(rect, QColor(255, 255, 255, 190));
    painter->setFont(font);
    painter->drawText(labelBaseline(rect, QFontMetricsF(font)), text);
}

// Places a module label beside the dot at world (x, y), clear of what this
// pass has drawn so far, draws it and adds it to what was drawn.
void drawModuleLabel(QPainter* painter, const ChartGeometry& geo, ChartPens& pens, double x,
                     double y, const QString& text)
{
    const QFont font = fittedFont(geo, pens.labelFont, text, pens.labelWidths);
    const QFontMetricsF fm(font);
    const QRectF r = placeLabel(QRectF(0, 0, geo.gridW, geo.gridH), chartPoint(geo, x, y),
                                10 * geo.cmPerPixel, fm, pens.labelWidths.width(font, text), pens.placed);
    if (painter)
        drawLabelText(painter, font, r, text);
    pens.placed.append(r);
}

} // namespace

QRect scaleBarRect(const ChartGeometry& geo, const QFontMetrics& fm, ScaleBarCorner corner)
{
    return scaleBarBox(geo, scaleBarParts(geo, fm), corner);
}

namespace {

double coveredArea(const ChartGeometry& geo, const QRectF& box, const QVector<QRectF>& obstacles,
                   const QVector<QRectF>& circles)
{
    double area = 0;
    for (const QRectF& o : obstacles) {
        const QRectF i = box.intersected(pixelRect(geo, o));
        area += i.isValid() ? qMax(i.width() * i.height(), 1e-9) : 0.0;
    }
    // A circle crosses the box where its radius lies between the box's
    // nearest and farthest point from the centre; a crossing weighs as a
    // line of a few pixels across the box.
    for (const QRectF& square : circles) {
        const QRectF px = pixelRect(geo, square);
        const QPointF m = px.center();
        const double r = px.width() / 2;
        const double nx = qBound(box.left(), m.x(), box.left() + box.width()) - m.x();
        const double ny = qBound(box.top(), m.y(), box.top() + box.height()) - m.y();
        const double fx = qMax(qAbs(box.left() - m.x()), qAbs(box.left() + box.width() - m.x()));
        const double fy = qMax(qAbs(box.top() - m.y()), qAbs(box.top() + box.height() - m.y()));
        if (std::hypot(nx, ny) <= r + 2 && r - 2 <= std::hypot(fx, fy))
            area += 3.0 * box.width();
    }
    return area;
}

template <typename BoxOf>
ScaleBarCorner leastCovered(const ChartGeometry& geo, BoxOf boxOf, const QVector<QRectF>& obstacles,
                            const QVector<QRectF>& circles, const QVector<ScaleBarCorner>& order)
{
    ScaleBarCorner best = order.isEmpty() ? ScaleBarCorner::BottomLeft : order.first();
    double least = -1;
    for (ScaleBarCorner c : order) {
        const double a = coveredArea(geo, boxOf(c), obstacles, circles);
        if (least < 0 || a < least) {
            least = a;
            best = c;
        }
        if (a == 0)
            break;
    }
    return best;
}

} // namespace

ScaleBarCorner chooseScaleBarCorner(const ChartGeometry& geo, const QFontMetrics& fm,
                                    const QVector<QRectF>& obstacles, const QVector<QRectF>& circles)
{
    const ScaleBarParts parts = scaleBarParts(geo, fm);   // measured once for all four corners
    return leastCovered(geo, [&](ScaleBarCorner c) { return QRectF(scaleBarBox(geo, parts, c)); }, obstacles, circles,
                        {ScaleBarCorner::BottomLeft, ScaleBarCorner::BottomRight, ScaleBarCorner::TopRight,
                         ScaleBarCorner::TopLeft});
}

QRect cornerBox(const ChartGeometry& geo, const QSize& size, ScaleBarCorner corner)
{
    const bool left = corner == ScaleBarCorner::BottomLeft || corner == ScaleBarCorner::TopLeft;
    const bool bottom = corner == ScaleBarCorner::BottomLeft || corner == ScaleBarCorner::BottomRight;
    return QRect(left ? ScaleBarMargin : geo.pixmapW - ScaleBarMargin - size.width(),
                 bottom ? geo.pixmapH - ScaleBarMargin - size.height() : ScaleBarMargin, size.width(), size.height());
}

ScaleBarCorner chooseFreeCorner(const ChartGeometry& geo, const QSize& size, const QVector<QRectF>& obstacles,
                                const QVector<QRectF>& circles, const QVector<ScaleBarCorner>& order)
{
    return leastCovered(geo, [&](ScaleBarCorner c) { return QRectF(cornerBox(geo, size, c)); }, obstacles, circles,
                        order);
}

QVector<QRectF> anchorItemRects(const ChartGeometry& geo, const ChartPens& pens,
                                const QList<Anchor>& anchors)
{
    QVector<QRectF> rects;
    for (const Anchor& a : anchors)
        rects.append(dotRect(geo, a.x, a.y, a.master ? 10 : 5));
    const QRectF area(0, 0, geo.gridW, geo.gridH);
    for (const Anchor& a : anchors) {
        const QFont font = fittedFont(geo, pens.labelFont, a.name, pens.labelWidths);
        rects.append(placeLabel(area, chartPoint(geo, a.x, a.y), 10 * geo.cmPerPixel, QFontMetricsF(font),
                                pens.labelWidths.width(font, a.name), rects));
    }
    return rects;
}

void drawScaleBar(QPainter* painter, const ChartGeometry& geo, ScaleBarCorner corner)
{
    const QFontMetrics fm = painter->fontMetrics();
    const ScaleBarParts p = scaleBarParts(geo, fm);
    const QRect box = scaleBarBox(geo, p, corner);
    const int half = p.barLen / 2;
    const int x = box.left() + ScaleBarPad;
    const int top = box.top() + ScaleBarPad;
    const int baseline = top + fm.ascent();
    const int barX = x + p.w0 + 5;

    painter->setPen(Qt::black);
    {
        const OpaqueStroke opaque(painter, Qt::black);   // white and black alike
        painter->fillRect(box, Qt::white);
        painter->setBrush(QBrush(Qt::black, Qt::SolidPattern));
        painter->drawRect(QRect(barX + half, top, half, p.h - 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRect(barX, top, half, p.h - 1));
    }
    painter->drawText(QPoint(x, baseline), QStringLiteral("0"));
    painter->drawText(QPoint(barX + p.barLen + 5, baseline), p.text);
}

void drawAnchorItems(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const QList<Anchor>& anchors)
{
    // The anchors come first in every pass: what the last one placed is over.
    pens.placed = anchorItemRects(geo, pens, anchors);
    if (anchors.isEmpty() || !painter)
        return;
    for (int i = 0; i < anchors.size(); ++i) {
        const Anchor& a = anchors.at(i);
        const double cx = double(geo.originX) + a.x;
        const double cy = double(geo.originY) - a.y;

        // A square, so an anchor never looks like a tag's disc.
        pens.anchorPen.setColor(a.color);
        painter->setPen(pens.anchorPen);   // the name is written in it
        const double h = pens.anchorPen.widthF() / 2;
        painter->fillRect(QRectF(cx - h, cy - h, 2 * h, 2 * h), a.color);

        drawLabelText(painter, fittedFont(geo, pens.labelFont, a.name, pens.labelWidths),
                      pens.placed.at(anchors.size() + i), a.name);

        if (a.master) {
            pens.masterRingPen.setColor(a.color);
            const double r = pens.anchorPen.width();
            painter->setPen(pens.masterRingPen);
            painter->setBrush(Qt::NoBrush);
            const OpaqueStroke opaque(painter, a.color);
            painter->drawEllipse(QRectF(cx - r, cy - r, 2 * r, 2 * r));
        }
    }
}

void drawDistanceCircle(QPainter* painter, const ChartGeometry& geo, QPen& pen,
                        const Anchor& anchor, int radius, const QColor& color)
{
    const double cx = double(geo.originX) + anchor.x;
    const double cy = double(geo.originY) - anchor.y;
    const double d = radius;
    pen.setColor(color);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const OpaqueStroke opaque(painter, color);
    painter->drawEllipse(QRectF(cx - d, cy - d, 2 * d, 2 * d));
}

void drawRawPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const Tag& tag, float x, float y)
{
    if (painter) {
        const double cx = std::trunc(double(geo.originX) + double(x));
        const double cy = std::trunc(double(geo.originY) - double(y));
        const double r = 4 * geo.cmPerPixel;   // 8 px across, hollow: beside the disc it reads as its raw source
        pens.rawPointPen.setColor(tag.color);
        painter->setPen(pens.rawPointPen);
        painter->setBrush(Qt::NoBrush);
        const OpaqueStroke opaque(painter, tag.color);
        painter->drawEllipse(QRectF(cx - r, cy - r, 2 * r, 2 * r));
    }
    pens.placed.append(dotRect(geo, double(x), double(y), 5));
}

QString averagedLabel(const Tag& tag, double rate, int plusMinusCm)
{
    QString parts;
    if (tag.showCoordinates)
        parts += trMain("X: %1 cm Y: %2 cm").arg(tag.avgX).arg(tag.avgY);
    if (tag.showCoordinates && plusMinusCm >= 0)
        parts += trMain(" ±%1 cm").arg(plusMinusCm);
    if (tag.showSpeed) {
        if (!parts.isEmpty())
            parts += QLatin1Char(' ');
        parts += trMain("%1 m/s").arg(tag.speed(), 0, 'f', 1);
    }
    if (tag.showRate) {
        if (!parts.isEmpty())
            parts += QLatin1Char(' ');
        parts += trMain("%1 Hz").arg(rate, 0, 'f', 1);
    }
    if (parts.isEmpty())
        return tag.name;
    return trMain("%1 [%2]").arg(tag.name, parts);
}

void drawAveragedPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                          const Tag& tag, double rate, int plusMinusCm)
{
    if (painter) {
        const double cx = double(geo.originX) + tag.avgX;
        const double cy = double(geo.originY) - tag.avgY;
        pens.avgPointPen.setColor(tag.color);
        painter->setPen(pens.avgPointPen);
        const OpaqueStroke opaque(painter, tag.color);
        painter->drawPoint(QPointF(cx, cy));
    }
    pens.placed.append(dotRect(geo, tag.avgX, tag.avgY, 5));
    drawModuleLabel(painter, geo, pens, tag.avgX, tag.avgY, averagedLabel(tag, rate, plusMinusCm));
}

void drawUncertaintyEllipse(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                            const Tag& tag, const ErrorEllipse& ellipse)
{
    // An ellipse far beyond the chart says nothing a viewer could see, and
    // would cost the antialiasing dearly.
    const double limit = 4.0 * (double(geo.gridW) + double(geo.gridH));
    if (!painter || !ellipse.valid || !(ellipse.major <= limit))
        return;
    QColor line = tag.color, fill = tag.color;
    line.setAlpha(160);
    fill.setAlpha(40);
    pens.ellipsePen.setColor(line);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(pens.ellipsePen);
    painter->setBrush(fill);
    painter->translate(double(geo.originX) + tag.avgX, double(geo.originY) - tag.avgY);
    painter->rotate(-ellipse.angleDeg);   // world y points up, the chart's down
    painter->drawEllipse(QPointF(0, 0), ellipse.major, ellipse.minor);
    painter->restore();
}

namespace {

// The points of `run` that a line through them keeps within `tolerance` of
// every dropped one (Douglas-Peucker), ends kept. A trail has a point every
// few centimetres, most of them on a straight stretch at the screen's scale:
// each one stroked costs time and changes no visible pixel.
QPolygonF simplifiedTrailRun(const QPolygonF& run, double tolerance)
{
    if (run.size() < 3)
        return run;
    namespace bg = boost::geometry;
    using Point = bg::model::d2::point_xy<double>;
    bg::model::linestring<Point> line, kept;
    line.reserve(size_t(run.size()));
    for (const QPointF& p : run)
        line.emplace_back(p.x(), p.y());
    bg::simplify(line, kept, tolerance);
    QPolygonF out;
    out.reserve(int(kept.size()));
    for (const Point& p : kept)
        out.append(QPointF(p.x(), p.y()));
    return out;
}

} // namespace

void drawTrail(QPainter* painter, const ChartGeometry& geo, ChartPens& pens, const QColor& color,
               const QVector<TrailPoint>& trail)
{
    if (!painter || trail.size() < 2)
        return;
    painter->save();
    // Without antialiasing: a translucent wide line of a few hundred points
    // would cost more than the rest of the frame.
    painter->setRenderHint(QPainter::Antialiasing, false);
    // One polyline per fade level: the points come oldest first, so each
    // level is one run of them, joined to the next by its first point.
    QPolygonF run;
    auto flush = [&](int fade) {
        if (run.size() >= 2) {
            QColor c = color;
            c.setAlpha(220 - 200 * fade / (TrailPoint::Levels - 1));
            pens.trailPen.setColor(c);
            painter->setPen(pens.trailPen);
            // Half a pixel off at most: the edges of a 3-pixel line move by
            // a pixel here and there, the line does not.
            painter->drawPolyline(simplifiedTrailRun(run, 0.5 * geo.cmPerPixel));
        }
    };
    int level = trail.first().fade;
    for (const TrailPoint& p : trail) {
        const QPointF at(double(geo.originX) + p.x, double(geo.originY) - p.y);
        run.append(at);
        if (p.fade != level) {
            flush(level);
            run.clear();
            run.append(at);
            level = p.fade;
        }
    }
    flush(level);
    painter->restore();
}
