#include "chartdrawing.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>

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

int clampToInt(qint64 v)
{
    return int(qBound<qint64>(std::numeric_limits<int>::min(), v,
                              std::numeric_limits<int>::max()));
}

QString trMain(const char* text)
{
    return QCoreApplication::translate("MainWin", text);
}

} // namespace

QPixmap renderGridLayer(const ChartGeometry& geo, bool drawGridLines, const QImage* background,
                        int bgOffsetX, int bgOffsetY, double bgFactor)
{
    QPixmap pixmap(qMax(geo.pixmapW, 0), qMax(geo.pixmapH, 0));
    if (pixmap.isNull() || geo.gridW <= 0 || geo.gridH <= 0)
        return pixmap;
    pixmap.fill(Qt::transparent);

    const double cpp = geo.cmPerPixel;
    QFont gridFont;
    gridFont.setPixelSize(scaledFontPixelSize(10, cpp, 6));

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

    if (drawGridLines) {
        QPen linePen(Qt::darkGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
        QPen labelPen(Qt::black, 2 * cpp, Qt::SolidLine, Qt::RoundCap);
        QPen halfPen(Qt::lightGray, 2 * cpp, Qt::DotLine, Qt::RoundCap);
        QPen axisPen(Qt::darkGray, 2 * cpp, Qt::SolidLine, Qt::RoundCap);

        painter.setFont(gridFont);
        const int fontHeight = painter.fontMetrics().height();
        const double labelY = std::trunc(1.5 * fontHeight + (geo.originY - 5 * cpp));
        const double labelX = std::trunc(geo.originX + 5 * cpp);
        const double fontPixelSize = gridFont.pixelSize();

        const qint64 gridX = geo.gridX, gridY = geo.gridY;
        const qint64 endX = gridX + geo.gridW, endY = gridY + geo.gridH;
        const qint64 stepX = qMax(geo.gridStepX, 1), stepY = qMax(geo.gridStepY, 1);
        const double top = 0, bottom = geo.gridH, left = 0, right = geo.gridW;
        // Lines running from zero towards negative values may lie beyond the far
        // edge; past a pen width they are invisible and are not drawn at all.
        const qint64 margin = qint64(std::ceil(2 * cpp)) + 2;
        const double shiftX = geo.originX;
        const double shiftY = -double(geo.originY);

        auto vertical = [&](qint64 x, bool label) {
            const double cx = double(geo.originX) + double(x);
            painter.setPen(linePen);
            // Bottom to top, like the world y axis: the dot pattern starts there.
            painter.drawLine(QLineF(cx, bottom, cx, top));
            if (label && x != 0) {
                painter.setPen(labelPen);
                painter.drawText(QPointF(cx, labelY), QString::number(x) + QStringLiteral(" cm"));
            }
        };
        auto horizontal = [&](qint64 y, bool label) {
            const double cy = double(geo.originY) - double(y);
            painter.setPen(linePen);
            painter.drawLine(QLineF(left, cy, right, cy));
            if (label && y != 0) {
                painter.setPen(labelPen);
                painter.drawText(QPointF(labelX, cy - fontPixelSize),
                                 QString::number(y) + QStringLiteral(" cm"));
            }
        };

        if (endX > 0)
            forEachValue(gridValues(0, stepX, qMax<qint64>(0, gridX + 1), endX - 1, shiftX, cpp),
                         false, [&](qint64 x) { vertical(x, true); });
        if (gridX < 0)
            forEachValue(gridValues(0, stepX, gridX + 1, qMin<qint64>(0, endX + margin), shiftX, cpp),
                         true, [&](qint64 x) { vertical(x, true); });
        if (endY > 0)
            forEachValue(gridValues(0, stepY, qMax<qint64>(0, gridY + 1), endY - 1, shiftY, cpp),
                         false, [&](qint64 y) { horizontal(y, true); });
        if (gridY < 0)
            forEachValue(gridValues(0, stepY, gridY + 1, qMin<qint64>(0, endY + margin), shiftY, cpp),
                         true, [&](qint64 y) { horizontal(y, true); });

        linePen = halfPen;
        const qint64 halfX = stepX / 2, halfY = stepY / 2;
        forEachValue(gridValues(halfX, stepX, qMax(halfX, gridX + 1), endX - 1, shiftX, cpp),
                     false, [&](qint64 x) { vertical(x, false); });
        forEachValue(gridValues(-halfX, stepX, gridX + 1, qMin(-halfX, endX + margin), shiftX, cpp),
                     true, [&](qint64 x) { vertical(x, false); });
        forEachValue(gridValues(halfY, stepY, qMax(halfY, gridY + 1), endY - 1, shiftY, cpp),
                     false, [&](qint64 y) { horizontal(y, false); });
        forEachValue(gridValues(-halfY, stepY, gridY + 1, qMin(-halfY, endY + margin), shiftY, cpp),
                     true, [&](qint64 y) { horizontal(y, false); });

        painter.setPen(axisPen);
        painter.drawLine(QLineF(geo.originX, bottom, geo.originX, top));
        painter.drawLine(QLineF(left, geo.originY, right, geo.originY));
    }
    painter.end();
    return pixmap;
}

void drawScaleBar(QPainter* painter, const ChartGeometry& geo)
{
    const QString text = QString::number(geo.gridStepX) + trMain(" cm");
    const qint64 barLen = truncToInt(geo.gridStepX / geo.cmPerPixel);
    const QFontMetrics fm = painter->fontMetrics();
    const qint64 w0 = fm.horizontalAdvance(QStringLiteral("0"));
    const qint64 tw = fm.horizontalAdvance(text);
    const qint64 h = fm.height();
    const qint64 half = barLen / 2;
    const qint64 quarter = h / 4;
    const qint64 base = qint64(geo.pixmapH) - h;
    const int barTop = clampToInt(base - h);
    const int textY = clampToInt(base - quarter);

    painter->setPen(Qt::white);
    painter->setBrush(QBrush(Qt::white, Qt::SolidPattern));
    painter->drawRect(QRect(10, barTop, clampToInt(barLen + w0 + tw), int(h)));

    painter->setPen(Qt::black);
    painter->setBrush(QBrush(Qt::black, Qt::SolidPattern));
    painter->drawText(QPoint(10, textY), QStringLiteral("0"));
    painter->drawRect(QRect(clampToInt(w0 + 15 + half), barTop, clampToInt(half), int(h)));

    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(clampToInt(w0 + 15), barTop, clampToInt(half), int(h)));
    painter->drawText(QPoint(clampToInt(barLen + w0 + 20), textY), text);
}

