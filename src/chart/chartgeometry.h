#ifndef CHARTGEOMETRY_H
#define CHARTGEOMETRY_H

#include <QPoint>
#include <QPointF>

// Mapping between world centimetres (y up), chart units (the painter window
// (0, 0, gridW, gridH), y down) and pixmap pixels.
struct ChartGeometry
{
    int gridX = 0, gridY = 0, gridW = 0, gridH = 0;   // shown world rectangle, cm
    int originX = 0, originY = 0;                     // chart units of world (0, 0)
    double cmPerPixel = 1.0;
    int pixmapW = 0, pixmapH = 0;
    int gridStepX = 0, gridStepY = 0;                 // labelled grid spacing, cm
};

// Spacing of the labelled grid lines for r = a tenth of the shown size.
int niceStep(int r);

// Fits the world rectangle into the container keeping the aspect ratio.
// With fill, the container's remaining width or height shows more of the
// world at the same scale, to the right of and below the rectangle (its
// top-left corner stays where it is), instead of leaving bars beside it;
// geo's grid then describes what is shown.
// Returns false and leaves geo untouched when the rectangle or the container
// is empty, when the pixmap would have no pixels, or when the origin would
// not fit an int; the previous geometry then stays in use.
bool computeChartGeometry(int gridX, int gridY, int gridW, int gridH,
                          int containerW, int containerH, ChartGeometry& geo, bool fill = false);

// World centimetres under a pixmap pixel, truncated toward zero and clamped
// to the int range.
QPoint pixelToWorld(const ChartGeometry& geo, const QPointF& pixel);

// Truncates toward zero and clamps to the int range (NaN gives 0).
int truncToInt(double v);

#endif
