#ifndef ZONESPANEL_H
#define ZONESPANEL_H

#include "zone.h"

#include <QVector>
#include <QWidget>

namespace Ui { class ZonesPanel; }

// The side panel's "Zonen" tab: the zones with name, occupancy, colour and
// a check box that shows them, "Zone löschen" for the chosen one; the name and button that start drawing a new one; and
// whether the event list is shown. Owns its controls, tells by signals.
class ZonesPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ZonesPanel(QWidget* parent = nullptr);
    ~ZonesPanel() override;

    // The list, with each zone's number of tags inside.
    void showZones(const QVector<Zone>& zones, const QVector<int>& occupancy);
    // The name a new zone gets: the edit's, or the first free "Zone <n>".
    QString newZoneName(const QVector<Zone>& zones) const;
    // The draw button follows the chart: on while a polygon is being drawn.
    void setDrawing(bool on);
    // A zone was added under the typed name: the edit is free for the next.
    void clearNewName();
    bool eventsShown() const;
    void setEventsShown(bool on);

signals:
    void drawRequested(bool on);
    void zoneDeleted(int index);
    void zoneShownChanged(int index, bool shown);
    void eventsShownChanged(bool shown);

private:
    Ui::ZonesPanel* ui;
    bool filling = false;
};

#endif
