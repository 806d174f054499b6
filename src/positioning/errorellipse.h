#ifndef ERRORELLIPSE_H
#define ERRORELLIPSE_H

#include <Eigen/Dense>

// The ellipse that holds a 2D Gaussian position error with 95 % probability:
// the covariance's eigen-axes scaled by sqrt(chi²₂(0.95)) = sqrt(5.991).
struct ErrorEllipse
{
    static constexpr double Chi2Of95 = 5.991;

    bool valid = false;
    double major = 0.0;      // larger half-axis (cm)
    double minor = 0.0;      // smaller half-axis (cm)
    double angleDeg = 0.0;   // of the major axis from +x towards +y, (-90, 90]

    // From a position covariance (cm²); invalid when it is not finite or not
    // positive semi-definite beyond rounding.
    static ErrorEllipse of95(const Eigen::Matrix2d& covariance);
    // Whether `offset` (point minus centre, cm) lies inside.
    bool contains(const Eigen::Vector2d& offset) const;
};

#endif
