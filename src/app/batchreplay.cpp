#include "batchreplay.h"

#include "framing.h"
#include "mqttpassword.h"
#include "mqttpublisher.h"
#include "positionexport.h"
#include "qflatcombobox.h"
#include "rangingsample.h"
#include "knownpointreport.h"
#include "recording.h"
#include "settingsfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <QFileInfo>
#include <QStringList>

namespace {

// The averaging depths the window offers; a settings file naming another one
// leaves the window's default, as loading it there does.
int averageFromSettings(const QString& text)
{
    static const QStringList offered = {"1", "5", "10", "20", "30", "50", "100"};
    return offered.contains(text) ? text.toInt() : 10;
}

bool sameFile(const QString& a, const QString& b)
{
    const QFileInfo fa(a), fb(b);
    return fa.exists() && fb.exists() && fa.canonicalFilePath() == fb.canonicalFilePath();
}

} // namespace

bool BatchReplay::run(const BatchReplayOptions& given, QString* error)
{
    RecordingReader reader;
    if (!QFileInfo(given.recording).isFile() || !reader.open(given.recording)) {
        *error = QStringLiteral("cannot read the recording %1").arg(given.recording);
        return false;
    }
    SettingsData settings;
    if (!readSettingsFile(given.settings, settings)) {
        *error = QStringLiteral("cannot read the settings file %1").arg(given.settings);
        return false;
    }
    if (sameFile(given.output, given.recording) || sameFile(given.output, given.settings)) {
        *error = QStringLiteral("the export %1 would replace an input").arg(given.output);
        return false;
    }
    if (sameFile(given.events, given.recording) || sameFile(given.events, given.settings)
        || (!given.events.isEmpty() && QFileInfo(given.events).absoluteFilePath() == QFileInfo(given.output).absoluteFilePath())) {
        *error = QStringLiteral("the events %1 would replace an input or the export").arg(given.events);
        return false;
    }
    warnings = settings.warnings;
    modules.anchors = settings.anchors;
    modules.tags = settings.tags;
    options.averageCount = given.averageCount > 0 ? given.averageCount : averageFromSettings(settings.average);
    options.smoothing = smoothingFromName(given.filter.isEmpty() ? settings.filter : given.filter);
    options.tagHeight = tagHeightFromText(settings.tagHeight);
    step.zoneEvents().setZones(settings.zones);
    step.zoneEvents().setRules(settings.zoneRules);

    if (!given.mqttHost.isEmpty() && !connectBroker(given, settings.mqtt, error))
        return false;
    knownPoints = !given.calibrateAt.isEmpty() || !given.accuracyAt.isEmpty();
    if (given.survey)
        survey = std::make_unique<AnchorSurveyJob>(*given.survey);
    for (const auto& point : given.calibrateAt)
        calibration.begin(point.first, point.second);
    for (const auto& point : given.accuracyAt)
        accuracy.begin(point.first, point.second);
    PositionExport exporter;
    if (!given.output.isEmpty() && !exporter.open(given.output, true, given.distances ? PositionExport::anchorIds(modules.anchors) : QStringList())) {
        *error = QStringLiteral("cannot write %1").arg(given.output);
        return false;
    }
    if (!zoneJob.open(given.events)) {
        *error = QStringLiteral("cannot write %1").arg(given.events);
        return false;
    }
    if (mqtt)
        mqtt->setZones(settings.zones);
    out = given.output.isEmpty() ? nullptr : &exporter;
    if (given.linkQuality)
        step.linkQuality().setWindowMs(0);
    baseEpochMs = RecordingReader::startEpochMs(given.recording);
    baseTime = QDateTime::fromMSecsSinceEpoch(baseEpochMs).time();

    // As the replay in the window: a pass whenever the recorded time has moved
    // on by the pass interval, before the batch that arrived after it.
    quint32 ms = 0;
    quint32 lastPassMs = 0;
    QByteArray batch;
    while (reader.next(ms, batch)) {
        if (quint64(ms) >= quint64(lastPassMs) + PassIntervalMs) {
            pass();
            lastPassMs = ms;
        }
        nowMs = qMax(nowMs, ms);
        receive(batch);
    }
    pass();   // the batches after the last pass
    out = nullptr;
    if (mqtt) {
        drainBroker(0);
        const MqttPublisher::Counts counts = mqtt->counts();
        unpublishedCount = counts.dropped + mqtt->unacknowledged();
        publishedCount = counts.published - qMin(counts.published, mqtt->unacknowledged());
        mqtt.reset();   // says "offline"
    }
    // A known point that gave nothing fails the run before the export replaces anything.
    if (!reportKnownPoints(given, settings, error)) {
        exporter.discard();
        zoneJob.discard();
        return false;
    }
    // The survey writes its settings only after everything else succeeded.
    if (survey && !survey->finish(given.settings, settings, options.tagHeight, &reportLines, error)) {
        exporter.discard();
        return false;
    }
    if (given.linkQuality)
        reportLines += LinkQuality::table(step.linkQuality().figures(baseTime.addMSecs(int(nowMs % 86400000u))),
                                          PositionExport::anchorIds(modules.anchors));
    if (!given.output.isEmpty() && !exporter.close()) {
        *error = QStringLiteral("cannot write %1").arg(given.output);
        return false;
    }
    if (!zoneJob.close()) {
        *error = QStringLiteral("cannot write %1").arg(given.events);
        return false;
    }
    return true;
}

