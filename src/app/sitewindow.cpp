#include "sitewindow.h"
#include "ui_sitewindow.h"

#include "mqttdialog.h"
#include "mqttpassword.h"
#include "sitechart.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>

#include <cmath>

namespace {

// Sets a cell's text and colour, touching the table only where they changed
// (a changed cell makes the columns measure themselves again).
void setCell(QTableWidget* table, int row, int column, const QString& text, const QColor& colour = QColor())
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
    const QBrush brush = colour.isValid() ? QBrush(colour) : QBrush();
    if (item->foreground() != brush)
        item->setForeground(brush);
}

} // namespace

SiteWindow::SiteWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), ui(new Ui::SiteWindow)
{
    ui->setupUi(this);
    siteChart = new SiteChart(model, ui->chartArea);
    ui->vl_chart->addWidget(siteChart);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 2);
    // Measured when rows come, not on every change: with many kits that costs the chart its frames.
    ui->tblKits->horizontalHeader()->setStretchLastSection(true);
    ui->tblZones->horizontalHeader()->setStretchLastSection(true);
    chooseOpenFile = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(this, caption, QString(), filter);
    };
    chooseSaveFile = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, QString(), filter);
    };
    connect(&sub, &SiteSubscriber::messagesArrived, this, &SiteWindow::takeMessages);
    connect(&sub, &SiteSubscriber::statusChanged, ui->lblStatus, &QLabel::setText);
    connect(siteChart, &SiteChart::kitSelected, this, &SiteWindow::showSelected);
    connect(siteChart, &SiteChart::kitPlaced, this, &SiteWindow::showSelected);
    connect(siteChart, &SiteChart::pointPicked, this, &SiteWindow::pointPicked);
    connect(ui->tblKits, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = ui->tblKits->currentRow();
        if (row >= 0 && row < model.kitOrder().size() && siteChart->selectedKit() != model.kitOrder().at(row)) {
            siteChart->setSelectedKit(model.kitOrder().at(row));
            showSelected();
        }
    });
    // Liveness and ages move on without messages; the chart and list follow.
    connect(&tickTimer, &QTimer::timeout, this, [this] {
        model.tick(QDateTime::currentMSecsSinceEpoch());
        siteChart->update();
    });
    tickTimer.start(250);
    connect(&listTimer, &QTimer::timeout, this, &SiteWindow::refreshList);
    listTimer.start(1000);
}

SiteWindow::~SiteWindow()
{
    sub.stop();
    delete ui;
}

QStringList SiteWindow::start(const MqttSettings& broker, const QString& siteFile)
{
    QStringList problems;
    MqttSettings settings = broker;
    if (!siteFile.isEmpty() && loadSite(siteFile, &problems)) {
        // The command line's broker; the rest of the login as the site file says.
        if (settings.port <= 0)
            settings.port = site.mqtt.port;
        settings.prefix = site.mqtt.prefix;
        settings.user = site.mqtt.user;
        settings.tls = site.mqtt.tls;
        settings.caFile = site.mqtt.caFile;
    } else if (!siteFile.isEmpty()) {
        problems << tr("Standortdatei %1 nicht lesbar").arg(siteFile);
    }
    if (settings.port <= 0)
        settings.port = MqttSettings::DefaultPort;
    if (settings.password.isEmpty())
        settings.password = MqttPassword::load(settings.host, settings.user);
    site.mqtt = settings;
    site.mqtt.password.clear();
    sub.start(settings);
    return problems;
}

void SiteWindow::takeMessages()
{
    const QVector<SiteSubscriber::Received> batch = sub.take();
    for (const SiteSubscriber::Received& r : batch)
        model.apply(r.message, r.retained, r.recvMs);
    if (!fitted && !model.kitOrder().isEmpty()) {
        fitted = true;
        QTimer::singleShot(500, this, [this] { siteChart->fitAll(); });
    }
    // One repaint for however many messages came in the meantime, at once
    // when the last one is long enough ago.
    if (!repaintDue) {
        repaintDue = true;
        const qint64 wait = qBound(qint64(0), lastPaintMs + MinFrameMs - QDateTime::currentMSecsSinceEpoch(), qint64(MinFrameMs));
        QTimer::singleShot(int(wait), this, [this] {
            repaintDue = false;
            lastPaintMs = QDateTime::currentMSecsSinceEpoch();
            siteChart->repaint();
        });
    }
}

