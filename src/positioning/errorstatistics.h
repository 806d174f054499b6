#ifndef ERRORSTATISTICS_H
#define ERRORSTATISTICS_H

#include <QPointF>
#include <QVector>

// How a set of positions scatters around the point the tag truly stood at.
struct ErrorStatistics
{
    int n = 0;
    double meanDx = 0.0, meanDy = 0.0;   // mean error (cm): the bias
    double sigmaX = 0.0, sigmaY = 0.0;   // standard deviation per axis (cm)
    double cep50 = 0.0;                  // median radial error (cm)
    double r95 = 0.0;                    // 95th percentile of the radial error (cm)
    double max = 0.0;                    // largest radial error (cm)
};

ErrorStatistics errorStatistics(const QVector<QPointF>& positions, const QPointF& truth);

#endif
