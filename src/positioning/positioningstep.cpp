#include "positioningstep.h"

#include "dilution.h"
#include "errorellipse.h"
#include "modulesetup.h"
#include "solver.h"
#include "tagmeasurement.h"
#include "timeofday.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Below this distance noise (cm) no fix is trusted: whole-centimetre
// distances, anchors placed by hand.
constexpr double MinFixSigma = 2.0;
// The lag of an average along the path, as a standard deviation: most of the
// lag itself, which the speed and the samples' ages only estimate.
constexpr double LagShare = 0.6;
// Fixes needed before the median of their noise is used rather than the largest.
constexpr int MinFixNoiseCount = 5;


std::vector<Eigen::Vector2d> anchorPoints(const QMap<int, int>& dists, const QList<Anchor>& anchors)
{
    std::vector<Eigen::Vector2d> points;
    for (auto it = dists.constBegin(); it != dists.constEnd(); ++it)
        if (it.key() >= 0 && it.key() < anchors.size())
            points.emplace_back(anchors.at(it.key()).x, anchors.at(it.key()).y);
    return points;
}

} // namespace

double TagResult::sigmaX() const { return covValid ? std::sqrt(qMax(0.0, covXX)) : -1.0; }
double TagResult::sigmaY() const { return covValid ? std::sqrt(qMax(0.0, covYY)) : -1.0; }

double TagResult::rhoXY() const
{
    const double s = sigmaX() * sigmaY();
    return covValid && s > 0 ? qBound(-1.0, covXY / s, 1.0) : 0.0;
}

ErrorEllipse TagResult::ellipse95() const
{
    if (!covValid)
        return ErrorEllipse();
    Eigen::Matrix2d c;
    c << covXX, covXY, covXY, covYY;
    return ErrorEllipse::of95(c);
}

double TagResult::r95() const
{
    const ErrorEllipse e = ellipse95();
    return e.valid ? e.major : -1.0;
}

QString smoothingName(Smoothing s)
{
    return s == Smoothing::Kalman ? QStringLiteral("kalman") : QStringLiteral("average");
}

Smoothing smoothingFromName(const QString& name, bool* ok)
{
    const QString n = name.trimmed().toLower();
    if (ok)
        *ok = n == QLatin1String("kalman") || n == QLatin1String("average");
    return n == QLatin1String("kalman") ? Smoothing::Kalman : Smoothing::Average;
}

std::optional<int> tagHeightFromText(const QString& text)
{
    bool ok = false;
    const int cm = text.trimmed().toInt(&ok);
    if (!ok || cm < -100000 || cm > 100000)
        return std::nullopt;
    return cm;
}

PositioningStep::~PositioningStep()
{
    clear();
}

void PositioningStep::clear()
{
    for (QList<RangingSample*>& list : samples)
        qDeleteAll(list);
    samples.clear();
    state.clear();
    quality.clear();
    zones.clear();
}

void PositioningStep::clearTrails()
{
    for (auto& entry : state)
        entry.second.trail.clear();
}

double PositioningStep::fixNoiseVariance(KeyState& st, const QPointF& fix, const QMap<int, int>& dists,
                                         const QList<Anchor>& anchors)
{
    // Noted once per new fix: a pass without a new sample repeats the last.
    if (st.fixNoiseCount == 0 || fix != st.lastNoiseFix) {
        const double v = residualVariance(fix, dists, anchors);
        if (v >= 0.0) {
            st.fixNoise[size_t(st.fixNoiseCount % int(st.fixNoise.size()))] = v;
            ++st.fixNoiseCount;
            st.lastNoiseFix = fix;
        }
    }
    const int count = qMin(st.fixNoiseCount, int(st.fixNoise.size()));
    if (count == 0)
        return -1.0;
    // The median of many; until there are enough, the largest, so a young
    // track does not claim more than its few fixes show.
    std::array<double, 30> v = st.fixNoise;
    double variance;
    if (count < MinFixNoiseCount) {
        variance = *std::max_element(v.begin(), v.begin() + count);
    } else {
        std::nth_element(v.begin(), v.begin() + count / 2, v.begin() + count);
        variance = v[size_t(count / 2)];
    }
    return qMax(variance, MinFixSigma * MinFixSigma);
}

