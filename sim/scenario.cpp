#include "scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cmath>

namespace {

// [x, y] or [x, y, z]; *z is left alone for [x, y].
bool readPoint(const QJsonValue& value, QPointF* point, double* z)
{
    const QJsonArray p = value.toArray();
    if (!value.isArray() || p.size() < 2 || p.size() > 3)
        return false;
    for (const QJsonValue& v : p)
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            return false;
    *point = QPointF(p.at(0).toDouble(), p.at(1).toDouble());
    if (p.size() == 3)
        *z = p.at(2).toDouble();
    return true;
}

bool readNumber(const QJsonObject& obj, const char* key, double* value, QString* error)
{
    if (!obj.contains(QLatin1String(key)))
        return true;
    const QJsonValue v = obj.value(QLatin1String(key));
    if (!v.isDouble()) {
        *error = QStringLiteral("\"%1\" must be a number").arg(QLatin1String(key));
        return false;
    }
    *value = v.toDouble();
    return true;
}

// One entry of "anchors" or "tags". Anchors give "x"/"y" or "position";
// tags give "waypoints" (or "position") and "speed".
bool readModule(const QJsonValue& value, bool tag, Scenario::Module* module, QString* error)
{
    const QString what = tag ? QStringLiteral("tag") : QStringLiteral("anchor");
    if (!value.isObject()) {
        *error = QStringLiteral("every %1 must be an object").arg(what);
        return false;
    }
    const QJsonObject obj = value.toObject();
    const QJsonValue id = obj.value(QLatin1String("id"));
    if (!id.isString() || !isModuleId(id.toString().toLatin1())) {
        *error = QStringLiteral("%1 without a valid \"id\" (1 to 8 hexadecimal digits, not 0)").arg(what);
        return false;
    }
    module->id = id.toString();
    const QString where = QStringLiteral("%1 %2: ").arg(what, module->id);
    module->path.clear();
    module->z = 0;
    if (!readNumber(obj, "z", &module->z, error) || !std::isfinite(module->z)) {
        *error = where + QStringLiteral("\"z\" must be a number");
        return false;
    }
    if (obj.contains(QLatin1String("waypoints"))) {
        const QJsonArray points = obj.value(QLatin1String("waypoints")).toArray();
        for (int i = 0; i < points.size(); ++i) {
            QPointF point;
            double z = module->z;
            if (!readPoint(points.at(i), &point, &z) || (i > 0 && z != module->z)) {
                *error = where + QStringLiteral("every waypoint must be [x, y] or [x, y, z], all at one height");
                return false;
            }
            module->z = z;
            module->path << point;
        }
    } else if (obj.contains(QLatin1String("position"))) {
        QPointF point;
        if (!readPoint(obj.value(QLatin1String("position")), &point, &module->z)) {
            *error = where + QStringLiteral("\"position\" must be [x, y] or [x, y, z]");
            return false;
        }
        module->path << point;
    } else if (obj.value(QLatin1String("x")).isDouble() && obj.value(QLatin1String("y")).isDouble()) {
        module->path << QPointF(obj.value(QLatin1String("x")).toDouble(), obj.value(QLatin1String("y")).toDouble());
    }
    if (module->path.isEmpty()) {
        *error = where + QStringLiteral("needs \"x\" and \"y\", \"position\" or \"waypoints\"");
        return false;
    }
    module->speed = tag ? 100 : 0;
    if (!readNumber(obj, "speed", &module->speed, error)) {
        *error = where + *error;
        return false;
    }
    if (!(module->speed >= 0) || !std::isfinite(module->speed)) {
        *error = where + QStringLiteral("\"speed\" must not be negative");
        return false;
    }
    module->stop = 0;
    if (!readNumber(obj, "stop", &module->stop, error)) {
        *error = where + *error;
        return false;
    }
    if (!(module->stop >= 0 && module->stop <= 3600)) {
        *error = where + QStringLiteral("\"stop\" must lie in [0, 3600] s");
        return false;
    }
    module->bias.clear();
    const QJsonValue bias = obj.value(QLatin1String("bias"));
    if (!bias.isUndefined()) {
        const QJsonObject pairs = bias.toObject();
        if (!tag || !bias.isObject()) {
            *error = where + QStringLiteral("\"bias\" is an object of anchor ids and cm, for tags only");
            return false;
        }
        for (auto it = pairs.begin(); it != pairs.end(); ++it) {
            if (!it.value().isDouble() || !(std::fabs(it.value().toDouble()) <= 10000)) {
                *error = where + QStringLiteral("\"bias\" of %1 must be a number of cm").arg(it.key());
                return false;
            }
            module->bias.insert(it.key().toUpper(), it.value().toDouble());
        }
    }
    module->body = 0;
    module->heading = 0;
    if (!readNumber(obj, "body", &module->body, error) || !readNumber(obj, "heading", &module->heading, error)) {
        *error = where + *error;
        return false;
    }
    if (!(module->body >= 0 && module->body <= 360) || !std::isfinite(module->heading)) {
        *error = where + QStringLiteral("\"body\" must lie in [0, 360] degrees, \"heading\" be a number");
        return false;
    }
    module->configured = true;
    if (obj.contains(QLatin1String("configured"))) {
        if (!obj.value(QLatin1String("configured")).isBool()) {
            *error = where + QStringLiteral("\"configured\" must be true or false");
            return false;
        }
        module->configured = obj.value(QLatin1String("configured")).toBool();
    }
    return true;
}

} // namespace

