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
class ReplayTimeline;
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
    // Ends a recording with the link (lost: it vanished); the status text
    // saying where the files went, empty when none ran.
    QString endRecording(bool linkLost);
    bool startReplay(const QString& path, double speed);
    void stopReplay();
    void speedChosen(double speed);
    void seek(quint32 ms);
    void toggleReplay();
    void attachTimeline(ReplayTimeline* line);

    // What the flow asks of the window: the anchors' ids for the distance
    // columns, whether the ranging runs, and the filter setting that names a
    // replay's export ("kalman", "avg10").
    std::function<QStringList()> anchorIds;
    std::function<bool()> rangingActive;
    std::function<QString()> filterSetting;

    SessionRecorder session;
    ReplayController replay;

signals:
    void statusMessage(const QString& text, int timeoutMs);
    // Recorded bytes for the receive path.
    void bytesReplayed(QByteArray data);
    // A replay begins (from an empty history) or ended; while it runs nothing may be sent.
    void replayStarted();
    void replayStopped();
    // The replay jumped: positions and filters start afresh.
    void replaySought();
    // A recording or replay began or ended: the controls follow.
    void sessionChanged();
    // One chart pass now; the chart timer stays off afterwards.
    void chartPassWanted(int minFrameMs);
    void chartTimerWanted(bool running);

private:
    QStringList exportedDistances() const;
    void passDue();
    void finishReplay();
    QWidget* window;
    RecordingPanel* panel;
    const ComInterface& com;
    MasterInfo* masterInfo;
    const FileChoice& files;
    ReplayTimeline* timeline = nullptr;
    bool finishing = false;   // the replay reached the recording's end
    QString exportPath;
    std::function<qint64()> liveMasterClock;   // the status label's, while a replay has it
};

#endif
