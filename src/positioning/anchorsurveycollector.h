#ifndef ANCHORSURVEYCOLLECTOR_H
#define ANCHORSURVEYCOLLECTOR_H

#include "anchorsurvey.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

class RangingSample;

// Gathers a walk for the anchor survey from ranging lines: one tag's (or every
// tag's), thinned to one sample per tag and SurveySampleIntervalMs so that a
// long walk stays quick to solve.
class AnchorSurveyCollector
{
public:
    // Only this tag's lines count; empty: every tag's.
    void setTag(const QString& tagId) { onlyTag = tagId.trimmed(); }
    QString tag() const { return onlyTag; }
    void clear();

    // A parsed ranging line at `ms` on any steady clock; true when it was taken.
    bool add(const RangingSample& sample, qint64 ms, int anchorCount);

    const QVector<SurveySample>& samples() const { return taken; }
    // The walked tags, by SurveySample::tag.
    QStringList tags() const { return tagIds; }
    // Samples with enough ranges to go into the solve.
    int usableCount() const { return usable; }

private:
    QString onlyTag;
    QVector<SurveySample> taken;
    QStringList tagIds;
    QMap<int, qint64> lastMs;
    int usable = 0;
};

#endif
