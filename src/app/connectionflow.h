#ifndef CONNECTIONFLOW_H
#define CONNECTIONFLOW_H

#include <QString>
#include <QStringList>

class MainWin;

// Opening and closing the port to the master, the controls that follow the
// connection's state, and starting and stopping the ranging.
class ConnectionFlow
{
public:
    explicit ConnectionFlow(MainWin& window) : w(window) {}

    void refreshPorts();
    void setControls(bool connected);
    // The port chosen in the window, with a box when it fails.
    void connectChosen();
    bool open(int baud);
    QStringList applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging);
    // Stops the ranging first when it runs.
    void disconnect();
    void finish();
    void checkMasterHeard();
    void portLost();
    void toggleRanging();
    void setRangingControls(bool ranging);

private:
    MainWin& w;
};

#endif
