#include "anchorsurveyjob.h"

#include "anchor.h"
#include "settingsfile.h"

#include <QElapsedTimer>

#include <cmath>

namespace {

int anchorById(const QList<Anchor>& anchors, const QString& id)
{
    for (int i = 0; i < anchors.size(); ++i)
        if (anchors.at(i).id.trimmed().compare(id.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

// Below this many samples (half a minute of walk) the result is shown with a warning.
constexpr int FewSamples = 150;
constexpr double HighResidualCm = 15.0;
constexpr double HighUncertaintyCm = 20.0;

AnchorSurveyInput AnchorSurveyJob::inputFor(const QList<Anchor>& anchors, const QVector<SurveySample>& samples,
                                            std::optional<int> tagHeight)
{
    AnchorSurveyInput in;
    for (const Anchor& a : anchors) {
        SurveyAnchor s;
        s.table = QPointF(a.x, a.y);
        s.z = a.z;
        s.offset = a.offset;
        s.master = a.master;
        in.anchors.append(s);
    }
    in.samples = samples;
    in.tagHeight = tagHeight;
    return in;
}

QStringList AnchorSurveyJob::warnings(const AnchorSurveyResult& r, bool scalePinned)
{
    QStringList w;
    if (!scalePinned)
        w << QStringLiteral("Maßstab nicht festgelegt: ohne bekannten Abstand und ohne eingemessene Offsets "
                            "kann der Raum zu groß oder zu klein herauskommen.");
    if (r.samples < FewSamples)
        w << QStringLiteral("Wenige Messpunkte (%1): länger gehen.").arg(r.samples);
    if (!r.goesAround)
        w << QStringLiteral("Der Weg führt nicht rundherum: an den Wänden entlang und durch die Mitte gehen.");
    if (r.residualRms > HighResidualCm)
        w << QStringLiteral("Restfehler %1 cm, über %2 cm.").arg(r.residualRms, 0, 'f', 1).arg(HighResidualCm, 0, 'f', 0);
    if (r.maxUncertainty() > HighUncertaintyCm)
        w << QStringLiteral("Unsicherheit bis %1 cm, über %2 cm.").arg(r.maxUncertainty(), 0, 'f', 1).arg(HighUncertaintyCm, 0, 'f', 0);
    return w;
}

bool AnchorSurveyJob::finish(const QString& settingsPath, const SettingsData& settings, std::optional<int> tagHeight, QStringList* report, QString* error)
{
    AnchorSurveyInput in = inputFor(settings.anchors, collector.samples(), tagHeight);
    if (!given.knownFirst.isEmpty()) {
        const int first = anchorById(settings.anchors, given.knownFirst);
        const int second = anchorById(settings.anchors, given.knownSecond);
        if (first < 0 || second < 0) {
            *error = QStringLiteral("unknown anchor %1").arg(first < 0 ? given.knownFirst : given.knownSecond);
            return false;
        }
        in.known = SurveyKnownDistance{first, second, given.knownCm};
    }
    if (collector.samples().isEmpty() && !given.tag.isEmpty()) {
        *error = QStringLiteral("no ranges from tag %1").arg(given.tag);
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    solved = surveyAnchors(in);
    seconds = double(clock.nsecsElapsed()) / 1e9;
    if (solved.status != AnchorSurveyResult::Solved) {
        *error = QStringLiteral("no anchor survey: %1").arg(solved.reason);
        return false;
    }
    for (int a = 0; a < settings.anchors.size(); ++a)
        *report << QStringLiteral("%1  X %2 cm  Y %3 cm  ± %4 cm")
                       .arg(settings.anchors.at(a).id, -6)
                       .arg(solved.anchors.at(a).x(), 7, 'f', 1)
                       .arg(solved.anchors.at(a).y(), 7, 'f', 1)
                       .arg(solved.uncertainty.at(a), 0, 'f', 1);
    QString summary = QStringLiteral("residual RMS %1 cm over %2 ranges of %3 samples, ")
                          .arg(solved.residualRms, 0, 'f', 1).arg(solved.ranges).arg(solved.samples);
    summary += solved.biasSolved ? QStringLiteral("common range bias %1 cm").arg(solved.bias, 0, 'f', 1)
                                 : QStringLiteral("offsets taken as calibrated");
    for (const QString& w : warnings(solved, true))
        summary += QStringLiteral("  warning: ") + w;
    *report << summary;
    if (given.writeSettings.isEmpty())
        return true;
    QList<QPoint> positions;
    for (const QPointF& p : solved.anchors)
        positions.append(QPoint(int(std::lround(p.x())), int(std::lround(p.y()))));
    if (!writeAnchorPositions(settingsPath, given.writeSettings, positions)) {
        *error = QStringLiteral("cannot write %1").arg(given.writeSettings);
        return false;
    }
    return true;
}
