#include "chartzone.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

QPointF worldToPixel(const ChartGeometry& geo, const QPointF& world)
{
    const double s = geo.cmPerPixel > 0 ? geo.cmPerPixel : 1.0;
    return QPointF((geo.originX + world.x()) / s, (geo.originY - world.y()) / s);
}

namespace {

QPolygonF toPixels(const ChartGeometry& geo, const QPolygonF& corners)
{
    QPolygonF out;
    out.reserve(corners.size());
    for (const QPointF& c : corners)
        out << worldToPixel(geo, c);
    return out;
}

// The label's place: the middle of the corners, or, where that falls outside
// (an L), the middle of the widest row through the middle's height.
QPointF labelPoint(const QPolygonF& polygon)
{
    const QRectF box = polygon.boundingRect();
    QPointF centre = box.center();
    if (polygon.containsPoint(centre, Qt::OddEvenFill))
        return centre;
    double best = -1;
    for (int row = 1; row < 8; ++row) {
        const double y = box.top() + box.height() * row / 8.0;
        for (int col = 1; col < 16; ++col) {
            const QPointF p(box.left() + box.width() * col / 16.0, y);
            if (!polygon.containsPoint(p, Qt::OddEvenFill))
                continue;
            const double d = qMin(qAbs(p.y() - box.center().y()), 1e9) + qAbs(p.x() - box.center().x()) * 0.5;
            if (best < 0 || d < best)
                best = d, centre = p;
        }
    }
    return centre;
}

} // namespace

void drawChartZones(QPainter* painter, const ChartGeometry& geo, const QVector<ChartZone>& zones, const QFont& font)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setFont(font);
    const QFontMetricsF fm(font);
    for (const ChartZone& z : zones) {
        const QPolygonF polygon = toPixels(geo, z.corners);
        QColor fill = z.color;
        fill.setAlpha(50);
        painter->setBrush(fill);
        painter->setPen(QPen(z.color.darker(120), 1.5));
        painter->drawPolygon(polygon);
        const QPointF at = labelPoint(polygon);
        const QRectF text = fm.boundingRect(z.label);
        QRectF box(at.x() - text.width() / 2 - 3, at.y() - text.height() / 2 - 1, text.width() + 6, text.height() + 2);
        QColor back(Qt::white);
        back.setAlpha(170);
        painter->setPen(Qt::NoPen);
        painter->setBrush(back);
        painter->drawRoundedRect(box, 3, 3);
        painter->setPen(z.color.darker(160));
        painter->drawText(box, Qt::AlignCenter, z.label);
    }
    painter->restore();
}
