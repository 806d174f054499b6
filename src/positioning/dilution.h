#ifndef DILUTION_H
#define DILUTION_H

#include <Eigen/Dense>

#include <vector>

// How the anchors' geometry turns distance errors into position errors at a
// point: with unit vectors u_i from each anchor towards the point as the rows
// of H, the position covariance of a least-squares fix is (HᵀH)⁻¹ times the
// distance variance. The horizontal dilution of precision is the square root
// of that matrix's trace. Anchors closer than 1 cm to the point give no
// direction and are skipped. Invalid (hdop infinite) with fewer than two
// usable anchors or when they all lie on one line through the point.
struct Dilution
{
    bool valid = false;
    double hdop = 0.0;
    Eigen::Matrix2d geometry = Eigen::Matrix2d::Zero();   // (HᵀH)⁻¹, per unit distance variance
};

Dilution horizontalDilution(const Eigen::Vector2d& point, const std::vector<Eigen::Vector2d>& anchors);

#endif
