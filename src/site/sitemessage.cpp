#include "sitemessage.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QVector>

#include <cmath>

namespace {

SiteMessage refusal(SiteMessage m, const QString& reason)
{
    m.kind = SiteMessage::Refused;
    m.reason = reason;
    return m;
}

// An object that names a key twice. Qt 5's JSON reader leaks the first value
// when it is an object or an array, so a publisher repeating keys would make
// the view grow; such a message is refused before it is read. A key with an
// escape counts as repeated: the escape may spell a key seen before.
bool repeatsKeys(const QByteArray& json)
{
    struct Level
    {
        bool object;
        bool expectKey;
        QSet<QByteArray> keys;
    };
    QVector<Level> open;
    for (int i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '"') {
            const int start = ++i;
            bool escaped = false;
            for (; i < json.size() && json.at(i) != '"'; ++i) {
                if (json.at(i) == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            if (!open.isEmpty() && open.last().object && open.last().expectKey) {
                const QByteArray key = json.mid(start, i - start);
                if (escaped || open.last().keys.contains(key))
                    return true;
                open.last().keys.insert(key);
                open.last().expectKey = false;
            }
        } else if (c == '{' || c == '[') {
            open.append({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!open.isEmpty())
                open.removeLast();
        } else if (c == ',' && !open.isEmpty() && open.last().object) {
            open.last().expectKey = true;
        }
    }
    return false;
}

bool saneCoordinate(double v) { return std::isfinite(v) && std::fabs(v) <= SiteMessage::MaxCoordinateCm; }

// A short text field: present, a string and not too long.
bool textField(const QJsonObject& o, const char* key, QString* out, bool required = true)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        out->clear();
        return !required;
    }
    if (!v.isString() || v.toString().size() > SiteMessage::MaxTextLength)
        return false;
    *out = v.toString();
    return true;
}

// A coordinate: a finite number within reach, or null (*present false).
bool coordinateField(const QJsonObject& o, const char* key, double* out, bool* present)
{
    const QJsonValue v = o.value(QLatin1String(key));
    *present = false;
    if (v.isNull() || v.isUndefined())
        return true;
    if (!v.isDouble() || !saneCoordinate(v.toDouble()))
        return false;
    *out = v.toDouble();
    *present = true;
    return true;
}

bool readPosition(const QJsonObject& o, SiteMessage& m)
{
    // Fields a position always carries, even when its values are null.
    for (const char* key : {"tag", "time", "x_cm", "y_cm"})
        if (!o.contains(QLatin1String(key)))
            return false;
    QString tag, time;
    if (!textField(o, "tag", &tag) || !textField(o, "name", &m.name, false) || !textField(o, "time", &time))
        return false;
    m.timeMs = SiteMessage::parseTime(time);
    if (m.timeMs < 0)
        return false;
    double x = 0, y = 0, rx = 0, ry = 0;
    bool hx = false, hy = false, hrx = false, hry = false;
    if (!coordinateField(o, "x_cm", &x, &hx) || !coordinateField(o, "y_cm", &y, &hy) || !coordinateField(o, "raw_x_cm", &rx, &hrx)
        || !coordinateField(o, "raw_y_cm", &ry, &hry) || hx != hy || hrx != hry)
        return false;
    if (hx)
        m.pos = QPointF(x, y), m.hasPosition = true;
    else if (hrx)
        m.pos = QPointF(rx, ry), m.hasPosition = true;
    return !tag.trimmed().isEmpty();
}

bool readAnchors(const QJsonObject& o, SiteMessage& m)
{
    const QJsonValue list = o.value(QLatin1String("anchors"));
    if (!list.isArray() || list.toArray().size() > SiteMessage::MaxListEntries)
        return false;
    for (const QJsonValue& v : list.toArray()) {
        if (!v.isObject())
            return false;
        const QJsonObject a = v.toObject();
        SiteMessage::Anchor anchor;
        double x = 0, y = 0;
        bool hx = false, hy = false;
        if (!textField(a, "id", &anchor.id) || !textField(a, "name", &anchor.name, false) || !coordinateField(a, "x_cm", &x, &hx)
            || !coordinateField(a, "y_cm", &y, &hy) || !hx || !hy)
            return false;
        anchor.pos = QPointF(x, y);
        anchor.master = a.value(QLatin1String("master")).toBool();
        m.anchors.append(anchor);
    }
    return true;
}

bool readInfo(const QJsonObject& o, SiteMessage& m)
{
    QString started;
    if (!textField(o, "kit", &m.kitName, false) || !textField(o, "version", &m.version, false)
        || !textField(o, "started", &started, false))
        return false;
    if (!started.isEmpty() && (m.startedMs = SiteMessage::parseTime(started)) < 0)
        return false;
    const QJsonValue box = o.value(QLatin1String("bbox"));
    if (box.isObject()) {
        const QJsonObject b = box.toObject();
        double v[4] = {};
        const char* keys[4] = {"min_x_cm", "min_y_cm", "max_x_cm", "max_y_cm"};
        for (int i = 0; i < 4; ++i) {
            bool present = false;
            if (!coordinateField(b, keys[i], &v[i], &present) || !present)
                return false;
        }
        if (v[2] < v[0] || v[3] < v[1])
            return false;
        m.bbox = QRectF(QPointF(v[0], v[1]), QPointF(v[2], v[3]));
        m.hasBbox = true;
    } else if (!box.isNull() && !box.isUndefined()) {
        return false;
    }
    const QJsonValue tags = o.value(QLatin1String("tags"));
    if (tags.isArray()) {
        if (tags.toArray().size() > SiteMessage::MaxListEntries)
            return false;
        for (const QJsonValue& v : tags.toArray()) {
            SiteMessage::TagInfo t;
            QString color;
            if (!v.isObject() || !textField(v.toObject(), "id", &t.id) || !textField(v.toObject(), "name", &t.name, false)
                || !textField(v.toObject(), "color", &color, false))
                return false;
            t.id = t.id.trimmed().toUpper();
            t.color = QColor(color);
            m.tags.append(t);
        }
    } else if (!tags.isUndefined() && !tags.isNull()) {
        return false;
    }
    return true;
}

bool readOccupancy(const QJsonObject& o, SiteMessage& m)
{
    const QJsonValue count = o.value(QLatin1String("count"));
    const QJsonValue ids = o.value(QLatin1String("tag_ids"));
    if (!textField(o, "zone", &m.zone) || !count.isDouble() || !ids.isArray() || ids.toArray().size() > SiteMessage::MaxListEntries)
        return false;
    const double n = count.toDouble();
    if (n != std::floor(n) || n < 0 || n > SiteMessage::MaxListEntries)
        return false;
    m.count = int(n);
    for (const QJsonValue& v : ids.toArray()) {
        if (!v.isString() || v.toString().size() > SiteMessage::MaxTextLength)
            return false;
        m.tagIds.append(v.toString().trimmed().toUpper());
    }
    return true;
}

} // namespace

