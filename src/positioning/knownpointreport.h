#ifndef KNOWNPOINTREPORT_H
#define KNOWNPOINTREPORT_H

#include "knownpointcollector.h"

#include <QList>
#include <QStringList>
#include <QVector>

struct Anchor;

// The offset table as lines of text: a header, then per anchor the true
// distance, the measured median, the proposed offset, the spread and the count,
// with a warning where the spread or the count gives reason to doubt it.
QStringList offsetReportLines(const QVector<OffsetProposal>& proposals, const QList<Anchor>& anchors);

// One tag at one point: a line each for the raw fix and the shown position.
QStringList accuracyReportLines(const KnownPointCollector::Positions& positions);

// The same as CSV rows, a header first.
QStringList accuracyCsvLines(const QVector<KnownPointCollector::Positions>& sets);

// Why a proposal is doubtful, in the dialog's words; empty when it is not.
QString offsetWarning(const OffsetProposal& proposal);

#endif
