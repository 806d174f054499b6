#ifndef ZONE_H
#define ZONE_H

#include <QColor>
#include <QPolygonF>
#include <QString>

// An area on the floor plan that tags enter and leave: a simple polygon in cm
// (the same axes as the anchors), not closed (the last corner joins the first).
struct Zone
{
    QString name;
    QColor color = QColor(QStringLiteral("#3080ff"));
    QPolygonF corners;
    int dwellSeconds = 0;   // one dwell event after this long inside; 0: none
    bool shown = true;      // drawn on the chart (events come either way)
};

// How an inside/outside state changes (cm, fixes, seconds). A tag enters when
// its shown position lies at least enterMargin inside for enterFixes fixes in
// a row, and leaves when it lies at least exitTolerance outside for exitFixes
// fixes in a row, or when it has sent no fix for timeoutSeconds. More fixes
// than the default averaging depth (10): one wild distance moves the average
// for that many lines, and must not make a crossing of its own. The events
// keep the time of the crossing however long the rule waits.
struct ZoneRules
{
    double enterMargin = 15;
    int enterFixes = 12;
    double exitTolerance = 15;
    int exitFixes = 12;
    int timeoutSeconds = 10;

    bool operator==(const ZoneRules& o) const
    {
        return enterMargin == o.enterMargin && enterFixes == o.enterFixes && exitTolerance == o.exitTolerance
            && exitFixes == o.exitFixes && timeoutSeconds == o.timeoutSeconds;
    }
    bool operator!=(const ZoneRules& o) const { return !(*this == o); }
};

#endif
