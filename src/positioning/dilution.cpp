#include "dilution.h"

#include <cmath>
#include <limits>

Dilution horizontalDilution(const Eigen::Vector2d& point, const std::vector<Eigen::Vector2d>& anchors)
{
    Dilution d;
    d.hdop = std::numeric_limits<double>::infinity();
    Eigen::Matrix2d hth = Eigen::Matrix2d::Zero();
    int used = 0;
    for (const Eigen::Vector2d& a : anchors) {
        const Eigen::Vector2d v = point - a;
        const double range = v.norm();
        if (!(range >= 1.0))
            continue;
        const Eigen::Vector2d u = v / range;
        hth += u * u.transpose();
        ++used;
    }
    // A near-singular matrix (all directions parallel) is no geometry: its
    // inverse would claim a precision the fix does not have along the line.
    const double det = hth.determinant();
    if (used < 2 || !(det > 1e-9 * hth.trace() * hth.trace()))
        return d;
    d.geometry = hth.inverse();
    d.hdop = std::sqrt(d.geometry.trace());
    d.valid = std::isfinite(d.hdop);
    return d;
}
