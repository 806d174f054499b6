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
QByteArray frameSignature(const ChartGeometry& geo, qint64 gridLayerKey, const ModuleSetup& modules,
                          const QVector<TagResult>& results, const Calibration* calibration,
                          int scaleBarCorner, int coverageLegend = -1);

#endif
