#include "settingsfile.h"

#include "durablefile.h"
#include "utf8settings.h"
#include "zonegeometry.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString anchorKey(int index, const char* field)
{
    return QStringLiteral("Anchor%1-%2").arg(index).arg(QLatin1String(field));
}

QString tagKey(int index, const char* field)
{
    return QStringLiteral("Tag%1-%2").arg(index).arg(QLatin1String(field));
}

// QVariant::toInt() wraps values beyond the int range around (4294967396 gives
// 100); such a value is no valid int and reads as 0, like any other non-number.
int readInt(const QSettings& s, const QString& key)
{
    bool ok = false;
    const qlonglong value = s.value(key).toLongLong(&ok);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return 0;
    return int(value);
}

// A missing key gives an empty name and so an invalid colour.
QColor readColor(const QSettings& s, const QString& key)
{
    QColor color;
    color.setNamedColor(s.value(key).toString());
    return color;
}

// Any count beyond the bound, however large, reads as the bound.
int readCount(const QSettings& s, const QString& key)
{
    bool ok = false;
    const qlonglong count = s.value(key).toLongLong(&ok);
    if (!ok)
        return 0;
    return int(qBound(qlonglong(0), count, qlonglong(MaxSettingsRecords)));
}

QString zoneKey(int index, const char* field)
{
    return QStringLiteral("Zone%1-%2").arg(index).arg(QLatin1String(field));
}

