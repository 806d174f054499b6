#ifndef SETTINGSFLOW_H
#define SETTINGSFLOW_H

#include "settingsfile.h"

#include <QString>

class MainWin;

// Saving and loading the whole setup: the file chooser, the questions and
// warnings around it, and the copy between the window and a settings record.
class SettingsFlow
{
public:
    explicit SettingsFlow(MainWin& window) : w(window) {}

    void save();
    void chooseAndLoad();
    // remind: the reminder to configure the modules follows a good load.
    bool load(const QString& path, bool remind);

    SettingsData gather() const;
    void apply(SettingsData data);

private:
    void remindToConfigure();
    MainWin& w;
};

#endif
