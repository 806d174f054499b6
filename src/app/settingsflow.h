#ifndef SETTINGSFLOW_H
#define SETTINGSFLOW_H

#include "filechoice.h"
#include "settingsfile.h"

#include <QObject>
#include <QString>

struct ChartBackground;
class CalibrationFlow;
class ComInterface;
class ModuleSetup;
class MqttPublisher;
class ToolsPanel;
class ViewPanel;
class QWidget;

// Saving and loading the whole setup: the file chooser, the questions and
// warnings around it, and the copy between the window and a settings record.
class SettingsFlow : public QObject
{
    Q_OBJECT
public:
    // What the settings file holds, where it lives in the window.
    struct Parts
    {
        ModuleSetup& modules;
        ChartBackground& background;
        MqttPublisher& mqtt;
        CalibrationFlow& calibration;
        const ComInterface& com;
        ViewPanel* view;
        ToolsPanel* tools;
    };
    SettingsFlow(QWidget* window, const Parts& parts, const FileChoice& files);

    void save();
    void chooseAndLoad();
    // remind: the reminder to configure the modules follows a good load.
    bool load(const QString& path, bool remind);
    // Why the last load failed, in German; empty after one that succeeded.
    QString loadError() const { return lastLoadError; }

    SettingsData gather() const;
    void apply(SettingsData data);

signals:
    void statusMessage(const QString& text, int timeoutMs);
    // The records and the view were replaced: tables, chart and notes follow.
    void applied();
    void loaded();
    void discoveryWanted();

private:
    void remindToConfigure();
    QWidget* window;
    Parts w;
    const FileChoice& files;
    QString lastLoadError;
};

#endif
