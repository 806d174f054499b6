#include "anchorsurveyflow.h"

#include "anchorsurveydialog.h"
#include "anchorsurveyjob.h"
#include "modulesetup.h"
#include "rangingsample.h"
#include "solver.h"
#include "tagmeasurement.h"

#include <cmath>

AnchorSurveyFlow::AnchorSurveyFlow(const Context& context, QObject* parent) : QObject(parent), ctx(context)
{
    ticker.setInterval(500);
    connect(&ticker, &QTimer::timeout, this, &AnchorSurveyFlow::tick);
}

AnchorSurveyFlow::~AnchorSurveyFlow()
{
    delete dlg;
}

AnchorSurveyDialog* AnchorSurveyFlow::dialog() const
{
    return dlg;
}

void AnchorSurveyFlow::open()
{
    if (!dlg) {
        dlg = new AnchorSurveyDialog(ctx.window);
        connect(dlg, &AnchorSurveyDialog::startRequested, this, &AnchorSurveyFlow::start);
        connect(dlg, &AnchorSurveyDialog::stopRequested, this, &AnchorSurveyFlow::stop);
        connect(dlg, &AnchorSurveyDialog::cancelRequested, this, &AnchorSurveyFlow::cancel);
        connect(dlg, &AnchorSurveyDialog::applyRequested, this, &AnchorSurveyFlow::apply);
        connect(dlg, &AnchorSurveyDialog::applyBiasRequested, this, &AnchorSurveyFlow::applyBias);
    }
    if (!running) {
        QStringList tags, anchors;
        for (const Tag& t : ctx.modules->tags)
            tags << t.id;
        int master = 0;
        for (int i = 0; i < ctx.modules->anchors.size(); ++i) {
            anchors << ctx.modules->anchors.at(i).id;
            if (ctx.modules->anchors.at(i).master)
                master = i;
        }
        dlg->setTags(tags);
        dlg->setAnchors(anchors, master, anchors.isEmpty() ? -1 : (master + 1) % anchors.size());
        const std::optional<int> height = ctx.tagHeight ? ctx.tagHeight() : std::nullopt;
        dlg->setHeightText(height ? tr("%1 cm (aus \"Tag-Höhe\")").arg(*height)
                                  : tr("keine \"Tag-Höhe\": Abstände in der Ebene"));
        QVector<QPointF> at;
        for (const Anchor& a : ctx.modules->anchors)
            at.append(QPointF(a.x, a.y));
        dlg->setPicture(at, anchors, preview);
    }
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
}

void AnchorSurveyFlow::start()
{
    if (!dlg || running)
        return;
    if (dlg->tag().isEmpty()) {
        dlg->setWarning(tr("Bitte einen Tag wählen."));
        return;
    }
    double cm = 0;
    if (dlg->scale() == AnchorSurveyDialog::KnownDistance && !dlg->knownCm(&cm)) {
        dlg->setWarning(tr("Bitte zwei verschiedene Anker und ihren Abstand in cm angeben."));
        return;
    }
    collector.clear();
    collector.setTag(dlg->tag());
    preview.clear();
    firstMs = -1;
    solved = AnchorSurveyResult();
    dlg->setWarning(QString());
    dlg->setTable({}, {});
    dlg->setSummary(QString(), QString(), false);
    running = true;
    elapsed.start();
    ticker.start();
    dlg->setCollecting(true);
    tick();
}

void AnchorSurveyFlow::rangingLine(const QByteArray& line, const QTime& received)
{
    if (!running)
        return;
    RangingSample sample(line);
    // The walk is thinned on the lines' own clock, so a replay at any speed gives the same samples.
    const qint64 tod = received.isValid() ? received.msecsSinceStartOfDay() : elapsed.elapsed();
    if (firstMs < 0)
        firstMs = tod;
    const qint64 ms = (tod - firstMs + 86400000) % 86400000;
    if (!sample.parse() || !collector.add(sample, ms, ctx.modules->anchors.size()))
        return;
    const std::optional<int> height = ctx.tagHeight ? ctx.tagHeight() : std::nullopt;
    const QMap<int, int> usable = usableDistances(&sample, ctx.modules->anchors, height);
    if (usable.size() >= 3)
        preview.append(solveFromDistances(usable, ctx.modules->anchors));
}

