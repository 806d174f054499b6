#include "settingsflow.h"

#include "mainwin.h"
#include "mqttpassword.h"
#include "ui_mainwin.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>

void SettingsFlow::save()
{
    QString path = w.fileChoice.save(MainWin::tr("Zieldatei wählen"),
                                     MainWin::tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    // Without its suffix the load dialog's filter would hide the file.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".cfg");
    const QString title = MainWin::tr("Einstellungen speichern");
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::information(
            &w, title,
            MainWin::tr("Die Zieldatei '%1' existiert bereits!\n\nWollen Sie diese wirklich überschreiben?").arg(path),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    // The old file is replaced only once the new one is complete.
    if (!writeSettingsFile(path, gather())) {
        QMessageBox::warning(&w, title, MainWin::tr("Die Einstellungen konnten nicht gespeichert werden!"), QMessageBox::Ok);
        return;
    }
    w.statusBar()->showMessage(MainWin::tr("Einstellungen gespeichert: %1").arg(QDir::toNativeSeparators(path)), 8000);
}

void SettingsFlow::chooseAndLoad()
{
    const QString path = w.fileChoice.open(MainWin::tr("Einstellungsdatei wählen"),
                                           MainWin::tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    // An unreadable file must not wipe the setup the user has.
    if (!load(path, true))
        QMessageBox::warning(&w, MainWin::tr("Einstellungen laden"),
                             MainWin::tr("Die Einstellungsdatei konnte nicht gelesen werden!"), QMessageBox::Ok);
}

bool SettingsFlow::load(const QString& path, bool remind)
{
    SettingsData data;
    if (!readSettingsFile(path, data))
        return false;
    apply(data);
    w.statusBar()->showMessage(MainWin::tr("Einstellungen geladen: %1").arg(QDir::toNativeSeparators(path)), 8000);
    w.noteAnchorsOutside();
    if (remind)
        remindToConfigure();
    return true;
}

SettingsData SettingsFlow::gather() const
{
    const Ui::MainWin* ui = w.ui;
    SettingsData data;
    data.anchors = w.modules.anchors;
    data.tags = w.modules.tags;
    data.gridX = ui->edtGridX->text();
    data.gridY = ui->edtGridY->text();
    data.gridW = ui->edtGridW->text();
    data.gridH = ui->edtGridH->text();
    data.imageGridX = w.imageGridX;
    data.imageGridY = w.imageGridY;
    data.imageGridW = w.imageGridW;
    data.imageGridH = w.imageGridH;
    data.average = ui->cmbLastMeasures->currentText();
    data.filter = smoothingName(w.smoothing);
    data.tagHeight = ui->edtTagHeight->text();
    data.bgImageFile = w.bgImagePath;
    data.bgImageFactor = w.bgImageFactor;
    data.bgImageOffsetX = w.bgImageOffsetX;
    data.bgImageOffsetY = w.bgImageOffsetY;
    data.drawGrid = ui->chkDrawGrid->isChecked();
    data.drawBGImage = ui->chkDrawBGImage->isChecked();
    data.mqtt = w.mqtt.settings();   // the file writer leaves the password out
    return data;
}

void SettingsFlow::apply(SettingsData data)
{
    Ui::MainWin* ui = w.ui;
    w.modules.anchors = data.anchors;
    w.modules.tags = data.tags;
    ui->edtGridX->setText(data.gridX);
    ui->edtGridY->setText(data.gridY);
    ui->edtGridW->setText(data.gridW);
    ui->edtGridH->setText(data.gridH);
    w.imageGridX = data.imageGridX;
    w.imageGridY = data.imageGridY;
    w.imageGridW = data.imageGridW;
    w.imageGridH = data.imageGridH;
    ui->cmbLastMeasures->setCurrentText(data.average);
    ui->cmbFilter->setCurrentIndex(smoothingFromName(data.filter) == Smoothing::Kalman ? 1 : 0);
    ui->edtTagHeight->setText(data.tagHeight);
    w.loadBackgroundImage(data.bgImageFile);
    // The image's own calibration, not the defaults a freshly loaded image gets.
    w.bgImageFactor = data.bgImageFactor;
    w.bgImageOffsetY = data.bgImageOffsetY;
    w.bgImageOffsetX = data.bgImageOffsetX;
    ui->chkDrawGrid->setChecked(data.drawGrid);
    ui->chkDrawBGImage->setChecked(data.drawBGImage);
    data.mqtt.password = MqttPassword::load(data.mqtt.host, data.mqtt.user);
    w.mqtt.configure(data.mqtt);
    w.fillAnchorTable();
    w.fillTagTable();
    w.gridDirty = true;
}

void SettingsFlow::remindToConfigure()
{
    const QString title = MainWin::tr("Module konfigurieren");
    const QString text = MainWin::tr("Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor dem Ranging die Modulkonfiguration vorzunehmen um den Master zu konfigurieren!");
    if (w.com.isOpen()) {
        const auto answer = QMessageBox::question(&w, title, text + MainWin::tr("\nMöchten Sie jetzt das Konfigurationsfenster öffnen?"),
                                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            w.ui->btnDiscovery->click();
    } else {
        QMessageBox::information(&w, title, text, QMessageBox::Ok);
    }
}