void SiteWindow::refreshList()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QVector<QString>& order = model.kitOrder();
    const bool newRows = ui->tblKits->rowCount() != order.size();
    ui->tblKits->setRowCount(order.size());
    int zoneRows = 0;
    for (const QString& id : order)
        zoneRows += model.kit(id)->zones.size();
    ui->tblZones->setRowCount(zoneRows);
    int z = 0;
    for (int row = 0; row < order.size(); ++row) {
        const SiteModel::Kit& k = *model.kit(order[row]);
        const bool offline = k.state == SiteModel::State::Offline;
        QString state = offline ? SiteModel::offlineText(k)
                        : k.state == SiteModel::State::Stale ? tr("still seit %1 s").arg((now - k.lastLiveMs) / 1000)
                                                             : tr("live");
        if (k.clockFlagged())
            state += QStringLiteral(", ") + SiteModel::clockText(k);
        const QColor colour = offline ? QColor(140, 140, 140) : k.clockFlagged() ? QColor(200, 0, 0) : QColor();
        QTableWidget* t = ui->tblKits;
        setCell(t, row, 0, k.name == k.id ? k.id : k.name + QStringLiteral(" (") + k.id + QLatin1Char(')'), colour);
        setCell(t, row, 1, state, colour);
        setCell(t, row, 2, QString::number(k.tags.size()));
        setCell(t, row, 3, QString::number(k.messageRate(now), 'f', 0));
        setCell(t, row, 4, k.lastMessageMs ? QDateTime::fromMSecsSinceEpoch(k.lastMessageMs).toString(QStringLiteral("HH:mm:ss")) : QString());
        setCell(t, row, 5, QString::number(k.refused), k.refused ? QColor(200, 0, 0) : QColor());
        if (t->item(row, 5)->toolTip() != k.lastRefusal)
            t->item(row, 5)->setToolTip(k.lastRefusal);
        for (const SiteModel::ZoneState& zone : k.zones) {
            setCell(ui->tblZones, z, 0, k.name);
            setCell(ui->tblZones, z, 1, zone.zone);
            setCell(ui->tblZones, z, 2, QString::number(zone.count));
            setCell(ui->tblZones, z++, 3, zone.tagIds.join(QStringLiteral(", ")));
        }
    }
    if (newRows)
        ui->tblKits->resizeColumnsToContents();
    ui->lblZones->setVisible(zoneRows > 0);
    ui->tblZones->setVisible(zoneRows > 0);
    ui->lblSiteName->setText(site.name.isEmpty() ? tr("Standort: %1 Kits").arg(order.size())
                                                 : tr("Standort %1: %2 Kits").arg(site.name).arg(order.size()));
}

void SiteWindow::showSelected()
{
    const SiteModel::Kit* k = model.kit(siteChart->selectedKit());
    ui->edtRotation->setText(k ? QString::number(k->placement.rotationDeg, 'g', 6) : QString());
    const int row = k ? model.kitOrder().indexOf(k->id) : -1;
    if (row >= 0 && ui->tblKits->currentRow() != row && row < ui->tblKits->rowCount())
        ui->tblKits->selectRow(row);
}

void SiteWindow::on_edtRotation_returnPressed()
{
    const SiteModel::Kit* k = model.kit(siteChart->selectedKit());
    bool ok = false;
    const double angle = ui->edtRotation->text().trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!k || !ok || !std::isfinite(angle)) {
        showSelected();
        return;
    }
    // About the outline's centre, as the handle turns it.
    const QPointF centreKit = k->extent().center();
    const QPointF centre = kitToSite(k->placement, centreKit);
    KitPlacement p{0, 0, normalizedDegrees(angle)};
    const QPointF turned = kitToSite(p, centreKit);
    p.x = std::round(centre.x() - turned.x());
    p.y = std::round(centre.y() - turned.y());
    model.placeKit(k->id, p);
    showSelected();
    siteChart->update();
}

void SiteWindow::on_btnBroker_clicked()
{
    MqttDialog dialog(this);
    dialog.setListenOnly();
    dialog.setSettings(site.mqtt);
    dialog.setPasswordFixed(MqttPassword::fromEnvironment());
    dialog.setStatus(sub.statusText());
    connect(&sub, &SiteSubscriber::statusChanged, &dialog, &MqttDialog::setStatus);
    if (dialog.exec() != QDialog::Accepted)
        return;
    MqttSettings settings = dialog.settings();
    if (MqttPassword::fromEnvironment())
        settings.password = MqttPassword::load(settings.host, settings.user);
    else
        MqttPassword::store(settings.host, settings.user, settings.password);
    site.mqtt = settings;
    site.mqtt.password.clear();
    sub.start(settings);
}

void SiteWindow::on_btnFit_clicked()
{
    siteChart->fitAll();
}

bool SiteWindow::loadSite(const QString& path, QStringList* warnings)
{
    SiteFileData loaded;
    if (!readSiteFile(path, loaded, warnings))
        return false;
    site = loaded;
    sitePath = path;
    model.setPlacements(site);
    loadBackground(site.bgImageFile);
    ui->chkDrawGrid->setChecked(site.drawGrid);
    ui->chkDrawBGImage->setChecked(site.drawBGImage);
    applyBackground();
    refreshList();
    siteChart->fitAll();
    return true;
}

