#ifndef CONNECTIONFLOW_H
#define CONNECTIONFLOW_H

#include "sessionstate.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class MainWin;
class QTimer;

// Opening and closing the port to the master, the controls that follow the
// connection's state, and starting and stopping the ranging.
class ConnectionFlow
{
public:
    explicit ConnectionFlow(MainWin& window) : w(window) {}

    void refreshPorts();
    // Labels and enabled controls from the state (see SessionState).
    void updateControls();
    SessionState state() const;
    // The device the port was opened on (or last tried).
    QString portPath() const { return openedPath; }
    // Any packet line from the master.
    void packetHeard();
    // The port chosen in the window, with a box when it fails.
    void connectChosen();
    bool open(int baud);
    QStringList applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging);
    // Stops the ranging first when it runs.
    void disconnect();
    // Closes the port; lost: it vanished, so watch for it to come back. Returns
    // what the status bar says about a recording it ended.
    QString finish(bool lost = false);
    void checkMasterHeard();
    void portLost();
    void toggleRanging();
    void setRangingControls(bool ranging);

private:
    bool openPath(const QString& path, int baud);
    void watchLostPort();
    void reconnect();
    void warnWithReason(const QString& title, const QString& text);
    MainWin& w;
    bool linkUp = false;   // connected as far as the window knows (the port may already be gone)
    int presentTicks = 0;
    QString openedPath;
    bool masterSilent = false;
    QElapsedTimer sinceLastPacket;
    // After a loss: the device to watch for, and whether the ranging ran.
    QString lostPath;
    bool lostWhileRanging = false;
    bool lostPresent = false;
    QTimer* lostWatch = nullptr;
};

#endif
