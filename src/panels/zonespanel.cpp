#include "zonespanel.h"
#include "ui_zonespanel.h"

#include <QIcon>
#include <QPixmap>

#include <algorithm>

ZonesPanel::ZonesPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ZonesPanel)
{
    ui->setupUi(this);
    connect(ui->btnDrawZone, &QPushButton::toggled, this, &ZonesPanel::drawRequested);
    connect(ui->chkShowEvents, &QCheckBox::toggled, this, &ZonesPanel::eventsShownChanged);
    connect(ui->lstZones, &QListWidget::itemSelectionChanged, this,
            [this] { ui->btnDeleteZone->setEnabled(!ui->lstZones->selectedItems().isEmpty()); });
    connect(ui->btnDeleteZone, &QPushButton::clicked, this, [this] {
        if (ui->lstZones->currentRow() >= 0 && !ui->lstZones->selectedItems().isEmpty())
            emit zoneDeleted(ui->lstZones->currentRow());
    });
    // The check box of a row is its zone's "shown" switch.
    connect(ui->lstZones, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!filling)
            emit zoneShownChanged(ui->lstZones->row(item), item->checkState() == Qt::Checked);
    });
}

ZonesPanel::~ZonesPanel()
{
    delete ui;
}

void ZonesPanel::showZones(const QVector<Zone>& zones, const QVector<int>& occupancy)
{
    filling = true;
    QListWidget* list = ui->lstZones;
    while (list->count() > zones.size())
        delete list->takeItem(list->count() - 1);
    for (int i = 0; i < zones.size(); ++i) {
        const Zone& z = zones.at(i);
        if (i >= list->count())
            list->addItem(new QListWidgetItem);
        QListWidgetItem* item = list->item(i);
        item->setText(QStringLiteral("%1 (%2)").arg(z.name).arg(occupancy.value(i)));
        QPixmap swatch(14, 14);
        swatch.fill(z.color);
        item->setIcon(QIcon(swatch));
        item->setToolTip(z.color.name());
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(z.shown ? Qt::Checked : Qt::Unchecked);
    }
    filling = false;
}

QString ZonesPanel::newZoneName(const QVector<Zone>& zones) const
{
    const QString typed = ui->edtZoneName->text().trimmed();
    if (!typed.isEmpty())
        return typed;
    for (int n = 1;; ++n) {
        const QString name = tr("Zone %1").arg(n);
        if (std::none_of(zones.begin(), zones.end(), [&](const Zone& z) { return z.name.compare(name, Qt::CaseInsensitive) == 0; }))
            return name;
    }
}

void ZonesPanel::setDrawing(bool on)
{
    const QSignalBlocker quiet(ui->btnDrawZone);
    ui->btnDrawZone->setChecked(on);
}

void ZonesPanel::clearNewName() { ui->edtZoneName->clear(); }

bool ZonesPanel::eventsShown() const { return ui->chkShowEvents->isChecked(); }

void ZonesPanel::setEventsShown(bool on) { ui->chkShowEvents->setChecked(on); }
