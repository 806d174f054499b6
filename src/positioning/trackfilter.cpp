#include "trackfilter.h"

#include "anchor.h"
#include "solver.h"
#include "timeofday.h"

#include <algorithm>
#include <cmath>

namespace {

// White-acceleration densities (cm²/s³) of the three models: a tag standing
// or holding course and speed; one walking, whose speed and course drift all
// the time (a person or a pushed trolley at 1 to 1.5 m/s, a curved path); and
// one turning, starting, stopping or reversing at a run. Chosen on the real
// moving run at 0.23, 0.46, 0.9 and 1.4 m/s together with the static sets and
// the stand-in's rooms: with the walking model missing, the filter lags the
// real runs above 0.4 m/s and does worse than the raw fix.
constexpr double ProcessNoise[3] = {30.0, 10000.0, 100000.0};
// Mean time (s) spent in each kind of motion before switching to another,
// for the odds 1 - exp(-dt / time), shared alike among the others: standing
// and walking last, so one noisy sample does not pass for a change (a real
// change still wins within a few samples, its innovations being far larger);
// a turn is over soon, so the others take over again within a second.
constexpr double SojournS[3] = {10.0, 10.0, 1.0};
// A distance further than this many standard deviations of its innovation
// from every model's prediction is left out. Wide enough for the first
// sample after a reversal at a run, whose distances all jump at once.
constexpr double Gate = 6.0;
// A turn strains several distances at once, an outlier only its own: beyond
// this many standard deviations a distance counts as strained.
constexpr double StrainGate = 3.0;
// Real radios measure every distance too long by a few decimetres (the signal
// is late, more so through a body or wall), alike for all anchors to a first
// approximation: the filter estimates that common bias as a state that drifts
// slowly (random walk, cm²/s), from none with this uncertainty (cm). The bias
// follows temperature and the room, not the carrier's steps: a faster drift
// let it take up what a blocked anchor adds for a few seconds, which moved the
// tag along with it near a wall (chosen on the real runs with calibrated offsets).
constexpr double BiasDrift = 0.2;
constexpr double InitialBiasSigma = 30.0;
// The distance noise assumed before the fixes' residuals tell (cm), and its bounds.
constexpr double InitialNoise = 5.0;
constexpr double MinNoise = 1.0;
constexpr double MaxNoise = 300.0;
// Samples needed before their estimate of the noise is used.
constexpr int MinResiduals = 10;
// Speed uncertainty of a fresh track (cm/s): anything from standing to running.
constexpr double StartSpeedSigma = 200.0;
// Weight of a new innovation in each anchor's running mean: about two seconds
// of samples at 10 Hz.
constexpr double InnovationSmoothing = 0.05;
// Weight of a new innovation in the slow means of its spread: about half a
// minute of samples at 10 Hz.
constexpr double SpreadSmoothing = 1.0 / 300.0;
// Samples in a row that disagree with the track before it starts afresh.
constexpr int MissesToRestart = 3;

double seconds(qint64 ms) { return double(ms) / 1000.0; }

} // namespace

bool TrackFilter::start(const QMap<int, int>& distances, const QList<Anchor>& anchors, const QTime& at)
{
    QPointF fix;
    if (!solveRobust(distances, anchors, robustTolerance(), &fix))
        return false;
    const double posVar = 4.0 * noiseSigma * noiseSigma;
    const double velVar = StartSpeedSigma * StartSpeedSigma;
    for (Model& m : models) {
        m.x << fix.x(), fix.y(), 0.0, 0.0, 0.0;
        Vec v;
        v << posVar, posVar, velVar, velVar, InitialBiasSigma * InitialBiasSigma;
        m.P = v.asDiagonal();
    }
    weight.fill(1.0 / Models);
    innovationMean.clear();
    spread.clear();
    tracking = true;
    last = at;
    misses = 0;
    ++startCount;
    return true;
}

double TrackFilter::robustTolerance() const
{
    return 4.0 * noiseSigma + 5.0;
}

TrackFilter::Vec TrackFilter::combined() const
{
    Vec x = Vec::Zero();
    for (int j = 0; j < Models; ++j)
        x += weight[j] * models[j].x;
    return x;
}

