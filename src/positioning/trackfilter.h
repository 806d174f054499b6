#ifndef TRACKFILTER_H
#define TRACKFILTER_H

#include <QList>
#include <QMap>
#include <QPointF>
#include <QTime>

#include <Eigen/Dense>

#include <array>

struct Anchor;

// Tracks one tag from its ranging samples: position and velocity in the plane
// (cm, cm/s), updated by every sample at its own arrival time, and the range
// bias that real radios add to every distance alike (cm), so a too-long
// distance to every anchor does not pull the tag off its place.
//
// Three constant-velocity Kalman filters run side by side and are blended by
// how well each explains the distances (interacting multiple models): one with
// little process noise for standing and holding course, one for walking, whose
// speed and course drift all the time, and one with much for turns, starts and
// stops. So the motion decides how much the track is smoothed. The distances are the measurements (extended
// Kalman update per distance), so a sample with a missing or bad distance
// still counts with the rest. A distance that the sample's own fix betrays, or
// whose innovation is improbable, is left out; the distance noise is estimated
// from the fixes' residuals as they come, so the filter needs no figure of a
// particular room or radio. After a silence, or when several samples in a row
// disagree with the track, the filter starts afresh from a fix that leaves out
// a distance its residual betrays.
class TrackFilter
{
public:
    // A silence longer than this starts the track afresh.
    static constexpr int SilenceMs = 1500;
    // How far the estimate is carried on past the last sample.
    static constexpr int MaxExtrapolationMs = 300;

    // One sample: usable distances (anchor index -> cm, offsets applied) and
    // its arrival time. Anchor indices that name no anchor are ignored.
    void addSample(const QMap<int, int>& distances, const QList<Anchor>& anchors, const QTime& at);
    bool isTracking() const { return tracking; }
    // The estimate carried on to `at` (at most MaxExtrapolationMs past the last
    // sample, never back before it). False while there is no track.
    bool estimate(const QTime& at, QPointF* position, QPointF* velocity) const;
    // The covariance (cm²) of the position estimate() gives at `at`: both
    // models' with the spread between them, carried on like the position.
    bool positionCovariance(const QTime& at, Eigen::Matrix2d* covariance) const;

    // The distance noise the filter currently assumes (cm).
    double distanceNoise() const { return noiseSigma; }
    // The part of the distance error (cm²) that stays from sample to sample,
    // which the filter's white-noise model cannot see in its covariance: the
    // accepted distances' innovations, each anchor's slowly averaged, over the
    // degrees of freedom left by position and common bias. 0 with three anchors.
    double persistentVariance() const;
    // The part of the distance error (cm²) that holds from one sample to the
    // next, over a longer stretch (about half a minute): each accepted
    // distance's innovation squared, less half its change from the sample
    // before (which is what white noise alone gives), over the degrees of
    // freedom left by position and common bias. Errors that come and go with
    // the carrier's heading count here, white noise does not.
    double longNoiseVariance() const;
    // Both of the above: the distance error (cm²) the covariance does not hold.
    double unseenVariance() const;
    // Counts over the filter's life, for tests and figures.
    int rejectedDistances() const { return rejected; }
    // Anchor indices of the last sample's distances that were left out.
    const QList<int>& lastLeftOut() const { return leftOut; }
    int starts() const { return startCount; }

private:
    // x, y (cm), vx, vy (cm/s) and the range bias common to all anchors (cm).
    static constexpr int States = 5;
    using Vec = Eigen::Matrix<double, States, 1>;
    using Mat = Eigen::Matrix<double, States, States>;
    using Row = Eigen::Matrix<double, 1, States>;
    static constexpr int Models = 3;
    static constexpr int NoiseWindow = 50;

    struct Model {
        Vec x = Vec::Zero();
        Mat P = Mat::Identity();
    };

    bool start(const QMap<int, int>& distances, const QList<Anchor>& anchors, const QTime& at);
    void predict(double dt);
    Vec combined() const;
    // Largest residual (cm) a fix may leave before a distance is suspected.
    double robustTolerance() const;
    void noteResiduals(const QMap<int, int>& distances, const QList<Anchor>& anchors);

    std::array<Model, Models> models;
    std::array<double, Models> weight{};
    bool tracking = false;
    QTime last;
    int misses = 0;

    double noiseSigma = 5.0;
    std::array<double, NoiseWindow> residuals{};   // per sample: residual variance of its own fix
    int residualCount = 0;
    struct Spread {
        double last = 0;       // the previous innovation (cm)
        double square = 0;     // slow mean of the innovation squared
        double change = 0;     // slow mean of half the squared change
        int count = 0;
    };
    QMap<int, Spread> spread;   // anchor index -> its innovations' spread

    QMap<int, double> innovationMean;   // anchor index -> slowly averaged innovation (cm)

    int rejected = 0;
    QList<int> leftOut;
    int startCount = 0;
};

#endif
