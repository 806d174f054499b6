#include "anchorsurvey.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <random>
#include <vector>

namespace {

using Eigen::Matrix2d;
using Eigen::MatrixXd;
using Eigen::Vector2d;
using Eigen::VectorXd;

constexpr double MaxRangeCm = 100000.0;
// The known distance is held far tighter than any single range.
constexpr double KnownDistanceWeight = 1e6;
// Two layouts that fit about equally well but differ by more than this: the walk leaves them open.
constexpr double AmbiguousCm = 25.0;
// Of eight sectors around the anchors' middle, a walk that goes around passes
// through most; one that passes through a few is a line or a corner.
constexpr int AroundSectors = 6;
constexpr int LineSectors = 3;
// A walk has to cover some ground: this many cells of half a metre (a few metres of walk).
constexpr int MinCells = 12;
constexpr double CellCm = 50.0;

struct Range
{
    int anchor;
    double cm;                 // offset applied
};

struct Walk
{
    std::vector<std::vector<Range>> ranges;    // per sample
    std::vector<int> tag;                      // per sample: which walked tag
    std::vector<double> dz;                    // per anchor: height difference to the tag (0: in the plane)
    int anchorCount = 0;
    std::optional<SurveyKnownDistance> known;
    int rangeCount = 0;
};

struct State
{
    std::vector<Vector2d> anchors;
    std::vector<Vector2d> walk;
    double bias = 0.0;
};

double huberCost(double e, double delta)
{
    const double a = std::abs(e);
    return a <= delta ? 0.5 * e * e : delta * (a - 0.5 * delta);
}

double huberWeight(double e, double delta)
{
    const double a = std::abs(e);
    return a <= delta ? 1.0 : delta / a;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    const auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

double predicted(const State& s, const Walk& w, int sample, int anchor)
{
    const Vector2d d = s.walk[size_t(sample)] - s.anchors[size_t(anchor)];
    return std::sqrt(d.squaredNorm() + w.dz[size_t(anchor)] * w.dz[size_t(anchor)]) + s.bias;
}

double knownError(const State& s, const Walk& w)
{
    if (!w.known)
        return 0.0;
    return (s.anchors[size_t(w.known->first)] - s.anchors[size_t(w.known->second)]).norm() - w.known->cm;
}

double cost(const State& s, const Walk& w, double delta)
{
    double c = 0.0;
    for (size_t i = 0; i < w.ranges.size(); ++i)
        for (const Range& r : w.ranges[i])
            c += huberCost(predicted(s, w, int(i), r.anchor) - r.cm, delta);
    const double k = knownError(s, w);
    return c + 0.5 * KnownDistanceWeight * k * k;
}

std::vector<double> residuals(const State& s, const Walk& w)
{
    std::vector<double> e;
    e.reserve(size_t(w.rangeCount));
    for (size_t i = 0; i < w.ranges.size(); ++i)
        for (const Range& r : w.ranges[i])
            e.push_back(predicted(s, w, int(i), r.anchor) - r.cm);
    return e;
}

// One sample's position for fixed anchors and bias: a linear fix, then a few
// Gauss-Newton steps on the ranges.
Vector2d locate(const std::vector<Vector2d>& anchors, const Walk& w, const std::vector<Range>& ranges, double bias)
{
    Vector2d mean = Vector2d::Zero();
    for (const Range& r : ranges)
        mean += anchors[size_t(r.anchor)];
    mean /= double(ranges.size());
    auto planar = [&](const Range& r) {
        const double d = std::max(0.0, r.cm - bias);
        const double dz = w.dz[size_t(r.anchor)];
        return std::sqrt(std::max(0.0, d * d - dz * dz));
    };
    // |p - a|^2 = rho^2 for each anchor, the first subtracted from the rest.
    Matrix2d n = Matrix2d::Zero();
    Vector2d rhs = Vector2d::Zero();
    const Vector2d a0 = anchors[size_t(ranges[0].anchor)] - mean;
    const double r0 = planar(ranges[0]);
    for (size_t k = 1; k < ranges.size(); ++k) {
        const Vector2d ak = anchors[size_t(ranges[k].anchor)] - mean;
        const double rk = planar(ranges[k]);
        const Vector2d row = 2.0 * (ak - a0);
        const double b = r0 * r0 - rk * rk + ak.squaredNorm() - a0.squaredNorm();
        n += row * row.transpose();
        rhs += row * b;
    }
    Vector2d p = mean;
    if (std::abs(n.determinant()) > 1e-9 * std::max(1.0, n.squaredNorm()))
        p = mean + n.ldlt().solve(rhs);
    for (int it = 0; it < 5; ++it) {
        Matrix2d h = Matrix2d::Identity() * 1e-6;
        Vector2d g = Vector2d::Zero();
        for (const Range& r : ranges) {
            const Vector2d d = p - anchors[size_t(r.anchor)];
            const double dz = w.dz[size_t(r.anchor)];
            const double dist = std::sqrt(d.squaredNorm() + dz * dz);
            if (dist < 1e-9)
                continue;
            const Vector2d j = d / dist;
            h += j * j.transpose();
            g += j * (dist + bias - r.cm);
        }
        p -= h.ldlt().solve(g);
    }
    return p;
}

State startFrom(const std::vector<Vector2d>& anchors, double bias, const Walk& w)
{
    State s;
    s.anchors = anchors;
    s.bias = bias;
    s.walk.reserve(w.ranges.size());
    for (const auto& ranges : w.ranges)
        s.walk.push_back(locate(anchors, w, ranges, bias));
    return s;
}

// The normal equations of one Gauss-Newton step, with the walk's positions
// eliminated (Schur complement): each position couples only to the anchors
// it ranged to and the bias, so its 2x2 block is inverted on its own and only
// the small anchor system is solved as a whole.
struct Normal
{
    MatrixXd reduced;                          // anchors (x, y each) and the bias
    VectorXd gradient;
    std::vector<Matrix2d> walkBlock;           // per sample
    std::vector<Vector2d> walkGradient;
    std::vector<Vector2d> biasCoupling;
    std::vector<Matrix2d> anchorCoupling;      // per range, in the walk's order
    std::vector<size_t> firstRange;            // per sample: its first range's index
};

void normalEquations(Normal* ne, const State& s, const Walk& w, double delta, bool withBias)
{
    const int n = 2 * w.anchorCount + (withBias ? 1 : 0);
    const int b = 2 * w.anchorCount;
    ne->reduced = MatrixXd::Zero(n, n);
    ne->gradient = VectorXd::Zero(n);
    ne->walkBlock.resize(w.ranges.size());
    ne->walkGradient.resize(w.ranges.size());
    ne->biasCoupling.resize(w.ranges.size());
    ne->firstRange.resize(w.ranges.size());
    ne->anchorCoupling.resize(size_t(w.rangeCount));
    size_t k = 0;
    for (size_t i = 0; i < w.ranges.size(); ++i) {
        Matrix2d dd = Matrix2d::Zero();
        Vector2d gp = Vector2d::Zero(), bb = Vector2d::Zero();
        ne->firstRange[i] = k;
        for (const Range& r : w.ranges[i]) {
            Matrix2d& coupling = ne->anchorCoupling[k++];
            coupling.setZero();
            const Vector2d d = s.walk[i] - s.anchors[size_t(r.anchor)];
            const double dz = w.dz[size_t(r.anchor)];
            const double dist = std::sqrt(d.squaredNorm() + dz * dz);
            if (dist < 1e-9)
                continue;
            const double e = dist + s.bias - r.cm;
            const double weight = huberWeight(e, delta);
            const Vector2d jp = d / dist;            // d pred / d position; the anchor's is its negative
            const Matrix2d jj = weight * jp * jp.transpose();
            const int a = 2 * r.anchor;
            dd += jj;
            gp += weight * e * jp;
            coupling = -jj;
            ne->reduced.block<2, 2>(a, a) += jj;
            ne->gradient.segment<2>(a) -= weight * e * jp;
            if (withBias) {
                bb += weight * jp;
                ne->reduced.block<2, 1>(a, b) -= weight * jp;
                ne->reduced.block<1, 2>(b, a) -= weight * jp.transpose();
                ne->reduced(b, b) += weight;
                ne->gradient(b) += weight * e;
            }
        }
        ne->walkBlock[i] = dd;
        ne->walkGradient[i] = gp;
        ne->biasCoupling[i] = bb;
    }
    if (w.known) {
        const int kf = 2 * w.known->first, ks = 2 * w.known->second;
        Vector2d u = s.anchors[size_t(w.known->first)] - s.anchors[size_t(w.known->second)];
        const double len = u.norm();
        if (len > 1e-9) {
            u /= len;
            const double e = knownError(s, w);
            VectorXd j = VectorXd::Zero(n);
            j.segment<2>(kf) = u;
            j.segment<2>(ks) = -u;
            ne->reduced += KnownDistanceWeight * j * j.transpose();
            ne->gradient += KnownDistanceWeight * e * j;
        }
    }
}

// Eliminates the walk from the normal equations damped by lambda (Marquardt).
void schur(const Normal& ne, const Walk& w, double lambda, bool withBias, MatrixXd* s, VectorXd* g,
           std::vector<Matrix2d>* walkInverse)
{
    const int n = int(ne.reduced.rows());
    const int b = 2 * w.anchorCount;
    *s = ne.reduced;
    s->diagonal() += lambda * ne.reduced.diagonal() + VectorXd::Constant(n, 1e-9);
    *g = ne.gradient;
    walkInverse->resize(ne.walkBlock.size());
    for (size_t i = 0; i < ne.walkBlock.size(); ++i) {
        Matrix2d d = ne.walkBlock[i];
        d.diagonal() += lambda * ne.walkBlock[i].diagonal() + Vector2d::Constant(1e-9);
        const Matrix2d inv = d.inverse();
        (*walkInverse)[i] = inv;
        const Vector2d invG = inv * ne.walkGradient[i];
        const Vector2d invB = inv * ne.biasCoupling[i];
        const auto& ranges = w.ranges[i];
        for (size_t k = 0; k < ranges.size(); ++k) {
            const Matrix2d bkT = ne.anchorCoupling[ne.firstRange[i] + k].transpose();
            const int ak = 2 * ranges[k].anchor;
            const Matrix2d left = bkT * inv;
            for (size_t l = 0; l < ranges.size(); ++l)
                s->block<2, 2>(ak, 2 * ranges[l].anchor) -= left * ne.anchorCoupling[ne.firstRange[i] + l];
            g->segment<2>(ak) -= bkT * invG;
            if (withBias) {
                const Vector2d c = bkT * invB;
                s->block<2, 1>(ak, b) -= c;
                s->block<1, 2>(b, ak) -= c.transpose();
            }
        }
        if (withBias) {
            (*s)(b, b) -= ne.biasCoupling[i].dot(invB);
            (*g)(b) -= ne.biasCoupling[i].dot(invG);
        }
    }
}

// The walk's step once the anchors' (and the bias's) step dx is known.
Vector2d walkStep(const Normal& ne, const Walk& w, const std::vector<Matrix2d>& inv, size_t i, const VectorXd& dx,
                  bool withBias)
{
    Vector2d rhs = ne.walkGradient[i];
    const auto& ranges = w.ranges[i];
    for (size_t k = 0; k < ranges.size(); ++k)
        rhs += ne.anchorCoupling[ne.firstRange[i] + k] * dx.segment<2>(2 * ranges[k].anchor);
    if (withBias)
        rhs += ne.biasCoupling[i] * dx(2 * w.anchorCount);
    return -inv[i] * rhs;
}

// Levenberg-Marquardt on the Huber cost with a fixed threshold.
void refine(State* s, const Walk& w, double delta, bool withBias, int maxIterations)
{
    double lambda = 1e-3;
    double current = cost(*s, w, delta);
    Normal ne;
    MatrixXd sm;
    VectorXd g;
    std::vector<Matrix2d> inv;
    State next;
    for (int it = 0; it < maxIterations; ++it) {
        normalEquations(&ne, *s, w, delta, withBias);
        bool improved = false;
        for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
            schur(ne, w, lambda, withBias, &sm, &g, &inv);
            const VectorXd dx = sm.ldlt().solve(-g);
            if (!dx.allFinite()) {
                lambda *= 10.0;
                continue;
            }
            next = *s;
            double largest = 0.0;
            for (int a = 0; a < w.anchorCount; ++a) {
                next.anchors[size_t(a)] += dx.segment<2>(2 * a);
                largest = std::max(largest, dx.segment<2>(2 * a).norm());
            }
            if (withBias)
                next.bias += dx(2 * w.anchorCount);
            for (size_t i = 0; i < next.walk.size(); ++i) {
                const Vector2d dp = walkStep(ne, w, inv, i, dx, withBias);
                next.walk[i] += dp;
                largest = std::max(largest, dp.norm());
            }
            const double c = cost(next, w, delta);
            if (c < current) {
                const double gain = current - c;
                std::swap(*s, next);
                lambda = std::max(lambda / 10.0, 1e-12);
                improved = true;
                if (gain < 1e-10 * std::max(1.0, current) || largest < 1e-4)
                    return;
                current = c;
            } else {
                lambda *= 10.0;
            }
        }
        if (!improved)
            return;
    }
}

// The robust threshold from the residuals' spread; never below half a centimetre.
double robustDelta(const State& s, const Walk& w)
{
    std::vector<double> e = residuals(s, w);
    for (double& v : e)
        v = std::abs(v);
    return std::max(0.5, 1.345 * 1.4826 * median(e));
}

// The residuals of one tag-anchor pair follow each other along the walk (the
// pair's own bias, a body in the way for a while), so far fewer of them are
// independent than there are: the variance grows by (1 + r) / (1 - r) with r
// their correlation from one sample to the next.
double correlationFactor(const State& s, const Walk& w)
{
    std::map<std::pair<int, int>, double> previous;   // (tag, anchor) -> last residual
    double products = 0.0, squares = 0.0;
    for (size_t i = 0; i < w.ranges.size(); ++i)
        for (const Range& r : w.ranges[i]) {
            const double e = predicted(s, w, int(i), r.anchor) - r.cm;
            const auto key = std::make_pair(w.tag[i], r.anchor);
            const auto last = previous.find(key);
            if (last != previous.end()) {
                products += e * last->second;
                squares += e * e;
            }
            previous[key] = e;
        }
    const double rho = squares > 0.0 ? std::clamp(products / squares, 0.0, 0.98) : 0.0;
    return (1.0 + rho) / (1.0 - rho);
}

constexpr double CompareDelta = 10.0;   // cm: the common measure the starts are ranked by

void solve(State* s, const Walk& w, bool withBias)
{
    refine(s, w, 50.0, withBias, 40);
    for (int round = 0; round < 3; ++round)
        refine(s, w, robustDelta(*s, w), withBias, 60);
}

// Anchor-to-anchor distances seen by the walk: when the tag passes between
// two anchors the sum of its ranges to them comes down to their distance.
std::vector<Vector2d> layoutFromRanges(const Walk& w, double bias)
{
    const int n = w.anchorCount;
    MatrixXd d2 = MatrixXd::Zero(n, n);
    std::vector<std::vector<double>> sums(size_t(n * n));
    for (const auto& ranges : w.ranges)
        for (const Range& a : ranges)
            for (const Range& b : ranges)
                if (a.anchor < b.anchor)
                    sums[size_t(a.anchor * n + b.anchor)].push_back(a.cm + b.cm - 2.0 * bias);
    double known = 0.0;
    int count = 0;
    for (int j = 0; j < n; ++j)
        for (int k = j + 1; k < n; ++k) {
            auto& v = sums[size_t(j * n + k)];
            if (v.empty())
                continue;
            std::sort(v.begin(), v.end());
            const double d = v[std::min(v.size() - 1, v.size() / 50)];
            d2(j, k) = d2(k, j) = d * d;
            known += d;
            ++count;
        }
    const double fill = count > 0 ? known / count : 100.0;
    for (int j = 0; j < n; ++j)
        for (int k = j + 1; k < n; ++k)
            if (sums[size_t(j * n + k)].empty())
                d2(j, k) = d2(k, j) = fill * fill;
    // Classical scaling: the two largest eigenvectors of the doubly centred matrix.
    const MatrixXd c = MatrixXd::Identity(n, n) - MatrixXd::Constant(n, n, 1.0 / n);
    const MatrixXd g = -0.5 * c * d2 * c;
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(g);
    std::vector<Vector2d> out(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        const double l1 = std::max(0.0, eig.eigenvalues()(n - 1)), l2 = std::max(0.0, eig.eigenvalues()(n - 2));
        out[size_t(j)] = Vector2d(eig.eigenvectors()(j, n - 1) * std::sqrt(l1), eig.eigenvectors()(j, n - 2) * std::sqrt(l2));
    }
    return out;
}

std::vector<Vector2d> mirrored(std::vector<Vector2d> points)
{
    for (Vector2d& p : points)
        p.y() = -p.y();
    return points;
}

double spread(const std::vector<Vector2d>& points)
{
    double s = 0.0;
    for (const Vector2d& a : points)
        for (const Vector2d& b : points)
            s = std::max(s, (a - b).norm());
    return s;
}

struct Rigid
{
    Matrix2d rotation = Matrix2d::Identity();
    Vector2d shift = Vector2d::Zero();
    Vector2d apply(const Vector2d& p) const { return rotation * p + shift; }
};

Rigid rigidFit(const std::vector<Vector2d>& from, const std::vector<Vector2d>& to)
{
    Vector2d cf = Vector2d::Zero(), ct = Vector2d::Zero();
    for (size_t i = 0; i < from.size(); ++i) {
        cf += from[i];
        ct += to[i];
    }
    cf /= double(std::max<size_t>(1, from.size()));
    ct /= double(std::max<size_t>(1, to.size()));
    double sxx = 0.0, sxy = 0.0;   // cos and sin parts of the best angle
    for (size_t i = 0; i < from.size(); ++i) {
        const Vector2d f = from[i] - cf, t = to[i] - ct;
        sxx += f.dot(t);
        sxy += f.x() * t.y() - f.y() * t.x();
    }
    const double angle = std::atan2(sxy, sxx);
    Rigid r;
    r.rotation << std::cos(angle), -std::sin(angle), std::sin(angle), std::cos(angle);
    r.shift = ct - r.rotation * cf;
    return r;
}

double fitError(const Rigid& r, const std::vector<Vector2d>& from, const std::vector<Vector2d>& to)
{
    double e = 0.0;
    for (size_t i = 0; i < from.size(); ++i)
        e += (r.apply(from[i]) - to[i]).squaredNorm();
    return e;
}

// The order the frame is set up in without a layout: the master, then the
// anchors after it in table order.
std::vector<int> frameOrder(const QVector<SurveyAnchor>& anchors)
{
    int master = 0;
    for (int i = 0; i < anchors.size(); ++i)
        if (anchors.at(i).master) {
            master = i;
            break;
        }
    std::vector<int> order;
    for (int k = 0; k < anchors.size(); ++k)
        order.push_back((master + k) % anchors.size());
    return order;
}

// Puts the solved picture into the user's frame: the best rigid fit to the
// table, taking the mirror image of the solution where that fits the table
// better (the ranges cannot tell the two apart); without a layout in the
// table, the master at 0/0, the next anchor on +X, the one after on +Y.
Rigid frameFor(std::vector<Vector2d>* solved, const QVector<SurveyAnchor>& anchors, std::vector<Vector2d>* walk)
{
    std::vector<Vector2d> table;
    for (const SurveyAnchor& a : anchors)
        table.emplace_back(a.table.x(), a.table.y());
    const std::vector<int> order = frameOrder(anchors);
    auto handed = [&](const std::vector<Vector2d>& p) {
        const Vector2d x = p[size_t(order[1])] - p[size_t(order[0])];
        const Vector2d y = p[size_t(order[2])] - p[size_t(order[0])];
        return x.x() * y.y() - x.y() * y.x() >= 0.0;
    };
    // How far the table is from a line: its narrow side's spread.
    Vector2d mean = Vector2d::Zero();
    for (const Vector2d& t : table)
        mean += t;
    mean /= double(table.size());
    Matrix2d cov = Matrix2d::Zero();
    for (const Vector2d& t : table)
        cov += (t - mean) * (t - mean).transpose();
    const Eigen::SelfAdjointEigenSolver<Matrix2d> eig(cov / double(table.size()));
    const bool flat = std::sqrt(std::max(0.0, eig.eigenvalues()(0))) < 1.0;

    if (spread(table) < 1.0) {
        if (!handed(*solved)) {
            *solved = mirrored(*solved);
            *walk = mirrored(*walk);
        }
        const Vector2d origin = (*solved)[size_t(order[0])];
        const Vector2d x = (*solved)[size_t(order[1])] - origin;
        const double angle = -std::atan2(x.y(), x.x());
        Rigid r;
        r.rotation << std::cos(angle), -std::sin(angle), std::sin(angle), std::cos(angle);
        r.shift = table[size_t(order[0])] - r.rotation * origin;
        return r;
    }
    const std::vector<Vector2d> mirror = mirrored(*solved);
    const Rigid straight = rigidFit(*solved, table), flipped = rigidFit(mirror, table);
    const bool takeMirror = flat ? !handed(*solved) : fitError(flipped, mirror, table) < fitError(straight, *solved, table);
    if (takeMirror) {
        *solved = mirror;
        *walk = mirrored(*walk);
        return flipped;
    }
    return straight;
}

// The largest distance between matching anchors after the best rigid fit of one layout onto the other.
double shapeDifference(const std::vector<Vector2d>& a, const std::vector<Vector2d>& b)
{
    const Rigid r = rigidFit(a, b);
    double d = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        d = std::max(d, (r.apply(a[i]) - b[i]).norm());
    return d;
}

int cellsWalked(const std::vector<Vector2d>& walk)
{
    std::set<std::pair<long, long>> cells;
    for (const Vector2d& p : walk)
        cells.insert({std::lround(std::floor(p.x() / CellCm)), std::lround(std::floor(p.y() / CellCm))});
    return int(cells.size());
}

// How far the walk surrounds the anchors' middle: how many of eight sectors
// around it it passes through.
int sectorsWalked(const std::vector<Vector2d>& walk, const std::vector<Vector2d>& anchors)
{
    Vector2d middle = Vector2d::Zero();
    for (const Vector2d& a : anchors)
        middle += a;
    middle /= double(anchors.size());
    std::vector<int> sectors(8, 0);
    for (const Vector2d& p : walk) {
        const double angle = std::atan2(p.y() - middle.y(), p.x() - middle.x());
        sectors[size_t(std::clamp(int(std::floor((angle + M_PI) / (M_PI / 4.0))), 0, 7))]++;
    }
    const int enough = std::max(1, int(walk.size() / 100));
    return int(std::count_if(sectors.begin(), sectors.end(), [&](int n) { return n >= enough; }));
}

} // namespace

