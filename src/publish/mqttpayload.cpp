#include "mqttpayload.h"

#include "anchor.h"
#include "tag.h"

#include <QDateTime>

#include <cmath>

namespace {

QByteArray number(const std::optional<int>& v)
{
    return v ? QByteArray::number(*v) : QByteArrayLiteral("null");
}

// Three decimals, as the chart's label and the CSV export show them.
QByteArray number(const std::optional<double>& v)
{
    return v && std::isfinite(*v) ? QByteArray::number(*v, 'f', 3) : QByteArrayLiteral("null");
}

// One decimal: the uncertainties are estimates, not measurements.
QByteArray tenths(const std::optional<double>& v)
{
    return v && std::isfinite(*v) && *v >= 0 ? QByteArray::number(*v, 'f', 1) : QByteArrayLiteral("null");
}

} // namespace

QString MqttPayload::level(const QString& id)
{
    QString out = id.trimmed().toUpper();
    for (QChar& c : out)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() == 0)
            c = QLatin1Char('_');
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QString MqttPayload::cleanPrefix(const QString& prefix)
{
    QString out = prefix.trimmed();
    out.remove(QLatin1Char('+'));
    out.remove(QLatin1Char('#'));
    out.remove(QChar(0));
    while (out.startsWith(QLatin1Char('/')))
        out.remove(0, 1);
    while (out.endsWith(QLatin1Char('/')))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("orvane") : out;
}

QString MqttPayload::root(const QString& prefix, const QString& master)
{
    return cleanPrefix(prefix) + QLatin1Char('/') + level(master);
}

QString MqttPayload::statusTopic(const QString& root) { return root + QStringLiteral("/status"); }
QString MqttPayload::anchorsTopic(const QString& root) { return root + QStringLiteral("/anchors"); }
QString MqttPayload::infoTopic(const QString& root) { return root + QStringLiteral("/info"); }

QString MqttPayload::positionTopic(const QString& root, const QString& tag)
{
    return root + QStringLiteral("/tags/") + level(tag) + QStringLiteral("/position");
}

QString MqttPayload::lastTopic(const QString& root, const QString& tag)
{
    return root + QStringLiteral("/tags/") + level(tag) + QStringLiteral("/last");
}

