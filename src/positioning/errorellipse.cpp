#include "errorellipse.h"

#include <cmath>

ErrorEllipse ErrorEllipse::of95(const Eigen::Matrix2d& covariance)
{
    ErrorEllipse e;
    if (!covariance.allFinite())
        return e;
    const Eigen::Matrix2d c = 0.5 * (covariance + covariance.transpose());
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eig(c);
    if (eig.info() != Eigen::Success)
        return e;
    const Eigen::Vector2d values = eig.eigenvalues();   // ascending
    const double tolerance = 1e-9 * std::fabs(values(1));
    if (values(0) < -tolerance)
        return e;
    e.major = std::sqrt(Chi2Of95 * std::max(0.0, values(1)));
    e.minor = std::sqrt(Chi2Of95 * std::max(0.0, values(0)));
    const Eigen::Vector2d axis = eig.eigenvectors().col(1);
    double angle = std::atan2(axis(1), axis(0)) * 180.0 / M_PI;
    if (angle <= -90.0)
        angle += 180.0;
    else if (angle > 90.0)
        angle -= 180.0;
    e.angleDeg = angle;
    e.valid = true;
    return e;
}

bool ErrorEllipse::contains(const Eigen::Vector2d& offset) const
{
    if (!valid)
        return false;
    const double a = angleDeg * M_PI / 180.0;
    const double along = offset(0) * std::cos(a) + offset(1) * std::sin(a);
    const double across = -offset(0) * std::sin(a) + offset(1) * std::cos(a);
    if (minor <= 0.0 || major <= 0.0)
        return across == 0.0 && std::fabs(along) <= major;
    return (along * along) / (major * major) + (across * across) / (minor * minor) <= 1.0;
}
