#include "sidepanel.h"

#include "connectionpanel.h"
#include "modulespanel.h"
#include "recordingpanel.h"
#include "toolspanel.h"
#include "viewpanel.h"
#include "zonespanel.h"

#include <QBoxLayout>
#include <QSettings>
#include <QTabWidget>

SidePanel::SidePanel(QWidget* column)
    : QObject(column), connection(new ConnectionPanel), modules(new ModulesPanel), view(new ViewPanel),
      tools(new ToolsPanel), recording(new RecordingPanel), zones(new ZonesPanel)
{
    // The connection is wanted throughout a session and stays in view; the
    // tables, the view, the tools and the recording share the room below,
    // one at a time, so the column fits a laptop's screen.
    auto* layout = qobject_cast<QBoxLayout*>(column->layout());
    layout->addWidget(connection);
    auto* tabs = new QTabWidget(column);
    tabs->setObjectName(QStringLiteral("tabPanels"));
    tabs->addTab(modules, tr("Module"));
    tabs->addTab(view, tr("Ansicht"));
    // The tools kept their group's name when the group became a page.
    tools->setObjectName(QStringLiteral("groupBox_5"));
    tabs->addTab(tools, tr("Werkzeuge"));
    tabs->addTab(recording, tr("Aufzeichnung"));
    tabs->addTab(zones, tr("Zonen"));
    // The shorter pages keep their rows at the top.
    for (QWidget* page : {static_cast<QWidget*>(view), static_cast<QWidget*>(tools), static_cast<QWidget*>(recording), static_cast<QWidget*>(zones)})
        if (auto* pageLayout = qobject_cast<QBoxLayout*>(page->layout()))
            pageLayout->addStretch(1);
    tabs->setCurrentIndex(QSettings().value(QStringLiteral("Seitenleiste/Seite"), 0).toInt());
    connect(tabs, &QTabWidget::currentChanged, this,
            [](int index) { QSettings().setValue(QStringLiteral("Seitenleiste/Seite"), index); });
    layout->addWidget(tabs, 1);
}
