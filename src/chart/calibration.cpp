#include "calibration.h"

#include <QLineF>
#include <QPointF>
#include <QVector2D>

#include <cmath>

void drawCalibrationMarks(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                          const Calibration& c)
{
    const QPointF origin(double(geo.originX) + c.originX, double(geo.originY) - c.originY);
    const QPointF point(double(geo.originX) + c.pointX, double(geo.originY) - c.pointY);
    if (c.originSet) {
        pens.calibrationPen.setColor(Qt::red);
        painter->setPen(pens.calibrationPen);
        painter->drawPoint(origin);
    }
    if (c.pointSet) {
        pens.calibrationPen.setColor(Qt::green);
        painter->setPen(pens.calibrationPen);
        painter->drawPoint(point);
    }
    if (c.originSet && c.pointSet) {
        pens.rawCirclePen.setColor(Qt::green);
        painter->setPen(pens.rawCirclePen);
        painter->drawLine(QLineF(origin, point));
    }
}

bool computeCalibration(const Calibration& c, int imageW, int imageH, CalibrationResult& out)
{
    const float p = QVector2D(c.originX, c.originY).distanceToPoint(QVector2D(c.pointX, c.pointY));
    if (!(p > 0.0f) || !std::isfinite(p))
        return false;

    const double factor = double(c.distance) / double(p);
    const double offsetX = std::trunc(factor * -double(c.originX));
    const double offsetY = std::trunc((double(imageH) - double(c.originY)) * factor);
    // The fitted grid uses the offset as stored, so clamp first.
    const int ox = truncToInt(offsetX);
    const int oy = truncToInt(offsetY);

    out.factor = factor;
    out.offsetX = ox;
    out.offsetY = oy;
    out.gridX = ox;
    out.gridY = truncToInt(-std::trunc(double(imageH) * factor - oy));
    out.gridW = truncToInt(double(imageW) * factor);
    out.gridH = truncToInt(double(imageH) * factor);
    return true;
}
