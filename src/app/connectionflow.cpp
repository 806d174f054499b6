#include "connectionflow.h"

#include "disconnectedframe.h"
#include "mainwin.h"
#include "masterinfo.h"
#include "portnames.h"
#include "ui_mainwin.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

namespace {
// The device to open: the path behind the chosen list entry, or the text as
// typed once it differs from that entry.
QString chosenPortPath(const QComboBox* box)
{
    const QString text = box->currentText();
    const int index = box->currentIndex();
    if (index >= 0 && text == box->itemText(index)) {
        const QString path = box->itemData(index).toString();
        if (!path.isEmpty())
            return path;
    }
    return text;
}
} // namespace

void ConnectionFlow::refreshPorts()
{
    w.ui->cmbComPort->clear();
    w.ui->cmbComPort->addItems(ComInterface::availablePortNames());
    // Stable names that survive replugging, each with the device it stands for.
    for (const PortChoice& choice : byIdPortChoices())
        w.ui->cmbComPort->addItem(choice.text, choice.path);
    // Extra device paths (e.g. the stand-in's pseudo-terminal) named by the environment.
    const QStringList extra = qEnvironmentVariable("ORVANE_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& path : extra)
        if (QFileInfo::exists(path) && w.ui->cmbComPort->findText(path) < 0 && w.ui->cmbComPort->findData(path) < 0)
            w.ui->cmbComPort->addItem(path);
}

SessionState ConnectionFlow::state() const
{
    SessionState s;
    s.portOpen = w.com.isOpen();
    s.portLost = !lostPath.isEmpty();
    s.masterSilent = masterSilent;
    s.ranging = w.rangingActive;
    s.recording = w.recording.session.isRecording();
    s.replaying = w.recording.replay.isRunning();
    return s;
}

void ConnectionFlow::updateControls()
{
    const SessionState::Controls c = state().controls();
    w.ui->btnConnect->setEnabled(c.connect);
    w.ui->btnRefreshComPorts->setEnabled(c.connect);
    w.ui->cmbComPort->setEnabled(c.connect);
    w.ui->edtBaud->setEnabled(c.connect);
    w.ui->btnDisconnect->setEnabled(c.disconnect);
    w.ui->btnStartRanging->setEnabled(c.ranging);
    w.ui->btnStartRanging->setText(c.rangingText);
    w.ui->btnDiscovery->setEnabled(c.discovery);
    w.ui->btnSendCommand->setEnabled(c.sendCommand);
    w.ui->btnRecord->setEnabled(c.record);
    w.ui->btnRecord->setText(c.recordText);
    w.ui->btnReplay->setEnabled(c.replay);
    w.ui->btnReplay->setText(c.replayText);
    w.ui->lblConnectionState->setText(c.connectionText);
}

void ConnectionFlow::packetHeard()
{
    sinceLastPacket.start();
    if (masterSilent) {
        masterSilent = false;
        updateControls();
    }
}

void ConnectionFlow::connectChosen()
{
    int baud = 0;
    bool ok = false;
    baud = w.ui->edtBaud->text().toInt(&ok, 10);
    if (!ok || baud < 1) {
        updateControls();
        w.masterInfo->setMasterInfo(QString(), QString());
        QMessageBox::warning(&w, MainWin::tr("Verbindung herstellen"), MainWin::tr("Ungültige Baud-Rate!"), QMessageBox::Ok);
        return;
    }
    if (w.openPort(baud))
        return;
    QMessageBox box(QMessageBox::Warning, MainWin::tr("Verbindung herstellen"),
                    MainWin::tr("Die Verbindung konnte nicht hergestellt werden!"), QMessageBox::Ok, &w);
    // Say why (no such device, no permission) so the user knows what to do.
    if (!w.com.lastError().isEmpty())
        box.setInformativeText(w.com.lastError());
    box.exec();
}

bool ConnectionFlow::open(int baud)
{
    return openPath(chosenPortPath(w.ui->cmbComPort), baud);
}

bool ConnectionFlow::openPath(const QString& path, int baud)
{
    openedPath = path;
    if (w.com.open(path, baud)) {
        linkUp = true;
        lostPath.clear();
        if (lostWatch)
            lostWatch->stop();
        masterSilent = false;
        sinceLastPacket.invalidate();
        updateControls();
        w.rxBuffer.clear();
        QObject::connect(&w.com, &ComInterface::dataReceived, &w, &MainWin::dataReceived, Qt::UniqueConnection);
        w.com.setForwarding(true);
        w.masterInfo->setMasterInfo(QString(), QString());
        w.redrawTimer->start(10);
        w.packetLinesAtConnect = w.packetLines;
        w.silenceTimer->start(2000);
        w.drawnSignature.clear();
        return true;
    }
    updateControls();
    w.masterInfo->setMasterInfo(QString(), QString());
    return false;
}

QStringList ConnectionFlow::applyStartup(const QString& settingsPath, const QString& portPath, bool connectNow, bool startRanging)
{
    // From the command line: no message boxes, one line per problem, and the
    // window stays open in whatever state it reached.
    QStringList problems;
    if (!settingsPath.isEmpty() && !w.loadSettings(settingsPath, false))
        problems << MainWin::tr("Die Einstellungsdatei '%1' konnte nicht gelesen werden.").arg(settingsPath);
    if (!portPath.isEmpty())
        w.ui->cmbComPort->setEditText(portPath);
    if (!connectNow && !startRanging)
        return problems;
    if (!w.openPort(w.ui->edtBaud->text().toInt())) {
        problems << MainWin::tr("Die Verbindung zu '%1' konnte nicht hergestellt werden: %2")
                        .arg(chosenPortPath(w.ui->cmbComPort), w.com.lastError());
        return problems;
    }
    if (startRanging) {
        if (w.modules.anchors.size() < 3)
            problems << MainWin::tr("Das Ranging ist erst ab 3 Ankern möglich!");
        else if (!w.sendCommand("$PS,\r\n", true))
            problems << MainWin::tr("Das Ranging konnte nicht gestartet werden!") + QLatin1Char(' ') + w.exchangeError();
        else
            w.setRangingControls(true);
    }
    return problems;
}

void ConnectionFlow::disconnect()
{
    w.redrawTimer->stop();
    if (!w.com.isOpen())
        return;
    if (w.rangingActive) {
        (void)w.sendCommand("$PG,\r\n", true);
        QThread::msleep(100);
    }
    w.finishDisconnect();
}

QString ConnectionFlow::finish(bool lost)
{
    // A recording ends with the link: say where it went, and why it ended.
    const QString note = w.recording.endRecording(lost);
    w.redrawTimer->stop();
    w.silenceTimer->stop();
    // The last frame stays visible, greyed out: its positions are no longer live.
    // A replay that runs meanwhile goes on drawing on its own cadence.
    const bool replaying = w.recording.replay.isRunning();
    if (replaying && !w.recording.replay.isFast())
        w.redrawTimer->start(10);
    else if (!replaying && w.chartPixmap)
        w.ui->lblChart->setPixmap(disconnectedFrame(*w.chartPixmap));
    w.drawnSignature.clear();
    w.ui->labAbstandMaster->setText(QString());
    QObject::disconnect(&w.com, &ComInterface::dataReceived, &w, &MainWin::dataReceived);
    w.com.setForwarding(false);
    w.com.close();
    if (!replaying)
        w.rxBuffer.clear();
    lostWhileRanging = lost && w.rangingActive;
    lostPath = lost ? openedPath : QString();
    linkUp = false;
    masterSilent = false;
    w.masterInfo->setMasterInfo(QString(), QString());
    w.rangingActive = false;
    updateControls();
    if (!note.isEmpty())
        w.statusBar()->showMessage(note);
    return note;
}

void ConnectionFlow::checkMasterHeard()
{
    if (!w.com.isOpen())
        return;
    // Nothing at all since the connect, or nothing for as long as the status
    // label takes to say "keine Verbindung": the label says it too.
    const bool never = w.packetLines == w.packetLinesAtConnect;
    if (never && !masterSilent)
        w.statusBar()->showMessage(MainWin::tr("Kein Master an %1? Seit 2 s keine Antwort.").arg(openedPath), 10000);
    const bool silent = never || (sinceLastPacket.isValid() && sinceLastPacket.elapsed() > MasterInfo::silenceLimitMs);
    if (silent != masterSilent) {
        masterSilent = silent;
        updateControls();
    }
    w.silenceTimer->start(1000);
}

void ConnectionFlow::portLost()
{
    // The port went away under us (adapter pulled, far end closed): nothing can be
    // sent any more, so go straight to the disconnected state, say so, and
    // watch for the device to come back.
    if (!linkUp)
        return;
    const QString note = finish(true);
    w.statusBar()->showMessage(MainWin::tr("Die Verbindung zum Master wurde unterbrochen!")
                               + (note.isEmpty() ? QString() : QLatin1Char(' ') + note));
    if (!lostWatch) {
        lostWatch = new QTimer(&w);
        QObject::connect(lostWatch, &QTimer::timeout, &w, [this] { watchLostPort(); });
    }
    presentTicks = 0;
    lostWatch->start(500);
}

void ConnectionFlow::watchLostPort()
{
    if (lostPath.isEmpty() || w.com.isOpen()) {
        lostWatch->stop();
        return;
    }
    // Not while a replay feeds the window: counted afresh once it is over.
    if (w.recording.replay.isRunning()) {
        presentTicks = 0;
        return;
    }
    // A device path (a stable by-id link included), or a port name as the system lists it (COM3).
    const bool isPath = lostPath.contains(QLatin1Char('/'));
    const bool present = isPath ? QFileInfo::exists(lostPath) : ComInterface::availablePortNames().contains(lostPath);
    presentTicks = present ? presentTicks + 1 : 0;
    // Back for a moment: give a freshly plugged adapter time to settle.
    if (presentTicks < 2)
        return;
    if (w.ui->chkAutoReconnect->isChecked()) {
        reconnect();   // a failed attempt is tried again at the next tick
        return;
    }
    if (presentTicks != 2)
        return;
    lostWatch->stop();
    const auto answer = QMessageBox::question(&w, MainWin::tr("Verbindung"), MainWin::tr("Master wieder da – verbinden?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (lostPath.isEmpty() || w.com.isOpen())
        return;
    // Declined: asked again only when the device comes back another time.
    lostWatch->start(500);
    if (answer == QMessageBox::Yes)
        reconnect();
}

void ConnectionFlow::reconnect()
{
    const QString path = lostPath;
    const bool restart = lostWhileRanging;
    if (!openPath(path, w.ui->edtBaud->text().toInt())) {
        // Still unusable (no permission yet): stay in the lost state.
        lostPath = path;
        lostWhileRanging = restart;
        updateControls();
        return;
    }
    QString text = MainWin::tr("Wieder verbunden mit %1.").arg(path);
    if (restart) {
        if (w.ui->tblAnker->rowCount() >= 3 && w.sendCommand("$PS,\r\n", true)) {
            w.setRangingControls(true);
            text += QLatin1Char(' ') + MainWin::tr("Das Ranging läuft wieder.");
        } else {
            text += QLatin1Char(' ') + MainWin::tr("Das Ranging konnte nicht gestartet werden!") + QLatin1Char(' ')
                  + w.exchangeError();
        }
    }
    w.statusBar()->showMessage(text, 15000);
}

void ConnectionFlow::toggleRanging()
{
    if (w.rangingActive) {
        if (w.sendCommand("$PG,\r\n", true)) {
            setRangingControls(false);
        } else {
            warnWithReason(MainWin::tr("Ranging stoppen"), MainWin::tr("Das Ranging konnte nicht gestoppt werden!"));
        }
        return;
    }
    if (w.ui->tblAnker->rowCount() < 3) {
        QMessageBox::information(&w, MainWin::tr("Ranging starten"), MainWin::tr("Das Ranging ist erst ab 3 Ankern möglich!"),
                                 QMessageBox::Ok);
        return;
    }
    if (w.sendCommand("$PS,\r\n", true)) {
        w.setRangingControls(true);
    } else {
        warnWithReason(MainWin::tr("Ranging starten"), MainWin::tr("Das Ranging konnte nicht gestartet werden!"));
    }
}

void ConnectionFlow::setRangingControls(bool ranging)
{
    w.rangingActive = ranging;
    updateControls();
}

void ConnectionFlow::warnWithReason(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, &w);
    box.setInformativeText(w.exchangeError());
    box.exec();
}
