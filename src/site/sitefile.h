#ifndef SITEFILE_H
#define SITEFILE_H

#include "mqttsettings.h"
#include "siteplacement.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A site file: the site's name, where each kit lies, and the site's floor
// plan with the same keys a settings file uses for its background.
struct SiteFileData
{
    struct Kit {
        QString id;              // the master's id, as in the kit's topics
        KitPlacement placement;
    };
    QString name;
    QVector<Kit> kits;
    QString bgImageFile;
    double bgImageFactor = 1.0;
    int bgImageOffsetX = 0, bgImageOffsetY = 0;
    int imageGridX = 0, imageGridY = 0, imageGridW = 0, imageGridH = 0;
    bool drawBGImage = false;
    bool drawGrid = true;
    // The broker, with the keys of a settings file (MQTT-Host, -Port, -Prefix,
    // -User, -TLS, -CAFile); never the password.
    MqttSettings mqtt;

    int indexOf(const QString& id) const;
};

// The most kit entries read from one file.
constexpr int MaxSiteKits = 1000;

// False when `path` is no readable INI file with the site keys. A kit entry
// that cannot be used (no id, a twice-named id, a coordinate or angle that is
// no finite number) is left out and named in *warnings; the rest loads.
bool readSiteFile(const QString& path, SiteFileData& data, QStringList* warnings);
// Writes beside `path` and replaces it only when complete.
bool writeSiteFile(const QString& path, const SiteFileData& data);

#endif
