#include "connectionflow.h"

#include "cominterface.h"
#include "connectionpanel.h"
#include "masterinfo.h"
#include "portnames.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

ConnectionFlow::ConnectionFlow(QWidget* window, ComInterface& com, ConnectionPanel* panel, MasterInfo* masterInfo,
                               bool& rangingActive, SendCommand sendCommand, const quint64& packetLines)
    : QObject(window), window(window), com(com), panel(panel), masterInfo(masterInfo), rangingActive(rangingActive),
      sendCommand(std::move(sendCommand)), packetLines(packetLines), silenceTimer(new QTimer(this))
{
    silenceTimer->setSingleShot(true);
    connect(silenceTimer, &QTimer::timeout, this, &ConnectionFlow::checkMasterHeard);
}

void ConnectionFlow::refreshPorts()
{
    panel->clearPorts();
    for (const QString& name : ComInterface::availablePortNames())
        panel->addPort(name);
    // Stable names that survive replugging, each with the device it stands for.
    for (const PortChoice& choice : byIdPortChoices())
        panel->addPort(choice.text, choice.path);
    // Extra device paths (e.g. the stand-in's pseudo-terminal) named by the environment.
    const QStringList extra = qEnvironmentVariable("ORVANE_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& path : extra)
        if (QFileInfo::exists(path) && !panel->hasPort(path))
            panel->addPort(path);
}

void ConnectionFlow::connectChosen()
{
    int baud = 0;
    bool ok = false;
    baud = panel->baudText().toInt(&ok, 10);
    if (!ok || baud < 1) {
        emit openFailed();
        masterInfo->setMasterInfo(QString(), QString());
        QMessageBox::warning(window, tr("Verbindung herstellen"), tr("Ungültige Baud-Rate!"), QMessageBox::Ok);
        return;
    }
    if (open(baud))
        return;
    QMessageBox box(QMessageBox::Warning, tr("Verbindung herstellen"),
                    tr("Die Verbindung konnte nicht hergestellt werden!"), QMessageBox::Ok, window);
    // Say why (no such device, no permission) so the user knows what to do.
    if (!com.lastError().isEmpty())
        box.setInformativeText(com.lastError());
    box.exec();
}

bool ConnectionFlow::open(int baud)
{
    if (com.open(panel->chosenPortPath(), baud)) {
        emit opened();
        com.setForwarding(true);
        masterInfo->setMasterInfo(QString(), QString());
        packetLinesAtConnect = packetLines;
        silenceTimer->start(2000);
        return true;
    }
    emit openFailed();
    masterInfo->setMasterInfo(QString(), QString());
    return false;
}

QStringList ConnectionFlow::applyStartup(const QString& portPath, bool connectNow, bool startRanging, int anchorCount)
{
    // The window stays open in whatever state it reached.
    QStringList problems;
    if (!portPath.isEmpty())
        panel->setPortText(portPath);
    if (!connectNow && !startRanging)
        return problems;
    if (!open(panel->baudText().toInt())) {
        problems << tr("Die Verbindung zu '%1' konnte nicht hergestellt werden: %2")
                        .arg(panel->chosenPortPath(), com.lastError());
        return problems;
    }
    if (startRanging) {
        if (anchorCount < 3)
            problems << tr("Das Ranging ist erst ab 3 Ankern möglich!");
        else if (!sendCommand("$PS,\r\n", true))
            problems << tr("Das Ranging konnte nicht gestartet werden!");
        else
            setRangingControls(true);
    }
    return problems;
}

void ConnectionFlow::disconnect()
{
    if (!com.isOpen())
        return;
    if (rangingActive) {
        (void)sendCommand("$PG,\r\n", true);
        QThread::msleep(100);
    }
    finish();
}

void ConnectionFlow::finish()
{
    silenceTimer->stop();
    com.setForwarding(false);
    com.close();
    emit closed();
    masterInfo->setMasterInfo(QString(), QString());
    rangingActive = false;
}

void ConnectionFlow::checkMasterHeard()
{
    // The connection label keeps saying "verbunden": the port is open. Whether
    // a master answers on it is a separate question, told for a while.
    if (com.isOpen() && packetLines == packetLinesAtConnect)
        emit statusMessage(tr("Kein Master an %1? Seit 2 s keine Antwort.").arg(panel->chosenPortPath()), 10000);
}

void ConnectionFlow::portLost()
{
    // The port went away under us (adapter pulled, far end closed): nothing can be
    // sent any more, so go straight to the disconnected state and say so.
    if (!panel->isConnectedShown())
        return;
    finish();
    QMessageBox::warning(window, tr("Verbindung"), tr("Die Verbindung zum Master wurde unterbrochen!"),
                         QMessageBox::Ok);
}

void ConnectionFlow::toggleRanging(int anchorCount)
{
    if (rangingActive) {
        if (sendCommand("$PG,\r\n", true)) {
            setRangingControls(false);
        } else {
            QMessageBox::warning(window, tr("Ranging stoppen"), tr("Das Ranging konnte nicht gestoppt werden!"),
                                 QMessageBox::Ok);
        }
        return;
    }
    if (anchorCount < 3) {
        QMessageBox::information(window, tr("Ranging starten"), tr("Das Ranging ist erst ab 3 Ankern möglich!"),
                                 QMessageBox::Ok);
        return;
    }
    if (sendCommand("$PS,\r\n", true)) {
        setRangingControls(true);
    } else {
        QMessageBox::warning(window, tr("Ranging starten"), tr("Das Ranging konnte nicht gestartet werden!"),
                             QMessageBox::Ok);
    }
}

void ConnectionFlow::setRangingControls(bool ranging)
{
    rangingActive = ranging;
    panel->setRanging(ranging);
    emit rangingChanged(ranging);
}
