#include "sessionstate.h"

#include <QCoreApplication>

namespace {
QString tr(const char* text) { return QCoreApplication::translate("MainWin", text); }
} // namespace

SessionState::Controls SessionState::controls() const
{
    Controls c;
    const bool open = portOpen;
    const bool idle = !replaying;
    c.connect = !open && idle;
    c.disconnect = open && idle;
    c.ranging = open && idle;
    c.discovery = open && idle && !ranging && !recording;
    c.sendCommand = open && idle && ranging;
    c.record = open && idle;
    c.replay = replaying || (!ranging && !recording);

    if (open)
        c.connectionText = masterSilent ? tr("verbunden – Master antwortet nicht") : tr("verbunden");
    else
        c.connectionText = portLost ? tr("nicht verbunden – Verbindung verloren") : tr("nicht verbunden");
    c.rangingText = ranging ? tr("Ranging stoppen") : tr("Ranging starten");
    c.recordText = recording ? tr("Aufzeichnung beenden") : tr("Aufzeichnung starten");
    c.replayText = replaying ? tr("Wiedergabe beenden") : tr("Aufzeichnung abspielen");
    return c;
}
