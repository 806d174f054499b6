#ifndef ANCHORSURVEY_H
#define ANCHORSURVEY_H

#include <QPointF>
#include <QString>
#include <QVector>

#include <optional>

// Anchor positions from a walked tag's ranges alone: the anchors' X/Y, the
// walk's positions and (with one known anchor-to-anchor distance) a range
// bias common to all anchors, solved together by robust least squares.

// One moment of the walk: a tag's raw ranges (cm, as received, no offset) to
// the anchors by table index; 0 or less: none.
struct SurveySample
{
    qint64 ms = 0;
    int tag = 0;               // which walked tag (several may walk at once)
    QVector<double> ranges;
};

// An anchor as the table has it now.
struct SurveyAnchor
{
    QPointF table;             // cm; every anchor at 0/0: no layout entered yet
    double z = 0.0;            // cm
    double offset = 0.0;       // cm added to every range, as the positioning does
    bool master = false;
};

struct SurveyKnownDistance
{
    int first = -1;            // anchor indices
    int second = -1;
    double cm = 0.0;
};

struct AnchorSurveyInput
{
    QVector<SurveyAnchor> anchors;
    QVector<SurveySample> samples;
    std::optional<int> tagHeight;                 // cm; unset: the ranges are taken as lying in the plane
    // Pins the scale and lets a common bias be solved; without it the offsets
    // are taken as calibrated (bias 0).
    std::optional<SurveyKnownDistance> known;
};

struct AnchorSurveyResult
{
    enum Status { Solved, TooFewSamples, Degenerate };
    Status status = TooFewSamples;
    QString reason;                    // one line when not solved

    QVector<QPointF> anchors;          // cm, in the table's frame
    QVector<double> uncertainty;       // cm, one standard deviation of the position (radial)
    QVector<QPointF> walk;             // the solved walk, same frame, one per sample used
    double residualRms = 0.0;          // cm, over every range used
    double bias = 0.0;                 // cm, common range bias (measured - true); 0 unless solved
    bool biasSolved = false;
    int samples = 0;                   // samples with three or more ranges
    int ranges = 0;                    // ranges the result rests on
    int outliers = 0;                  // ranges left out as far off the fit
    bool goesAround = false;           // the walk surrounds the anchors' middle
    double maxUncertainty() const;
};

// Samples with at least this many ranges go in; fewer samples than MinSamples
// give TooFewSamples.
constexpr int SurveyMinRanges = 3;
constexpr int SurveyMinSamples = 40;
// The walk is thinned to one sample per tag and this interval.
constexpr qint64 SurveySampleIntervalMs = 200;

AnchorSurveyResult surveyAnchors(const AnchorSurveyInput& input);

// The best rotation and translation (no scale, no mirror) taking `from` onto
// `to`, applied to `points`.
QVector<QPointF> fitRigid(const QVector<QPointF>& from, const QVector<QPointF>& to, const QVector<QPointF>& points);

#endif
