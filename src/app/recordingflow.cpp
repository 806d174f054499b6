#include "recordingflow.h"

#include "mainwin.h"
#include "masterinfo.h"
#include "disconnectedframe.h"
#include "recordingfiles.h"
#include "replaytimeline.h"
#include "ui_mainwin.h"

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

RecordingFlow::RecordingFlow(MainWin& window)
    : w(window)
{
    QObject::connect(&session, &SessionRecorder::progress, &w, [this](qint64 elapsedMs, qint64 bytes) {
        w.statusBar()->showMessage(MainWin::tr("Aufzeichnung läuft: %1, %2")
                                       .arg(RecordingFiles::clockText(elapsedMs), RecordingFiles::sizeText(bytes)));
    });
    QObject::connect(&replay, &ReplayController::batch, &w, &MainWin::dataReceived);
    QObject::connect(&replay, &ReplayController::passDue, &w, [this] { passDue(); });
    QObject::connect(&replay, &ReplayController::finished, &w, [this] { finishReplay(); });
}

void RecordingFlow::attachTimeline(ReplayTimeline* line)
{
    // The time line shows the progress; the status bar is kept for what happened.
    timeline = line;
    QObject::connect(&replay, &ReplayController::progress, timeline, &ReplayTimeline::setProgress);
    QObject::connect(timeline, &ReplayTimeline::pauseToggled, &w, [this](bool paused) { replay.setPaused(paused); });
    QObject::connect(timeline, &ReplayTimeline::speedChanged, &w, [this](double speed) { speedChosen(speed); });
    QObject::connect(timeline, &ReplayTimeline::seekRequested, &w, [this](quint32 ms) { seek(ms); });
}

QStringList RecordingFlow::exportedDistances() const
{
    return w.ui->chkExportDistances->isChecked() ? PositionExport::anchorIds(w.modules.anchors) : QStringList();
}

bool RecordingFlow::startRecording(const QString& path)
{
    if (!session.start(path, exportedDistances()))
        return false;
    w.updateControls();
    return true;
}

bool RecordingFlow::stopRecording()
{
    if (!session.isRecording() && !session.isExporting())
        return true;
    const bool saved = session.stop();
    w.updateControls();
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
    const QString text = linkLost ? MainWin::tr("Aufzeichnung beendet (Verbindung verloren): %1, %2; Positionen in %3")
                                  : MainWin::tr("Aufzeichnung beendet: %1, %2; Positionen in %3");
    QString note = text.arg(QDir::toNativeSeparators(path), RecordingFiles::sizeText(QFileInfo(path).size()),
                            QDir::toNativeSeparators(csv));
    if (!saved)
        note += QLatin1Char(' ') + MainWin::tr("Die Aufzeichnung konnte nicht vollständig gespeichert werden!");
    return note;
}