// A hand-written "Zone0-Points=0,0;420,0" without quotes reads as a list split
// at the commas; joined again it is the one string written with quotes.
QString readJoined(const QSettings& s, const QString& key)
{
    const QVariant v = s.value(key);
    return v.toStringList().size() > 1 ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

void writeZones(QSettings& s, const SettingsData& d)
{
    // A setup without zones and with the default rules saves as it did before zones.
    if (d.zones.isEmpty() && d.zoneRules == ZoneRules())
        return;
    s.setValue(QStringLiteral("ZoneCount"), d.zones.size());
    for (int i = 0; i < d.zones.size(); ++i) {
        const Zone& z = d.zones.at(i);
        s.setValue(zoneKey(i, "Name"), z.name);
        s.setValue(zoneKey(i, "Color"), z.color.name());
        s.setValue(zoneKey(i, "Points"), zoneCornersText(z.corners));
        s.setValue(zoneKey(i, "Dwell"), z.dwellSeconds);
        s.setValue(zoneKey(i, "Shown"), z.shown);
    }
    s.setValue(QStringLiteral("ZoneEnterMargin"), d.zoneRules.enterMargin);
    s.setValue(QStringLiteral("ZoneEnterFixes"), d.zoneRules.enterFixes);
    s.setValue(QStringLiteral("ZoneExitTolerance"), d.zoneRules.exitTolerance);
    s.setValue(QStringLiteral("ZoneExitFixes"), d.zoneRules.exitFixes);
    s.setValue(QStringLiteral("ZoneTimeout"), d.zoneRules.timeoutSeconds);
}

// A number in [low, high] or the default.
double readBounded(const QSettings& s, const QString& key, double low, double high, double fallback)
{
    bool ok = false;
    const double v = s.value(key).toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

// QSettings ends an unquoted value at a ';' (a comment to it): a hand-written
// "Zone0-Points=0,0;420,0;420,360" is taken from the file's own line instead.
QMap<QString, QString> unquotedPoints(const QByteArray& content)
{
    QMap<QString, QString> found;
    static const QRegularExpression line(QStringLiteral("^\\s*(Zone\\d+-Points)\\s*=\\s*([^\"\\s].*)$"));
    for (const QByteArray& raw : content.split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(raw).trimmed());
        if (m.hasMatch())
            found.insert(m.captured(1), m.captured(2).trimmed());
    }
    return found;
}

void readZones(const QSettings& s, SettingsData& d, const QMap<QString, QString>& unquoted)
{
    d.zones.clear();
    const ZoneRules defaults;
    d.zoneRules.enterMargin = readBounded(s, QStringLiteral("ZoneEnterMargin"), 0, 1000, defaults.enterMargin);
    d.zoneRules.enterFixes = int(readBounded(s, QStringLiteral("ZoneEnterFixes"), 1, 100, defaults.enterFixes));
    d.zoneRules.exitTolerance = readBounded(s, QStringLiteral("ZoneExitTolerance"), 0, 1000, defaults.exitTolerance);
    d.zoneRules.exitFixes = int(readBounded(s, QStringLiteral("ZoneExitFixes"), 1, 100, defaults.exitFixes));
    d.zoneRules.timeoutSeconds = int(readBounded(s, QStringLiteral("ZoneTimeout"), 0, 86400, defaults.timeoutSeconds));
    const int count = readCount(s, QStringLiteral("ZoneCount"));
    for (int i = 0; i < count; ++i) {
        Zone z;
        z.name = s.value(zoneKey(i, "Name")).toString().trimmed();
        const QString label = z.name.isEmpty() ? QStringLiteral("Zone %1").arg(i) : QStringLiteral("Zone %1 „%2“").arg(i).arg(z.name);
        QString fault;
        const QColor color = readColor(s, zoneKey(i, "Color"));
        if (color.isValid())
            z.color = color;
        bool dwellOk = false;
        z.dwellSeconds = s.value(zoneKey(i, "Dwell"), 0).toInt(&dwellOk);
        if (!dwellOk || z.dwellSeconds < 0 || z.dwellSeconds > 86400 * 7)
            fault = QStringLiteral("ungültige Verweildauer");
        z.shown = s.value(zoneKey(i, "Shown"), true).toBool();
        const QString points = unquoted.value(zoneKey(i, "Points"), readJoined(s, zoneKey(i, "Points")));
        if (fault.isEmpty() && !zoneCornersFromText(points, &z.corners))
            fault = QStringLiteral("ungültige Ecken");
        if (fault.isEmpty())
            fault = zoneRefusal(z, d.zones);
        if (!fault.isEmpty()) {
            d.warnings.append(QStringLiteral("%1 übersprungen: %2").arg(label, fault));
            continue;
        }
        d.zones.append(z);
    }
}

void writeAll(QSettings& s, const SettingsData& d)
{
    s.setValue(QStringLiteral("AnchorCount"), d.anchors.size());
    for (int i = 0; i < d.anchors.size(); ++i) {
        const Anchor& a = d.anchors.at(i);
        s.setValue(anchorKey(i, "X"), a.x);
        s.setValue(anchorKey(i, "Y"), a.y);
        s.setValue(anchorKey(i, "Z"), a.z);
        s.setValue(anchorKey(i, "ID"), a.id);
        s.setValue(anchorKey(i, "Name"), a.name);
        s.setValue(anchorKey(i, "Color"), a.color.name());
        s.setValue(anchorKey(i, "Master"), a.master);
        s.setValue(anchorKey(i, "Offset"), a.offset);
    }
    s.setValue(QStringLiteral("TagCount"), d.tags.size());
    for (int i = 0; i < d.tags.size(); ++i) {
        const Tag& t = d.tags.at(i);
        s.setValue(tagKey(i, "Rate"), t.showRate);
        s.setValue(tagKey(i, "Speed"), t.showSpeed);
        s.setValue(tagKey(i, "Coordinates"), t.showCoordinates);
        s.setValue(tagKey(i, "PosRaw"), t.showPosRaw);
        s.setValue(tagKey(i, "PosAvg"), t.showPosAvg);
        s.setValue(tagKey(i, "DistRaw"), t.showDistRaw);
        s.setValue(tagKey(i, "DistAvg"), t.showDistAvg);
        s.setValue(tagKey(i, "Uncertainty"), t.showUncertainty);
        s.setValue(tagKey(i, "Trail"), t.showTrail);
        s.setValue(tagKey(i, "Name"), t.name);
        s.setValue(tagKey(i, "Color"), t.color.name());
        s.setValue(tagKey(i, "ID"), t.id);
    }
    s.setValue(QStringLiteral("Grid-X"), d.gridX);
    s.setValue(QStringLiteral("Grid-Y"), d.gridY);
    s.setValue(QStringLiteral("Grid-W"), d.gridW);
    s.setValue(QStringLiteral("Grid-H"), d.gridH);
    s.setValue(QStringLiteral("Grid-Xb"), d.imageGridX);
    s.setValue(QStringLiteral("Grid-Yb"), d.imageGridY);
    s.setValue(QStringLiteral("Grid-Wb"), d.imageGridW);
    s.setValue(QStringLiteral("Grid-Hb"), d.imageGridH);
    s.setValue(QStringLiteral("Average"), d.average);
    s.setValue(QStringLiteral("Filter"), d.filter);
    if (!d.tagHeight.trimmed().isEmpty())   // files without a height stay as they were
        s.setValue(QStringLiteral("TagHeight"), d.tagHeight.trimmed());
    s.setValue(QStringLiteral("TrailSeconds"), d.trailSeconds);
    s.setValue(QStringLiteral("BGImage-File"), d.bgImageFile);
    s.setValue(QStringLiteral("BGImage-Factor"), d.bgImageFactor);
    s.setValue(QStringLiteral("BGImage-OffsetX"), d.bgImageOffsetX);
    s.setValue(QStringLiteral("BGImage-OffsetY"), d.bgImageOffsetY);
    s.setValue(QStringLiteral("DrawGrid"), d.drawGrid);
    s.setValue(QStringLiteral("DrawBGImage"), d.drawBGImage);
    // Off and no limit leave the keys out: a file saved without the shading is byte for byte as before it.
    if (d.showCoverage)
        s.setValue(QStringLiteral("ShowCoverage"), true);
    if (!d.rangeLimit.trimmed().isEmpty())
        s.setValue(QStringLiteral("RangeLimit"), d.rangeLimit.trimmed());
    s.setValue(QStringLiteral("MQTT-Enabled"), d.mqtt.enabled);
    s.setValue(QStringLiteral("MQTT-Host"), d.mqtt.host);
    s.setValue(QStringLiteral("MQTT-Port"), d.mqtt.port);
    s.setValue(QStringLiteral("MQTT-Prefix"), d.mqtt.prefix);
    s.setValue(QStringLiteral("MQTT-ClientId"), d.mqtt.clientId);
    s.setValue(QStringLiteral("MQTT-User"), d.mqtt.user);
    s.setValue(QStringLiteral("MQTT-TLS"), d.mqtt.tls);
    s.setValue(QStringLiteral("MQTT-CAFile"), d.mqtt.caFile);
    s.setValue(QStringLiteral("KitName"), d.mqtt.kitName);
    writeZones(s, d);
}

void readAll(const QSettings& s, SettingsData& d, const QMap<QString, QString>& unquotedZonePoints)
{
    d.anchors.clear();
    const int anchorCount = readCount(s, QStringLiteral("AnchorCount"));
    d.anchors.reserve(anchorCount);
    for (int i = 0; i < anchorCount; ++i) {
        d.anchors.append(Anchor(s.value(anchorKey(i, "ID")).toString(),
                                s.value(anchorKey(i, "Name")).toString(),
                                readColor(s, anchorKey(i, "Color")),
                                readInt(s, anchorKey(i, "X")),
                                readInt(s, anchorKey(i, "Y")),
                                readInt(s, anchorKey(i, "Z")),
                                s.value(anchorKey(i, "Master"), false).toBool(),
                                readInt(s, anchorKey(i, "Offset"))));
    }

    d.tags.clear();
    const int tagCount = readCount(s, QStringLiteral("TagCount"));
    d.tags.reserve(tagCount);
    for (int i = 0; i < tagCount; ++i) {
        d.tags.append(Tag(s.value(tagKey(i, "ID")).toString(),
                          s.value(tagKey(i, "Name")).toString(),
                          readColor(s, tagKey(i, "Color")),
                          s.value(tagKey(i, "PosRaw"), false).toBool(),
                          s.value(tagKey(i, "PosAvg"), false).toBool(),
                          s.value(tagKey(i, "DistRaw"), false).toBool(),
                          s.value(tagKey(i, "DistAvg"), false).toBool(),
                          s.value(tagKey(i, "Coordinates"), false).toBool(),
                          s.value(tagKey(i, "Speed"), false).toBool(),
                          s.value(tagKey(i, "Rate"), false).toBool()));
        d.tags.last().showUncertainty = s.value(tagKey(i, "Uncertainty"), false).toBool();
        d.tags.last().showTrail = s.value(tagKey(i, "Trail"), false).toBool();
    }

    d.gridX = s.value(QStringLiteral("Grid-X")).toString();
    d.gridY = s.value(QStringLiteral("Grid-Y")).toString();
    d.gridW = s.value(QStringLiteral("Grid-W")).toString();
    d.gridH = s.value(QStringLiteral("Grid-H")).toString();
    d.imageGridX = readInt(s, QStringLiteral("Grid-Xb"));
    d.imageGridY = readInt(s, QStringLiteral("Grid-Yb"));
    d.imageGridW = readInt(s, QStringLiteral("Grid-Wb"));
    d.imageGridH = readInt(s, QStringLiteral("Grid-Hb"));
    d.average = s.value(QStringLiteral("Average")).toString();
    d.filter = s.value(QStringLiteral("Filter"), QStringLiteral("average")).toString();
    d.tagHeight = s.value(QStringLiteral("TagHeight")).toString().trimmed();
    bool trailOk = false;
    const int trail = s.value(QStringLiteral("TrailSeconds")).toInt(&trailOk);
    d.trailSeconds = trailOk ? qBound(0, trail, 120) : 10;
    d.bgImageFile = s.value(QStringLiteral("BGImage-File")).toString();
    d.bgImageFactor = s.value(QStringLiteral("BGImage-Factor")).toDouble();
    // "nan" and "inf" parse as doubles; the chart cannot scale by them.
    if (!std::isfinite(d.bgImageFactor))
        d.bgImageFactor = 0.0;
    d.bgImageOffsetX = readInt(s, QStringLiteral("BGImage-OffsetX"));
    d.bgImageOffsetY = readInt(s, QStringLiteral("BGImage-OffsetY"));
    d.drawGrid = s.value(QStringLiteral("DrawGrid"), false).toBool();
    d.drawBGImage = s.value(QStringLiteral("DrawBGImage"), false).toBool();
    d.showCoverage = s.value(QStringLiteral("ShowCoverage"), false).toBool();
    d.rangeLimit = s.value(QStringLiteral("RangeLimit")).toString().trimmed();

    // A file from before MQTT, without these keys, leaves publishing off.
    const MqttSettings defaults;
    d.mqtt = defaults;
    d.mqtt.enabled = s.value(QStringLiteral("MQTT-Enabled"), false).toBool();
    d.mqtt.host = s.value(QStringLiteral("MQTT-Host"), defaults.host).toString();
    const int port = readInt(s, QStringLiteral("MQTT-Port"));
    d.mqtt.port = port > 0 && port < 65536 ? port : defaults.port;
    d.mqtt.prefix = s.value(QStringLiteral("MQTT-Prefix"), defaults.prefix).toString();
    d.mqtt.clientId = s.value(QStringLiteral("MQTT-ClientId")).toString();
    d.mqtt.user = s.value(QStringLiteral("MQTT-User")).toString();
    d.mqtt.tls = s.value(QStringLiteral("MQTT-TLS"), false).toBool();
    d.mqtt.caFile = s.value(QStringLiteral("MQTT-CAFile")).toString();
    d.mqtt.kitName = s.value(QStringLiteral("KitName")).toString().trimmed();
    readZones(s, d, unquotedZonePoints);
}

// QSettings keeps what it parsed of a path for the whole process and, for an
// unchanged file, hands it out again without its parse errors: a broken file
// would load as empty the second time. Every read and write therefore goes
// through a path QSettings has never seen.
QString freshSettingsPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("settings.cfg"));
}

