#ifndef CONNECTIONFLOW_H
#define CONNECTIONFLOW_H

#include "sessionstate.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class ComInterface;
class ConnectionPanel;
class MasterInfo;
class QTimer;
class QWidget;

// Opening and closing the port to the master, the controls that follow the
// connection's state, and starting and stopping the ranging.
class ConnectionFlow : public QObject
{
    Q_OBJECT
public:
    using SendCommand = std::function<bool(const QByteArray& command, bool loose)>;
    // packetLines: the window's count of packet lines received, which tells
    // whether a master answers after a connect.
    ConnectionFlow(QWidget* window, ComInterface& com, ConnectionPanel* panel, MasterInfo* masterInfo,
                   bool& rangingActive, SendCommand sendCommand, const quint64& packetLines);

    void refreshPorts();
    // Labels and enabled controls from the state (see SessionState), told by controlsChanged.
    void updateControls();
    SessionState state() const;
    // The device the port was opened on (or last tried).
    QString portPath() const { return openedPath; }
    // Any packet line from the master.
    void packetHeard();
    // The port chosen in the window, with a box when it fails.
    void connectChosen();
    bool open(int baud);
    // From the command line: one line per problem, no boxes. anchorCount: the anchors loaded.
    QStringList applyStartup(const QString& portPath, bool connectNow, bool startRanging, int anchorCount);
    // Stops the ranging first when it runs.
    void disconnect();
    // Closes the port; lost: it vanished, so watch for it to come back.
    void finish(bool lost = false);
    void checkMasterHeard();
    void portLost();
    void toggleRanging(int anchorCount);
    void setRangingControls(bool ranging);

    // What the flow asks of the window beyond sending: why the last exchange
    // failed, how many anchors there are, and whether a recording or replay runs.
    std::function<QString()> exchangeError;
    std::function<int()> anchorCount;
    std::function<void(SessionState&)> sessionFacts;

signals:
    // The port is open, or was closed (lost: it vanished); the window follows with its timers.
    void opened();
    void closed(bool lost);
    void controlsChanged(const SessionState::Controls& controls);
    void rangingChanged(bool ranging);
    void statusMessage(const QString& text, int timeoutMs);

private:
    bool openPath(const QString& path, int baud);
    void watchLostPort();
    void reconnect();
    void warnWithReason(const QString& title, const QString& text);
    bool replaying() const;

    QWidget* window;
    ComInterface& com;
    ConnectionPanel* panel;
    MasterInfo* masterInfo;
    bool& rangingActive;
    SendCommand sendCommand;
    const quint64& packetLines;
    quint64 packetLinesAtConnect = 0;
    QTimer* silenceTimer;   // a master that never answers after a connect, or falls silent
    bool linkUp = false;    // connected as far as the window knows (the port may already be gone)
    int presentTicks = 0;
    QString openedPath;
    bool masterSilent = false;
    QElapsedTimer sinceLastPacket;
    // After a loss: the device to watch for, and whether the ranging ran.
    QString lostPath;
    bool lostWhileRanging = false;
    QTimer* lostWatch = nullptr;
};

#endif
