#include "commandline.h"

#include <QCoreApplication>

#include <cmath>

CommandLine::CommandLine()
    : helpOption(parser.addHelpOption()),
      versionOption(parser.addVersionOption()),
      replayOption(QStringLiteral("replay"),
                   QStringLiteral("Batch mode: run the recording <file> through the positioning and exit."),
                   QStringLiteral("file")),
      settingsOption(QStringLiteral("settings"), QStringLiteral("Batch mode: the settings file <file> to use."),
                     QStringLiteral("file")),
      exportOption(QStringLiteral("export"), QStringLiteral("Batch mode: write the positions as CSV to <file>."),
                   QStringLiteral("file")),
      filterOption(QStringLiteral("filter"),
                   QStringLiteral("Batch mode: smoothing \"average\" or \"kalman\" (default: the settings file's)."),
                   QStringLiteral("average|kalman")),
      averageOption(QStringLiteral("average"),
                    QStringLiteral("Batch mode: average over <n> measurements (default: the settings file's)."),
                    QStringLiteral("n")),
      mqttOption(QStringLiteral("mqtt"),
                 QStringLiteral("Batch mode: publish the positions to the MQTT broker <host[:port]> too "
                                "(topics and login as the settings file says)."),
                 QStringLiteral("host[:port]")),
      calibrateOption(QStringLiteral("calibrate-at"),
                      QStringLiteral("Batch mode: tag <TAG> stood at X,Y cm throughout; print the anchor offsets its "
                                     "ranges propose (repeatable: the tags are pooled per anchor)."),
                      QStringLiteral("TAG=X,Y")),
      writeSettingsOption(QStringLiteral("write-settings"),
                          QStringLiteral("Batch mode, with --calibrate-at: write the settings file again as <file> "
                                         "with the proposed offsets; with --survey-anchors: with the surveyed X/Y."),
                          QStringLiteral("file")),
      accuracyOption(QStringLiteral("accuracy-at"),
                     QStringLiteral("Batch mode: tag <TAG> stood at X,Y cm throughout; print the error statistics "
                                    "(CEP50, R95) of its raw fix and shown position (repeatable)."),
                     QStringLiteral("TAG=X,Y")),
      distancesOption(QStringLiteral("distances"),
                      QStringLiteral("Batch mode: add the distance to each anchor (offset applied) as columns d_<anchor id>_cm.")),
      linkQualityOption(QStringLiteral("link-quality"),
                        QStringLiteral("Batch mode: print per tag and anchor the lines per second, missing and left-out "
                                       "distances, spread and last distance over the whole recording.")),
      eventsOption(QStringLiteral("events"),
                   QStringLiteral("Batch mode: write the zone events (enter, exit, dwell) of the settings file's zones "
                                  "as CSV to <file>."),
                   QStringLiteral("file")),
      surveyOption(QStringLiteral("survey-anchors"),
                   QStringLiteral("Batch mode: the anchors' X/Y from a tag walked around the room (the frame kept as "
                                  "the settings file has it); print per anchor X, Y and uncertainty, then the "
                                  "residual and the common range bias.")),
      tagOption(QStringLiteral("tag"),
                QStringLiteral("Batch mode, with --survey-anchors: only the walk of tag <ID> (default: every tag)."),
                QStringLiteral("ID")),
      knownDistanceOption(QStringLiteral("known-distance"),
                          QStringLiteral("Batch mode, with --survey-anchors: anchors ID1 and ID2 stand CM apart; pins "
                                         "the scale and solves a common range bias (without it the settings file's "
                                         "offsets are taken as calibrated)."),
                          QStringLiteral("ID1,ID2=CM")),
      portOption(QStringLiteral("port"), QStringLiteral("The master's serial port, e.g. /dev/ttyUSB0."), QStringLiteral("path")),
      connectOption(QStringLiteral("connect"), QStringLiteral("Connect to the port at start.")),
      startRangingOption(QStringLiteral("start-ranging"), QStringLiteral("Connect and start the ranging at start.")),
      siteOption(QStringLiteral("site"),
                 QStringLiteral("Site view: show every kit publishing to the MQTT broker <host[:port]> on one chart "
                                "(a window that only listens)."),
                 QStringLiteral("host[:port]")),
      siteSettingsOption(QStringLiteral("site-settings"),
                         QStringLiteral("Site view: the site file <file> with the kits' placements, floor plan and broker login."),
                         QStringLiteral("file")),
      siteLogOption(QStringLiteral("site-log"),
                    QStringLiteral("Site view without a window: write every position received and every change of a "
                                   "kit's state as CSV to <file>; needs --duration."),
                    QStringLiteral("file")),
      durationOption(QStringLiteral("duration"), QStringLiteral("Site log: listen for <s> seconds, then exit."),
                     QStringLiteral("s"))
{
    parser.setApplicationDescription(QStringLiteral(
        "Front end for the UWB positioning kit. Without options the window starts.\n"
        "Window: orvane [--port PATH] [--connect] [--start-ranging] [SETTINGS.cfg]\n"
        "Batch mode: orvane --replay REC.orec --settings FILE.cfg --export OUT.csv [--filter average|kalman] [--average N]\n"
        "                   [--mqtt HOST[:PORT]] [--distances]\n"
        "            orvane --replay REC.orec --settings FILE.cfg --calibrate-at TAG=X,Y ... [--write-settings OUT.cfg]\n"
        "            orvane --replay REC.orec --settings FILE.cfg --accuracy-at TAG=X,Y ...\n"
        "            orvane --replay REC.orec --settings FILE.cfg --link-quality\n"
        "            orvane --replay REC.orec --settings FILE.cfg --events EVENTS.csv [--export OUT.csv]\n"
        "Site view:  orvane --site HOST[:PORT] [--site-settings SITE.cfg]\n"
        "Site log:   orvane --site HOST[:PORT] --site-settings SITE.cfg --site-log OUT.csv --duration S"));
    parser.addOptions({replayOption, settingsOption, exportOption, filterOption, averageOption, mqttOption, distancesOption,
                       calibrateOption, writeSettingsOption, accuracyOption, linkQualityOption, eventsOption, surveyOption, tagOption, knownDistanceOption, portOption, connectOption, startRangingOption,
                       siteOption, siteSettingsOption, siteLogOption, durationOption});
    parser.addPositionalArgument(QStringLiteral("SETTINGS.cfg"),
                                 QStringLiteral("A settings file to load at start, without the reminder."),
                                 QStringLiteral("[SETTINGS.cfg]"));
}

