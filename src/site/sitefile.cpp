#include "sitefile.h"

#include "settingsfile.h"
#include "utf8settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>

namespace {

QString kitKey(int i, const char* field)
{
    return QStringLiteral("Site-Kit%1-%2").arg(i).arg(QLatin1String(field));
}

QString siteText(const char* source)
{
    return QCoreApplication::translate("SiteFile", source);
}

// A finite number within reach of any site, or nothing.
bool readSiteNumber(const QSettings& s, const QString& key, double* out)
{
    bool ok = false;
    const double v = s.value(key).toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > 1e7)
        return false;
    *out = v;
    return true;
}

} // namespace

int SiteFileData::indexOf(const QString& id) const
{
    for (int i = 0; i < kits.size(); ++i)
        if (kits.at(i).id.compare(id.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool readSiteFile(const QString& path, SiteFileData& data, QStringList* warnings)
{
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray content = file.readAll();
    // A path QSettings has never seen: it keeps what it parsed per path.
    QTemporaryDir scratch;
    QFile copy(scratch.filePath(QStringLiteral("site.cfg")));
    if (!scratch.isValid() || !copy.open(QIODevice::WriteOnly) || copy.write(content) != content.size())
        return false;
    copy.close();
    Utf8Settings s(copy.fileName(), QSettings::IniFormat);
    const QStringList keys = s.allKeys();
    if (s.status() != QSettings::NoError || !keys.contains(QStringLiteral("Site-KitCount")))
        return false;

    SiteFileData d;
    d.name = s.value(QStringLiteral("Site-Name")).toString().trimmed();
    bool ok = false;
    const qlonglong count = s.value(QStringLiteral("Site-KitCount")).toLongLong(&ok);
    if (!ok || count < 0)
        warnings->append(siteText("Site-KitCount ist keine Anzahl: keine Kits gelesen"));
    const int n = ok ? int(qBound(qlonglong(0), count, qlonglong(MaxSiteKits))) : 0;
    for (int i = 0; i < n; ++i) {
        SiteFileData::Kit kit;
        kit.id = s.value(kitKey(i, "ID")).toString().trimmed().toUpper();
        QString problem;
        if (kit.id.isEmpty())
            problem = siteText("ohne ID");
        else if (d.indexOf(kit.id) >= 0)
            problem = siteText("ID %1 doppelt").arg(kit.id);
        else if (!readSiteNumber(s, kitKey(i, "X"), &kit.placement.x))
            problem = siteText("X ist keine Zahl");
        else if (!readSiteNumber(s, kitKey(i, "Y"), &kit.placement.y))
            problem = siteText("Y ist keine Zahl");
        else if (!readSiteNumber(s, kitKey(i, "Rotation"), &kit.placement.rotationDeg))
            problem = siteText("Rotation ist keine Zahl");
        if (!problem.isEmpty()) {
            warnings->append(siteText("Site-Kit%1 (%2) übergangen: %3")
                                 .arg(i).arg(kit.id.isEmpty() ? QStringLiteral("?") : kit.id, problem));
            continue;
        }
        kit.placement.rotationDeg = normalizedDegrees(kit.placement.rotationDeg);
        d.kits.append(kit);
    }
    d.bgImageFile = s.value(QStringLiteral("BGImage-File")).toString();
    double factor = 1.0;
    d.bgImageFactor = readSiteNumber(s, QStringLiteral("BGImage-Factor"), &factor) && factor > 0 ? factor : 1.0;
    d.bgImageOffsetX = s.value(QStringLiteral("BGImage-OffsetX")).toInt();
    d.bgImageOffsetY = s.value(QStringLiteral("BGImage-OffsetY")).toInt();
    d.imageGridX = s.value(QStringLiteral("Grid-Xb")).toInt();
    d.imageGridY = s.value(QStringLiteral("Grid-Yb")).toInt();
    d.imageGridW = s.value(QStringLiteral("Grid-Wb")).toInt();
    d.imageGridH = s.value(QStringLiteral("Grid-Hb")).toInt();
    d.drawBGImage = s.value(QStringLiteral("DrawBGImage"), false).toBool();
    d.drawGrid = s.value(QStringLiteral("DrawGrid"), true).toBool();
    d.mqtt.host = s.value(QStringLiteral("MQTT-Host"), d.mqtt.host).toString().trimmed();
    const int port = s.value(QStringLiteral("MQTT-Port")).toInt();
    d.mqtt.port = port > 0 && port < 65536 ? port : MqttSettings::DefaultPort;
    d.mqtt.prefix = s.value(QStringLiteral("MQTT-Prefix"), d.mqtt.prefix).toString();
    d.mqtt.user = s.value(QStringLiteral("MQTT-User")).toString();
    d.mqtt.tls = s.value(QStringLiteral("MQTT-TLS"), false).toBool();
    d.mqtt.caFile = s.value(QStringLiteral("MQTT-CAFile")).toString();
    data = d;
    return true;
}

bool writeSiteFile(const QString& path, const SiteFileData& d)
{
    QTemporaryDir scratch;
    if (path.isEmpty() || !scratch.isValid())
        return false;
    const QString fresh = scratch.filePath(QStringLiteral("site.cfg"));
    {
        Utf8Settings s(fresh, QSettings::IniFormat);
        s.setValue(QStringLiteral("Site-Name"), d.name);
        s.setValue(QStringLiteral("Site-KitCount"), d.kits.size());
        for (int i = 0; i < d.kits.size(); ++i) {
            const SiteFileData::Kit& k = d.kits.at(i);
            s.setValue(kitKey(i, "ID"), k.id);
            s.setValue(kitKey(i, "X"), k.placement.x);
            s.setValue(kitKey(i, "Y"), k.placement.y);
            s.setValue(kitKey(i, "Rotation"), k.placement.rotationDeg);
        }
        s.setValue(QStringLiteral("Grid-Xb"), d.imageGridX);
        s.setValue(QStringLiteral("Grid-Yb"), d.imageGridY);
        s.setValue(QStringLiteral("Grid-Wb"), d.imageGridW);
        s.setValue(QStringLiteral("Grid-Hb"), d.imageGridH);
        s.setValue(QStringLiteral("BGImage-File"), d.bgImageFile);
        s.setValue(QStringLiteral("BGImage-Factor"), d.bgImageFactor);
        s.setValue(QStringLiteral("BGImage-OffsetX"), d.bgImageOffsetX);
        s.setValue(QStringLiteral("BGImage-OffsetY"), d.bgImageOffsetY);
        s.setValue(QStringLiteral("DrawGrid"), d.drawGrid);
        s.setValue(QStringLiteral("DrawBGImage"), d.drawBGImage);
        s.setValue(QStringLiteral("MQTT-Host"), d.mqtt.host);
        s.setValue(QStringLiteral("MQTT-Port"), d.mqtt.port);
        s.setValue(QStringLiteral("MQTT-Prefix"), d.mqtt.prefix);
        s.setValue(QStringLiteral("MQTT-User"), d.mqtt.user);
        s.setValue(QStringLiteral("MQTT-TLS"), d.mqtt.tls);
        s.setValue(QStringLiteral("MQTT-CAFile"), d.mqtt.caFile);
        s.sync();
        if (s.status() != QSettings::NoError)
            return false;
    }
    QFile written(fresh);
    if (!written.open(QIODevice::ReadOnly))
        return false;
    return replaceFile(path, written.readAll());
}
