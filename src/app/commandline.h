#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "batchreplay.h"

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
    // The window's start: a settings file to load, a port, connecting, ranging.
    QString settingsFile() const { return startSettings; }
    QString port() const { return parser.value(portOption); }
    bool connectNow() const { return parser.isSet(connectOption) || parser.isSet(startRangingOption); }
    bool startRanging() const { return parser.isSet(startRangingOption); }
    BatchReplayOptions batchOptions() const { return batchOpts; }

private:
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
    QCommandLineOption surveyOption;
    QCommandLineOption tagOption;
    QCommandLineOption knownDistanceOption;
    QCommandLineOption portOption;
    QCommandLineOption connectOption;
    QCommandLineOption startRangingOption;
    QString startSettings;
    BatchReplayOptions batchOpts;
    QString error;
};

#endif
