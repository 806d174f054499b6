#ifndef SOLVER_H
#define SOLVER_H

#include <QList>
#include <QMap>
#include <QPointF>

struct Anchor;

// Least-squares 2D position (cm) from three or more anchor points and the
// distances to them. Returns (0, 0) for fewer than three points or when the
// two lists differ in length.
QPointF solvePosition(QList<QPointF> points, QList<float> distances);

// Solves from a map anchor index -> distance (cm), taking the anchors in
// ascending index order; indices that name no anchor are skipped.
QPointF solveFromDistances(const QMap<int, int>& dists, const QList<Anchor>& anchors);

// A fix that does not trust every distance: with four or more distances whose
// fit leaves a residual above `tolerance` (cm), the distance whose omission fits
// the rest best is left out and the fix solved again, while that helps and at
// least three remain. False when fewer than three distances name anchors or
// the anchors give no fix. *used (optional) gets the anchor indices kept.
bool solveRobust(const QMap<int, int>& dists, const QList<Anchor>& anchors, double tolerance,
                 QPointF* position, QList<int>* used = nullptr);

// Residual variance (cm²) of the distances at the least-squares fix near
// `fix`, as its median over many fixes would estimate the distance variance.
// Negative when there is none (fewer than three distances, a fix on an anchor).
double residualVariance(const QPointF& fix, const QMap<int, int>& dists, const QList<Anchor>& anchors);

// Stores a solved coordinate as whole centimetres: through float, truncated
// toward zero. NaN gives 0 and values beyond the int range clamp to it.
int truncCm(double v);

#endif