qint64 SiteMessage::parseTime(const QString& text)
{
    // Only times that name their offset: a local time without one would shift
    // with the viewer's zone.
    const QString t = text.trimmed();
    if (t.size() < 20 || t.size() > 40 || !(t.endsWith(QLatin1Char('Z')) || t.at(t.size() - 6) == QLatin1Char('+')
                                           || t.at(t.size() - 6) == QLatin1Char('-')))
        return -1;
    const QDateTime dt = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!dt.isValid() || dt.date().year() < 2000 || dt.date().year() > 2200)
        return -1;
    return dt.toMSecsSinceEpoch();
}

SiteMessage SiteMessage::parse(const QString& prefix, const QByteArray& topic, const QByteArray& payload)
{
    SiteMessage m;
    const QString t = QString::fromUtf8(topic);
    const QString root = prefix + QLatin1Char('/');
    if (!t.startsWith(root)) {
        m.kind = Unrelated;
        return m;
    }
    const QStringList levels = t.mid(root.size()).split(QLatin1Char('/'));
    if (levels.first().isEmpty() || levels.first().size() > MaxTextLength) {
        m.kind = Unrelated;
        return m;
    }
    m.kit = levels.first().toUpper();
    Kind kind = Unrelated;
    if (levels.size() == 2 && levels[1] == QLatin1String("status"))
        kind = Status;
    else if (levels.size() == 2 && levels[1] == QLatin1String("anchors"))
        kind = Anchors;
    else if (levels.size() == 2 && levels[1] == QLatin1String("info"))
        kind = Info;
    else if (levels.size() == 4 && levels[1] == QLatin1String("tags")
             && (levels[3] == QLatin1String("position") || levels[3] == QLatin1String("last")))
        kind = Position;
    else if (levels.size() == 4 && levels[1] == QLatin1String("zones") && levels[3] == QLatin1String("occupancy"))
        kind = Occupancy;
    if (kind == Unrelated) {
        m.kind = Unrelated;
        return m;
    }
    if (payload.size() > MaxPayloadBytes)
        return refusal(m, QStringLiteral("payload of %1 bytes").arg(payload.size()));
    if (kind == Status) {
        if (payload != "online" && payload != "offline")
            return refusal(m, QStringLiteral("status neither online nor offline"));
        m.kind = Status;
        m.online = payload == "online";
        return m;
    }
    if (repeatsKeys(payload))
        return refusal(m, QStringLiteral("a key repeated"));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return refusal(m, QStringLiteral("no JSON object"));
    const QJsonObject o = doc.object();
    bool ok = false;
    switch (kind) {
    case Position:
        m.tag = levels[2].toUpper();
        m.last = levels[3] == QLatin1String("last");
        ok = !m.tag.isEmpty() && m.tag.size() <= MaxTextLength && readPosition(o, m);
        break;
    case Anchors: ok = readAnchors(o, m); break;
    case Info: ok = readInfo(o, m); break;
    case Occupancy:
        ok = readOccupancy(o, m);
        if (ok && m.zone.isEmpty())
            m.zone = levels[2];
        break;
    default: break;
    }
    if (!ok)
        return refusal(m, QStringLiteral("fields missing or out of range"));
    m.kind = kind;
    return m;
}
