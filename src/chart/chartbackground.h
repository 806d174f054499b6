#ifndef CHARTBACKGROUND_H
#define CHARTBACKGROUND_H

#include "calibration.h"

#include <QImage>
#include <QString>

// The floor plan under the chart: the picture, where it lies in the world,
// the grid that fits it, and the calibration while one is under way.
struct ChartBackground
{
    ChartBackground() = default;
    ChartBackground(const ChartBackground&) = delete;
    ChartBackground& operator=(const ChartBackground&) = delete;
    ~ChartBackground()
    {
        delete bgImage;
        delete calibration;
    }

    QImage* bgImage = nullptr;
    QString bgImagePath;
    int bgImageOffsetX = 0;
    int bgImageOffsetY = 0;
    double bgImageFactor = 1.0;
    int imageGridX = -500, imageGridY = -500, imageGridW = 1000, imageGridH = 1000;
    Calibration* calibration = nullptr;
    // 0: clicks grab anchors; 1, 2: they pick the calibration's origin or point; 3: applying it.
    int mouseMode = 0;
};

#endif