void RecordingFlow::toggleRecording()
{
    if (session.isRecording()) {
        // Both files are on the disk once this returns; say so when they are not.
        const QString path = session.fileName();
        const QString csv = session.csvName();
        if (!stopRecording())
            QMessageBox::warning(&w, MainWin::tr("Aufzeichnung beenden"),
                                 MainWin::tr("Die Aufzeichnung konnte nicht vollständig gespeichert werden!"), QMessageBox::Ok);
        else
            w.statusBar()->showMessage(MainWin::tr("Aufzeichnung gespeichert: %1, Positionen in %2")
                                         .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(csv)), 15000);
        return;
    }
    QString path = w.fileChoice.save(MainWin::tr("Aufzeichnung starten"), MainWin::tr("Aufzeichnungen (*.orec);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    // A name ending in ".csv" would be the export's own name.
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.isEmpty() || suffix.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        path += QStringLiteral(".orec");
    if (!startRecording(path))
        QMessageBox::warning(&w, MainWin::tr("Aufzeichnung starten"), MainWin::tr("Die Aufzeichnung konnte nicht angelegt werden!"),
                             QMessageBox::Ok);
}

bool RecordingFlow::startReplay(const QString& path, double speed)
{
    // Not beside a live ranging, nor over a recording's export; connected but
    // idle is fine: nothing is sent while it runs.
    if (replay.isRunning() || w.rangingActive || session.isRecording())
        return false;
    // Nothing changes unless the file is a recording.
    if (!replay.start(path, speed))
        return false;
    // The chart pass and the status label follow the recorded time, so expiry,
    // rate, speed and liveness come out as they did live, whatever the pace.
    liveMasterClock = w.masterInfo->now;
    w.masterInfo->now = [this] { return replay.epochMs(); };
    w.masterInfo->setMasterInfo(QString(), QString());
    // A replay starts from an empty history, as a session does.
    w.clearRangingHistory();
    w.rxBuffer.clear();
    // One export per recording and filter setting: the same replay gives the
    // same rows, so it replaces its own earlier file and no other.
    exportPath = RecordingFiles::replayExportName(path, w.smoothing == Smoothing::Kalman ? QStringLiteral("kalman")
                                                                                         : QStringLiteral("avg%1").arg(w.averageCount));
    (void)session.startExport(exportPath, exportedDistances());
    w.updateControls();
    if (timeline) {
        timeline->setPaused(false);
        timeline->setProgress(0, replay.totalMs());
        timeline->show();
    }
    w.statusBar()->clearMessage();
    // Paced, the chart runs on its timer as when connected; as fast as possible,
    // the replay asks for the passes at the live cadence of the recorded time.
    // (Connected, the live timer stops for a fast replay: its passes are the replay's own.)
    if (!replay.isFast())
        w.redrawTimer->start(10);
    else
        w.redrawTimer->stop();
    return true;
}

void RecordingFlow::stopReplay()
{
    if (!replay.isRunning())
        return;
    const quint32 reached = replay.nowMs(), total = replay.totalMs();
    const bool complete = replay.isContiguous() && finishing;
    replay.stop();
    w.redrawTimer->stop();
    (void)session.stop();
    // An export that does not cover the recording once from start to end says so in its name.
    QString written = exportPath;
    if (!complete && QFileInfo::exists(exportPath)) {
        written = RecordingFiles::partialName(exportPath);
        QFile::remove(written);
        if (!QFile::rename(exportPath, written))
            written = exportPath;
    }
    w.rxBuffer.clear();
    // Samples stamped with replayed times must not reach a later session.
    w.clearRangingHistory();
    w.masterInfo->now = liveMasterClock ? liveMasterClock : [] { return QDateTime::currentMSecsSinceEpoch(); };
    w.masterInfo->setMasterInfo(QString(), QString());
    if (timeline)
        timeline->hide();
    w.updateControls();
    // The last frame stays, greyed: it is no live position.
    if (w.chartPixmap)
        w.ui->lblChart->setPixmap(disconnectedFrame(*w.chartPixmap, MainWin::tr("Wiedergabe beendet")));
    w.drawnSignature.clear();
    // Connected (idle): the live chart goes on.
    if (w.com.isOpen())
        w.redrawTimer->start(10);
    const QString where = QDir::toNativeSeparators(written);
    if (complete)
        w.statusBar()->showMessage(MainWin::tr("Wiedergabe beendet (%1), Positionen in %2").arg(RecordingFiles::clockText(total), where), 15000);
    else
        w.statusBar()->showMessage(MainWin::tr("Wiedergabe beendet bei %1 von %2, unvollständige Positionen in %3")
                                       .arg(RecordingFiles::clockText(reached), RecordingFiles::clockText(total), where),
                                   15000);
}

void RecordingFlow::passDue()
{
    // Every pass computes and exports; painting 30 frames a second is all the
    // eye can follow and keeps a fast replay compute-bound.
    w.chartPass(33);
    w.redrawTimer->stop();
}

void RecordingFlow::finishReplay()
{
    // The batches after the last pass are drawn and exported too.
    w.redrawChart();
    w.redrawTimer->stop();
    finishing = true;
    stopReplay();
    finishing = false;
}

void RecordingFlow::seek(quint32 ms)
{
    if (!replay.isRunning())
        return;
    // Positions and filters start afresh from the point sought, as at the start.
    w.clearRangingHistory();
    w.rxBuffer.clear();
    (void)replay.seek(ms);
    w.drawnSignature.clear();
}

void RecordingFlow::speedChosen(double speed)
{
    if (!replay.isRunning())
        return;
    replay.setSpeed(speed);
    if (replay.isFast())
        w.redrawTimer->stop();
    else
        w.redrawTimer->start(10);
}

void RecordingFlow::toggleReplay()
{
    if (replay.isRunning()) {
        stopReplay();
        return;
    }
    const QString path = w.fileChoice.open(MainWin::tr("Aufzeichnung abspielen"), MainWin::tr("Aufzeichnungen (*.orec);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    if (!startReplay(path, timeline ? timeline->speed() : 1.0))
        QMessageBox::warning(&w, MainWin::tr("Aufzeichnung abspielen"), MainWin::tr("Die Aufzeichnung konnte nicht gelesen werden!"),
                             QMessageBox::Ok);
}
