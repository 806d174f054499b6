#ifndef REPLAYTIMELINE_H
#define REPLAYTIMELINE_H

#include <QWidget>

namespace Ui { class ReplayTimeline; }

// The time line under the chart while a replay runs: play/pause, a slider to
// seek, the elapsed and total recorded time, and the replay speed. It only
// shows and asks; the replay itself answers to its signals.
class ReplayTimeline : public QWidget
{
    Q_OBJECT
public:
    explicit ReplayTimeline(QWidget* parent = nullptr);
    ~ReplayTimeline() override;

    // The speeds of the speed box, in its order; 0: as fast as possible.
    static double speedAt(int index);
    double speed() const;

    void setProgress(quint32 nowMs, quint32 totalMs);
    void setPaused(bool paused);
    bool isPaused() const { return paused; }

signals:
    void pauseToggled(bool paused);
    void seekRequested(quint32 ms);
    void speedChanged(double speed);

protected:
    // A click on the slider's track jumps there, rather than a page step.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Ui::ReplayTimeline* ui;
    bool paused = false;
};

#endif
