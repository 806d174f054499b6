#ifndef SESSIONSTATE_H
#define SESSIONSTATE_H

#include <QString>

// The connection and session state of the window, and what it lets the user
// do. Every label text and every enabled state of the connection, ranging,
// command and recording controls is derived from here, from the facts
// themselves (port open, ranging confirmed, files open, replay running), so
// no path can leave one of them saying something else.
//
// Link states and their transitions:
//
//   state          entered by                              left by
//   -------------  --------------------------------------  ---------------------------------------
//   disconnected   start; "Verbindung trennen"             connect -> connected
//   lost           the open port vanished                  connect, by hand or when the port is
//                                                          back ("Automatisch neu verbinden") -> connected
//   connected      connect; stop confirmed by the master   start confirmed -> ranging;
//                                                          disconnect -> disconnected; port gone -> lost
//   ranging        start confirmed by the master           stop confirmed -> connected;
//                                                          disconnect -> disconnected; port gone -> lost
//
// Beside the link state: the master is silent (connected or ranging, and no
// packet for a while), a recording runs (connected or ranging only; a lost
// link ends it), a replay runs (not while ranging; it feeds the receive path,
// so nothing may be sent meanwhile).
//
// What each state allows (replay: while a replay runs):
//
//   control                 disconnected/lost  connected  ranging  replay   recording
//   connect, port, refresh  yes                no         no       no       -
//   disconnect              no                 yes        yes      no       yes
//   start/stop ranging      no                 yes        yes      no       yes
//   discovery               no                 yes        no       no       no
//   send command            no                 no         yes      no       yes
//   record                  no                 yes        yes      no       yes (to stop)
//   replay                  yes                yes        no       yes (to stop)  no
struct SessionState
{
    bool portOpen = false;
    bool portLost = false;      // the port vanished while open, and nobody connected since
    bool masterSilent = false;  // open, but nothing heard from the master for a while
    bool ranging = false;
    bool recording = false;
    bool replaying = false;

    struct Controls
    {
        bool connect = false;        // also the port list and its refresh button
        bool disconnect = false;
        bool ranging = false;
        bool discovery = false;
        bool sendCommand = false;
        bool record = false;
        bool replay = false;
        QString connectionText;      // lblConnectionState
        QString rangingText;         // btnStartRanging
        QString recordText;          // btnRecord
        QString replayText;          // btnReplay
    };

    Controls controls() const;
};

#endif
