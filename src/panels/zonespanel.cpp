#include "zonespanel.h"
#include "ui_zonespanel.h"

#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QToolButton>

#include <algorithm>

ZonesPanel::ZonesPanel(QWidget* parent)
    : QWidget(parent), ui(new Ui::ZonesPanel)
{
    ui->setupUi(this);
    ui->tblZones->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c)
        ui->tblZones->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    ui->tblZones->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(ui->btnDrawZone, &QPushButton::toggled, this, &ZonesPanel::drawRequested);
    connect(ui->chkShowEvents, &QCheckBox::toggled, this, &ZonesPanel::eventsShownChanged);
    connect(ui->tblZones, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling && item->column() == 2)
            emit zoneShownChanged(item->row(), item->checkState() == Qt::Checked);
    });
}

ZonesPanel::~ZonesPanel()
{
    delete ui;
}

void ZonesPanel::showZones(const QVector<Zone>& zones, const QVector<int>& occupancy)
{
    filling = true;
    QTableWidget* t = ui->tblZones;
    t->setRowCount(zones.size());
    for (int i = 0; i < zones.size(); ++i) {
        const Zone& z = zones.at(i);
        const int inside = occupancy.value(i);
        auto* name = new QTableWidgetItem(inside > 0 ? QStringLiteral("%1 (%2)").arg(z.name).arg(inside) : z.name);
        t->setItem(i, 0, name);
        QPixmap swatch(14, 14);
        swatch.fill(z.color);
        auto* color = new QTableWidgetItem(QIcon(swatch), z.color.name());
        t->setItem(i, 1, color);
        auto* shown = new QTableWidgetItem;
        shown->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        shown->setCheckState(z.shown ? Qt::Checked : Qt::Unchecked);
        t->setItem(i, 2, shown);
        if (!t->cellWidget(i, 3)) {
            auto* remove = new QToolButton(t);
            remove->setText(tr("Löschen"));
            remove->setObjectName(QStringLiteral("btnDeleteZone"));
            connect(remove, &QToolButton::clicked, this, [this, remove] {
                for (int row = 0; row < ui->tblZones->rowCount(); ++row)
                    if (ui->tblZones->cellWidget(row, 3) == remove)
                        emit zoneDeleted(row);
            });
            t->setCellWidget(i, 3, remove);
        }
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
