#ifndef ZONEEVENT_H
#define ZONEEVENT_H

#include <QPointF>
#include <QString>

// One statement about a tag and a zone. Times are ms since the epoch on the
// clock the positioning step ran on (a recording's own clock in a replay).
struct ZoneEvent
{
    enum Kind { Enter, Exit, Dwell };
    enum Reason { Boundary, Timeout };

    Kind kind = Enter;
    Reason reason = Boundary;
    QString tagId;
    QString tagName;
    QString zone;
    qint64 ms = 0;          // the crossing: the last fix on the old side (dwell: when it was reached)
    QPointF position;       // cm, the shown position at ms
    qint64 entryMs = -1;    // exit and dwell: when the tag entered
    double dwellSeconds = 0;   // exit and dwell: how long it had been inside
    quint64 seq = 0;        // counts from 1 over all events of one engine

    // "enter", "exit", "dwell"; "boundary", "timeout".
    static const char* kindName(Kind k);
    static const char* reasonName(Reason r);
    // "betreten", "verlassen", "verweilt" as the event list shows them.
    static QString kindText(Kind k);
};

#endif