void SiteWindow::on_btnLoadSite_clicked()
{
    const QString path = chooseOpenFile(tr("Standortdatei wählen"), tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    QStringList warnings;
    const MqttSettings broker = site.mqtt;
    if (!loadSite(path, &warnings))
        QMessageBox::warning(this, tr("Standort laden"), tr("Die Datei '%1' ist keine lesbare Standortdatei!").arg(path));
    else if (!warnings.isEmpty())
        QMessageBox::warning(this, tr("Standort laden"), warnings.join(QLatin1Char('\n')));
    site.mqtt = broker;   // the broker listened to stays until the dialog changes it
}

void SiteWindow::on_btnSaveSite_clicked()
{
    const QString path = chooseSaveFile(tr("Zieldatei wählen"), tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    SiteFileData out = site;
    out.kits.clear();
    // Every kit the view knows, where it lies now; those only named in the file keep their entry.
    for (const QString& id : model.kitOrder())
        if (model.kit(id)->placed)
            out.kits.append({id, model.kit(id)->placement});
    for (const SiteFileData::Kit& k : site.kits)
        if (out.indexOf(k.id) < 0)
            out.kits.append(k);
    out.drawGrid = ui->chkDrawGrid->isChecked();
    out.drawBGImage = ui->chkDrawBGImage->isChecked();
    if (!writeSiteFile(path, out)) {
        QMessageBox::warning(this, tr("Standort speichern"), tr("Die Datei '%1' konnte nicht geschrieben werden!").arg(path));
        return;
    }
    site = out;
    sitePath = path;
}

void SiteWindow::loadBackground(const QString& path)
{
    background = path.isEmpty() ? QImage() : QImage(path);
    site.bgImageFile = path;
}

void SiteWindow::applyBackground()
{
    siteChart->setBackground(&background, site.bgImageOffsetX, site.bgImageOffsetY, site.bgImageFactor,
                             ui->chkDrawBGImage->isChecked());
}

void SiteWindow::on_btnBackground_clicked()
{
    const QString path = chooseOpenFile(tr("Hintergrundbild wählen"), tr("Bilder (*.bmp *.png *.jpg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    loadBackground(path);
    // As in the main window: 1 cm per pixel, the lower-left corner at the origin.
    site.bgImageFactor = 1.0;
    site.bgImageOffsetX = 0;
    site.bgImageOffsetY = background.height();
    ui->chkDrawBGImage->setChecked(!background.isNull());
    applyBackground();
    siteChart->fitAll();
}

void SiteWindow::on_btnCalibrate_clicked()
{
    if (background.isNull()) {
        QMessageBox::warning(this, tr("Image anpassen"), tr("Kein Hintergrundbild ausgewählt!"), QMessageBox::Cancel);
        return;
    }
    QMessageBox::information(this, tr("Image anpassen"),
                             tr("Bitte klicken Sie im Bild zuerst auf den gewünschten Koordinatenursprung (0,0), "
                                "dann auf einen Messpunkt, und geben Sie danach den Abstand zwischen beiden in cm ein."));
    // As in the main window: the picture at 1 cm per pixel, its points taken as pixels.
    site.bgImageFactor = 1.0;
    site.bgImageOffsetX = 0;
    site.bgImageOffsetY = background.height();
    ui->chkDrawBGImage->setChecked(true);
    applyBackground();
    siteChart->fitAll();
    calibration = std::make_unique<Calibration>();
    siteChart->setPicking(true);
}

void SiteWindow::pointPicked(const QPointF& at)
{
    if (!calibration)
        return;
    if (!calibration->originSet) {
        calibration->originX = int(at.x()), calibration->originY = int(at.y()), calibration->originSet = true;
        return;
    }
    calibration->pointX = int(at.x()), calibration->pointY = int(at.y()), calibration->pointSet = true;
    siteChart->setPicking(false);
    bool ok = false;
    calibration->distance = QInputDialog::getInt(this, tr("Image anpassen"), tr("Entfernung in cm"), 100, 1, 10000000, 1, &ok);
    calibration->distanceSet = ok;
    CalibrationResult result;
    if (ok && computeCalibration(*calibration, background.width(), background.height(), result)) {
        site.bgImageFactor = result.factor;
        site.bgImageOffsetX = result.offsetX;
        site.bgImageOffsetY = result.offsetY;
        site.imageGridX = result.gridX, site.imageGridY = result.gridY;
        site.imageGridW = result.gridW, site.imageGridH = result.gridH;
        QMessageBox::information(this, tr("Image anpassen"), tr("Image erfolgreich angepasst"));
    }
    calibration.reset();
    applyBackground();
    siteChart->fitAll();
}

void SiteWindow::on_chkDrawGrid_toggled(bool on)
{
    siteChart->setDrawGrid(on);
}

void SiteWindow::on_chkDrawBGImage_toggled(bool)
{
    applyBackground();
}
