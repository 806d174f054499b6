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
    exchangeError = [] { return QString(); };
    anchorCount = [] { return 0; };
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

SessionState ConnectionFlow::state() const
{
    SessionState s;
    s.portOpen = com.isOpen();
    s.portLost = !lostPath.isEmpty();
    s.masterSilent = masterSilent;
    s.ranging = rangingActive;
    if (sessionFacts)
        sessionFacts(s);
    return s;
}

bool ConnectionFlow::replaying() const { return state().replaying; }

void ConnectionFlow::updateControls()
{
    emit controlsChanged(state().controls());
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
    baud = panel->baudText().toInt(&ok, 10);
    if (!ok || baud < 1) {
        updateControls();
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
    return openPath(panel->chosenPortPath(), baud);
}

bool ConnectionFlow::openPath(const QString& path, int baud)
{
    openedPath = path;
    if (com.open(path, baud)) {
        linkUp = true;
        lostPath.clear();
        if (lostWatch)
            lostWatch->stop();
        masterSilent = false;
        sinceLastPacket.invalidate();
        emit opened();
        updateControls();
        com.setForwarding(true);
        masterInfo->setMasterInfo(QString(), QString());
        packetLinesAtConnect = packetLines;
        silenceTimer->start(2000);
        return true;
    }
    updateControls();
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
            problems << tr("Das Ranging konnte nicht gestartet werden!") + QLatin1Char(' ') + exchangeError();
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

void ConnectionFlow::finish(bool lost)
{
    silenceTimer->stop();
    com.setForwarding(false);
    com.close();
    lostWhileRanging = lost && rangingActive;
    lostPath = lost ? openedPath : QString();
    linkUp = false;
    masterSilent = false;
    masterInfo->setMasterInfo(QString(), QString());
    rangingActive = false;
    emit closed(lost);
    updateControls();
}

void ConnectionFlow::checkMasterHeard()
{
    if (!com.isOpen())
        return;
    // Nothing at all since the connect, or nothing for as long as the status
    // label takes to say "keine Verbindung": the label says it too.
    const bool never = packetLines == packetLinesAtConnect;
    if (never && !masterSilent)
        emit statusMessage(tr("Kein Master an %1? Seit 2 s keine Antwort.").arg(openedPath), 10000);
    const bool silent = never || (sinceLastPacket.isValid() && sinceLastPacket.elapsed() > MasterInfo::silenceLimitMs);
    if (silent != masterSilent) {
        masterSilent = silent;
        updateControls();
    }
    silenceTimer->start(1000);
}

void ConnectionFlow::portLost()
{
    // The port went away under us (adapter pulled, far end closed): nothing can be
    // sent any more, so go straight to the disconnected state, say so (the
    // window does, with the recording it ended), and watch for the device to come back.
    if (!linkUp)
        return;
    finish(true);
    if (!lostWatch) {
        lostWatch = new QTimer(this);
        connect(lostWatch, &QTimer::timeout, this, [this] { watchLostPort(); });
    }
    presentTicks = 0;
    lostWatch->start(500);
}

void ConnectionFlow::watchLostPort()
{
    if (lostPath.isEmpty() || com.isOpen()) {
        lostWatch->stop();
        return;
    }
    // Not while a replay feeds the window: counted afresh once it is over.
    if (replaying()) {
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
    if (panel->autoReconnect()) {
        reconnect();   // a failed attempt is tried again at the next tick
        return;
    }
    if (presentTicks != 2)
        return;
    lostWatch->stop();
    const auto answer = QMessageBox::question(window, tr("Verbindung"), tr("Master wieder da – verbinden?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (lostPath.isEmpty() || com.isOpen())
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
    if (!openPath(path, panel->baudText().toInt())) {
        // Still unusable (no permission yet): stay in the lost state.
        lostPath = path;
        lostWhileRanging = restart;
        updateControls();
        return;
    }
    QString text = tr("Wieder verbunden mit %1.").arg(path);
    if (restart) {
        if (anchorCount() >= 3 && sendCommand("$PS,\r\n", true)) {
            setRangingControls(true);
            text += QLatin1Char(' ') + tr("Das Ranging läuft wieder.");
        } else {
            text += QLatin1Char(' ') + tr("Das Ranging konnte nicht gestartet werden!") + QLatin1Char(' ') + exchangeError();
        }
    }
    emit statusMessage(text, 15000);
}

void ConnectionFlow::toggleRanging(int anchorCount)
{
    if (rangingActive) {
        if (sendCommand("$PG,\r\n", true))
            setRangingControls(false);
        else
            warnWithReason(tr("Ranging stoppen"), tr("Das Ranging konnte nicht gestoppt werden!"));
        return;
    }
    if (anchorCount < 3) {
        QMessageBox::information(window, tr("Ranging starten"), tr("Das Ranging ist erst ab 3 Ankern möglich!"),
                                 QMessageBox::Ok);
        return;
    }
    if (sendCommand("$PS,\r\n", true))
        setRangingControls(true);
    else
        warnWithReason(tr("Ranging starten"), tr("Das Ranging konnte nicht gestartet werden!"));
}

void ConnectionFlow::setRangingControls(bool ranging)
{
    rangingActive = ranging;
    updateControls();
    emit rangingChanged(ranging);
}

void ConnectionFlow::warnWithReason(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, window);
    box.setInformativeText(exchangeError());
    box.exec();
}