// Any INI file parses; one with none of the keys every saved setup holds is
// some other program's file, and loading it as ours would wipe the setup with
// the defaults of every missing key. The keys by their whole names and in the
// general section only: "Grid-Size" or a section [Grid-Options] of another
// program is no sign of ours.
bool holdsSettingsKeys(const QStringList& keys)
{
    static const QStringList ours = {QStringLiteral("AnchorCount"), QStringLiteral("TagCount"),
                                     QStringLiteral("Grid-X"), QStringLiteral("Grid-Y"),
                                     QStringLiteral("Grid-W"), QStringLiteral("Grid-H")};
    for (const QString& key : keys) {
        if (ours.contains(key))
            return true;
    }
    return false;
}

// The first line of an INI file its reader cannot take: a section header
// without its closing bracket, or a line that is neither a comment, a
// section nor a key with '='. 0 when none is found.
int brokenIniLine(const QByteArray& content)
{
    const QList<QByteArray> lines = content.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[') ? !line.endsWith(']') : !line.contains('='))
            return i + 1;
    }
    return 0;
}

QString settingsText(const char* german)
{
    return QCoreApplication::translate("SettingsFile", german);
}

} // namespace

QString zoneRefusal(const Zone& zone, const QVector<Zone>& others)
{
    if (zone.name.trimmed().isEmpty())
        return QStringLiteral("Die Zone hat keinen Namen.");
    for (const Zone& other : others)
        if (other.name.trimmed().compare(zone.name.trimmed(), Qt::CaseInsensitive) == 0)
            return QStringLiteral("Der Name „%1“ ist schon vergeben.").arg(zone.name.trimmed());
    return zoneShapeFaultText(zoneShapeFault(zone.corners));
}

