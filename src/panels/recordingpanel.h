#ifndef RECORDINGPANEL_H
#define RECORDINGPANEL_H

#include <QWidget>

namespace Ui { class RecordingPanel; }

// Recording a live session and replaying a recorded one, and what the position export holds.
class RecordingPanel : public QWidget
{
    Q_OBJECT
public:
    explicit RecordingPanel(QWidget* parent = nullptr);
    ~RecordingPanel() override;

    // What the session state allows, and what the buttons say.
    void showControls(bool record, const QString& recordText, bool replay, const QString& replayText);
    // "Abstände je Anker exportieren"
    bool exportsDistances() const;

signals:
    void recordRequested();
    void replayRequested();

private:
    Ui::RecordingPanel* ui;
};

#endif
