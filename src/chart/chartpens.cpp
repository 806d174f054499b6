#include "chartpens.h"

#include "chartgeometry.h"

#include <QFontInfo>

#include <cmath>

// The font engine draws nothing at all above this pixel size; for very wide
// grids (kilometres) the labels then shrink on screen instead of vanishing.
static const int MaxFontPixelSize = 65535;

// QPen::setWidthF refuses widths from 32768 on and keeps the old width; for
// very wide grids the dots then shrink on screen instead of keeping a stale size.
static const double MaxPenWidth = 32767.0;

static void setScaledWidth(QPen& pen, double px, double cmPerPixel)
{
    const double w = px * cmPerPixel;
    pen.setWidthF(w >= 0 ? qMin(w, MaxPenWidth) : 0.0);
}

int scaledFontPixelSize(double px, double cmPerPixel, int minUnits)
{
    const double units = px * cmPerPixel;
    if (!(units >= minUnits))
        return minUnits;
    return qMin(truncToInt(units), MaxFontPixelSize);
}

int axisFontPixelSize(double cmPerPixel, double textPx)
{
    if (textPx <= 0)
        textPx = QFontInfo(QFont()).pixelSize();
    const double units = std::ceil(textPx * cmPerPixel);
    if (!(units >= 6))
        return 6;
    return units >= MaxFontPixelSize ? MaxFontPixelSize : int(units);
}

ChartPens::ChartPens()
{
    for (QPen* pen : { &anchorPen, &masterRingPen, &rawCirclePen, &avgCirclePen,
                       &rawPointPen, &avgPointPen, &ellipsePen, &calibrationPen })
        pen->setCapStyle(Qt::RoundCap);
    // Plain joints: a trail has hundreds of them in every frame.
    trailPen.setCapStyle(Qt::FlatCap);
    trailPen.setJoinStyle(Qt::BevelJoin);
}

void ChartPens::applyScale(double cmPerPixel)
{
    setScaledWidth(masterRingPen, 1.5, cmPerPixel);
    setScaledWidth(anchorPen, 10, cmPerPixel);
    setScaledWidth(rawCirclePen, 2, cmPerPixel);
    setScaledWidth(avgCirclePen, 3, cmPerPixel);
    setScaledWidth(rawPointPen, 2, cmPerPixel);   // the raw position is a ring
    setScaledWidth(avgPointPen, 10, cmPerPixel);
    setScaledWidth(calibrationPen, 10, cmPerPixel);
    setScaledWidth(ellipsePen, 1.5, cmPerPixel);
    setScaledWidth(trailPen, 3, cmPerPixel);
    labelFont.setPixelSize(scaledFontPixelSize(20 * labelScale, cmPerPixel, 10));
    const double textPx = tableTextPx > 0 ? tableTextPx : QFontInfo(QFont()).pixelSize();
    axisFont.setPixelSize(axisFontPixelSize(cmPerPixel, textPx * labelScale));
}