bool replaceFile(const QString& path, const QByteArray& content)
{
    QFileInfo targetInfo(path);
    QString target = targetInfo.absoluteFilePath();
    // Write through a link to the file it names rather than replacing the link.
    if (targetInfo.isSymLink()) {
        const QString resolved = targetInfo.canonicalFilePath();
        target = resolved.isEmpty() ? targetInfo.symLinkTarget() : resolved;
        targetInfo = QFileInfo(target);
    }
    // Only a regular file may be replaced: never a folder, a device or a pipe.
    if (targetInfo.exists() && !targetInfo.isFile())
        return false;

    // QSaveFile writes beside the target, forces the data to the disk, keeps
    // the old file's permissions and only then renames: readers and a power
    // cut see the old file or the new one, never a partial one.
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit())
        return false;
    return Durable::syncFolderOf(target);
}

bool writeSettingsFile(const QString& path, const SettingsData& data)
{
    if (path.isEmpty())
        return false;

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return false;
    QByteArray content;
    {
        QFile written(freshSettingsPath(scratch));
        {
            Utf8Settings settings(written.fileName(), QSettings::IniFormat);
            writeAll(settings, data);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return false;
        }
        if (!written.open(QIODevice::ReadOnly))
            return false;
        content = written.readAll();
    }
    return replaceFile(path, content);
}

