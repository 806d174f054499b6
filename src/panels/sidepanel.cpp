#include "sidepanel.h"

#include "connectionpanel.h"
#include "modulespanel.h"
#include "panelsection.h"
#include "recordingpanel.h"
#include "toolspanel.h"
#include "viewpanel.h"

#include <QBoxLayout>

SidePanel::SidePanel(QWidget* column)
    : QObject(column), connection(new ConnectionPanel), modules(new ModulesPanel), view(new ViewPanel),
      tools(new ToolsPanel), recording(new RecordingPanel)
{
    auto* layout = qobject_cast<QBoxLayout*>(column->layout());
    const QList<QPair<QString, QWidget*>> sections = {
        {tr("Verbindung"), connection}, {tr("Module"), modules}, {tr("Ansicht"), view},
        {tr("Werkzeuge"), tools}, {tr("Aufzeichnung"), recording}};
    for (const auto& s : sections)
        layout->addWidget(new PanelSection(s.first, s.second, column), s.second == modules ? 1 : 0);
}
