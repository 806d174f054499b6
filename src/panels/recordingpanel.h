#ifndef RECORDINGPANEL_H
#define RECORDINGPANEL_H

#include <QWidget>

namespace Ui { class RecordingPanel; }

// Recording a live session and replaying a recorded one, with its pace.
class RecordingPanel : public QWidget
{
    Q_OBJECT
public:
    explicit RecordingPanel(QWidget* parent = nullptr);
    ~RecordingPanel() override;

    void setConnected(bool connected);   // recording needs the port, replay needs it closed
    void setRecording(bool on);
    void setReplaying(bool on);
    void setRecordEnabled(bool on);
    int replaySpeedIndex() const;

signals:
    void recordRequested();
    void replayRequested();
    void replaySpeedChosen(int index);

private:
    Ui::RecordingPanel* ui;
};

#endif
