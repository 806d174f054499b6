#ifndef ZONEEVENTSJOB_H
#define ZONEEVENTSJOB_H

#include "zoneeventexport.h"

#include <QString>
#include <QVector>

class MqttPublisher;
class ZoneEvents;

// The batch mode's zone events: after every pass, what the positioning
// step's zone engine decided goes into the CSV file and, with a broker, to
// MQTT with the zones' occupancy.
class ZoneEventsJob
{
public:
    // path empty: no file (the events may still go to the broker).
    bool open(const QString& path);
    // recOffsetMs: added to an epoch ms it gives the recording's ms.
    void take(ZoneEvents& engine, qint64 recOffsetMs, MqttPublisher* mqtt);
    bool close();
    void discard() { out.discard(); }
    quint64 events() const { return count; }

private:
    ZoneEventExport out;
    quint64 count = 0;
};

#endif