QString MqttPayload::isoTime(qint64 epochMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(epochMs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray MqttPayload::jsonString(const QString& text)
{
    // Escaped as text first and encoded once, so surrogate pairs stay whole.
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '"' || u == '\\')
            out += QLatin1Char('\\') + c;
        else if (u < 0x20)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return (out + QLatin1Char('"')).toUtf8();
}

QByteArray MqttPayload::positionJson(const PositionMessage& m)
{
    return "{\"master\":" + jsonString(m.master.trimmed().toUpper()) + ",\"tag\":" + jsonString(m.tag.trimmed().toUpper())
         + ",\"name\":" + jsonString(m.name) + ",\"time\":" + jsonString(isoTime(m.epochMs))
         + ",\"x_cm\":" + number(m.x) + ",\"y_cm\":" + number(m.y) + ",\"raw_x_cm\":" + number(m.rawX)
         + ",\"raw_y_cm\":" + number(m.rawY) + ",\"speed_mps\":" + number(m.speed) + ",\"rate_hz\":" + number(m.rate)
         + ",\"sigma_x_cm\":" + tenths(m.sigmaX) + ",\"sigma_y_cm\":" + tenths(m.sigmaY) + ",\"r95_cm\":" + tenths(m.r95)
         + ",\"rho_xy\":" + number(m.rhoXY)
         + '}';
}

QByteArray MqttPayload::anchorsJson(const QString& master, const QList<Anchor>& anchors)
{
    QByteArray out = "{\"master\":" + jsonString(master.trimmed().toUpper()) + ",\"anchors\":[";
    for (int i = 0; i < anchors.size(); ++i) {
        const Anchor& a = anchors.at(i);
        out += (i ? ",{\"id\":" : "{\"id\":") + jsonString(a.id.trimmed().toUpper()) + ",\"name\":" + jsonString(a.name)
             + ",\"x_cm\":" + QByteArray::number(a.x) + ",\"y_cm\":" + QByteArray::number(a.y)
             + ",\"z_cm\":" + QByteArray::number(a.z) + ",\"master\":" + (a.master ? "true" : "false") + '}';
    }
    return out + "]}";
}

QByteArray MqttPayload::infoJson(const QString& master, const QString& kitName, const QString& version,
                                 const QList<Anchor>& anchors, const QList<Tag>& tags, qint64 startedEpochMs)
{
    const QString id = master.trimmed().toUpper();
    const QString name = kitName.trimmed().isEmpty() ? id : kitName.trimmed();
    QByteArray bbox = "null";
    if (!anchors.isEmpty()) {
        int minX = anchors.first().x, maxX = minX, minY = anchors.first().y, maxY = minY;
        for (const Anchor& a : anchors) {
            minX = qMin(minX, a.x), maxX = qMax(maxX, a.x);
            minY = qMin(minY, a.y), maxY = qMax(maxY, a.y);
        }
        bbox = "{\"min_x_cm\":" + QByteArray::number(minX) + ",\"min_y_cm\":" + QByteArray::number(minY)
             + ",\"max_x_cm\":" + QByteArray::number(maxX) + ",\"max_y_cm\":" + QByteArray::number(maxY) + '}';
    }
    QByteArray out = "{\"master\":" + jsonString(id) + ",\"kit\":" + jsonString(name) + ",\"version\":" + jsonString(version)
         + ",\"started\":" + jsonString(isoTime(startedEpochMs)) + ",\"bbox\":" + bbox + ",\"tags\":[";
    for (int i = 0; i < tags.size(); ++i)
        out += (i ? ",{\"id\":" : "{\"id\":") + jsonString(tags.at(i).id.trimmed().toUpper()) + ",\"name\":"
             + jsonString(tags.at(i).name) + ",\"color\":"
             + (tags.at(i).color.isValid() ? jsonString(tags.at(i).color.name()) : QByteArrayLiteral("null")) + '}';
    return out + "]}";
}

QString MqttPayload::zoneLevel(const QString& name)
{
    QString out = name.trimmed();
    for (QChar& c : out)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.unicode() == 0)
            c = QLatin1Char('_');
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QString MqttPayload::zoneTopic(const QString& root, const QString& zone, const char* what)
{
    return root + QStringLiteral("/zones/") + zoneLevel(zone) + QLatin1Char('/') + QLatin1String(what);
}

QByteArray MqttPayload::zoneEventJson(const ZoneEvent& e)
{
    static const char* const types[] = {"region_entry", "region_exit", "dwell"};
    const bool entered = e.kind == ZoneEvent::Enter;
    const QByteArray entry = entered ? jsonString(isoTime(e.ms))
                                     : e.entryMs >= 0 ? jsonString(isoTime(e.entryMs)) : QByteArrayLiteral("null");
    const QByteArray exit = e.kind == ZoneEvent::Exit ? jsonString(isoTime(e.ms)) : QByteArrayLiteral("null");
    return "{\"event_type\":\"" + QByteArray(types[e.kind]) + "\",\"fence_id\":" + jsonString(zoneLevel(e.zone))
         + ",\"fence_name\":" + jsonString(e.zone) + ",\"trackable_id\":" + jsonString(e.tagId.trimmed().toUpper())
         + ",\"tag_name\":" + jsonString(e.tagName) + ",\"entry_time\":" + entry + ",\"exit_time\":" + exit
         + ",\"x_cm\":" + QByteArray::number(qint64(std::lround(e.position.x()))) + ",\"y_cm\":"
         + QByteArray::number(qint64(std::lround(e.position.y()))) + ",\"reason\":\"" + ZoneEvent::reasonName(e.reason)
         + "\",\"seq\":" + QByteArray::number(e.seq) + ",\"dwell_s\":"
         + (entered ? QByteArrayLiteral("null") : QByteArray::number(e.dwellSeconds, 'f', 1)) + '}';
}

QByteArray MqttPayload::occupancyJson(const QString& zone, const QStringList& tagIds)
{
    QByteArray ids;
    for (const QString& id : tagIds)
        ids += (ids.isEmpty() ? "" : ",") + jsonString(id.trimmed().toUpper());
    return "{\"zone\":" + jsonString(zone) + ",\"count\":" + QByteArray::number(tagIds.size()) + ",\"tag_ids\":["
         + ids + "]}";
}

QByteArray MqttPayload::zoneConfigJson(const Zone& zone)
{
    QByteArray corners;
    for (const QPointF& c : zone.corners)
        corners += (corners.isEmpty() ? "[" : ",[") + QByteArray::number(c.x(), 'g', 10) + ','
                 + QByteArray::number(c.y(), 'g', 10) + ']';
    return "{\"name\":" + jsonString(zone.name) + ",\"color\":" + jsonString(zone.color.name())
         + ",\"dwell_s\":" + QByteArray::number(zone.dwellSeconds) + ",\"polygon\":[" + corners + "]}";
}
