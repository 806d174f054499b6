#include "zoneeventsjob.h"

#include "mqttpublisher.h"
#include "zoneevents.h"

bool ZoneEventsJob::open(const QString& path)
{
    return path.isEmpty() || out.open(path);
}

void ZoneEventsJob::take(ZoneEvents& engine, qint64 recOffsetMs, MqttPublisher* mqtt)
{
    if (!engine.hasEvents())
        return;
    const QVector<ZoneEvent> events = engine.takeEvents();
    for (const ZoneEvent& e : events) {
        out.append(e, recOffsetMs);
        if (mqtt)
            mqtt->publishZoneEvent(e);
    }
    count += quint64(events.size());
    if (mqtt)
        for (int i = 0; i < engine.zones().size(); ++i)
            mqtt->publishOccupancy(engine.zones().at(i).name, engine.occupants(i));
}

bool ZoneEventsJob::close()
{
    return out.close();
}
