#ifndef POSITIONINGSTEP_H
#define POSITIONINGSTEP_H

#include "linkquality.h"
#include "errorellipse.h"
#include "rangingsample.h"
#include "trackfilter.h"
#include "zoneevents.h"

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QPointF>
#include <QString>
#include <QTime>
#include <QVector>

#include <array>
#include <map>
#include <memory>
#include <optional>

class ModuleSetup;
struct Anchor;

// How the averaged position of a tag is made.
enum class Smoothing { Average, Kalman };

// Settings-file spelling of a smoothing ("average", "kalman"); anything else
// reads as the plain average.
QString smoothingName(Smoothing s);
Smoothing smoothingFromName(const QString& name, bool* ok = nullptr);

// The tag height an edit field or settings file gives (whole cm, -100000 to
// 100000); empty or anything else is no height.
std::optional<int> tagHeightFromText(const QString& text);

struct PositioningOptions
{
    int averageCount = 10;
    Smoothing smoothing = Smoothing::Average;
    // Height of the tags (cm, same axis as the anchors' Z): when set, every
    // distance is projected into the tags' plane; unset, distances count as
    // distances in the plane.
    std::optional<int> tagHeight;
    // How long each tag's trail reaches back (s); 0 keeps none.
    int trailSeconds = 0;
};

// One point of a tag's trail: the averaged or filtered position (cm) and
// how faded it is, from 0 (just now) to TrailPoint::Levels - 1 (oldest).
struct TrailPoint
{
    static constexpr int Levels = 8;
    float x = 0, y = 0;
    qint64 ms = 0;      // when the pass computed it
    int fade = 0;
};

// What one pass computed for one tag: everything the chart draws and an
// export row or a publisher sends. Positions in cm as the solver or filter
// gave them (not truncated); distances with offsets applied.
struct TagResult
{
    QString key;               // the history key (identifier as received)
    int tag = -1;              // index into ModuleSetup::tags
    QMap<int, int> rawDist;    // anchor index -> latest distance
    QMap<int, int> avgDist;    // anchor index -> averaged distance (filtered: from the filtered position)
    bool rawValid = false;     // a raw fix was computed (three distances), shown or not
    QPointF raw;
    bool avgValid = false;     // an averaged or filtered position was computed, shown or not
    QPointF avg;
    double speed = 0.0;        // m/s
    double rate = 0.0;         // Hz
    bool rowDue = false;       // the tag's samples changed since its last row
    quint64 belowHeight = 0;   // distances so far shorter than the height difference (taken as 0 in the plane)
    // Uncertainty of avg (cm²): the filter's covariance, or the fix's geometry
    // times the distance noise its residuals show; only with avgValid.
    bool covValid = false;
    double covXX = 0.0, covXY = 0.0, covYY = 0.0;
    QVector<TrailPoint> trail;   // oldest first, when trails are kept
    // sqrt of the variances (cm), and the 95 % ellipse's larger half-axis
    // (cm), or -1 without an uncertainty.
    double sigmaX() const;
    double sigmaY() const;
    double r95() const;
    double rhoXY() const;   // correlation of x and y, 0 without an uncertainty
    ErrorEllipse ellipse95() const;   // invalid without an uncertainty
};

struct PositioningPass
{
    QVector<TagResult> tags;   // in history key order
    bool masterDistanceSet = false;   // the first tag with a master anchor
    QString masterTagName;
    int masterDistance = 0;           // as in avgDist (0 when there is none)
};

// The positioning of every tag, window-free: ranging lines go in as they
// arrive; once per chart pass, run() expires old samples, averages, solves,
// filters and derives speed and rate, updates the tags' measurement state and
// returns what it computed. The live chart, a replay and the batch mode all
// call this one step.
class PositioningStep
{
public:
    static constexpr int MaxSamples = 200;   // per identifier

    PositioningStep() = default;
    ~PositioningStep();
    PositioningStep(const PositioningStep&) = delete;
    PositioningStep& operator=(const PositioningStep&) = delete;

    // The receive path's entry for a 'D' line: parses it and stores the sample
    // under its identifier, dropping the oldest beyond MaxSamples.
    void addRangingLine(const QByteArray& line, const QTime& received);

    // One pass at time of day `now` (`epochMs` the same moment as ms since the
    // epoch, kept as the tags' update time).
    PositioningPass run(ModuleSetup& modules, const PositioningOptions& options, const QTime& now, qint64 epochMs);

    // Samples per identifier, oldest first (owned here).
    RangingHistory& history() { return samples; }
    const RangingHistory& history() const { return samples; }
    // Deletes every sample and forgets every track and link figure.
    void clear();
    // Forgets every tag's trail, keeping the samples and tracks.
    void clearTrails();

    // The links' figures, from the lines and fixes that went through here.
    LinkQuality& linkQuality() { return quality; }
    const LinkQuality& linkQuality() const { return quality; }
    // The zones' states and events, fed with every new shown position.
    ZoneEvents& zoneEvents() { return zones; }
    const ZoneEvents& zoneEvents() const { return zones; }

private:
    struct KeyState {
        quint64 stored = 0;             // lines stored under the key
        quint64 fed = 0;                // of those, given to the filter
        quint64 heightChecked = 0;      // of those, checked against the tag height
        quint64 belowHeight = 0;        // distances shorter than the height difference
        quint64 qualityNoted = 0;       // of the lines stored, those counted in the link figures
        QPair<quint64, int> exported{0, -1};   // stored count and size at the last row
        std::unique_ptr<TrackFilter> filter;   // only for tags being filtered
        bool haveAvg = false;           // plain average: the last change and its sample
        QPointF lastAvg;
        QTime lastAvgTime;
        double avgSpeed = 0.0;
        QPointF avgDirection;           // of its last step, unit length
        // Distance noise variances of recent averaged fixes (their residuals), a ring.
        std::array<double, 30> fixNoise{};
        int fixNoiseCount = 0;
        QPointF lastNoiseFix;
        QVector<TrailPoint> trail;
    };

    // The distance error the filters' covariances do not hold (cm²), the mean
    // over the tags with a track; -1 when none has one.
    double kitUnseenVariance() const;
    // The averaged fix's distance noise (cm²), noted when the fix changes.
    double fixNoiseVariance(KeyState& st, const QPointF& fix, const QMap<int, int>& dists,
                            const QList<Anchor>& anchors);
    void keepTrail(KeyState& st, const QPointF& position, qint64 epochMs, int seconds);

    void feedFilter(const QString& key, KeyState& st, const QList<RangingSample*>& list, const ModuleSetup& modules,
                    std::optional<int> tagHeight);
    // The lines new since the last pass into the link figures; returns how many.
    int noteLines(const QString& key, KeyState& st, const QList<RangingSample*>& list, const ModuleSetup& modules,
                  std::optional<int> tagHeight);
    void countBelowHeight(KeyState& st, const QList<RangingSample*>& list, const ModuleSetup& modules,
                          std::optional<int> tagHeight);
    void averagedSpeed(KeyState& st, const QPointF& avg, const QTime& sampleTime);

    RangingHistory samples;
    std::map<QString, KeyState> state;
    LinkQuality quality;
    ZoneEvents zones;
};

#endif
