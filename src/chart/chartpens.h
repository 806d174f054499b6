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
    QFont labelFont;
    // Dots and labels drawn so far in the chart pass (chart units): later
    // labels keep clear of them, and the next pass's scale bar too.
    QVector<QRectF> placed;
    // Widths of the label texts, kept from pass to pass; measuring is not
    // drawing, so it may happen on a const ChartPens.
    mutable TextWidths labelWidths;
    // Labels larger than usual, for a chart shown to an audience.
    double labelScale = 1.0;

    ChartPens();
    void applyScale(double cmPerPixel);
};

// Pixel size of a font that is px pixels on screen but never below minUnits
// chart units; bounded so that the font engine is never asked for absurd sizes.
int scaledFontPixelSize(double px, double cmPerPixel, int minUnits);

#endif