void drawAnchorItems(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const QList<Anchor>& anchors)
{
    if (anchors.isEmpty())
        return;
    for (const Anchor& a : anchors) {
        const double cx = double(geo.originX) + a.x;
        const double cy = double(geo.originY) - a.y;

        pens.anchorPen.setColor(a.color);
        painter->setFont(pens.labelFont);
        painter->setPen(pens.anchorPen);
        painter->drawPoint(QPointF(cx, cy));

        const double textX = std::trunc(10 * geo.cmPerPixel + a.x + geo.originX);
        painter->drawText(QPointF(textX, cy), a.name);

        if (a.master) {
            pens.masterRingPen.setColor(a.color);
            const double r = pens.anchorPen.width();
            painter->setPen(pens.masterRingPen);
            painter->setBrush(Qt::NoBrush);
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
    painter->drawEllipse(QRectF(cx - d, cy - d, 2 * d, 2 * d));
}

void drawRawPosition(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                     const Tag& tag, float x, float y)
{
    const double cy = std::trunc(double(geo.originY) - double(y));
    pens.rawPointPen.setColor(tag.color);
    painter->setFont(pens.labelFont);
    painter->setPen(pens.rawPointPen);
    painter->drawPoint(QPointF(std::trunc(double(geo.originX) + double(x)), cy));
    const double textX = std::trunc(geo.originX + (10 * geo.cmPerPixel + double(x)));
    painter->drawText(QPointF(textX, cy), tag.name);
}

QString averagedLabel(const Tag& tag, double rate)
{
    QString parts;
    if (tag.showCoordinates)
        parts += trMain("X: %1 cm Y: %2 cm").arg(tag.avgX).arg(tag.avgY);
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
                          const Tag& tag, double rate)
{
    const double cx = double(geo.originX) + tag.avgX;
    const double cy = double(geo.originY) - tag.avgY;
    pens.avgPointPen.setColor(tag.color);
    painter->setFont(pens.labelFont);
    painter->setPen(pens.avgPointPen);
    painter->drawPoint(QPointF(cx, cy));
    const double textX = std::trunc(cx + 10 * geo.cmPerPixel);
    painter->drawText(QPointF(textX, cy), averagedLabel(tag, rate));
}
