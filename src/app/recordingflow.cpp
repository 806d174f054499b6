#include "recordingflow.h"

#include "cominterface.h"
#include "masterinfo.h"
#include "recordingfiles.h"
#include "recordingpanel.h"
#include "replaytimeline.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

RecordingFlow::RecordingFlow(QWidget* window, RecordingPanel* panel, const ComInterface& com, MasterInfo* masterInfo,
                             const FileChoice& files)
    : QObject(window), window(window), panel(panel), com(com), masterInfo(masterInfo), files(files)
{
    connect(&session, &SessionRecorder::progress, this, [this](qint64 elapsedMs, qint64 bytes) {
        emit statusMessage(tr("Aufzeichnung läuft: %1, %2")
                               .arg(RecordingFiles::clockText(elapsedMs), RecordingFiles::sizeText(bytes)), 0);
    });
    connect(&replay, &ReplayController::batch, this, &RecordingFlow::bytesReplayed);
    connect(&replay, &ReplayController::passDue, this, [this] { passDue(); });
    connect(&replay, &ReplayController::finished, this, [this] { finishReplay(); });
    anchorIds = [] { return QStringList(); };
    rangingActive = [] { return false; };
    filterSetting = [] { return QString(); };
}

void RecordingFlow::attachTimeline(ReplayTimeline* line)
{
    // The time line shows the progress; the status bar is kept for what happened.
    timeline = line;
    connect(&replay, &ReplayController::progress, timeline, &ReplayTimeline::setProgress);
    connect(timeline, &ReplayTimeline::pauseToggled, this, [this](bool paused) { replay.setPaused(paused); });
    connect(timeline, &ReplayTimeline::speedChanged, this, [this](double speed) { speedChosen(speed); });
    connect(timeline, &ReplayTimeline::seekRequested, this, [this](quint32 ms) { seek(ms); });
}

QStringList RecordingFlow::exportedDistances() const
{
    return panel->exportsDistances() ? anchorIds() : QStringList();
}

bool RecordingFlow::startRecording(const QString& path)
{
    if (!session.start(path, exportedDistances()))
        return false;
    emit sessionChanged();
    return true;
}

bool RecordingFlow::stopRecording()
{
    if (!session.isRecording() && !session.isExporting())
        return true;
    const bool saved = session.stop();
    emit sessionChanged();
#ifdef __GLIBC__
    // glibc keeps freed pages in its arenas (each recording's writer thread
    // may get one of its own) rather than handing them back, so resident
    // memory climbs in steps after large buffers were freed although nothing
    // leaks. Giving them back is cheap next to the syncs that end a recording.
    malloc_trim(0);
#endif
    return saved;
}

QString RecordingFlow::endRecording(bool linkLost)
{
    // Only a recording: a replay's export runs on without the link.
    if (!session.isRecording())
        return QString();
    const QString path = session.fileName();
    const QString csv = session.csvName();
    const bool saved = stopRecording();
    const QString text = linkLost ? tr("Aufzeichnung beendet (Verbindung verloren): %1, %2; Positionen in %3")
                                  : tr("Aufzeichnung beendet: %1, %2; Positionen in %3");
    QString note = text.arg(QDir::toNativeSeparators(path), RecordingFiles::sizeText(QFileInfo(path).size()),
                            QDir::toNativeSeparators(csv));
    if (!saved)
        note += QLatin1Char(' ') + tr("Die Aufzeichnung konnte nicht vollständig gespeichert werden!");
    return note;
}

