#include "recordingflow.h"

#include "mainwin.h"
#include "masterinfo.h"
#include "recordingfiles.h"
#include "ui_mainwin.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
double replaySpeedAt(int index)
{
    static const double speeds[] = {1.0, 2.0, 5.0, 10.0, 0.0};
    return speeds[qBound(0, index, 4)];
}
} // namespace

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
    QObject::connect(&replay, &ReplayController::progress, &w, [this](quint32 nowMs, quint32 totalMs) {
        w.statusBar()->showMessage(MainWin::tr("Wiedergabe: %1 von %2")
                                       .arg(RecordingFiles::clockText(nowMs), RecordingFiles::clockText(totalMs)));
    });
}

bool RecordingFlow::startRecording(const QString& path)
{
    if (!session.start(path))
        return false;
    w.ui->btnRecord->setText(MainWin::tr("Aufzeichnung beenden"));
    return true;
}

bool RecordingFlow::stopRecording()
{
    if (!session.isRecording() && !session.isExporting())
        return true;
    const bool saved = session.stop();
    w.ui->btnRecord->setText(MainWin::tr("Aufzeichnung starten"));
#ifdef __GLIBC__
    // glibc keeps freed pages in its arenas (each recording's writer thread
    // may get one of its own) rather than handing them back, so resident
    // memory climbs in steps after large buffers were freed although nothing
    // leaks. Giving them back is cheap next to the syncs that end a recording.
    malloc_trim(0);
#endif
    return saved;
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
    // Not beside a live session, nor over a recording's export.
    if (replay.isRunning() || w.com.isOpen() || session.isRecording())
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
    // An earlier replay's export is kept: this one gets the next free name.
    exportPath = RecordingFiles::freeReplayExportName(path);
    (void)session.startExport(exportPath);
    // Nothing may be sent while a replay feeds the receive path.
    const QList<QWidget*> sending = {w.ui->btnConnect, w.ui->btnDisconnect, w.ui->btnRefreshComPorts,
                                     w.ui->cmbComPort, w.ui->btnStartRanging, w.ui->btnDiscovery,
                                     w.ui->btnSendCommand, w.ui->btnRecord};
    for (QWidget* b : sending)
        b->setEnabled(false);
    w.ui->btnReplay->setText(MainWin::tr("Wiedergabe beenden"));
    // Paced, the chart runs on its timer as when connected; as fast as possible,
    // the replay asks for the passes at the live cadence of the recorded time.
    if (!replay.isFast())
        w.redrawTimer->start(10);
    return true;
}

void RecordingFlow::stopReplay()
{
    if (!replay.isRunning())
        return;
    replay.stop();
    w.redrawTimer->stop();
    (void)session.stop();
    w.rxBuffer.clear();
    // Samples stamped with replayed times must not reach a later session.
    w.clearRangingHistory();
    w.masterInfo->now = liveMasterClock ? liveMasterClock : [] { return QDateTime::currentMSecsSinceEpoch(); };
    w.masterInfo->setMasterInfo(QString(), QString());
    w.ui->btnReplay->setText(MainWin::tr("Aufzeichnung abspielen"));
    w.setConnectedControls(false);
    w.ui->btnSendCommand->setEnabled(false);
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
    const quint32 total = replay.totalMs();
    stopReplay();
    w.statusBar()->showMessage(MainWin::tr("Wiedergabe beendet (%1), Positionen in %2")
                                 .arg(RecordingFiles::clockText(total), QDir::toNativeSeparators(exportPath)),
                             15000);
}

void RecordingFlow::speedChosen(int index)
{
    if (!replay.isRunning())
        return;
    replay.setSpeed(replaySpeedAt(index));
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
    if (!startReplay(path, replaySpeedAt(w.ui->cmbReplaySpeed->currentIndex())))
        QMessageBox::warning(&w, MainWin::tr("Aufzeichnung abspielen"), MainWin::tr("Die Aufzeichnung konnte nicht gelesen werden!"),
                             QMessageBox::Ok);
}