bool writeAnchorPositions(const QString& source, const QString& target, const QList<QPoint>& positions)
{
    QFile in(source);
    if (target.isEmpty() || !in.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> lines = in.readAll().split('\n');
    QVector<int> found(positions.size() * 2, 0);
    // Only the values of AnchorN-X and AnchorN-Y change; the line ends and every other byte stay.
    static const QRegularExpression key(QStringLiteral("^\\s*Anchor(\\d+)-([XY])\\s*=[^\\r]*(\\r?)$"));
    for (QByteArray& line : lines) {
        const QRegularExpressionMatch m = key.match(QString::fromLatin1(line));
        const int index = m.hasMatch() ? m.captured(1).toInt() : -1;
        if (index < 0 || index >= positions.size())
            continue;
        const bool x = m.captured(2) == QLatin1String("X");
        const int value = x ? positions.at(index).x() : positions.at(index).y();
        line = QStringLiteral("Anchor%1-%2=%3%4").arg(index).arg(m.captured(2)).arg(value).arg(m.captured(3)).toLatin1();
        ++found[index * 2 + (x ? 0 : 1)];
    }
    if (found.contains(0) || std::any_of(found.begin(), found.end(), [](int n) { return n != 1; }))
        return false;
    return replaceFile(target, lines.join('\n'));
}

bool readSettingsFile(const QString& path, SettingsData& data, QString* why)
{
    const auto fail = [&](const QString& r) {
        if (why)
            *why = r;
        return false;
    };
    // QSettings takes a missing file for an empty one and reports no error.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return fail(settingsText("Datei oder Gerät nicht gefunden"));
    if (!info.isFile())
        return fail(settingsText("keine Datei"));
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(settingsText("Zugriff verweigert"));

    const QByteArray content = probe.readAll();
    probe.close();
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return fail(settingsText("kein Platz für eine Arbeitskopie"));
    QFile copy(freshSettingsPath(scratch));
    if (!copy.open(QIODevice::WriteOnly) || copy.write(content) != content.size())
        return fail(settingsText("kein Platz für eine Arbeitskopie"));
    copy.close();

    Utf8Settings settings(copy.fileName(), QSettings::IniFormat);
    // Sections are parsed on first use; listing every key makes the whole
    // file parsed, so a broken line anywhere shows in the status.
    const QStringList keys = settings.allKeys();
    const auto broken = [&] {
        const int line = brokenIniLine(content);
        return line > 0 ? settingsText("Formatfehler in Zeile %1").arg(line) : settingsText("Formatfehler");
    };
    if (settings.status() != QSettings::NoError)
        return fail(broken());
    if (!holdsSettingsKeys(keys))
        return fail(settingsText("keine Orvane-Einstellungsdatei"));

    SettingsData loaded;
    readAll(settings, loaded, unquotedPoints(content));
    if (settings.status() != QSettings::NoError)
        return fail(broken());
    data = loaded;
    return true;
}