void RecordingFlow::toggleRecording()
{
    if (session.isRecording()) {
        // Both files are on the disk once this returns; say so when they are not.
        const QString path = session.fileName();
        const QString csv = session.csvName();
        if (!stopRecording())
            QMessageBox::warning(window, tr("Aufzeichnung beenden"),
                                 tr("Die Aufzeichnung konnte nicht vollständig gespeichert werden!"), QMessageBox::Ok);
        else
            emit statusMessage(tr("Aufzeichnung gespeichert: %1, Positionen in %2")
                                         .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(csv)), 15000);
        return;
    }
    QString path = files.save(tr("Aufzeichnung starten"), tr("Aufzeichnungen (*.orec);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    // A name ending in ".csv" would be the export's own name.
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.isEmpty() || suffix.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        path += QStringLiteral(".orec");
    if (!startRecording(path))
        QMessageBox::warning(window, tr("Aufzeichnung starten"), tr("Die Aufzeichnung konnte nicht angelegt werden!"),
                             QMessageBox::Ok);
}

bool RecordingFlow::startReplay(const QString& path, double speed)
{
    // Not beside a live ranging, nor over a recording's export; connected but
    // idle is fine: nothing is sent while it runs.
    if (replay.isRunning() || rangingActive() || session.isRecording())
        return false;
    // Nothing changes unless the file is a recording.
    if (!replay.start(path, speed))
        return false;
    // The chart pass and the status label follow the recorded time, so expiry,
    // rate, speed and liveness come out as they did live, whatever the pace.
    liveMasterClock = masterInfo->now;
    masterInfo->now = [this] { return replay.epochMs(); };
    masterInfo->setMasterInfo(QString(), QString());
    // A replay starts from an empty history, as a session does.
    emit replayStarted();
    // One export per recording and filter setting: the same replay gives the
    // same rows, so it replaces its own earlier file and no other.
    exportPath = RecordingFiles::replayExportName(path, filterSetting());
    (void)session.startExport(exportPath, exportedDistances());
    emit sessionChanged();
    if (timeline) {
        timeline->setPaused(false);
        timeline->setProgress(0, replay.totalMs());
        timeline->show();
    }
    emit statusMessage(QString(), 0);
    // Paced, the chart runs on its timer as when connected; as fast as possible,
    // the replay asks for the passes at the live cadence of the recorded time.
    // (Connected, the live timer stops for a fast replay: its passes are the replay's own.)
    emit chartTimerWanted(!replay.isFast());
    return true;
}

void RecordingFlow::stopReplay()
{
    if (!replay.isRunning())
        return;
    const quint32 reached = replay.nowMs(), total = replay.totalMs();
    const bool complete = replay.isContiguous() && finishing;
    replay.stop();
    emit chartTimerWanted(false);
    (void)session.stop();
    // An export that does not cover the recording once from start to end says so in its name.
    QString written = exportPath;
    if (!complete && QFileInfo::exists(exportPath)) {
        written = RecordingFiles::partialName(exportPath);
        QFile::remove(written);
        if (!QFile::rename(exportPath, written))
            written = exportPath;
    }
    masterInfo->now = liveMasterClock ? liveMasterClock : [] { return QDateTime::currentMSecsSinceEpoch(); };
    masterInfo->setMasterInfo(QString(), QString());
    if (timeline)
        timeline->hide();
    // Samples stamped with replayed times must not reach a later session.
    emit replayStopped();
    emit sessionChanged();
    const QString where = QDir::toNativeSeparators(written);
    if (complete)
        emit statusMessage(tr("Wiedergabe beendet (%1), Positionen in %2").arg(RecordingFiles::clockText(total), where), 15000);
    else if (finishing)
        // At the end, but a seek left gaps or repeats in the export.
        emit statusMessage(tr("Wiedergabe beendet (%1); nach dem Springen lückenhafte Positionen in %2")
                               .arg(RecordingFiles::clockText(total), where),
                           15000);
    else
        emit statusMessage(tr("Wiedergabe beendet bei %1 von %2, unvollständige Positionen in %3")
                               .arg(RecordingFiles::clockText(reached), RecordingFiles::clockText(total), where),
                           15000);
}

void RecordingFlow::passDue()
{
    // Every pass computes and exports; painting 30 frames a second is all the
    // eye can follow and keeps a fast replay compute-bound.
    emit chartPassWanted(33);
}

void RecordingFlow::finishReplay()
{
    // The batches after the last pass are drawn and exported too.
    emit chartPassWanted(0);
    finishing = true;
    stopReplay();
    finishing = false;
}

void RecordingFlow::seek(quint32 ms)
{
    if (!replay.isRunning())
        return;
    // Positions and filters start afresh from the point sought, as at the start.
    emit replaySought();
    (void)replay.seek(ms);
    // The frame at the new time at once, paused or not; paced, the chart timer goes on.
    emit chartPassWanted(0);
    emit chartTimerWanted(!replay.isFast());
}

void RecordingFlow::speedChosen(double speed)
{
    if (!replay.isRunning())
        return;
    replay.setSpeed(speed);
    emit chartTimerWanted(!replay.isFast());
}

void RecordingFlow::toggleReplay()
{
    if (replay.isRunning()) {
        stopReplay();
        return;
    }
    const QString path = files.open(tr("Aufzeichnung abspielen"), tr("Aufzeichnungen (*.orec);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    if (!startReplay(path, timeline ? timeline->speed() : 1.0))
        QMessageBox::warning(window, tr("Aufzeichnung abspielen"), tr("Die Aufzeichnung konnte nicht gelesen werden!"),
                             QMessageBox::Ok);
}