void PositioningStep::keepTrail(KeyState& st, const QPointF& position, qint64 epochMs, int seconds)
{
    QVector<TrailPoint>& trail = st.trail;
    const qint64 span = qint64(seconds) * 1000;
    // A point every span/100 ms at most (at least 50 ms), the newest
    // following the position: a hundred points for any length.
    const qint64 spacing = qMax<qint64>(50, span / 100);
    TrailPoint p;
    p.x = float(position.x());
    p.y = float(position.y());
    p.ms = epochMs;
    if (trail.size() >= 2 && epochMs - trail.at(trail.size() - 2).ms < spacing)
        trail.last() = p;
    else if (trail.isEmpty() || trail.last().x != p.x || trail.last().y != p.y || epochMs - trail.last().ms >= spacing)
        trail.append(p);
    int old = 0;
    while (old < trail.size() && epochMs - trail.at(old).ms > span)
        ++old;
    if (old > 0)
        trail.remove(0, old);
    for (TrailPoint& t : trail)
        t.fade = int(qBound(qint64(0), (epochMs - t.ms) * TrailPoint::Levels / qMax(qint64(1), qint64(span)), qint64(TrailPoint::Levels - 1)));
}

void PositioningStep::addRangingLine(const QByteArray& line, const QTime& received)
{
    auto* sample = new RangingSample(line, received);
    (void)sample->parse();
    QList<RangingSample*>& list = samples[sample->tagId];
    ++state[sample->tagId].stored;
    list.append(sample);
    while (list.size() > MaxSamples)
        delete list.takeFirst();
}

int PositioningStep::noteLines(const QString& key, KeyState& st, const QList<RangingSample*>& list,
                               const ModuleSetup& modules, std::optional<int> tagHeight)
{
    const int fresh = int(qMin<quint64>(st.stored - st.qualityNoted, quint64(list.size())));
    for (int i = list.size() - fresh; i < list.size(); ++i) {
        const RangingSample* s = list.at(i);
        quality.addLine(key, s->received, s->distances, usableDistances(s, modules.anchors, tagHeight),
                        int(modules.anchors.size()));
    }
    st.qualityNoted = st.stored;
    return fresh;
}

void PositioningStep::feedFilter(const QString& key, KeyState& st, const QList<RangingSample*>& list,
                                 const ModuleSetup& modules, std::optional<int> tagHeight)
{
    if (!st.filter)
        st.filter.reset(new TrackFilter);
    // Every sample that arrived since the last pass, in order, at its own time.
    const int fresh = int(qMin<quint64>(st.stored - st.fed, quint64(list.size())));
    for (int i = list.size() - fresh; i < list.size(); ++i) {
        const RangingSample* s = list.at(i);
        st.filter->addSample(usableDistances(s, modules.anchors, tagHeight), modules.anchors, s->received);
        if (!st.filter->lastLeftOut().isEmpty())
            quality.addLeftOut(key, s->received, st.filter->lastLeftOut());
    }
    st.fed = st.stored;
}

void PositioningStep::countBelowHeight(KeyState& st, const QList<RangingSample*>& list, const ModuleSetup& modules,
                                       std::optional<int> tagHeight)
{
    // Each sample once, when it is new: the averages reread it every pass.
    const int fresh = int(qMin<quint64>(st.stored - st.heightChecked, quint64(list.size())));
    for (int i = list.size() - fresh; i < list.size(); ++i)
        st.belowHeight += quint64(distancesBelowHeight(list.at(i), modules.anchors, tagHeight));
    st.heightChecked = st.stored;
}

void PositioningStep::averagedSpeed(KeyState& st, const QPointF& avg, const QTime& sampleTime)
{
    if (st.haveAvg && avg == st.lastAvg)
        return;
    if (st.haveAvg) {
        // The step over the time between the samples that made the two
        // positions; a change without a new sample (an expiry) moves the
        // position but says nothing about time.
        const qint64 ms = signedMsecsBetween(st.lastAvgTime, sampleTime);
        if (ms > 0) {
            const QPointF step = avg - st.lastAvg;
            const double length = std::hypot(step.x(), step.y());
            st.avgSpeed = length * 10.0 / double(ms);   // 1 cm/ms = 10 m/s
            if (length > 0)
                st.avgDirection = step / length;
        }
    }
    st.haveAvg = true;
    st.lastAvg = avg;
    st.lastAvgTime = sampleTime;
}

