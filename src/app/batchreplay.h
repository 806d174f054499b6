#ifndef BATCHREPLAY_H
#define BATCHREPLAY_H

#include "anchorsurveyjob.h"
#include "modulesetup.h"
#include "knownpointcollector.h"
#include "mqttsettings.h"
#include "positioningstep.h"
#include "replaycontroller.h"
#include "zoneeventsjob.h"

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QTime>

#include <memory>

class MqttPublisher;
struct SettingsData;
class PositionExport;

// What the batch mode is asked to do (the command line's --replay road).
struct BatchReplayOptions
{
    QString recording;
    QString settings;
    QString output;
    QString filter;          // "average" or "kalman"; empty: as the settings file says
    int averageCount = 0;    // 0: as the settings file says
    QString mqttHost;        // non-empty: the rows are published there too
    int mqttPort = 0;        // 0: as the settings file says
    // Tags standing at known points (cm) through the whole recording: their
    // ranges give offsets, their positions the accuracy.
    QVector<QPair<QString, QPointF>> calibrateAt{};
    QVector<QPair<QString, QPointF>> accuracyAt{};
    QString writeSettings{};   // non-empty: the settings file again, with the proposed offsets
    bool distances = false;  // a d_<anchor id>_cm column per anchor
    bool linkQuality = false;   // the link figures over the whole recording into the report
    QString events{};        // non-empty: the zone events as CSV there
    // The anchors' X/Y from a walked tag (writeSettings above: with the surveyed X/Y).
    std::optional<AnchorSurveyJobOptions> survey{};
};

// Runs a recording through the receive path and the positioning step without a
// window, with a pass every PassIntervalMs of recorded time as a replay at
// "so schnell wie möglich" does, and writes the rows that replay would write.
class BatchReplay
{
public:
    // The cadence of a replay in the window at "so schnell wie möglich".
    static constexpr quint32 PassIntervalMs = ReplayController::PassIntervalMs;

    // False with a one-line reason in *error; the output is then left as it was
    // (rows go to a file beside it that replaces it only at the end).
    bool run(const BatchReplayOptions& options, QString* error);

    // The report of --calibrate-at, --accuracy-at and --link-quality, one line each.
    QStringList report() const { return reportLines; }
    // What loading the settings left out (a broken zone), one line each.
    QStringList settingsWarnings() const { return warnings; }

    // Seconds the anchor survey's solve took; negative without one.
    double surveySeconds() const { return survey ? survey->solveSeconds() : -1.0; }

    quint64 rangingLines() const { return lines; }
    quint64 passes() const { return passCount; }
    quint64 rows() const { return rowCount; }
    quint64 zoneEvents() const { return zoneJob.events(); }
    // Distances shorter than the height difference to their anchor, over all tags.
    quint64 belowHeight() const;
    // Positions the broker acknowledged, and those it did not get.
    quint64 published() const { return publishedCount; }
    quint64 unpublished() const { return unpublishedCount; }

private:
    void receive(const QByteArray& data);
    void pass();
    bool connectBroker(const BatchReplayOptions& given, MqttSettings settings, QString* error);
    void drainBroker(int maxPending);
    bool reportKnownPoints(const BatchReplayOptions& given, const SettingsData& settings, QString* error);

    ModuleSetup modules;
    PositioningStep step;
    PositioningOptions options;
    PositionExport* out = nullptr;
    KnownPointCollector calibration;
    KnownPointCollector accuracy;
    ZoneEventsJob zoneJob;
    QStringList reportLines;
    QStringList warnings;
    bool knownPoints = false;   // some tag stands at a known point
    std::unique_ptr<MqttPublisher> mqtt;
    std::unique_ptr<AnchorSurveyJob> survey;
    quint64 publishedCount = 0;
    quint64 unpublishedCount = 0;
    QByteArray rxBuffer;
    qint64 baseEpochMs = 0;
    QTime baseTime;
    quint32 nowMs = 0;
    quint64 lines = 0;
    quint64 passCount = 0;
    quint64 rowCount = 0;
    QMap<QString, quint64> below;   // per history key, the step's running count
};

#endif
