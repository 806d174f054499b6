#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "batchreplay.h"
#include "sitelogrun.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

// The program's command line. Without options the window starts as always;
// --replay runs the batch mode instead and needs no display.
class CommandLine
{
public:
    CommandLine();

    // Whether the arguments ask for something that needs no window (the batch
    // mode or its options, help, version), decided before any application
    // object exists.
    static bool windowless(int argc, char** argv);

    // False with a one-line reason in errorText() for options that do not fit.
    bool parse(const QStringList& arguments);
    QString errorText() const { return error; }
    QString helpText() const { return parser.helpText(); }
    bool helpRequested() const { return parser.isSet(helpOption); }
    bool versionRequested() const { return parser.isSet(versionOption); }

    bool batch() const { return parser.isSet(replayOption); }
    // --site: the site view's window, or with --site-log its log without one.
    bool site() const { return parser.isSet(siteOption); }
    bool siteLog() const { return parser.isSet(siteLogOption); }
    SiteLogOptions siteOptions() const { return siteOpts; }
    // "host[:port]" or "[v6]:port" into host and port (0 when not given); false when it is neither.
    static bool parseHostPort(const QString& value, QString* host, int* port);
    // The window's start: a settings file to load, a port, connecting, ranging.
    QString settingsFile() const { return startSettings; }
    QString port() const { return parser.value(portOption); }
    bool connectNow() const { return parser.isSet(connectOption) || parser.isSet(startRangingOption); }
    bool startRanging() const { return parser.isSet(startRangingOption); }
    BatchReplayOptions batchOptions() const { return batchOpts; }

private:
    bool parseSite(const QStringList& positional);
    bool parseSurvey();
    bool parsePoints(const QCommandLineOption& option, QVector<QPair<QString, QPointF>>* points);

    QCommandLineParser parser;
    QCommandLineOption helpOption;
    QCommandLineOption versionOption;
    QCommandLineOption replayOption;
    QCommandLineOption settingsOption;
    QCommandLineOption exportOption;
    QCommandLineOption filterOption;
    QCommandLineOption averageOption;
    QCommandLineOption mqttOption;
    QCommandLineOption calibrateOption;
    QCommandLineOption writeSettingsOption;
    QCommandLineOption accuracyOption;
    QCommandLineOption distancesOption;
    QCommandLineOption linkQualityOption;
    QCommandLineOption eventsOption;
    QCommandLineOption surveyOption;
    QCommandLineOption tagOption;
    QCommandLineOption knownDistanceOption;
    QCommandLineOption portOption;
    QCommandLineOption connectOption;
    QCommandLineOption startRangingOption;
    QCommandLineOption siteOption;
    QCommandLineOption siteSettingsOption;
    QCommandLineOption siteLogOption;
    QCommandLineOption durationOption;
    SiteLogOptions siteOpts;
    QString startSettings;
    BatchReplayOptions batchOpts;
    QString error;
};

#endif
