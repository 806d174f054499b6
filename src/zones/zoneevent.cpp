#include "zoneevent.h"

const char* ZoneEvent::kindName(Kind k)
{
    switch (k) {
    case Enter: return "enter";
    case Exit: return "exit";
    case Dwell: return "dwell";
    }
    return "";
}

const char* ZoneEvent::reasonName(Reason r)
{
    return r == Timeout ? "timeout" : "boundary";
}

QString ZoneEvent::kindText(Kind k)
{
    switch (k) {
    case Enter: return QStringLiteral("betreten");
    case Exit: return QStringLiteral("verlassen");
    case Dwell: return QStringLiteral("verweilt");
    }
    return QString();
}
