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
    current.clear();
    doubtful = false;
    // A tag that walked about proposes offsets of metres: its ranges are no
    // measure of the anchors, so it proposes nothing at all.
    QStringList moving;
    for (const KnownPointCollector::Positions& p : collector.positions()) {
        const double wander = fixWander(p.raw);
        if (wander > MaxWanderCm)
            moving << tr("Der Tag %1 bewegt sich (seine Positionen wandern um %2 cm)").arg(p.tagId).arg(wander, 0, 'f', 0);
    }
    if (moving.isEmpty())
        current = proposeOffsets(collector.ranges(), anchors, ctx.tagHeight ? ctx.tagHeight() : std::nullopt);
    QVector<QStringList> rows;
    QVector<bool> marked;
    QStringList warnings;
    for (const OffsetProposal& p : qAsConst(current)) {
        const QString id = anchors.at(p.anchor).id;
        rows.append({id, QString::number(p.trueDistance, 'f', 1), QString::number(p.measuredMedian, 'f', 1),
                     QString::number(p.offset), QString::number(p.spread, 'f', 1), QString::number(p.count)});
        marked.append(p.doubtful());
        doubtful = doubtful || p.doubtful();
        if (p.doubtful())
            warnings << tr("Anker %1: %2").arg(id, offsetWarning(p));
    }
    dlg->setTable({tr("Anker"), tr("Wahre Distanz [cm]"), tr("Gemessen (Median) [cm]"), tr("Offset-Vorschlag [cm]"),
                   tr("Streuung (IQR) [cm]"), tr("Messungen")},
                  rows, marked);
    if (!moving.isEmpty())
        dlg->setWarning(tr("%1 – kein Vorschlag. Den Tag ruhig an den Punkt stellen und mit \"Neu beginnen\" "
                           "erneut sammeln.").arg(moving.join(QStringLiteral("; "))));
    else
        dlg->setWarning(warnings.isEmpty() ? QString() : tr("Achtung – %1").arg(warnings.join(QStringLiteral("; "))));
    dlg->offerApplyAnyway(doubtful);
    dlg->setApplyEnabled(!current.isEmpty() && !doubtful);
}

void OffsetCalibrationFlow::applyAnywayToggled(bool on)
{
    if (dlg && !collecting())
        dlg->setApplyEnabled(!current.isEmpty() && (!doubtful || on));
}

void OffsetCalibrationFlow::apply()
{
    // The button is the guard; this is the rule behind it.
    if (current.isEmpty() || (doubtful && !dlg->applyAnyway()))
        return;
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
    dlg->offerApplyAnyway(false);
    dlg->setApplyEnabled(false);
}