bool CommandLine::windowless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        for (const char* name : {"--replay", "--settings", "--export", "--filter", "--average", "--mqtt", "--distances", "--calibrate-at", "--write-settings",
                                 "--accuracy-at", "--link-quality", "--events", "--site-log", "--survey-anchors", "--tag", "--known-distance", "--help", "-help", "-h",
                                 "-?", "--help-all", "--version", "-v"})
            if (arg == name || arg.startsWith(QByteArray(name) + '='))
                return true;
    }
    return false;
}

bool CommandLine::parse(const QStringList& arguments)
{
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    const QStringList positional = parser.positionalArguments();
    if (site() || siteLog() || parser.isSet(siteSettingsOption) || parser.isSet(durationOption))
        return parseSite(positional);
    if (positional.size() > (batch() ? 0 : 1)) {
        error = QStringLiteral("unexpected argument: %1").arg(positional.last());
        return false;
    }
    if (!batch()) {
        startSettings = positional.value(0);
        for (const QCommandLineOption* o : {&settingsOption, &exportOption, &filterOption, &averageOption, &mqttOption,
                                            &calibrateOption, &writeSettingsOption, &accuracyOption, &distancesOption,
                                            &linkQualityOption, &eventsOption, &surveyOption, &tagOption, &knownDistanceOption})
            if (parser.isSet(*o)) {
                error = QStringLiteral("--%1 only goes with --replay").arg(o->names().first());
                return false;
            }
        return true;
    }
    for (const QCommandLineOption* o : {&portOption, &connectOption, &startRangingOption})
        if (parser.isSet(*o)) {
            error = QStringLiteral("--%1 does not go with --replay").arg(o->names().first());
            return false;
        }
    batchOpts.recording = parser.value(replayOption);
    batchOpts.settings = parser.value(settingsOption);
    batchOpts.output = parser.value(exportOption);
    if (!parsePoints(calibrateOption, &batchOpts.calibrateAt) || !parsePoints(accuracyOption, &batchOpts.accuracyAt))
        return false;
    batchOpts.distances = parser.isSet(distancesOption);
    batchOpts.linkQuality = parser.isSet(linkQualityOption);
    batchOpts.events = parser.value(eventsOption);
    if (parser.isSet(eventsOption) && batchOpts.events.isEmpty()) {
        error = QStringLiteral("--events needs a file name");
        return false;
    }
    if (!parseSurvey())
        return false;
    const bool surveying = batchOpts.survey.has_value();
    if (parser.isSet(writeSettingsOption)
        && ((batchOpts.calibrateAt.isEmpty() == !surveying) || parser.value(writeSettingsOption).isEmpty())) {
        error = QStringLiteral("--write-settings needs a file name and either --calibrate-at or --survey-anchors");
        return false;
    }
    if (surveying)
        batchOpts.survey->writeSettings = parser.value(writeSettingsOption);
    else
        batchOpts.writeSettings = parser.value(writeSettingsOption);
    const bool report = !batchOpts.calibrateAt.isEmpty() || !batchOpts.accuracyAt.isEmpty() || batchOpts.linkQuality
                        || surveying || !batchOpts.events.isEmpty();
    if (batchOpts.settings.isEmpty() || (batchOpts.output.isEmpty() && !report)) {
        error = QStringLiteral("--replay needs --settings FILE.cfg and --export OUT.csv");
        return false;
    }
    if (parser.isSet(filterOption)) {
        batchOpts.filter = parser.value(filterOption).trimmed().toLower();
        if (batchOpts.filter != QLatin1String("average") && batchOpts.filter != QLatin1String("kalman")) {
            error = QStringLiteral("--filter takes \"average\" or \"kalman\", not \"%1\"").arg(parser.value(filterOption));
            return false;
        }
    }
    if (parser.isSet(averageOption)) {
        bool ok = false;
        batchOpts.averageCount = parser.value(averageOption).toInt(&ok);
        if (!ok || batchOpts.averageCount < 1 || batchOpts.averageCount > PositioningStep::MaxSamples) {
            error = QStringLiteral("--average takes a whole number from 1 to %1").arg(PositioningStep::MaxSamples);
            return false;
        }
    }
    if (parser.isSet(mqttOption) && !parseHostPort(parser.value(mqttOption), &batchOpts.mqttHost, &batchOpts.mqttPort)) {
        error = QStringLiteral("--mqtt takes HOST or HOST:PORT, not \"%1\"").arg(parser.value(mqttOption));
        return false;
    }
    return true;
}

