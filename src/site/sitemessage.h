#ifndef SITEMESSAGE_H
#define SITEMESSAGE_H

#include <QByteArray>
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

// One message a kit publishes, as the site view reads it. Anyone can publish
// on a broker, so everything is checked: a message that is not the JSON the
// kits write (broken, fields missing or of the wrong type, absurd numbers,
// too large) comes back as Refused with the reason, and is never half taken.
struct SiteMessage
{
    enum Kind {
        Refused,     // not what the topic promises; `kit` says whom to blame when the topic names one
        Unrelated,   // a topic the view does not read (e.g. another program's under the prefix)
        Position,    // .../tags/<tag>/position, and the retained .../tags/<tag>/last
        Status,      // .../status
        Anchors,     // .../anchors
        Info,        // .../info
        Occupancy,   // .../zones/<zone>/occupancy
    };
    struct Anchor {
        QString id;
        QString name;
        QPointF pos;   // cm, the kit's own coordinates
        bool master = false;
    };
    struct TagInfo {
        QString id;
        QString name;
        QColor color;
    };

    // Larger payloads are refused unread; the largest a kit writes (the
    // anchors) stays far below.
    static constexpr int MaxPayloadBytes = 64 * 1024;
    // Coordinates beyond a kilometre from the kit's origin are no room's.
    static constexpr double MaxCoordinateCm = 100000.0;
    static constexpr int MaxListEntries = 256;
    static constexpr int MaxTextLength = 128;

    Kind kind = Refused;
    QString kit;            // the topic's kit level (the master's id), upper case
    QString reason;         // why a message was refused, in English, for the log

    // Position
    QString tag;
    QString name;
    qint64 timeMs = 0;      // the kit's clock, ms since the epoch
    bool hasPosition = false;   // false: the kit could not compute one (null values)
    QPointF pos;            // cm, the kit's coordinates: the averaged position, else the raw one
    bool last = false;      // from .../last (retained: where the tag was)

    // Status
    bool online = false;

    // Anchors and Info
    QVector<Anchor> anchors;
    QString kitName;
    QString version;
    qint64 startedMs = 0;
    QRectF bbox;            // the anchors' extent, cm
    bool hasBbox = false;   // false: the kit named none
    QVector<TagInfo> tags;

    // Occupancy
    QString zone;
    int count = 0;
    QStringList tagIds;

    // `topic` below `prefix` (cleaned as the publisher cleans it) is read as
    // <kit>/status, <kit>/anchors, <kit>/info, <kit>/tags/<tag>/position or
    // /last, <kit>/zones/<zone>/occupancy.
    static SiteMessage parse(const QString& prefix, const QByteArray& topic, const QByteArray& payload);
    // The time text of a position: ISO 8601 with an offset from UTC (or Z);
    // -1 when it is none or lies outside the years 2000 to 2200.
    static qint64 parseTime(const QString& text);
};

#endif