Scenario Scenario::builtIn()
{
    Scenario s;
    s.name = QStringLiteral("Raum 10 m x 8 m");
    auto fixed = [](const char* id, double x, double y) {
        Module m;
        m.id = QLatin1String(id);
        m.path << QPointF(x, y);
        return m;
    };
    s.anchors << fixed("1A2B", 0, 0) << fixed("3C4D", 1000, 0)
              << fixed("5E6F", 1000, 800) << fixed("7A80", 0, 800);
    Module walker;
    walker.id = QStringLiteral("2B01");
    walker.path << QPointF(200, 200) << QPointF(800, 200) << QPointF(800, 600) << QPointF(200, 600);
    walker.speed = 100;
    Module standing = fixed("2B02", 300, 400);
    Module stranger;
    stranger.id = QStringLiteral("2B03");
    stranger.path << QPointF(600, 500) << QPointF(700, 300);
    stranger.speed = 30;
    stranger.configured = false;
    s.tags << walker << standing << stranger;
    return s;
}

bool Scenario::loadJson(const QByteArray& json, QString* error)
{
    QString dummy;
    QString& err = error ? *error : dummy;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull()) {
        err = QStringLiteral("not valid JSON at offset %1: %2").arg(parseError.offset).arg(parseError.errorString());
        return false;
    }
    if (!doc.isObject()) {
        err = QStringLiteral("the document must be a JSON object");
        return false;
    }
    const QJsonObject root = doc.object();
    Scenario s;
    s.name = root.value(QLatin1String("name")).toString();
    if (root.contains(QLatin1String("firmware"))) {
        if (!root.value(QLatin1String("firmware")).isString()) {
            err = QStringLiteral("\"firmware\" must be a string");
            return false;
        }
        s.firmware = root.value(QLatin1String("firmware")).toString();
    }
    if (!root.value(QLatin1String("anchors")).isArray()) {
        err = QStringLiteral("\"anchors\" must be an array (the first entry is the master)");
        return false;
    }
    for (const QJsonValue& v : root.value(QLatin1String("anchors")).toArray()) {
        Module m;
        if (!readModule(v, false, &m, &err))
            return false;
        s.anchors << m;
    }
    if (root.contains(QLatin1String("tags"))) {
        if (!root.value(QLatin1String("tags")).isArray()) {
            err = QStringLiteral("\"tags\" must be an array");
            return false;
        }
        for (const QJsonValue& v : root.value(QLatin1String("tags")).toArray()) {
            Module m;
            if (!readModule(v, true, &m, &err))
                return false;
            s.tags << m;
        }
    }
    s.walls.clear();
    for (const QJsonValue& w : root.value(QLatin1String("walls")).toArray()) {
        const QJsonArray c = w.toArray();
        if (c.size() != 4 || !c.at(0).isDouble() || !c.at(1).isDouble() || !c.at(2).isDouble() || !c.at(3).isDouble()) {
            err = QStringLiteral("every wall must be [x1, y1, x2, y2]");
            return false;
        }
        s.walls << QLineF(c.at(0).toDouble(), c.at(1).toDouble(), c.at(2).toDouble(), c.at(3).toDouble());
    }
    if (!readNumber(root, "nlos", &s.nlos, &err) || !readNumber(root, "tail", &s.tail, &err)
        || !readNumber(root, "tailScale", &s.tailScale, &err))
        return false;
    double seed = s.seed;
    if (!readNumber(root, "rate", &s.rateHz, &err) || !readNumber(root, "noise", &s.noiseSigma, &err)
        || !readNumber(root, "dropout", &s.dropout, &err) || !readNumber(root, "outliers", &s.outliers, &err)
        || !readNumber(root, "seed", &seed, &err))
        return false;
    if (!(seed >= 0 && seed <= 4294967295.0) || seed != std::floor(seed)) {
        err = QStringLiteral("\"seed\" must be a whole number from 0 to 4294967295");
        return false;
    }
    s.seed = quint32(seed);
    const QString problem = s.check();
    if (!problem.isEmpty()) {
        err = problem;
        return false;
    }
    *this = s;
    return true;
}

