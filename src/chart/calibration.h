#ifndef CALIBRATION_H
#define CALIBRATION_H

#include <QPainter>

#include "chartgeometry.h"
#include "chartpens.h"

// A background-image calibration under way: two picked points (world cm at
// the time of picking) and the true distance between them as typed.
struct Calibration
{
    int originX = 0, originY = 0;
    int pointX = 0, pointY = 0;
    int distance = 0;
    bool originSet = false;
    bool pointSet = false;
    bool distanceSet = false;
};

// Red dot at the picked origin, green dot at the measuring point and a green
// line between them once both exist. Painter window: (0, 0, gridW, gridH).
void drawCalibrationMarks(QPainter* painter, const ChartGeometry& geo, ChartPens& pens,
                          const Calibration& c);

// Placement of the picture and the grid that fits it.
struct CalibrationResult
{
    double factor = 1.0;          // cm per image pixel
    int offsetX = 0, offsetY = 0; // world position of the picture's top-left corner
    int gridX = 0, gridY = 0, gridW = 0, gridH = 0;
};

// The picked points are taken as image pixels (x right from the left edge,
// y up from the bottom edge). Returns false, leaving out untouched, when the
// two points coincide: no scale can be derived from them.
bool computeCalibration(const Calibration& c, int imageW, int imageH, CalibrationResult& out);

#endif
