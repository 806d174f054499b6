#include "offsetcalibrationflow.h"

#include "knownpointdialog.h"
#include "knownpointreport.h"
#include "modulesetup.h"

OffsetCalibrationFlow::OffsetCalibrationFlow(const Context& context, QObject* parent)
    : KnownPointFlow(context, tr("Offsets einmessen"), tr("Übernehmen"), parent)
{
}

void OffsetCalibrationFlow::showResult()
{
    const QList<Anchor>& anchors = ctx.modules->anchors;
    current = proposeOffsets(collector.ranges(), anchors, ctx.tagHeight ? ctx.tagHeight() : std::nullopt);
    QVector<QStringList> rows;
    QVector<bool> marked;
    QStringList warnings;
    for (const OffsetProposal& p : qAsConst(current)) {
        const QString id = anchors.at(p.anchor).id;
        rows.append({id, QString::number(p.trueDistance, 'f', 1), QString::number(p.measuredMedian, 'f', 1),
                     QString::number(p.offset), QString::number(p.spread, 'f', 1), QString::number(p.count)});
        marked.append(p.doubtful());
        if (p.doubtful())
            warnings << tr("Anker %1: %2").arg(id, offsetWarning(p));
    }
    dlg->setTable({tr("Anker"), tr("Wahre Distanz [cm]"), tr("Gemessen (Median) [cm]"), tr("Offset-Vorschlag [cm]"),
                   tr("Streuung (IQR) [cm]"), tr("Messungen")},
                  rows, marked);
    dlg->setWarning(warnings.isEmpty() ? QString() : tr("Achtung – %1").arg(warnings.join(QStringLiteral("; "))));
    dlg->setApplyEnabled(!current.isEmpty());
}

void OffsetCalibrationFlow::apply()
{
    QList<Anchor>& anchors = ctx.modules->anchors;
    QList<QPair<QString, int>> before;
    for (const OffsetProposal& p : qAsConst(current)) {
        if (p.anchor >= anchors.size())
            continue;
        before.append({anchors.at(p.anchor).id, anchors.at(p.anchor).offset});
        anchors[p.anchor].offset = p.offset;
    }
    if (!before.isEmpty())
        emit offsetsApplied(before);
    dlg->setApplyEnabled(false);
}
