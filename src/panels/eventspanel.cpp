#include "eventspanel.h"
#include "ui_eventspanel.h"

EventsPanel::EventsPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::EventsPanel)
{
    ui->setupUi(this);
    // No taller than its list: the chart keeps the room.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    ui->lstEvents->setMinimumHeight(60);
    connect(ui->btnClearEvents, &QPushButton::clicked, this, &EventsPanel::clear);
    connect(ui->btnExportEvents, &QPushButton::clicked, this, &EventsPanel::exportRequested);
}

EventsPanel::~EventsPanel()
{
    delete ui;
}

void EventsPanel::addEvents(const QVector<ZoneEvent>& events, qint64 recOffsetMs)
{
    for (const ZoneEvent& e : events) {
        entries.add(e, recOffsetMs);
        ui->lstEvents->insertItem(0, ZoneEventLog::line(e));
    }
    while (ui->lstEvents->count() > entries.size())
        delete ui->lstEvents->takeItem(ui->lstEvents->count() - 1);
}

void EventsPanel::clear()
{
    entries.clear();
    ui->lstEvents->clear();
}
