#include "zoneeventlog.h"

#include "zoneeventexport.h"

#include <QDateTime>

void ZoneEventLog::add(const ZoneEvent& event, qint64 recOffsetMs)
{
    events.push_front({event, recOffsetMs});
    while (events.size() > size_t(Capacity))
        events.pop_back();
}

QString ZoneEventLog::line(const ZoneEvent& e)
{
    QString text = QDateTime::fromMSecsSinceEpoch(e.ms).toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ")
                 + (e.tagName.isEmpty() ? e.tagId : e.tagName) + QStringLiteral("  ") + e.zone + QStringLiteral("  ")
                 + ZoneEvent::kindText(e.kind);
    if (e.kind != ZoneEvent::Enter) {
        const qint64 s = qint64(e.dwellSeconds + 0.5);
        text += s >= 60 ? QStringLiteral(" (%1 min %2 s)").arg(s / 60).arg(s % 60) : QStringLiteral(" (%1 s)").arg(s);
    }
    if (e.reason == ZoneEvent::Timeout)
        text += QStringLiteral(", Zeitüberschreitung");
    return text;
}

bool ZoneEventLog::exportCsv(const QString& path) const
{
    ZoneEventExport out;
    if (!out.open(path))
        return false;
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        out.append(it->event, it->recOffsetMs);
    return out.close();
}
