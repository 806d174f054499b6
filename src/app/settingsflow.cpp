#include "settingsflow.h"

#include "calibrationflow.h"
#include "chartbackground.h"
#include "cominterface.h"
#include "modulesetup.h"
#include "mqttpassword.h"
#include "mqttpublisher.h"
#include "positioningstep.h"
#include "toolspanel.h"
#include "viewpanel.h"
#include "zoneevents.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>

SettingsFlow::SettingsFlow(QWidget* window, const Parts& parts, const FileChoice& files)
    : QObject(window), window(window), w(parts), files(files)
{
}

bool SettingsFlow::save()
{
    QString path = files.save(tr("Zieldatei wählen"),
                                     tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return false;
    // Without its suffix the load dialog's filter would hide the file.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".cfg");
    const QString title = tr("Einstellungen speichern");
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::information(
            window, title,
            tr("Die Zieldatei '%1' existiert bereits!\n\nWollen Sie diese wirklich überschreiben?").arg(path),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return false;
    }
    // The old file is replaced only once the new one is complete.
    const SettingsData data = gather();
    if (!writeSettingsFile(path, data)) {
        QMessageBox::warning(window, title, tr("Die Einstellungen konnten nicht gespeichert werden!"), QMessageBox::Ok);
        return false;
    }
    changes.setSaved(data);
    emit statusMessage(tr("Einstellungen gespeichert: %1").arg(QDir::toNativeSeparators(path)), 8000);
    emit saved();
    return true;
}

void SettingsFlow::chooseAndLoad()
{
    const QString path = files.open(tr("Einstellungsdatei wählen"),
                                           tr("Konfigdateien (*.cfg);;alle Dateien (*.*)"));
    if (path.isEmpty())
        return;
    // An unreadable file must not wipe the setup the user has.
    if (!load(path, true))
        QMessageBox::warning(window, tr("Einstellungen laden"),
                             tr("Die Einstellungsdatei konnte nicht gelesen werden:\n%1\n%2")
                                 .arg(QDir::toNativeSeparators(path), lastLoadError),
                             QMessageBox::Ok);
}

bool SettingsFlow::load(const QString& path, bool remind)
{
    SettingsData data;
    lastLoadError.clear();
    if (!readSettingsFile(path, data, &lastLoadError))
        return false;
    apply(data);
    changes.setSaved(gather());
    // A broken zone is left out; the warning names it instead of the plain "loaded".
    emit statusMessage(data.warnings.isEmpty()
                           ? tr("Einstellungen geladen: %1").arg(QDir::toNativeSeparators(path))
                           : tr("Einstellungen geladen, %1").arg(data.warnings.join(QStringLiteral("; "))),
                       data.warnings.isEmpty() ? 8000 : 30000);
    emit loaded();
    if (remind)
        remindToConfigure();
    return true;
}

SettingsData SettingsFlow::gather() const
{
    SettingsData data;
    data.anchors = w.modules.anchors;
    data.tags = w.modules.tags;
    const QStringList grid = w.view->gridTexts();
    data.gridX = grid.at(0);
    data.gridY = grid.at(1);
    data.gridW = grid.at(2);
    data.gridH = grid.at(3);
    data.imageGridX = w.background.imageGridX;
    data.imageGridY = w.background.imageGridY;
    data.imageGridW = w.background.imageGridW;
    data.imageGridH = w.background.imageGridH;
    data.average = w.tools->averageText();
    data.filter = smoothingName(w.tools->filterIndex() == 1 ? Smoothing::Kalman : Smoothing::Average);
    data.tagHeight = w.tools->tagHeightText();
    data.trailSeconds = w.tools->trailSeconds();
    data.bgImageFile = w.background.bgImagePath;
    data.bgImageFactor = w.background.bgImageFactor;
    data.bgImageOffsetX = w.background.bgImageOffsetX;
    data.bgImageOffsetY = w.background.bgImageOffsetY;
    data.drawGrid = w.view->drawsGrid();
    data.drawBGImage = w.view->drawsBackground();
    data.showCoverage = w.view->showsCoverage();
    data.rangeLimit = w.view->rangeLimitText();
    data.mqtt = w.mqtt.settings();   // the file writer leaves the password out
    data.zones = w.zones.zones();
    data.zoneRules = w.zones.rules();
    return data;
}

void SettingsFlow::apply(SettingsData data)
{
    w.modules.anchors = data.anchors;
    w.modules.tags = data.tags;
    w.view->setGridTexts({data.gridX, data.gridY, data.gridW, data.gridH});
    w.background.imageGridX = data.imageGridX;
    w.background.imageGridY = data.imageGridY;
    w.background.imageGridW = data.imageGridW;
    w.background.imageGridH = data.imageGridH;
    w.tools->setAverageText(data.average);
    w.tools->setFilterIndex(smoothingFromName(data.filter) == Smoothing::Kalman ? 1 : 0);
    w.tools->setTagHeightText(data.tagHeight);
    w.tools->setTrailSeconds(data.trailSeconds);
    w.calibration.loadImage(data.bgImageFile);
    // The image's own calibration, not the defaults a freshly loaded image gets.
    w.background.bgImageFactor = data.bgImageFactor;
    w.background.bgImageOffsetY = data.bgImageOffsetY;
    w.background.bgImageOffsetX = data.bgImageOffsetX;
    w.view->setDrawsGrid(data.drawGrid);
    w.view->setDrawsBackground(data.drawBGImage);
    w.view->setShowsCoverage(data.showCoverage);
    w.view->setRangeLimitText(data.rangeLimit);
    data.mqtt.password = MqttPassword::load(data.mqtt.host, data.mqtt.user);
    w.mqtt.configure(data.mqtt);
    w.zones.setRules(data.zoneRules);
    w.zones.setZones(data.zones);
    emit applied();
}

void SettingsFlow::remindToConfigure()
{
    const QString title = tr("Module konfigurieren");
    const QString text = tr("Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor dem Ranging die Modulkonfiguration vorzunehmen um den Master zu konfigurieren!");
    if (w.com.isOpen()) {
        const auto answer = QMessageBox::question(window, title, text + tr("\nMöchten Sie jetzt das Konfigurationsfenster öffnen?"),
                                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            emit discoveryWanted();
    } else {
        QMessageBox::information(window, title, text, QMessageBox::Ok);
    }
}
