#ifndef RECORDINGFLOW_H
#define RECORDINGFLOW_H

#include "filechoice.h"
#include "replaycontroller.h"
#include "sessionrecorder.h"

#include <QObject>
#include <QString>

#include <functional>

class ComInterface;
class MasterInfo;
class RecordingPanel;
class QWidget;

// Recording a live session and replaying a recorded one through the
// window's receive path, with the buttons, boxes and status texts around it.
class RecordingFlow : public QObject
{
    Q_OBJECT
public:
    RecordingFlow(QWidget* window, RecordingPanel* panel, const ComInterface& com, MasterInfo* masterInfo,
                  const FileChoice& files);

    bool startRecording(const QString& path);
    bool stopRecording();   // false when the files did not fully reach the disk
    void toggleRecording();
    bool startReplay(const QString& path, double speed);
    void stopReplay();
    void speedChosen(int index);
    void toggleReplay();

    SessionRecorder session;
    ReplayController replay;

signals:
    void statusMessage(const QString& text, int timeoutMs);
    // Recorded bytes for the receive path.
    void bytesReplayed(QByteArray data);
    // A replay begins (from an empty history) or ended; while it runs nothing may be sent.
    void replayStarted();
    void replayStopped();
    // One chart pass now; the chart timer stays off afterwards.
    void chartPassWanted(int minFrameMs);
    void chartTimerWanted(bool running);

private:
    void passDue();
    void finishReplay();
    QWidget* window;
    RecordingPanel* panel;
    const ComInterface& com;
    MasterInfo* masterInfo;
    const FileChoice& files;
    QString exportPath;
    std::function<qint64()> liveMasterClock;   // the status label's, while a replay has it
};

#endif
