#ifndef ANCHORSURVEYJOB_H
#define ANCHORSURVEYJOB_H

#include "anchorsurvey.h"
#include "anchorsurveycollector.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct Anchor;
class RangingSample;
struct SettingsData;

// What --survey-anchors is asked for.
struct AnchorSurveyJobOptions
{
    QString tag;                 // empty: every tag's walk
    QString knownFirst;          // anchor ids of a tape-measured distance; empty: offsets taken as calibrated
    QString knownSecond;
    double knownCm = 0.0;
    QString writeSettings;       // non-empty: the settings file again with the surveyed X/Y
};

// The batch mode's anchor survey: gathers the walk from the replayed lines,
// solves it at the end, reports one line per anchor and one with the residual
// and bias, and writes the settings with the new positions when asked.
class AnchorSurveyJob
{
public:
    explicit AnchorSurveyJob(const AnchorSurveyJobOptions& options) : given(options) { collector.setTag(options.tag); }

    void add(const RangingSample& sample, quint32 ms, int anchorCount) { collector.add(sample, ms, anchorCount); }

    // False with a one-line reason (unknown ids, too few ranges, a degenerate
    // walk, a file not written); nothing is written then. The settings file
    // is written again byte for byte but for the anchors' X/Y.
    bool finish(const QString& settingsPath, const SettingsData& settings, std::optional<int> tagHeight, QStringList* report, QString* error);

    const AnchorSurveyResult& result() const { return solved; }
    double solveSeconds() const { return seconds; }

    // The survey's input from the anchor table and a walk.
    static AnchorSurveyInput inputFor(const QList<Anchor>& anchors, const QVector<SurveySample>& samples,
                                      std::optional<int> tagHeight);
    // Where the result is weak, in the dialog's words (also printed by the batch mode).
    static QStringList warnings(const AnchorSurveyResult& result, bool scalePinned);

private:
    AnchorSurveyJobOptions given;
    AnchorSurveyCollector collector;
    AnchorSurveyResult solved;
    double seconds = 0.0;
};

#endif
