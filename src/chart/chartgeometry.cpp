#include "chartgeometry.h"

#include <QtGlobal>
#include <cmath>
#include <limits>

int truncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    const double t = std::trunc(v);
    if (t >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (t <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(t);
}

static bool fitsInt(qint64 v)
{
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

int niceStep(int r)
{
    for (int p = 100000000; p >= 100; p /= 10) {
        if (p / 10 < r && r <= p) {
            if (r == p)
                return p;
            if (r > p / 7)
                return p;
            return p / 10;
        }
    }
    return qMax(r, 10);
}

bool computeChartGeometry(int gridX, int gridY, int gridW, int gridH,
                          int containerW, int containerH, ChartGeometry& geo, bool fill)
{
    if (gridW <= 0 || gridH <= 0 || containerW <= 0 || containerH <= 0)
        return false;

    const double s = qMin(double(containerW) / gridW, double(containerH) / gridH);
    const double cmPerPixel = 1.0 / s;

    // gridW * s never exceeds the container, so these stay small.
    const double pw = std::trunc(double(gridW) * s);
    const double ph = std::trunc(double(gridH) * s);
    if (!(pw >= 1.0 && ph >= 1.0 && pw <= std::numeric_limits<int>::max()
          && ph <= std::numeric_limits<int>::max()))
        return false;

    const qint64 originY = qint64(gridH) + gridY;
    const qint64 originX = -qint64(gridX);
    if (!fitsInt(originX) || !fitsInt(originY))
        return false;

    // Square grid cells: both directions use the finer step of the asked rectangle.
    const int step = qMin(niceStep(gridW / 10), niceStep(gridH / 10));
    int shownY = gridY, shownW = gridW, shownH = gridH;
    double pixW = pw, pixH = ph;
    if (fill) {
        // Whole centimetres that cover the container; the world keeps its
        // top-left corner, so origin and scale stay as they are.
        const double wideW = std::round(containerW * cmPerPixel), wideH = std::round(containerH * cmPerPixel);
        const double y0 = double(gridY) - (wideH - gridH);
        if (wideW >= gridW && wideH >= gridH && double(gridX) + wideW <= std::numeric_limits<int>::max()
            && wideW <= std::numeric_limits<int>::max() && wideH <= std::numeric_limits<int>::max()
            && y0 >= std::numeric_limits<int>::min()) {
            shownW = int(wideW);
            shownH = int(wideH);
            shownY = int(y0);
            pixW = qMin(double(containerW), std::round(wideW * s));
            pixH = qMin(double(containerH), std::round(wideH * s));
        }
    }

    geo.gridX = gridX;
    geo.gridY = shownY;
    geo.gridW = shownW;
    geo.gridH = shownH;
    geo.cmPerPixel = cmPerPixel;
    geo.pixmapW = int(pixW);
    geo.pixmapH = int(pixH);
    geo.originX = int(originX);
    geo.originY = int(originY);
    geo.gridStepX = step;
    geo.gridStepY = step;
    return true;
}

QPoint pixelToWorld(const ChartGeometry& geo, const QPointF& pixel)
{
    const double x = std::trunc(pixel.x() * geo.cmPerPixel - geo.originX);
    const double y = -std::trunc(pixel.y() * geo.cmPerPixel - geo.originY);
    return QPoint(truncToInt(x), truncToInt(y));
}
