#include "tag.h"

#include <QVector2D>
#include <cmath>

void Tag::updateAveragedPosition(int x, int y)
{
    prevAvgX = avgX;
    prevAvgY = avgY;
    avgX = x;
    avgY = y;
    lastStep = QVector2D(prevAvgX, prevAvgY).distanceToPoint(QVector2D(x, y));
}

double Tag::speed() const
{
    // The first averaged update measures from the marker, not from a position.
    if (prevAvgX == NoPosition || prevAvgY == NoPosition)
        return 0.0;
    const qint64 dt = lastUpdateMs - prevUpdateMs;
    if (dt <= 0)
        return 0.0;
    return std::fabs(10.0 * lastStep / double(dt));
}