double AnchorSurveyResult::maxUncertainty() const
{
    double m = 0.0;
    for (const double u : uncertainty)
        m = std::max(m, u);
    return m;
}

QVector<QPointF> fitRigid(const QVector<QPointF>& from, const QVector<QPointF>& to, const QVector<QPointF>& points)
{
    std::vector<Vector2d> f, t;
    for (int i = 0; i < std::min(from.size(), to.size()); ++i) {
        f.emplace_back(from.at(i).x(), from.at(i).y());
        t.emplace_back(to.at(i).x(), to.at(i).y());
    }
    const Rigid r = rigidFit(f, t);
    QVector<QPointF> out;
    for (const QPointF& p : points) {
        const Vector2d q = r.apply(Vector2d(p.x(), p.y()));
        out.append(QPointF(q.x(), q.y()));
    }
    return out;
}

AnchorSurveyResult surveyAnchors(const AnchorSurveyInput& input)
{
    AnchorSurveyResult result;
    const int n = input.anchors.size();
    if (n < 3) {
        result.reason = QStringLiteral("three or more anchors are needed");
        return result;
    }
    Walk w;
    w.anchorCount = n;
    for (const SurveyAnchor& a : input.anchors)
        w.dz.push_back(input.tagHeight ? a.z - double(*input.tagHeight) : 0.0);
    if (input.known) {
        const SurveyKnownDistance& k = *input.known;
        if (k.first < 0 || k.second < 0 || k.first >= n || k.second >= n || k.first == k.second || !(k.cm > 0.0)) {
            result.status = AnchorSurveyResult::Degenerate;
            result.reason = QStringLiteral("the known distance needs two different anchors and a length above 0");
            return result;
        }
        w.known = k;
    }
    std::vector<int> perAnchor(size_t(n), 0);
    for (const SurveySample& s : input.samples) {
        std::vector<Range> ranges;
        for (int a = 0; a < std::min(n, int(s.ranges.size())); ++a) {
            const double r = s.ranges.at(a);
            if (r > 0.0 && r < MaxRangeCm && r + input.anchors.at(a).offset > 0.0)
                ranges.push_back({a, r + input.anchors.at(a).offset});
        }
        if (int(ranges.size()) < SurveyMinRanges)
            continue;
        for (const Range& r : ranges)
            ++perAnchor[size_t(r.anchor)];
        w.rangeCount += int(ranges.size());
        w.ranges.push_back(std::move(ranges));
        w.tag.push_back(s.tag);
    }
    result.samples = int(w.ranges.size());
    if (result.samples < SurveyMinSamples) {
        result.ranges = w.rangeCount;
        result.reason = QStringLiteral("too few samples with three or more ranges (%1 of at least %2)")
                            .arg(result.samples).arg(SurveyMinSamples);
        return result;
    }
    for (int a = 0; a < n; ++a)
        if (perAnchor[size_t(a)] < SurveyMinSamples / 2) {
            result.reason = QStringLiteral("too few ranges to anchor %1 (%2)").arg(a + 1).arg(perAnchor[size_t(a)]);
            return result;
        }

    // Several starts: the table's layout and its mirror image, the layout the
    // range sums suggest and its mirror image, and shaken copies of that one.
    const bool withBias = w.known.has_value();
    std::vector<std::vector<Vector2d>> starts;
    std::vector<Vector2d> table;
    for (const SurveyAnchor& a : input.anchors)
        table.emplace_back(a.table.x(), a.table.y());
    double startBias = 0.0;
    if (withBias) {
        const std::vector<Vector2d> plain = layoutFromRanges(w, 0.0);
        const double seen = (plain[size_t(w.known->first)] - plain[size_t(w.known->second)]).norm();
        startBias = std::clamp((seen - w.known->cm) / 2.0, -50.0, 50.0);
    }
    const std::vector<Vector2d> sums = layoutFromRanges(w, startBias);
    if (spread(table) > 10.0) {
        starts.push_back(table);
        starts.push_back(mirrored(table));
    }
    starts.push_back(sums);
    starts.push_back(mirrored(sums));
    std::mt19937 random(12345);
    const double size = std::max(100.0, spread(sums));
    std::uniform_real_distribution<double> shake(-0.25 * size, 0.25 * size);
    for (int k = 0; k < 4; ++k) {
        std::vector<Vector2d> s = sums;
        for (Vector2d& p : s)
            p += Vector2d(shake(random), shake(random));
        starts.push_back(s);
    }

    std::vector<State> solutions;
    std::vector<double> costs;
    size_t bestIndex = 0;
    for (const auto& start : starts) {
        State s = startFrom(start, startBias, w);
        solve(&s, w, withBias);
        const double c = cost(s, w, CompareDelta);
        if (!std::isfinite(c))
            continue;
        if (costs.empty() || c < costs[bestIndex])
            bestIndex = costs.size();
        solutions.push_back(std::move(s));
        costs.push_back(c);
    }
    if (solutions.empty()) {
        result.status = AnchorSurveyResult::Degenerate;
        result.reason = QStringLiteral("the ranges give no solution");
        return result;
    }
    State best = solutions[bestIndex];

    // A walk that leaves the anchors' places open (a line, a corner of the
    // room) lets different starts end in different layouts that fit about
    // equally well: measured on the ranges that fit, in units of their noise.
    const double sigma = robustDelta(best, w) / 1.345;
    auto fitCost = [&](const State& s) {
        double c = 0.0;
        for (const double e : residuals(s, w))
            c += std::min(e * e, 9.0 * sigma * sigma) / (sigma * sigma);
        return c;
    };
    const double bestFit = fitCost(best);
    double ambiguity = 0.0;
    for (const State& s : solutions) {
        const double shape = std::min(shapeDifference(s.anchors, best.anchors), shapeDifference(mirrored(s.anchors), best.anchors));
        if (fitCost(s) - bestFit < std::max(0.05 * bestFit, 10.0))
            ambiguity = std::max(ambiguity, shape);
    }
    const int sectors = sectorsWalked(best.walk, best.anchors);
    result.goesAround = sectors >= AroundSectors;
    const int cells = cellsWalked(best.walk);
    const QString advice = QStringLiteral("; walk along the walls and through the middle");
    if (cells < MinCells)
        result.reason = QStringLiteral("the tag hardly moved (%1 places of half a metre)").arg(cells) + advice;
    else if (sectors <= LineSectors)
        result.reason = QStringLiteral("the walk does not go around the room (%1 of 8 directions around the anchors' middle)")
                            .arg(sectors) + advice;
    else if (ambiguity > AmbiguousCm)
        result.reason = QStringLiteral("the walk leaves the anchors' places open (layouts %1 cm apart fit about as well)")
                            .arg(ambiguity, 0, 'f', 0) + advice;
    if (!result.reason.isEmpty()) {
        result.status = AnchorSurveyResult::Degenerate;
        return result;
    }

    // Ranges far off the fit (reflections, a body in the way) are left out
    // for the last pass.
    Walk kept = w;
    {
        const double limit = std::max(5.0 * sigma, 5.0);
        kept.rangeCount = 0;
        for (size_t i = 0; i < kept.ranges.size(); ++i) {
            auto& r = kept.ranges[i];
            r.erase(std::remove_if(r.begin(), r.end(), [&](const Range& range) {
                        return std::abs(predicted(best, w, int(i), range.anchor) - range.cm) > limit;
                    }), r.end());
            kept.rangeCount += int(r.size());
        }
        result.outliers = w.rangeCount - kept.rangeCount;
        refine(&best, kept, robustDelta(best, kept), withBias, 60);
    }
    // Uncertainty from the normal equations at the solution, with the freedom
    // of rotation and shift taken out (the result is fitted to the table).
    const double delta = robustDelta(best, kept);
    Normal ne;
    normalEquations(&ne, best, kept, delta, withBias);
    MatrixXd info;
    VectorXd unused;
    std::vector<Matrix2d> inv;
    schur(ne, kept, 0.0, withBias, &info, &unused, &inv);
    const int dim = int(info.rows());
    MatrixXd gauge = MatrixXd::Zero(dim, 3);
    Vector2d middle = Vector2d::Zero();
    for (const Vector2d& a : best.anchors)
        middle += a;
    middle /= double(n);
    for (int a = 0; a < n; ++a) {
        const Vector2d p = best.anchors[size_t(a)] - middle;
        gauge(2 * a, 0) = 1.0;
        gauge(2 * a + 1, 1) = 1.0;
        gauge(2 * a, 2) = -p.y();
        gauge(2 * a + 1, 2) = p.x();
    }
    const MatrixXd q = Eigen::HouseholderQR<MatrixXd>(gauge).householderQ() * MatrixXd::Identity(dim, 3);
    const double scale = std::max(1e-12, info.trace() / dim);
    const MatrixXd fixed = info + scale * q * q.transpose();
    const Eigen::SelfAdjointEigenSolver<MatrixXd> eig(fixed);
    const MatrixXd projector = MatrixXd::Identity(dim, dim) - q * q.transpose();
    const std::vector<double> e = residuals(best, kept);
    double weighted = 0.0, squares = 0.0;
    for (const double v : e) {
        weighted += huberWeight(v, delta) * v * v;
        squares += v * v;
    }
    const int freedom = std::max(1, kept.rangeCount - (2 * result.samples + dim - 3));
    const double sigma2 = weighted / freedom * correlationFactor(best, kept);
    result.residualRms = std::sqrt(squares / double(std::max<size_t>(1, e.size())));
    result.ranges = kept.rangeCount;

    if (eig.eigenvalues()(0) <= 1e-10 * eig.eigenvalues()(dim - 1)) {
        result.status = AnchorSurveyResult::Degenerate;
        result.reason = QStringLiteral("the walk does not go around the room (it is close to a line); "
                                       "walk along the walls and through the middle");
        return result;
    }
    const MatrixXd cov = projector * eig.eigenvectors() * eig.eigenvalues().cwiseInverse().asDiagonal()
                         * eig.eigenvectors().transpose() * projector * sigma2;

    std::vector<Vector2d> anchors = best.anchors;
    std::vector<Vector2d> walk = best.walk;
    const Rigid frame = frameFor(&anchors, input.anchors, &walk);
    for (int a = 0; a < n; ++a) {
        const Vector2d p = frame.apply(anchors[size_t(a)]);
        result.anchors.append(QPointF(p.x(), p.y()));
        result.uncertainty.append(std::sqrt(std::max(0.0, cov(2 * a, 2 * a) + cov(2 * a + 1, 2 * a + 1))));
    }
    for (const Vector2d& p : walk) {
        const Vector2d q2 = frame.apply(p);
        result.walk.append(QPointF(q2.x(), q2.y()));
    }
    result.bias = withBias ? best.bias : 0.0;
    result.biasSolved = withBias;
    result.status = AnchorSurveyResult::Solved;
    return result;
}
