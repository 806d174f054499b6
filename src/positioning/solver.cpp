#include "solver.h"

#include "anchor.h"

#include <Eigen/Dense>
#include <cfloat>
#include <climits>
#include <cmath>

QPointF solvePosition(QList<QPointF> points, QList<float> distances)
{
    const int n = points.size();
    if (n < 3 || distances.size() != n)
        return QPointF(0, 0);

    // Subtracting the circle equations of every pair of anchors cancels the
    // quadratic terms and leaves one linear equation per pair.
    const Eigen::Index rows = Eigen::Index(n) * (n - 1) / 2;
    Eigen::MatrixXd a(rows, 2);
    Eigen::VectorXd b(rows);
    Eigen::Index r = 0;
    for (int i = 0; i < n - 1; ++i) {
        const double xi = points.at(i).x();
        const double yi = points.at(i).y();
        const double di = distances.at(i);
        for (int j = i + 1; j < n; ++j, ++r) {
            const double xj = points.at(j).x();
            const double yj = points.at(j).y();
            const double dj = distances.at(j);
            a(r, 0) = xi - xj;
            a(r, 1) = yi - yj;
            b(r) = 0.5 * ((xi * xi - xj * xj) + (yi * yi - yj * yj) - (di * di - dj * dj));
        }
    }

    // The SVD gives the minimum-norm answer when the anchors are collinear
    // or coincide, instead of failing.
    const Eigen::JacobiSVD<Eigen::MatrixXd, Eigen::ColPivHouseholderQRPreconditioner>
        svd(a, Eigen::ComputeThinU | Eigen::ComputeThinV);
    const Eigen::Vector2d pos = svd.solve(b);
    return QPointF(pos(0), pos(1));
}

QPointF solveFromDistances(const QMap<int, int>& dists, const QList<Anchor>& anchors)
{
    QList<QPointF> points;
    QList<float> distances;
    points.reserve(dists.size());
    distances.reserve(dists.size());
    for (auto it = dists.constBegin(); it != dists.constEnd(); ++it) {
        const int a = it.key();
        if (a < 0 || a >= anchors.size())
            continue;
        const Anchor& anchor = anchors.at(a);
        points.append(QPointF(double(anchor.x), double(anchor.y)));
        distances.append(float(it.value()));
    }
    return solvePosition(points, distances);
}

namespace {

// Largest difference between a distance and the fix's distance to its anchor.
double worstResidual(const QPointF& p, const QMap<int, int>& dists, const QList<Anchor>& anchors)
{
    double worst = 0;
    for (auto it = dists.constBegin(); it != dists.constEnd(); ++it) {
        const Anchor& a = anchors.at(it.key());
        worst = qMax(worst, std::fabs(std::hypot(p.x() - a.x, p.y() - a.y) - it.value()));
    }
    return worst;
}

}

bool solveRobust(const QMap<int, int>& dists, const QList<Anchor>& anchors, double tolerance,
                 QPointF* position, QList<int>* used)
{
    QMap<int, int> kept;
    for (auto it = dists.constBegin(); it != dists.constEnd(); ++it)
        if (it.key() >= 0 && it.key() < anchors.size() && it.value() > 0)
            kept.insert(it.key(), it.value());
    if (kept.size() < 3)
        return false;
    QPointF p = solveFromDistances(kept, anchors);
    double residual = worstResidual(p, kept, anchors);
    while (residual > tolerance && kept.size() >= 4) {
        int drop = -1;
        QPointF best;
        double bestResidual = residual;
        for (auto it = kept.constBegin(); it != kept.constEnd(); ++it) {
            QMap<int, int> fewer = kept;
            fewer.remove(it.key());
            const QPointF q = solveFromDistances(fewer, anchors);
            const double r = worstResidual(q, fewer, anchors);
            if (r < bestResidual) {
                bestResidual = r;
                best = q;
                drop = it.key();
            }
        }
        if (drop < 0)
            break;
        kept.remove(drop);
        p = best;
        residual = bestResidual;
    }
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return false;
    *position = p;
    if (used)
        *used = kept.keys();
    return true;
}

int truncCm(double v)
{
    if (std::isnan(v))
        return 0;
    // Clamp before each narrowing: double -> float and float -> int are
    // undefined for values the target cannot hold.
    if (v >= double(FLT_MAX))
        return INT_MAX;
    if (v <= -double(FLT_MAX))
        return INT_MIN;
    const float f = float(v);
    if (f >= 2147483648.0f)
        return INT_MAX;
    if (f < -2147483648.0f)
        return INT_MIN;
    return int(f);
}

double residualVariance(const QPointF& fix, const QMap<int, int>& dists, const QList<Anchor>& anchors)
{
    const int n = dists.size();
    if (n < 3)
        return -1.0;
    // The solver's linear fix is not quite the least-squares one of the
    // distances: two Gauss-Newton steps make the residuals those of the fit.
    Eigen::Vector2d p(fix.x(), fix.y());
    for (int iteration = 0; iteration < 2; ++iteration) {
        Eigen::Matrix2d jtj = Eigen::Matrix2d::Zero();
        Eigen::Vector2d jtr = Eigen::Vector2d::Zero();
        for (auto it = dists.constBegin(); it != dists.constEnd(); ++it) {
            const Anchor& a = anchors.at(it.key());
            const Eigen::Vector2d d(p(0) - a.x, p(1) - a.y);
            const double range = d.norm();
            if (range < 1.0)
                return -1.0;
            const Eigen::Vector2d u = d / range;
            jtj += u * u.transpose();
            jtr += u * (it.value() - range);
        }
        if (std::fabs(jtj.determinant()) < 1e-9)
            return -1.0;
        p += jtj.inverse() * jtr;
    }
    double sum = 0;
    for (auto it = dists.constBegin(); it != dists.constEnd(); ++it) {
        const Anchor& a = anchors.at(it.key());
        const double r = it.value() - std::hypot(p(0) - a.x, p(1) - a.y);
        sum += r * r;
    }
    // Over the degrees of freedom (one with three anchors), scaled so that the
    // median of many (chi-square, Wilson and Hilferty) is the variance.
    const int dof = n - 2;
    const double m = std::pow(1.0 - 2.0 / (9.0 * dof), 3);
    return std::isfinite(sum) ? sum / dof / m : -1.0;
}
