#ifndef CONNECTIONFLOW_H
#define CONNECTIONFLOW_H

#include <QByteArray>
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
    // The port chosen in the window, with a box when it fails.
    void connectChosen();
    bool open(int baud);
    // From the command line: one line per problem, no boxes. anchorCount: the anchors loaded.
    QStringList applyStartup(const QString& portPath, bool connectNow, bool startRanging, int anchorCount);
    // Stops the ranging first when it runs.
    void disconnect();
    void finish();
    void checkMasterHeard();
    void portLost();
    void toggleRanging(int anchorCount);
    void setRangingControls(bool ranging);

signals:
    // The port is open, or was closed; the window follows with its timers and controls.
    void opened();
    void closed();
    void openFailed();
    void rangingChanged(bool ranging);
    void statusMessage(const QString& text, int timeoutMs);

private:
    QWidget* window;
    ComInterface& com;
    ConnectionPanel* panel;
    MasterInfo* masterInfo;
    bool& rangingActive;
    SendCommand sendCommand;
    const quint64& packetLines;
    quint64 packetLinesAtConnect = 0;
    QTimer* silenceTimer;   // a master that never answers after a connect
};

#endif
