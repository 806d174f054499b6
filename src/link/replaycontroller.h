#ifndef REPLAYCONTROLLER_H
#define REPLAYCONTROLLER_H

#include "recording.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;

// Feeds a recorded session back at its recorded pace, a multiple of it, or
// as fast as possible, and keeps the recorded clock that the chart pass
// follows while it runs. Knows no window: the batches and the moments for a
// chart pass leave as signals.
class ReplayController : public QObject
{
    Q_OBJECT
public:
    // As fast as possible: a chart pass for every this much recorded time.
    static constexpr quint32 PassIntervalMs = 10;

    explicit ReplayController(QObject* parent = nullptr);

    // speed 1, 2, 5, 10 ...; 0 or less: as fast as possible. False, with
    // nothing changed, when a replay runs or the file is no recording.
    bool start(const QString& path, double speed);
    void stop();
    // The new pace starts from the recorded time reached so far.
    void setSpeed(double speed);
    // Paused, no batch leaves and the recorded clock stands still.
    void setPaused(bool paused);
    bool isPaused() const { return paused; }
    // Goes on from recorded time ms (back or forth). The receiver must drop
    // what earlier batches left behind: the batches of the SeekLeadMs before
    // ms then leave at once, each at its own recorded time, so the tags stand
    // where they stood at ms (even while paused); earlier ones are skipped.
    bool seek(quint32 ms);
    // How much recorded time before a seek's target is fed again: what the
    // positioning keeps of a tag's ranges.
    static constexpr quint32 SeekLeadMs = 2000;
    // Whether the batches went out once each from the start, unbroken by a seek.
    bool isContiguous() const { return contiguous; }

    bool isRunning() const { return running; }
    bool isFast() const { return pace <= 0; }
    quint32 nowMs() const { return now; }
    quint32 totalMs() const { return total; }
    // The recorded clock: the recording's start plus the time reached.
    qint64 epochMs() const { return baseEpochMs + qint64(now); }
    QTime timeOfDay() const { return baseTime.addMSecs(int(now % 86400000u)); }

signals:
    void batch(const QByteArray& bytes);
    // As fast as possible: the recorded time has moved on by PassIntervalMs
    // before the next batch, so a pass sees what a live one would have seen.
    void passDue();
    void progress(quint32 nowMs, quint32 totalMs);
    void finished();

private:
    void step();
    void restartClockAt(quint32 ms);

    RecordingReader reader;
    QTimer* timer = nullptr;
    bool running = false;
    bool paused = false;
    bool contiguous = true;
    QString path;
    double pace = 1.0;
    QElapsedTimer clock;
    QElapsedTimer progressClock;
    quint32 now = 0;
    quint32 lastPassMs = 0;
    quint32 total = 0;
    quint64 targetBaseMs = 0;
    qint64 baseEpochMs = 0;
    QTime baseTime;
    bool hasPending = false;
    quint32 pendingMs = 0;
    QByteArray pendingBatch;
};

#endif
