#include "positioningstep.h"

#include "modulesetup.h"
#include "solver.h"
#include "tagmeasurement.h"
#include "timeofday.h"

#include <QStringList>

#include <cmath>
#include <iterator>

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
            st.avgSpeed = std::hypot(step.x(), step.y()) * 10.0 / double(ms);   // 1 cm/ms = 10 m/s
        }
    }
    st.haveAvg = true;
    st.lastAvg = avg;
    st.lastAvgTime = sampleTime;
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
        }
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
        pass.tags.append(r);
    }
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