void AnchorSurveyFlow::tick()
{
    if (!dlg)
        return;
    // The walk's length on the lines' clock: the time walked, also in a replay.
    const qint64 s = collector.samples().isEmpty() ? 0 : collector.samples().last().ms / 1000;
    dlg->setProgress(tr("%1:%2 min – %3 Messpunkte").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0')).arg(collector.usableCount()));
    QVector<QPointF> at;
    QStringList ids;
    for (const Anchor& a : ctx.modules->anchors) {
        at.append(QPointF(a.x, a.y));
        ids << a.id;
    }
    dlg->setPicture(at, ids, preview);
}

void AnchorSurveyFlow::cancel()
{
    if (!running)
        return;
    running = false;
    ticker.stop();
    collector.clear();
    preview.clear();
    if (dlg) {
        dlg->setCollecting(false);
        dlg->setProgress(tr("Abgebrochen."));
    }
}

void AnchorSurveyFlow::stop()
{
    if (!running)
        return;
    tick();
    running = false;
    ticker.stop();
    if (dlg)
        dlg->setCollecting(false);
    showResult();
}

void AnchorSurveyFlow::showResult()
{
    const QList<Anchor>& anchors = ctx.modules->anchors;
    AnchorSurveyInput in = AnchorSurveyJob::inputFor(anchors, collector.samples(),
                                                     ctx.tagHeight ? ctx.tagHeight() : std::nullopt);
    double cm = 0;
    scalePinned = dlg->scale() != AnchorSurveyDialog::NoScale;
    if (dlg->scale() == AnchorSurveyDialog::KnownDistance && dlg->knownCm(&cm))
        in.known = SurveyKnownDistance{dlg->knownFirst(), dlg->knownSecond(), cm};
    solved = surveyAnchors(in);
    if (solved.status != AnchorSurveyResult::Solved) {
        dlg->setTable({}, {});
        dlg->setSummary(QString(), QString(), false);
        dlg->setWarning(solved.status == AnchorSurveyResult::TooFewSamples
                            ? tr("Zu wenige Messpunkte (%1): länger und mit allen Ankern in Reichweite gehen.").arg(solved.samples)
                            : tr("Aus diesem Weg lassen sich die Anker nicht bestimmen: er führt nicht rundherum oder "
                                 "der Tag stand fast still. An den Wänden entlang und durch die Mitte gehen."));
        dlg->setApplyEnabled(false);
        return;
    }
    QVector<QStringList> rows;
    QVector<QPointF> at;
    QStringList ids;
    for (int a = 0; a < anchors.size() && a < solved.anchors.size(); ++a) {
        const Anchor& anchor = anchors.at(a);
        const QPointF to = solved.anchors.at(a);
        const QPoint rounded(int(std::lround(to.x())), int(std::lround(to.y())));
        rows.append({anchor.id, QString::number(anchor.x), QString::number(anchor.y), QString::number(rounded.x()),
                     QString::number(rounded.y()),
                     QString::number(std::hypot(rounded.x() - anchor.x, rounded.y() - anchor.y), 'f', 0),
                     QString::number(solved.uncertainty.at(a), 'f', 1)});
        at.append(to);
        ids << anchor.id;
    }
    dlg->setTable({tr("Anker"), tr("X jetzt [cm]"), tr("Y jetzt [cm]"), tr("X neu [cm]"), tr("Y neu [cm]"),
                   tr("Änderung [cm]"), tr("Unsicherheit [cm]")},
                  rows);
    dlg->setPicture(at, ids, solved.walk);
    dlg->setSummary(tr("Restfehler (RMS) des Wegs: %1 cm aus %2 Abständen an %3 Messpunkten")
                        .arg(solved.residualRms, 0, 'f', 1).arg(solved.ranges).arg(solved.samples),
                    solved.biasSolved ? tr("Gemeinsamer Bias der Abstände: %1 cm").arg(solved.bias, 0, 'f', 1)
                                      : tr("Bias: nicht bestimmt (Offsets wie in der Ankertabelle)"),
                    solved.biasSolved);
    dlg->setBiasEnabled(solved.biasSolved && std::lround(solved.bias) != 0);
    const QStringList warnings = AnchorSurveyJob::warnings(solved, scalePinned);
    dlg->setWarning(warnings.isEmpty() ? QString() : tr("Achtung – %1").arg(warnings.join(QLatin1Char(' '))));
    dlg->setApplyEnabled(true);
}

void AnchorSurveyFlow::apply()
{
    QList<Anchor>& anchors = ctx.modules->anchors;
    if (solved.status != AnchorSurveyResult::Solved || solved.anchors.size() != anchors.size())
        return;
    QList<QPair<QString, QPoint>> before;
    for (int a = 0; a < anchors.size(); ++a) {
        before.append({anchors.at(a).id, QPoint(anchors.at(a).x, anchors.at(a).y)});
        anchors[a].x = int(std::lround(solved.anchors.at(a).x()));
        anchors[a].y = int(std::lround(solved.anchors.at(a).y()));
    }
    emit positionsApplied(before);
    dlg->setApplyEnabled(false);
}

void AnchorSurveyFlow::applyBias()
{
    QList<Anchor>& anchors = ctx.modules->anchors;
    if (!solved.biasSolved)
        return;
    // The ranges are that much too long: every offset takes it off.
    const int correction = int(std::lround(solved.bias));
    QList<QPair<QString, int>> before;
    for (Anchor& a : anchors) {
        before.append({a.id, a.offset});
        a.offset -= correction;
    }
    emit offsetsApplied(before);
    dlg->setBiasEnabled(false);
}