bool CommandLine::parseHostPort(const QString& given, QString* host, int* port)
{
    // host, host:port, or [v6-address]:port
    const QString value = given.trimmed();
    const int colon = value.lastIndexOf(QLatin1Char(':'));
    const bool hasPort = colon >= 0 && (value.count(QLatin1Char(':')) == 1 || (colon > 0 && value.at(colon - 1) == QLatin1Char(']')));
    bool ok = true;
    *host = hasPort ? value.left(colon) : value;
    host->remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    *port = hasPort ? value.mid(colon + 1).toInt(&ok) : 0;
    return !host->isEmpty() && ok && *port >= 0 && *port <= 65535 && !(hasPort && *port == 0);
}

bool CommandLine::parseSite(const QStringList& positional)
{
    if (!positional.isEmpty()) {
        error = QStringLiteral("unexpected argument: %1").arg(positional.last());
        return false;
    }
    if (!site()) {
        error = QStringLiteral("--site-settings, --site-log and --duration only go with --site");
        return false;
    }
    for (const QCommandLineOption* o : {&replayOption, &settingsOption, &exportOption, &filterOption, &averageOption,
                                        &mqttOption, &calibrateOption, &writeSettingsOption, &accuracyOption,
                                        &distancesOption, &linkQualityOption, &portOption, &connectOption,
                                        &startRangingOption})
        if (parser.isSet(*o)) {
            error = QStringLiteral("--%1 does not go with --site").arg(o->names().first());
            return false;
        }
    if (!parseHostPort(parser.value(siteOption), &siteOpts.host, &siteOpts.port)) {
        error = QStringLiteral("--site takes HOST or HOST:PORT, not \"%1\"").arg(parser.value(siteOption));
        return false;
    }
    siteOpts.siteFile = parser.value(siteSettingsOption);
    siteOpts.output = parser.value(siteLogOption);
    if (siteLog() != parser.isSet(durationOption) || (siteLog() && siteOpts.output.isEmpty())) {
        error = QStringLiteral("--site-log OUT.csv and --duration S go together");
        return false;
    }
    if (siteLog()) {
        bool ok = false;
        siteOpts.durationS = parser.value(durationOption).toInt(&ok);
        if (!ok || siteOpts.durationS < 1 || siteOpts.durationS > 7 * 86400) {
            error = QStringLiteral("--duration takes whole seconds from 1 to 604800");
            return false;
        }
    }
    return true;
}