bool Scenario::loadFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    // Scenario files are a few hundred bytes; refuse anything absurd.
    if (file.size() > 1024 * 1024) {
        if (error)
            *error = QStringLiteral("%1: file too large").arg(path);
        return false;
    }
    QString err;
    if (!loadJson(file.readAll(), &err)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, err);
        return false;
    }
    return true;
}

QString Scenario::check() const
{
    if (anchors.isEmpty())
        return QStringLiteral("at least one anchor (the master) is needed");
    QSet<QString> seen;
    int configuredAnchors = 0;
    int configuredTags = 0;
    for (int i = 0; i < anchors.size() + tags.size(); ++i) {
        const Module& m = i < anchors.size() ? anchors.at(i) : tags.at(i - anchors.size());
        if (!isModuleId(m.id.toLatin1()))
            return QStringLiteral("invalid module id \"%1\"").arg(m.id);
        if (m.path.isEmpty())
            return QStringLiteral("module %1 has no position").arg(m.id);
        const QString key = m.id.toUpper();
        if (seen.contains(key))
            return QStringLiteral("module id %1 appears twice").arg(m.id);
        seen.insert(key);
        if (i > 0 && m.configured)
            ++(i < anchors.size() ? configuredAnchors : configuredTags);
    }
    if (configuredAnchors > MasterConfig::MaxAnchors)
        return QStringLiteral("at most %1 configured anchors besides the master").arg(MasterConfig::MaxAnchors);
    if (configuredTags > MasterConfig::MaxTags)
        return QStringLiteral("at most %1 configured tags").arg(MasterConfig::MaxTags);
    if (!(rateHz > 0 && rateHz <= 1000))
        return QStringLiteral("\"rate\" must lie in (0, 1000] Hz");
    if (!(noiseSigma >= 0 && noiseSigma <= 10000))
        return QStringLiteral("\"noise\" must lie in [0, 10000] cm");
    if (!(dropout >= 0 && dropout <= 1))
        return QStringLiteral("\"dropout\" must lie in [0, 1]");
    if (!(outliers >= 0 && outliers <= 1))
        return QStringLiteral("\"outliers\" must lie in [0, 1]");
    if (!(nlos >= 0 && nlos <= 10000))
        return QStringLiteral("\"nlos\" must lie in [0, 10000] cm");
    if (!(tail >= 0 && tail <= 1) || !(tailScale >= 0 && tailScale <= 1000))
        return QStringLiteral("\"tail\" must lie in [0, 1] and \"tailScale\" in [0, 1000]");
    return QString();
}

const Scenario::Module* Scenario::find(const QString& id) const
{
    for (const Module& m : anchors)
        if (m.id.compare(id, Qt::CaseInsensitive) == 0)
            return &m;
    for (const Module& m : tags)
        if (m.id.compare(id, Qt::CaseInsensitive) == 0)
            return &m;
    return nullptr;
}

bool Scenario::positionAt(const QString& id, qint64 ms, QPointF* pos) const
{
    const Module* m = find(id);
    if (!m)
        return false;
    if (pos)
        *pos = pathPosition(*m, ms);
    return true;
}

