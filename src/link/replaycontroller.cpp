#include "replaycontroller.h"

#include "recordingfiles.h"

#include <QTimer>

ReplayController::ReplayController(QObject* parent)
    : QObject(parent)
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ReplayController::step);
}

bool ReplayController::start(const QString& path, double speed)
{
    if (running || !reader.open(path))
        return false;
    running = true;
    paused = false;
    contiguous = true;
    this->path = path;
    pace = speed > 0 ? speed : 0.0;
    now = 0;
    lastPassMs = 0;
    hasPending = false;
    pendingBatch.clear();
    // Rows carry the recorded time, and samples age as they did then.
    baseEpochMs = RecordingReader::startEpochMs(path);
    baseTime = QDateTime::fromMSecsSinceEpoch(baseEpochMs).time();
    total = RecordingFiles::durationMs(path);
    targetBaseMs = 0;
    progressClock.invalidate();
    clock.start();
    timer->start(pace > 0 ? 5 : 0);
    return true;
}

void ReplayController::stop()
{
    if (!running)
        return;
    running = false;
    timer->stop();
    reader.close();
    hasPending = false;
    pendingBatch.clear();
}

void ReplayController::setSpeed(double speed)
{
    if (!running)
        return;
    targetBaseMs = now;
    clock.restart();
    pace = speed > 0 ? speed : 0.0;
    if (!paused)
        timer->start(pace > 0 ? 5 : 0);
}

void ReplayController::restartClockAt(quint32 ms)
{
    targetBaseMs = ms;
    clock.restart();
}

void ReplayController::setPaused(bool on)
{
    if (!running || on == paused)
        return;
    paused = on;
    if (paused) {
        timer->stop();
        return;
    }
    restartClockAt(now);   // the recorded clock goes on from where it stood
    timer->start(pace > 0 ? 5 : 0);
}

bool ReplayController::seek(quint32 ms)
{
    if (!running)
        return false;
    reader.close();
    hasPending = false;
    pendingBatch.clear();
    if (!reader.open(path))
        return false;
    contiguous = false;
    // Records are kept in time order: skip to the lead-in, feed it, and stop
    // at the first record at or after ms.
    const quint32 leadFrom = ms > SeekLeadMs ? ms - SeekLeadMs : 0;
    while (reader.next(pendingMs, pendingBatch)) {
        if (pendingMs >= ms) {
            hasPending = true;
            break;
        }
        if (pendingMs >= leadFrom) {
            now = pendingMs;
            emit batch(pendingBatch);
        }
    }
    now = qMin(ms, total);
    lastPassMs = now;
    restartClockAt(now);
    emit progress(now, total);
    return true;
}

void ReplayController::step()
{
    if (!running || paused)
        return;
    QElapsedTimer slice;
    slice.start();
    const bool fast = pace <= 0;
    const quint64 target = fast ? 0 : targetBaseMs + quint64(double(clock.elapsed()) * pace);
    if (!progressClock.isValid() || progressClock.elapsed() >= 250) {
        progressClock.start();
        emit progress(now, total);
    }
    for (;;) {
        if (!hasPending) {
            if (!reader.next(pendingMs, pendingBatch)) {
                emit finished();
                return;
            }
            hasPending = true;
        }
        if (!fast && pendingMs > target) {
            // Between batches the recorded time runs on, as the clock did live,
            // so samples expire during a silence and update times advance.
            now = quint32(qMax<quint64>(now, target));
            return;
        }
        if (fast && quint64(pendingMs) >= quint64(lastPassMs) + PassIntervalMs) {
            emit passDue();
            if (!running)
                return;
            lastPassMs = pendingMs;
        }
        now = qMax(now, pendingMs);
        hasPending = false;
        emit batch(pendingBatch);
        // Let the window breathe (and a second press stop the replay).
        if (!running || slice.elapsed() >= 30)
            return;
    }
}