bool BatchReplay::reportKnownPoints(const BatchReplayOptions& given, const SettingsData& settings, QString* error)
{
    for (const auto* points : {&given.calibrateAt, &given.accuracyAt})
        for (const auto& point : *points)
            if (modules.findTag(point.first) < 0) {
                *error = QStringLiteral("unknown tag %1").arg(point.first);
                return false;
            }
    for (const KnownPointRanges& r : calibration.ranges())
        if (r.ranges.isEmpty()) {
            *error = QStringLiteral("no ranges from tag %1").arg(r.tagId);
            return false;
        }
    // A tag that walked about while its ranges were collected proposes nonsense offsets.
    for (const KnownPointCollector::Positions& p : calibration.positions()) {
        const double wander = fixWander(p.raw);
        if (wander > MaxWanderCm) {
            *error = QStringLiteral("tag %1 moves during the calibration (its fixes wander %2 cm); no offsets proposed")
                         .arg(p.tagId).arg(wander, 0, 'f', 0);
            return false;
        }
    }
    for (const KnownPointCollector::Positions& p : accuracy.positions())
        if (p.raw.isEmpty() && p.shown.isEmpty()) {
            *error = QStringLiteral("no positions of tag %1").arg(p.tagId);
            return false;
        }
    if (!given.calibrateAt.isEmpty()) {
        const QVector<OffsetProposal> proposals = proposeOffsets(calibration.ranges(), modules.anchors, options.tagHeight);
        reportLines += offsetReportLines(proposals, modules.anchors);
        if (!given.writeSettings.isEmpty()) {
            SettingsData changed = settings;
            for (const OffsetProposal& p : proposals)
                if (p.anchor < changed.anchors.size())
                    changed.anchors[p.anchor].offset = p.offset;
            if (!writeSettingsFile(given.writeSettings, changed)) {
                *error = QStringLiteral("cannot write %1").arg(given.writeSettings);
                return false;
            }
        }
    }
    for (const KnownPointCollector::Positions& p : accuracy.positions())
        reportLines += accuracyReportLines(p);
    return true;
}

void BatchReplay::receive(const QByteArray& data)
{
    const QByteArray chunk = Framing::takeCompleteLines(rxBuffer, data);
    if (chunk.isEmpty())
        return;
    const QTime now = baseTime.addMSecs(int(nowMs % 86400000u));
    Framing::forEachLine(chunk, [&](const QByteArray& line) {
        if (!Framing::isPacketLine(line))
            return;
        if (line.at(2) == 'D') {
            step.addRangingLine(line, now);
            if (knownPoints || survey) {
                RangingSample sample(line, now);
                (void)sample.parse();
                if (survey)
                    survey->add(sample, nowMs, modules.anchors.size());
                if (knownPoints) {
                    calibration.addSample(sample, modules.anchors, options.tagHeight);
                    accuracy.addSample(sample, modules.anchors, options.tagHeight);
                }
            }
            ++lines;
        } else if (line.at(2) == 'K') {
            modules.applyModuleList(line, colorList);   // as the window colours new tags
        }
    });
}

void BatchReplay::pass()
{
    const qint64 epochMs = baseEpochMs + qint64(nowMs);
    const PositioningPass result = step.run(modules, options, baseTime.addMSecs(int(nowMs % 86400000u)), epochMs);
    ++passCount;
    accuracy.addPass(result, modules);
    zoneJob.take(step.zoneEvents(), -baseEpochMs, mqtt.get());
    for (const TagResult& r : result.tags) {
        if (r.belowHeight > 0)
            below[r.key] = r.belowHeight;
        if (!r.rowDue || !out)
            continue;
        out->append(epochMs, qint64(nowMs), modules.tags.at(r.tag), r, modules.anchors);
        ++rowCount;
        if (mqtt) {
            // Far faster than any broker: keep the unacknowledged few, as the
            // publisher would drop what goes beyond its bound.
            drainBroker(1000);
            mqtt->publishPosition(PositionMessage::of(modules.tags.at(r.tag), r));
        }
    }
}

bool BatchReplay::connectBroker(const BatchReplayOptions& given, MqttSettings settings, QString* error)
{
    settings.enabled = true;
    settings.host = given.mqttHost;
    if (given.mqttPort > 0)
        settings.port = given.mqttPort;
    settings.password = MqttPassword::load(settings.host, settings.user);
    const QString where = QStringLiteral("%1:%2").arg(settings.host).arg(settings.port);
    mqtt = std::make_unique<MqttPublisher>();
    mqtt->setAnchors(modules.anchors);
    mqtt->setTags(modules.tags);
    if (mqtt->master().isEmpty()) {
        *error = QStringLiteral("no master anchor in %1 to name the MQTT topics").arg(given.settings);
        return false;
    }
    mqtt->configure(settings);
    QElapsedTimer waited;
    waited.start();
    // A refused first attempt is the answer; the publisher would only try again.
    while (!mqtt->isConnected() && !mqtt->statusText().startsWith(QStringLiteral("MQTT: getrennt"))
           && waited.elapsed() < MqttPublisher::ConnectTimeoutMs) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    if (!mqtt->isConnected()) {
        *error = QStringLiteral("cannot reach the MQTT broker %1 (%2)").arg(where, mqtt->statusText());
        mqtt.reset();
        return false;
    }
    return true;
}

void BatchReplay::drainBroker(int maxPending)
{
    // A broker that stops acknowledging holds the batch back for at most a few seconds.
    QElapsedTimer waited;
    waited.start();
    while (mqtt->isConnected() && mqtt->unacknowledged() > quint64(maxPending) && waited.elapsed() < 5000)
        QThread::usleep(200);
}

quint64 BatchReplay::belowHeight() const
{
    quint64 sum = 0;
    for (const quint64 n : below)
        sum += n;
    return sum;
}