void TrackFilter::predict(double dt)
{
    // Mixing: each model starts from a blend of both, weighted by the odds of
    // having switched into it since the last sample.
    std::array<double, Models> leave{};
    for (int j = 0; j < Models; ++j)
        leave[j] = 1.0 - std::exp(-dt / SojournS[j]);
    auto odds = [&](int from, int to) { return from == to ? 1.0 - leave[from] : leave[from] / (Models - 1); };
    std::array<Model, Models> mixed;
    std::array<double, Models> prior{};
    for (int j = 0; j < Models; ++j) {
        for (int i = 0; i < Models; ++i)
            prior[j] += odds(i, j) * weight[i];
        Vec x = Vec::Zero();
        std::array<double, Models> mix{};
        for (int i = 0; i < Models; ++i) {
            mix[i] = prior[j] > 0 ? odds(i, j) * weight[i] / prior[j] : 0.0;
            x += mix[i] * models[i].x;
        }
        Mat P = Mat::Zero();
        for (int i = 0; i < Models; ++i) {
            const Vec d = models[i].x - x;
            P += mix[i] * (models[i].P + d * d.transpose());
        }
        mixed[j].x = x;
        mixed[j].P = P;
    }
    Mat F = Mat::Identity();
    F(0, 2) = dt;
    F(1, 3) = dt;
    for (int j = 0; j < Models; ++j) {
        const double q = ProcessNoise[j];
        Mat Q = Mat::Zero();
        const double a = q * dt * dt * dt / 3.0, b = q * dt * dt / 2.0, c = q * dt;
        Q(0, 0) = Q(1, 1) = a;
        Q(0, 2) = Q(2, 0) = Q(1, 3) = Q(3, 1) = b;
        Q(2, 2) = Q(3, 3) = c;
        Q(4, 4) = BiasDrift * dt;
        models[j].x = F * mixed[j].x;
        models[j].P = F * mixed[j].P * F.transpose() + Q;
        weight[j] = prior[j];
    }
}

void TrackFilter::noteResiduals(const QMap<int, int>& distances, const QList<Anchor>& anchors)
{
    // The sample's own fix, refined to the least-squares one: what is left
    // over is the distance noise, whatever the tag does.
    const double variance = residualVariance(solveFromDistances(distances, anchors), distances, anchors);
    if (variance < 0)
        return;
    residuals[size_t(residualCount % NoiseWindow)] = variance;
    ++residualCount;

    const int count = qMin(residualCount, NoiseWindow);
    if (count < MinResiduals)
        return;
    std::array<double, NoiseWindow> v = residuals;
    std::nth_element(v.begin(), v.begin() + count / 2, v.begin() + count);
    noiseSigma = std::sqrt(qBound(MinNoise * MinNoise, v[size_t(count / 2)], MaxNoise * MaxNoise));
}