bool CommandLine::parsePoints(const QCommandLineOption& option, QVector<QPair<QString, QPointF>>* points)
{
    for (const QString& value : parser.values(option)) {
        const QString tag = value.section(QLatin1Char('='), 0, 0).trimmed();
        const QStringList xy = value.section(QLatin1Char('='), 1).split(QLatin1Char(','));
        bool okX = false, okY = false;
        const double x = xy.value(0).trimmed().toDouble(&okX);
        const double y = xy.value(1).trimmed().toDouble(&okY);
        if (tag.isEmpty() || xy.size() != 2 || !okX || !okY || !std::isfinite(x) || !std::isfinite(y)) {
            error = QStringLiteral("--%1 takes TAG=X,Y in cm, not \"%2\"").arg(option.names().first(), value);
            return false;
        }
        points->append({tag, QPointF(x, y)});
    }
    return true;
}

bool CommandLine::parseSurvey()
{
    if (!parser.isSet(surveyOption)) {
        for (const QCommandLineOption* o : {&tagOption, &knownDistanceOption})
            if (parser.isSet(*o)) {
                error = QStringLiteral("--%1 only goes with --survey-anchors").arg(o->names().first());
                return false;
            }
        return true;
    }
    AnchorSurveyJobOptions survey;
    survey.tag = parser.value(tagOption).trimmed();
    if (parser.isSet(tagOption) && survey.tag.isEmpty()) {
        error = QStringLiteral("--tag needs a tag id");
        return false;
    }
    if (parser.isSet(knownDistanceOption)) {
        const QString value = parser.value(knownDistanceOption);
        const QStringList ids = value.section(QLatin1Char('='), 0, 0).split(QLatin1Char(','));
        bool ok = false;
        const double cm = value.section(QLatin1Char('='), 1).trimmed().toDouble(&ok);
        if (!value.contains(QLatin1Char('=')) || ids.size() != 2 || ids.at(0).trimmed().isEmpty() || ids.at(1).trimmed().isEmpty()
            || ids.at(0).trimmed().compare(ids.at(1).trimmed(), Qt::CaseInsensitive) == 0 || !ok || !std::isfinite(cm) || cm <= 0) {
            error = QStringLiteral("--known-distance takes ID1,ID2=CM with two different anchors and a length above 0, not \"%1\"")
                        .arg(value);
            return false;
        }
        survey.knownFirst = ids.at(0).trimmed();
        survey.knownSecond = ids.at(1).trimmed();
        survey.knownCm = cm;
    }
    batchOpts.survey = survey;
    return true;
}
