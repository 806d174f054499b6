#include "tag.h"

#include <QVector2D>

void Tag::updateAveragedPosition(int x, int y)
{
    prevAvgX = avgX;
    prevAvgY = avgY;
    avgX = x;
    avgY = y;
    lastStep = QVector2D(prevAvgX, prevAvgY).distanceToPoint(QVector2D(x, y));
}
