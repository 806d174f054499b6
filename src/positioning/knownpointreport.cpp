#include "knownpointreport.h"

#include "anchor.h"

#include <QCoreApplication>

namespace {

QString statsText(const char* what, const ErrorStatistics& s)
{
    return QStringLiteral("%1: n %2, mean error dx %3 dy %4 cm, sigma x %5 y %6 cm, CEP50 %7 cm, R95 %8 cm, max %9 cm")
        .arg(QLatin1String(what)).arg(s.n)
        .arg(s.meanDx, 0, 'f', 1).arg(s.meanDy, 0, 'f', 1).arg(s.sigmaX, 0, 'f', 1).arg(s.sigmaY, 0, 'f', 1)
        .arg(s.cep50, 0, 'f', 1).arg(s.r95, 0, 'f', 1).arg(s.max, 0, 'f', 1);
}

QString csvRow(const KnownPointCollector::Positions& p, const char* kind, const ErrorStatistics& s)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11,%12")
        .arg(p.tagId).arg(p.truth.x(), 0, 'f', 0).arg(p.truth.y(), 0, 'f', 0).arg(QLatin1String(kind)).arg(s.n)
        .arg(s.meanDx, 0, 'f', 1).arg(s.meanDy, 0, 'f', 1).arg(s.sigmaX, 0, 'f', 1).arg(s.sigmaY, 0, 'f', 1)
        .arg(s.cep50, 0, 'f', 1).arg(s.r95, 0, 'f', 1).arg(s.max, 0, 'f', 1);
}

} // namespace

QString offsetWarning(const OffsetProposal& p)
{
    QStringList why;
    if (p.spread > MaxSpreadCm)
        why << QCoreApplication::translate("KnownPoint", "Streuung über %1 cm").arg(MaxSpreadCm, 0, 'f', 0);
    if (p.count < MinRanges)
        why << QCoreApplication::translate("KnownPoint", "weniger als %1 Messungen").arg(MinRanges);
    return why.join(QStringLiteral(", "));
}

QStringList offsetReportLines(const QVector<OffsetProposal>& proposals, const QList<Anchor>& anchors)
{
    QStringList lines{QStringLiteral("anchor  true_cm  measured_cm  offset_cm  spread_cm  ranges")};
    for (const OffsetProposal& p : proposals) {
        QString line = QStringLiteral("%1  %2  %3  %4  %5  %6")
                           .arg(anchors.at(p.anchor).id, -6)
                           .arg(p.trueDistance, 7, 'f', 1).arg(p.measuredMedian, 11, 'f', 1)
                           .arg(p.offset, 9).arg(p.spread, 9, 'f', 1).arg(p.count, 6);
        if (p.doubtful())
            line += QStringLiteral("  warning: ") + offsetWarning(p);
        lines << line;
    }
    return lines;
}

QStringList accuracyReportLines(const KnownPointCollector::Positions& p)
{
    const QString where = QStringLiteral("%1 at %2,%3").arg(p.tagId).arg(p.truth.x()).arg(p.truth.y());
    return {where + QStringLiteral(" ") + statsText("raw fix", errorStatistics(p.raw, p.truth)),
            where + QStringLiteral(" ") + statsText("shown", errorStatistics(p.shown, p.truth))};
}

QStringList accuracyCsvLines(const QVector<KnownPointCollector::Positions>& sets)
{
    QStringList lines{QStringLiteral("tag_id,true_x_cm,true_y_cm,position,n,mean_dx_cm,mean_dy_cm,sigma_x_cm,sigma_y_cm,"
                                     "cep50_cm,r95_cm,max_cm")};
    for (const KnownPointCollector::Positions& p : sets) {
        lines << csvRow(p, "raw", errorStatistics(p.raw, p.truth));
        lines << csvRow(p, "shown", errorStatistics(p.shown, p.truth));
    }
    return lines;
}
