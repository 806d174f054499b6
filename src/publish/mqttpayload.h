#ifndef MQTTPAYLOAD_H
#define MQTTPAYLOAD_H

#include "positionmessage.h"
#include "zone.h"
#include "zoneevent.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct Anchor;
struct Tag;

// Topics and JSON payloads of the MQTT stream. Topics are
//   <prefix>/<master>/status                  "online" / "offline"
//   <prefix>/<master>/anchors                 the anchors, to draw the room
//   <prefix>/<master>/info                    the kit's name, version, extent and start
//   <prefix>/<master>/tags/<tag>/position     every position
//   <prefix>/<master>/tags/<tag>/last         the latest position, retained
//   <prefix>/<master>/zones/<zone>/events     every zone event
//   <prefix>/<master>/zones/<zone>/occupancy  the tags inside, retained
//   <prefix>/<master>/zones/<zone>/config     name and polygon, retained
class MqttPayload
{
public:
    // The topic root "<prefix>/<master>".
    static QString root(const QString& prefix, const QString& master);
    static QString statusTopic(const QString& root);
    static QString anchorsTopic(const QString& root);
    static QString infoTopic(const QString& root);
    static QString positionTopic(const QString& root, const QString& tag);
    static QString lastTopic(const QString& root, const QString& tag);

    // "events", "occupancy" or "config" of a zone.
    static QString zoneTopic(const QString& root, const QString& zone, const char* what);
    // A zone name as one topic level: trimmed, case kept, '/', '+', '#' and NUL replaced by '_'.
    static QString zoneLevel(const QString& name);

    // An identifier as one topic level: trimmed, upper case, with the characters
    // MQTT reserves ('/', '+', '#', NUL) replaced by '_'.
    static QString level(const QString& id);
    // The prefix without wildcards or outer slashes; "orvane" when nothing is left.
    static QString cleanPrefix(const QString& prefix);

    // {"master":…,"tag":…,"name":…,"time":…,"x_cm":…,"y_cm":…,"raw_x_cm":…,
    //  "raw_y_cm":…,"speed_mps":…,"rate_hz":…,"sigma_x_cm":…,"sigma_y_cm":…,
    //  "r95_cm":…,"rho_xy":…}, absent values as null; the last four as in the CSV export.
    static QByteArray positionJson(const PositionMessage& m);
    // {"master":…,"anchors":[{"id":…,"name":…,"x_cm":…,"y_cm":…,"z_cm":…,"master":…},…]}
    static QByteArray anchorsJson(const QString& master, const QList<Anchor>& anchors);
    // {"master":…,"kit":…,"version":…,"started":…,"bbox":{"min_x_cm":…,"min_y_cm":…,
    //  "max_x_cm":…,"max_y_cm":…},"tags":[{"id":…,"name":…,"color":"#rrggbb"},…]}: the
    // anchors' bounding box (null without anchors) and the tags as the kit draws them;
    // the kit's name is the master's id when none is given.
    static QByteArray infoJson(const QString& master, const QString& kitName, const QString& version,
                               const QList<Anchor>& anchors, const QList<Tag>& tags, qint64 startedEpochMs);
    // Shaped like an omlox fence event: {"event_type":"region_entry"|"region_exit"|"dwell",
    //  "fence_id":…,"fence_name":…,"trackable_id":…,"tag_name":…,"entry_time":…,"exit_time":…,
    //  "x_cm":…,"y_cm":…,"reason":"boundary"|"timeout","seq":…,"dwell_s":…}; times as isoTime()
    //  or null (exit_time on exit only), dwell_s null on an entry.
    static QByteArray zoneEventJson(const ZoneEvent& e);
    // {"zone":…,"count":N,"tag_ids":[…]}
    static QByteArray occupancyJson(const QString& zone, const QStringList& tagIds);
    // {"name":…,"color":"#rrggbb","dwell_s":N,"polygon":[[x,y],…]} (cm)
    static QByteArray zoneConfigJson(const Zone& zone);
    // Local time, ISO 8601 with milliseconds and the offset from UTC.
    static QString isoTime(qint64 epochMs);
    // A JSON string literal, quotes included.
    static QByteArray jsonString(const QString& text);
};

#endif
