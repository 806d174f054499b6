#ifndef SETTINGSFLOW_H
#define SETTINGSFLOW_H

#include "filechoice.h"
#include "settingsfile.h"
#include "setupchanges.h"

#include <QObject>
#include <QString>

struct ChartBackground;
class CalibrationFlow;
class ComInterface;
class ModuleSetup;
class MqttPublisher;
class ToolsPanel;
class ViewPanel;
class ZoneEvents;
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
        ZoneEvents& zones;   // the zones and their rules live in the positioning step's engine
    };
    SettingsFlow(QWidget* window, const Parts& parts, const FileChoice& files);

    // True once the file is written; false when the user cancelled or it failed (said).
    bool save();
    void chooseAndLoad();
    // remind: the reminder to configure the modules follows a good load.
    bool load(const QString& path, bool remind);
    // Why the last load failed, in German; empty after one that succeeded.
    QString loadError() const { return lastLoadError; }

    SettingsData gather() const;
    void apply(SettingsData data);

    // The setup differs from the one last loaded or saved (at start: the empty one).
    bool setupChanged() const { return changes.isChanged(gather()); }
    // For an editor whose changes the settings record does not show.
    void markSetupChanged() { changes.markChanged(); }
    // What the window holds now counts as kept: the master told it, the user made none of it.
    void setupSettled() { changes.setSaved(gather()); }

signals:
    void statusMessage(const QString& text, int timeoutMs);
    // The records and the view were replaced: tables, chart and notes follow.
    void applied();
    void loaded();
    void saved();
    void discoveryWanted();

private:
    void remindToConfigure();
    QWidget* window;
    Parts w;
    const FileChoice& files;
    SetupChanges changes;
    QString lastLoadError;
};

#endif
