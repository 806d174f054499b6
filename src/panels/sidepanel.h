#ifndef SIDEPANEL_H
#define SIDEPANEL_H

#include <QObject>

class ConnectionPanel;
class ModulesPanel;
class ViewPanel;
class ToolsPanel;
class RecordingPanel;
class ZonesPanel;
class QWidget;

// The column beside the chart: the five panels, top to bottom in the order
// a session uses them.
class SidePanel : public QObject
{
    Q_OBJECT
public:
    // Fills the column widget's layout.
    explicit SidePanel(QWidget* column);

    ConnectionPanel* connection;
    ModulesPanel* modules;
    ViewPanel* view;
    ToolsPanel* tools;
    RecordingPanel* recording;
    ZonesPanel* zones;
};

#endif
