#ifndef EVENTSPANEL_H
#define EVENTSPANEL_H

#include "zoneeventlog.h"

#include <QVector>
#include <QWidget>

namespace Ui { class EventsPanel; }

// The "Ereignisse" list under the chart: zone events, newest first, the last
// ZoneEventLog::Capacity; a button clears it, another exports it.
class EventsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit EventsPanel(QWidget* parent = nullptr);
    ~EventsPanel() override;

    // recOffsetMs turns the events' epoch ms into the recording's clock.
    void addEvents(const QVector<ZoneEvent>& events, qint64 recOffsetMs);
    const ZoneEventLog& log() const { return entries; }
    void clear();

signals:
    void exportRequested();

private:
    Ui::EventsPanel* ui;
    ZoneEventLog entries;
};

#endif
