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

void ConnectionFlow::setControls(bool connected)
{
    w.ui->btnConnect->setEnabled(!connected);
    w.ui->btnDisconnect->setEnabled(connected);
    w.ui->btnRefreshComPorts->setEnabled(!connected);
    w.ui->cmbComPort->setEnabled(!connected);
    w.ui->edtBaud->setEnabled(!connected);
    w.ui->btnStartRanging->setEnabled(connected);
    w.ui->btnDiscovery->setEnabled(connected);
    w.ui->btnRecord->setEnabled(connected);
    w.ui->btnReplay->setEnabled(!connected);
    w.ui->lblConnectionState->setText(connected ? MainWin::tr("verbunden") : MainWin::tr("nicht verbunden"));
}

void ConnectionFlow::connectChosen()
{
    int baud = 0;
    bool ok = false;
    baud = w.ui->edtBaud->text().toInt(&ok, 10);
    if (!ok || baud < 1) {
        w.setConnectedControls(false);
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
    if (w.com.open(chosenPortPath(w.ui->cmbComPort), baud)) {
        w.setConnectedControls(true);
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
    w.setConnectedControls(false);
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
            problems << MainWin::tr("Das Ranging konnte nicht gestartet werden!");
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

void ConnectionFlow::finish()
{
    w.stopRecording();
    w.redrawTimer->stop();
    w.silenceTimer->stop();
    // The last frame stays visible, greyed out: its positions are no longer live.
    if (w.chartPixmap)
        w.ui->lblChart->setPixmap(disconnectedFrame(*w.chartPixmap));
    w.drawnSignature.clear();
    w.ui->labAbstandMaster->setText(QString());
    QObject::disconnect(&w.com, &ComInterface::dataReceived, &w, &MainWin::dataReceived);
    w.com.setForwarding(false);
    w.com.close();
    w.rxBuffer.clear();
    w.setConnectedControls(false);
    w.ui->btnStartRanging->setText(MainWin::tr("Ranging starten"));
    w.masterInfo->setMasterInfo(QString(), QString());
    w.rangingActive = false;
}

void ConnectionFlow::checkMasterHeard()
{
    // The connection label keeps saying "verbunden": the port is open. Whether
    // a master answers on it is a separate question, told for a while.
    if (w.com.isOpen() && w.packetLines == w.packetLinesAtConnect)
        w.statusBar()->showMessage(MainWin::tr("Kein Master an %1? Seit 2 s keine Antwort.").arg(chosenPortPath(w.ui->cmbComPort)), 10000);
}

void ConnectionFlow::portLost()
{
    // The port went away under us (adapter pulled, far end closed): nothing can be
    // sent any more, so go straight to the disconnected state and say so.
    if (!w.ui->btnDisconnect->isEnabled())
        return;
    w.finishDisconnect();
    QMessageBox::warning(&w, MainWin::tr("Verbindung"), MainWin::tr("Die Verbindung zum Master wurde unterbrochen!"),
                         QMessageBox::Ok);
}

void ConnectionFlow::toggleRanging()
{
    if (w.rangingActive) {
        if (w.sendCommand("$PG,\r\n", true)) {
            w.rangingActive = false;
            w.ui->btnStartRanging->setText(MainWin::tr("Ranging starten"));
            w.ui->btnDiscovery->setEnabled(true);
            w.ui->btnSendCommand->setEnabled(false);
        } else {
            QMessageBox::warning(&w, MainWin::tr("Ranging stoppen"), MainWin::tr("Das Ranging konnte nicht gestoppt werden!"),
                                 QMessageBox::Ok);
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
        QMessageBox::warning(&w, MainWin::tr("Ranging starten"), MainWin::tr("Das Ranging konnte nicht gestartet werden!"),
                             QMessageBox::Ok);
    }
}

void ConnectionFlow::setRangingControls(bool ranging)
{
    w.rangingActive = ranging;
    w.ui->btnStartRanging->setText(ranging ? MainWin::tr("Ranging stoppen") : MainWin::tr("Ranging starten"));
    w.ui->btnDiscovery->setEnabled(!ranging);
    w.ui->btnSendCommand->setEnabled(ranging);
}