namespace {

// Where along its loop a module is at ms: the leg (from waypoint leg to the
// next) and the share of it walked; standing at the leg's end counts as 1.
// False for a module that does not walk.
bool legAt(const Scenario::Module& module, qint64 ms, int* leg, double* share)
{
    const QVector<QPointF>& path = module.path;
    if (path.size() < 2 || module.speed <= 0)
        return false;
    double walk = 0;   // s to walk the whole loop
    for (int i = 0; i < path.size(); ++i) {
        const QPointF d = path.at((i + 1) % path.size()) - path.at(i);
        walk += std::hypot(d.x(), d.y()) / module.speed;
    }
    if (walk <= 0)
        return false;
    const double loop = walk + module.stop * path.size();
    double t = std::fmod(double(ms) / 1000.0, loop);
    if (t < 0)
        t += loop;
    for (int i = 0; i < path.size(); ++i) {
        const QPointF d = path.at((i + 1) % path.size()) - path.at(i);
        const double legS = std::hypot(d.x(), d.y()) / module.speed;
        if (t <= legS + module.stop || i == path.size() - 1) {
            *leg = i;
            *share = legS > 0 ? qMin(1.0, t / legS) : 1.0;
            return true;
        }
        t -= legS + module.stop;
    }
    return false;
}

} // namespace

QPointF Scenario::pathPosition(const Module& module, qint64 ms)
{
    const QVector<QPointF>& path = module.path;
    if (path.isEmpty())
        return QPointF();
    int leg = 0;
    double share = 0;
    if (!legAt(module, ms, &leg, &share))
        return path.first();
    const QPointF a = path.at(leg);
    const QPointF b = path.at((leg + 1) % path.size());
    return a + (b - a) * share;
}

double Scenario::headingAt(const Module& module, qint64 ms)
{
    int leg = 0;
    double share = 0;
    if (!legAt(module, ms, &leg, &share))
        return module.heading;
    // A zero-length leg: the last one with a length before it.
    for (int i = 0; i < module.path.size(); ++i) {
        const int k = (leg - i + module.path.size()) % module.path.size();
        const QPointF d = module.path.at((k + 1) % module.path.size()) - module.path.at(k);
        if (!d.isNull())
            return std::atan2(d.y(), d.x()) * 180.0 / M_PI;
    }
    return module.heading;
}

bool Scenario::distanceAt(const QString& a, const QString& b, qint64 ms, double* distance) const
{
    const Module* ma = find(a);
    const Module* mb = find(b);
    if (!ma || !mb)
        return false;
    const QPointF d = pathPosition(*ma, ms) - pathPosition(*mb, ms);
    *distance = std::sqrt(d.x() * d.x() + d.y() * d.y() + (ma->z - mb->z) * (ma->z - mb->z));
    return true;
}

QStringList Scenario::onAir() const
{
    QStringList ids;
    for (int i = 1; i < anchors.size(); ++i)
        ids << anchors.at(i).id;
    for (const Module& m : tags)
        ids << m.id;
    return ids;
}

MasterConfig Scenario::initialConfiguration() const
{
    MasterConfig config;
    config.master = masterId();
    for (int i = 1; i < anchors.size(); ++i)
        if (anchors.at(i).configured)
            config.anchors << anchors.at(i).id;
    for (const Module& m : tags)
        if (m.configured)
            config.tags << m.id;
    return config;
}

double Scenario::pairBias(const QString& tag, const QString& anchor) const
{
    const Module* t = find(tag);
    return t ? t->bias.value(anchor.toUpper(), 0.0) : 0.0;
}

bool Scenario::blocked(const QString& tag, const QString& anchor, qint64 ms) const
{
    const Module* t = find(tag);
    const Module* a = find(anchor);
    if (!t || !a)
        return false;
    const QPointF from = pathPosition(*t, ms);
    const QLineF ray(from, pathPosition(*a, ms));
    for (const QLineF& wall : walls)
        if (ray.intersects(wall, nullptr) == QLineF::BoundedIntersection)
            return true;
    if (t->body <= 0 || ray.length() <= 0)
        return false;
    const double heading = headingAt(*t, ms);
    // The body sits behind the tag: the anchor is blocked when it lies within
    // half the body's width of straight back.
    const double toAnchor = std::atan2(ray.dy(), ray.dx()) * 180.0 / M_PI;
    const double off = std::fabs(std::remainder(toAnchor - (heading + 180.0), 360.0));
    return off < t->body / 2.0;
}
