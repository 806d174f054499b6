#include "recordingflow.h"

#include "cominterface.h"
#include "masterinfo.h"
#include "recordingfiles.h"
#include "recordingpanel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

namespace {
double replaySpeedAt(int index)
{
    static const double speeds[] = {1.0, 2.0, 5.0, 10.0, 0.0};
    return speeds[qBound(0, index, 4)];
}
} // namespace

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
    connect(&replay, &ReplayController::progress, this, [this](quint32 nowMs, quint32 totalMs) {
        emit statusMessage(tr("Wiedergabe: %1 von %2")
                               .arg(RecordingFiles::clockText(nowMs), RecordingFiles::clockText(totalMs)), 0);
    });
}

bool RecordingFlow::startRecording(const QString& path)
{
    if (!session.start(path))
        return false;
    panel->setRecording(true);
    return true;
}

bool RecordingFlow::stopRecording()
{
    if (!session.isRecording() && !session.isExporting())
        return true;
    const bool saved = session.stop();
    panel->setRecording(false);
    return saved;
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
    // Not beside a live session, nor over a recording's export.
    if (replay.isRunning() || com.isOpen() || session.isRecording())
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
    // An earlier replay's export is kept: this one gets the next free name.
    exportPath = RecordingFiles::freeReplayExportName(path);
    (void)session.startExport(exportPath);
    panel->setRecordEnabled(false);
    panel->setReplaying(true);
    // Paced, the chart runs on its timer as when connected; as fast as possible,
    // the replay asks for the passes at the live cadence of the recorded time.
    if (!replay.isFast())
        emit chartTimerWanted(true);
    return true;
}

void RecordingFlow::stopReplay()
{
    if (!replay.isRunning())
        return;
    replay.stop();
    emit chartTimerWanted(false);
    (void)session.stop();
    masterInfo->now = liveMasterClock ? liveMasterClock : [] { return QDateTime::currentMSecsSinceEpoch(); };
    masterInfo->setMasterInfo(QString(), QString());
    panel->setReplaying(false);
    // Samples stamped with replayed times must not reach a later session.
    emit replayStopped();
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
    const quint32 total = replay.totalMs();
    stopReplay();
    emit statusMessage(tr("Wiedergabe beendet (%1), Positionen in %2")
                                 .arg(RecordingFiles::clockText(total), QDir::toNativeSeparators(exportPath)),
                             15000);
}

void RecordingFlow::speedChosen(int index)
{
    if (!replay.isRunning())
        return;
    replay.setSpeed(replaySpeedAt(index));
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
    if (!startReplay(path, replaySpeedAt(panel->replaySpeedIndex())))
        QMessageBox::warning(window, tr("Aufzeichnung abspielen"), tr("Die Aufzeichnung konnte nicht gelesen werden!"),
                             QMessageBox::Ok);
}
