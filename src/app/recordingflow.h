#ifndef RECORDINGFLOW_H
#define RECORDINGFLOW_H

#include "replaycontroller.h"
#include "sessionrecorder.h"

#include <QString>

#include <functional>

class MainWin;
class ReplayTimeline;

// Recording a live session and replaying a recorded one through the
// window's receive path, with the buttons, boxes and status texts around it.
class RecordingFlow
{
public:
    explicit RecordingFlow(MainWin& window);

    bool startRecording(const QString& path);
    bool stopRecording();   // false when the files did not fully reach the disk
    void toggleRecording();
    // Ends a recording with the link (lost: it vanished); the status text
    // saying where the files went, empty when none ran.
    QString endRecording(bool linkLost);
    bool startReplay(const QString& path, double speed);
    void stopReplay();
    void speedChosen(double speed);
    void seek(quint32 ms);
    void toggleReplay();
    void attachTimeline(ReplayTimeline* line);

    SessionRecorder session;
    ReplayController replay;

private:
    QStringList exportedDistances() const;
    void passDue();
    void finishReplay();
    MainWin& w;
    ReplayTimeline* timeline = nullptr;
    bool finishing = false;   // the replay reached the recording's end
    QString exportPath;
    std::function<qint64()> liveMasterClock;   // the status label's, while a replay has it
};

#endif