void TrackFilter::addSample(const QMap<int, int>& distances, const QList<Anchor>& anchors, const QTime& at)
{
    leftOut.clear();
    QMap<int, int> usable;
    for (auto it = distances.constBegin(); it != distances.constEnd(); ++it)
        if (it.key() >= 0 && it.key() < anchors.size() && it.value() > 0)
            usable.insert(it.key(), it.value());
    // With four or more distances the sample judges itself: a distance its own
    // fix's residual betrays is left out, whatever the track expects.
    QList<int> consistent;
    QPointF fix;
    if (usable.size() >= 4 && solveRobust(usable, anchors, robustTolerance(), &fix, &consistent)
        && consistent.size() < usable.size()) {
        for (auto it = usable.begin(); it != usable.end();) {
            if (consistent.contains(it.key())) {
                ++it;
            } else {
                leftOut << it.key();
                it = usable.erase(it);
                ++rejected;
            }
        }
    }

    noteResiduals(usable, anchors);
    const qint64 dtMs = tracking ? signedMsecsBetween(last, at) : 0;
    if (!tracking || dtMs > SilenceMs) {
        tracking = false;
        start(usable, anchors, at);
        return;
    }
    if (usable.isEmpty())
        return;
    predict(seconds(qMax<qint64>(0, dtMs)));
    if (dtMs > 0)
        last = at;

    // Gate every distance before any of them moves the track. A single
    // distance the steady model finds too long, while the others agree with
    // it, is an outlier (reflections and blocked paths only ever lengthen a
    // distance) and stays out; when several are strained at once, or one is
    // shorter than expected, the tag itself is turning, and the agile model
    // decides which ones stay.
    const double r = noiseSigma * noiseSigma;
    auto innovation = [&](const Model& m, int k, double* variance) {
        const Anchor& a = anchors.at(k);
        const double dx = m.x(0) - a.x, dy = m.x(1) - a.y;
        const double range = std::hypot(dx, dy);
        if (range < 1.0)
            return std::nan("");   // on the anchor: no direction to correct along
        Row H;
        H << dx / range, dy / range, 0.0, 0.0, 1.0;
        *variance = (H * m.P * H.transpose())(0, 0) + r;
        return usable.value(k) - range - m.x(4);
    };
    auto plausibleTo = [&](const Model& m, int k, double gate = Gate) {
        double s = 0;
        const double nu = innovation(m, k, &s);
        return nu * nu <= gate * gate * s;   // false for NaN
    };
    auto tooLong = [&](int k) {
        double s = 0;
        return !(innovation(models[0], k, &s) < 0);
    };
    QList<int> good, doubted;
    for (auto it = usable.constBegin(); it != usable.constEnd(); ++it)
        (plausibleTo(models[0], it.key()) ? good : doubted) << it.key();
    int strained = 0;
    for (auto it = usable.constBegin(); it != usable.constEnd(); ++it)
        strained += plausibleTo(models[0], it.key(), StrainGate) ? 0 : 1;
    const bool turning = strained >= 2;
    for (int k : doubted) {
        bool plausible = false;
        for (int j = 1; j < Models && (turning || !tooLong(k)) && !plausible; ++j)
            plausible = plausibleTo(models[j], k);
        if (plausible) {
            good << k;
        } else {
            leftOut << k;
            ++rejected;
        }
    }
    std::sort(good.begin(), good.end());
    // What stays of each accepted distance's innovation from sample to sample
    // (against the blend of the models) is error the noise model does not know.
    const Vec blend = combined();
    for (int k : good) {
        const Anchor& a = anchors.at(k);
        const double nu = usable.value(k) - std::hypot(blend(0) - a.x, blend(1) - a.y) - blend(4);
        double& mean = innovationMean[k];
        mean += InnovationSmoothing * (nu - mean);
        Spread& sp = spread[k];
        // The slow means start as plain means, so the first samples count fully.
        const double w = qMax(SpreadSmoothing, 1.0 / (sp.count + 1));
        if (sp.count > 0)
            sp.change += w * (0.5 * (nu - sp.last) * (nu - sp.last) - sp.change);
        sp.square += w * (nu * nu - sp.square);
        sp.last = nu;
        ++sp.count;
    }

    // Update each model with the accepted distances, one after the other,
    // and weigh it by how likely it found them.
    std::array<double, Models> logLikelihood{};
    for (int j = 0; j < Models; ++j) {
        Model& m = models[j];
        for (int k : good) {
            const Anchor& a = anchors.at(k);
            const double dx = m.x(0) - a.x, dy = m.x(1) - a.y;
            const double range = std::hypot(dx, dy);
            if (range < 1.0)
                continue;
            Row H;
            H << dx / range, dy / range, 0.0, 0.0, 1.0;
            const double nu = usable.value(k) - range - m.x(4);
            const double hph = (H * m.P * H.transpose())(0, 0);
            const double s = hph + r;
            const Vec K = m.P * H.transpose() / s;
            m.x += K * nu;
            m.P = (Mat::Identity() - K * H) * m.P;
            m.P = 0.5 * (m.P + m.P.transpose());
            logLikelihood[j] += -0.5 * (nu * nu / s + std::log(s));
        }
    }
    const double best = *std::max_element(logLikelihood.begin(), logLikelihood.end());
    double sum = 0;
    for (int j = 0; j < Models; ++j) {
        weight[j] *= std::exp(logLikelihood[j] - best);
        sum += weight[j];
    }
    for (int j = 0; j < Models; ++j)
        weight[j] = sum > 0 ? weight[j] / sum : 1.0 / Models;

    // Samples that mostly disagree with the track, several in a row: the track
    // is wrong (or was started from a bad fix); start again from this sample.
    misses = good.size() * 2 <= usable.size() ? misses + 1 : 0;
    if (misses >= MissesToRestart)
        start(usable, anchors, at);
}

bool TrackFilter::estimate(const QTime& at, QPointF* position, QPointF* velocity) const
{
    if (!tracking)
        return false;
    const Vec x = combined();
    const double dt = seconds(qBound(qint64(0), signedMsecsBetween(last, at), qint64(MaxExtrapolationMs)));
    if (position)
        *position = QPointF(x(0) + x(2) * dt, x(1) + x(3) * dt);
    if (velocity)
        *velocity = QPointF(x(2), x(3));
    return true;
}

double TrackFilter::persistentVariance() const
{
    const int dof = innovationMean.size() - 3;
    if (dof < 1)
        return 0.0;
    double sum = 0;
    for (const double m : innovationMean)
        sum += m * m;
    return sum / dof;
}

double TrackFilter::unseenVariance() const
{
    return persistentVariance() + longNoiseVariance();
}

double TrackFilter::longNoiseVariance() const
{
    int used = 0;
    double sum = 0;
    for (const Spread& a : spread) {
        if (a.count < MinResiduals)
            continue;
        sum += qMax(0.0, a.square - a.change);
        ++used;
    }
    const int dof = used - 3;
    return dof >= 1 ? sum / dof : 0.0;
}

bool TrackFilter::positionCovariance(const QTime& at, Eigen::Matrix2d* covariance) const
{
    if (!tracking)
        return false;
    const Vec x = combined();
    Mat P = Mat::Zero();
    for (int j = 0; j < Models; ++j) {
        const Vec d = models[j].x - x;
        P += weight[j] * (models[j].P + d * d.transpose());
    }
    const double dt = seconds(qBound(qint64(0), signedMsecsBetween(last, at), qint64(MaxExtrapolationMs)));
    Mat F = Mat::Identity();
    F(0, 2) = dt;
    F(1, 3) = dt;
    *covariance = (F * P * F.transpose()).topLeftCorner<2, 2>();
    return true;
}
