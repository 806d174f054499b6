#ifndef RECORDINGFLOW_H
#define RECORDINGFLOW_H

#include "replaycontroller.h"
#include "sessionrecorder.h"

#include <QString>

#include <functional>

class MainWin;

// Recording a live session and replaying a recorded one through the
// window's receive path, with the buttons, boxes and status texts around it.
class RecordingFlow
{
public:
    explicit RecordingFlow(MainWin& window);

    bool startRecording(const QString& path);
    bool stopRecording();   // false when the files did not fully reach the disk
    void toggleRecording();
    bool startReplay(const QString& path, double speed);
    void stopReplay();
    void speedChosen(int index);
    void toggleReplay();

    SessionRecorder session;
    ReplayController replay;

private:
    void passDue();
    void finishReplay();
    MainWin& w;
    QString exportPath;
    std::function<qint64()> liveMasterClock;   // the status label's, while a replay has it
};

#endif
