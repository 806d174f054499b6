#include "walkpreview.h"

#include <QPainter>
#include <QPainterPath>

void WalkPreview::setAnchors(const QVector<QPointF>& positions, const QStringList& ids)
{
    anchors = positions;
    anchorIds = ids;
    update();
}

void WalkPreview::setWalk(const QVector<QPointF>& points)
{
    walk = points;
    update();
}

void WalkPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setPen(palette().mid().color());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    QRectF bounds;
    for (const QVector<QPointF>* set : {&anchors, &walk})
        for (const QPointF& q : *set)
            bounds = bounds.isNull() ? QRectF(q, QSizeF(1, 1)) : bounds.united(QRectF(q, QSizeF(1, 1)));
    if (bounds.isNull())
        return;
    // Same scale on both axes, y up as on the chart.
    const QRectF area = QRectF(rect()).adjusted(14, 14, -14, -14);
    const double scale = qMin(area.width() / qMax(1.0, bounds.width()), area.height() / qMax(1.0, bounds.height()));
    const QPointF middle = bounds.center();
    auto map = [&](const QPointF& q) {
        return QPointF(area.center().x() + (q.x() - middle.x()) * scale, area.center().y() - (q.y() - middle.y()) * scale);
    };
    p.setRenderHint(QPainter::Antialiasing);
    if (walk.size() > 1) {
        QPainterPath path(map(walk.first()));
        for (const QPointF& q : walk)
            path.lineTo(map(q));
        p.setPen(QPen(QColor(0x22, 0x77, 0xcc), 1.2));
        p.drawPath(path);
    }
    p.setPen(palette().text().color());
    for (int i = 0; i < anchors.size(); ++i) {
        const QPointF at = map(anchors.at(i));
        p.fillRect(QRectF(at - QPointF(3, 3), QSizeF(6, 6)), QColor(0xcc, 0x22, 0x22));
        p.drawText(at + QPointF(5, -4), anchorIds.value(i));
    }
}
