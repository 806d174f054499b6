#ifndef FRAMESIGNATURE_H
#define FRAMESIGNATURE_H

#include "chartgeometry.h"
#include "modulesetup.h"
#include "positioningstep.h"

#include <QByteArray>
#include <QVector>

struct Calibration;

// Everything a chart frame is drawn from: geometry, the grid layer (by its
// cache key), the modules with their display flags, each tag's results and
// label, the calibration marks, the scale bar's corner and the coverage
// legend (its corner and kind; -1 without). Equal signatures
// give equal frames.
// The "±N cm" a tag's label shows (the 95 % ellipse's larger half-axis,
// rounded), or -1 when it shows none.
int labelPlusMinus(const Tag& tag, const TagResult& result);

QByteArray frameSignature(const ChartGeometry& geo, qint64 gridLayerKey, const ModuleSetup& modules,
                          const QVector<TagResult>& results, const Calibration* calibration,
                          int scaleBarCorner, int coverageLegend = -1);

#endif
