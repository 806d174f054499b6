#ifndef CHARTPENS_H
#define CHARTPENS_H

#include <QFont>
#include <QPen>
#include <QRectF>
#include <QVector>

#include "textwidths.h"

// Pens and label font of the module drawing. Widths are given in pixels and
// scaled to chart units, so dots and lines keep their size at every zoom.
struct ChartPens
{
    QPen anchorPen;
    QPen masterRingPen;
    QPen rawCirclePen;
    QPen avgCirclePen;
    QPen rawPointPen;
    QPen avgPointPen;
    QPen ellipsePen;
    QPen trailPen;
    QPen calibrationPen;   // the floor plan's calibration marks: discs 10 px across
    QFont labelFont;
    // Grid labels: never smaller on screen than the text of the tables.
    QFont axisFont;
    // Dots and labels drawn so far in the chart pass (chart units): later
    // labels keep clear of them, and the next pass's scale bar too.
    QVector<QRectF> placed;
    // Widths of the label texts, kept from pass to pass; measuring is not
    // drawing, so it may happen on a const ChartPens.
    mutable TextWidths labelWidths;
    // Labels larger than usual, for a chart shown to an audience.
    double labelScale = 1.0;
    // Pixel size on screen of the tables' text, which the grid labels match;
    // 0: the application font's.
    int tableTextPx = 0;

    ChartPens();
    void applyScale(double cmPerPixel);
};

// Pixel size of a font that is px pixels on screen but never below minUnits
// chart units; bounded so that the font engine is never asked for absurd sizes.
int scaledFontPixelSize(double px, double cmPerPixel, int minUnits);

// Pixel size in chart units of a grid label textPx pixels high on screen
// (0: the application font's size), rounded up so it never comes out
// smaller, and at least 6 units.
int axisFontPixelSize(double cmPerPixel, double textPx = 0);

#endif