double PositioningStep::kitUnseenVariance() const
{
    double sum = 0;
    int tracked = 0;
    for (auto it = samples.cbegin(); it != samples.cend(); ++it) {
        const auto st = state.find(it.key());
        if (it.value().isEmpty() || st == state.end() || !st->second.filter || !st->second.filter->isTracking())
            continue;
        sum += st->second.filter->unseenVariance();
        ++tracked;
    }
    return tracked > 0 ? sum / tracked : -1.0;
}

PositioningPass PositioningStep::run(ModuleSetup& modules, const PositioningOptions& options, const QTime& now,
                                     qint64 epochMs)
{
    PositioningPass pass;
    const QList<Anchor>& anchors = modules.anchors;
    const bool kalman = options.smoothing == Smoothing::Kalman;
    int masterIndex = -1;
    for (int a = 0; a < anchors.size() && masterIndex < 0; ++a)
        if (anchors.at(a).master)
            masterIndex = a;
    const double kitUnseen = kalman ? kitUnseenVariance() : -1.0;
    QStringList silent;
    for (auto it = samples.begin(); it != samples.end(); ++it) {
        QList<RangingSample*>& list = it.value();
        const double rate = historyRate(list);
        expireSamples(list, now);
        if (list.isEmpty()) {
            silent.append(it.key());
            continue;
        }
        KeyState& st = state[it.key()];
        const int idx = modules.findTag(list.last()->tagId);
        if (idx < 0 || !kalman) {
            st.fed = st.stored;
            st.filter.reset();
        }
        if (idx < 0)
            continue;
        Tag& tag = modules.tags[idx];
        const int fresh = noteLines(it.key(), st, list, modules, options.tagHeight);
        if (kalman)
            feedFilter(it.key(), st, list, modules, options.tagHeight);
        countBelowHeight(st, list, modules, options.tagHeight);
        const TagDistances d = measureDistances(list, anchors, options.averageCount, options.tagHeight);

        TagResult r;
        r.key = it.key();
        r.tag = idx;
        r.rawDist = d.rawDist;
        r.avgDist = d.avgDist;
        r.rate = rate;
        r.belowHeight = st.belowHeight;
        QPointF velocity;
        const bool tracked = kalman && st.filter->estimate(now, &r.avg, &velocity);
        int masterDistance = d.masterAvg;
        if (tracked) {
            // The smoothed circles and the master distance follow the filtered
            // position, or they would trail behind the dot they belong to.
            for (auto a = r.avgDist.begin(); a != r.avgDist.end(); ++a) {
                const Anchor& anchor = anchors.at(a.key());
                a.value() = qMax(1, truncCm(std::hypot(r.avg.x() - anchor.x, r.avg.y() - anchor.y)));
            }
            if (r.avgDist.contains(masterIndex))
                masterDistance = r.avgDist.value(masterIndex);
        }
        if (!pass.masterDistanceSet && d.hasMaster) {
            pass.masterDistanceSet = true;
            pass.masterTagName = tag.name;
            pass.masterDistance = masterDistance;
        }
        // Both positions are computed whatever the chart shows: the export and
        // the publisher carry them independently of the view.
        if (d.rawDist.size() >= 3) {
            r.rawValid = true;
            r.raw = solveFromDistances(d.rawDist, anchors);
            tag.prevRawX = tag.rawX;
            tag.prevRawY = tag.rawY;
            tag.rawX = truncCm(r.raw.x());
            tag.rawY = truncCm(r.raw.y());
        }
        if (kalman) {
            r.avgValid = tracked;
        } else if (d.avgDist.size() >= 3) {
            r.avgValid = true;
            r.avg = solveFromDistances(d.avgDist, anchors);
            averagedSpeed(st, r.avg, list.last()->received);
        }
        if (r.avgValid) {
            tag.updateAveragedPosition(truncCm(r.avg.x()), truncCm(r.avg.y()));
            // How far each new line's distances lie from the position shown.
            for (int i = list.size() - fresh; i < list.size(); ++i) {
                const RangingSample* s = list.at(i);
                const QMap<int, int> usable = usableDistances(s, anchors, options.tagHeight);
                QMap<int, double> residuals;
                for (auto u = usable.constBegin(); u != usable.constEnd(); ++u)
                    residuals.insert(u.key(), u.value() - std::hypot(r.avg.x() - anchors.at(u.key()).x,
                                                                     r.avg.y() - anchors.at(u.key()).y));
                quality.addResiduals(it.key(), s->received, residuals);
            }
            const Dilution dop = horizontalDilution(Eigen::Vector2d(r.avg.x(), r.avg.y()), anchorPoints(d.avgDist, anchors));
            // The filter's covariance knows only the noise it models; what
            // stays from sample to sample in the distances (the last seconds'
            // mean innovations, and the errors that come and go with the
            // carrier's heading over the last half minute) it adds through
            // the geometry, as the mean over the kit's tracked tags: one tag
            // shows only one degree of freedom of its anchors' errors, so a
            // tag whose error hides in the position would get a tight ellipse
            // around the wrong place. The average's fix shows its distance
            // error (what averaging leaves of it) in its residuals.
            const double fixNoise = !kalman && d.avgDist.size() >= 3 ? fixNoiseVariance(st, r.avg, d.avgDist, anchors) : -1.0;
            Eigen::Matrix2d cov;
            if (kalman && st.filter->positionCovariance(now, &cov)) {
                if (dop.valid)
                    cov += dop.geometry * (kitUnseen >= 0 ? kitUnseen : st.filter->unseenVariance());
                r.covValid = true;
            } else if (!kalman && dop.valid && fixNoise > 0) {
                cov = dop.geometry * fixNoise;
                // The average of a moving tag's distances lags behind it by
                // its speed times the age of the averaged samples' middle:
                // an error along the path that no residual shows.
                const int window = qMin(options.averageCount, list.size());
                double ageMs = 0;
                for (int i = list.size() - window; i < list.size(); ++i)
                    ageMs += double(signedMsecsBetween(list.at(i)->received, list.last()->received));
                const double lag = LagShare * st.avgSpeed * 0.1 * ageMs / qMax(1, window);   // m/s * ms -> cm
                const Eigen::Vector2d u(st.avgDirection.x(), st.avgDirection.y());
                cov += lag * lag * u * u.transpose();
                r.covValid = true;
            }
            if (r.covValid && cov.allFinite()) {
                r.covXX = cov(0, 0);
                r.covXY = cov(0, 1);
                r.covYY = cov(1, 1);
            } else {
                r.covValid = false;
            }
            if (options.trailSeconds > 0)
                keepTrail(st, r.avg, epochMs, options.trailSeconds);
        }
        if (options.trailSeconds <= 0)
            st.trail.clear();
        r.trail = st.trail;
        if (kalman)
            r.speed = tracked ? std::hypot(velocity.x(), velocity.y()) / 100.0 : 0.0;
        else
            r.speed = st.avgSpeed;
        tag.speedMps = r.speed;
        tag.prevUpdateMs = tag.lastUpdateMs;
        tag.lastUpdateMs = epochMs;
        // One row per change of the tag's samples (a new line, an expiry), not
        // one per pass: a pass every 10 ms would repeat each row many times.
        if (r.rawValid || r.avgValid) {
            const QPair<quint64, int> current(st.stored, list.size());
            if (st.exported != current) {
                st.exported = current;
                r.rowDue = true;
            }
        }
        if (r.rowDue && r.avgValid)
            zones.addFix(tag.id, tag.name, r.avg, epochMs);
        pass.tags.append(r);
    }
    zones.advance(epochMs);
    // Forget identifiers nobody sends any more, so a stream of ever-new (garbled)
    // identifiers cannot grow the histories without limit.
    for (const QString& key : qAsConst(silent)) {
        samples.remove(key);
        state.erase(key);
    }
    // Histories emptied from outside (a test, a fuzz run) take their state along.
    if (state.size() > size_t(samples.size())) {
        for (auto it = state.begin(); it != state.end();)
            it = samples.contains(it->first) ? std::next(it) : state.erase(it);
    }
    return pass;
}
