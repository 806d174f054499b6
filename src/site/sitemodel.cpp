#include "sitemodel.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

// Tags whose kit names no colour get one of these, the same for the same tag on every run.
const QColor Palette[] = {QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4), QColor(0x2c, 0xa0, 0x2c),
                          QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                          QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

QColor fallbackColor(const QString& kit, const QString& tag)
{
    uint h = 0;
    for (const QChar c : kit + QLatin1Char('/') + tag)
        h = h * 31u + c.unicode();
    return Palette[h % (sizeof Palette / sizeof Palette[0])];
}

} // namespace

QRectF SiteModel::Kit::extent() const
{
    if (hasInfoBox)
        return infoBox;
    const auto span = [](const QVector<QPointF>& points) {
        QRectF r;
        for (int i = 0; i < points.size(); ++i)
            r = i == 0 ? QRectF(points[i], points[i]) : QRectF(QPointF(qMin(r.left(), points[i].x()), qMin(r.top(), points[i].y())),
                                                               QPointF(qMax(r.right(), points[i].x()), qMax(r.bottom(), points[i].y())));
        return r;
    };
    QVector<QPointF> points;
    for (const SiteMessage::Anchor& a : anchors)
        points.append(a.pos);
    if (points.isEmpty())
        for (const TagState& t : tags)
            points.append(t.kitPos);
    return span(points);
}

double SiteModel::Kit::messageRate(qint64 nowMs) const
{
    const qint64 second = nowMs / 1000;
    if (second == rateSecond)
        return ratePrevious;
    return second == rateSecond + 1 ? rateCount : 0;
}

QString SiteModel::stateName(State s)
{
    switch (s) {
    case State::Live: return QStringLiteral("live");
    case State::Stale: return QStringLiteral("stale");
    default: return QStringLiteral("offline");
    }
}

QString SiteModel::offlineText(const Kit& kit)
{
    if (kit.offlineSinceMs <= 0)
        return QCoreApplication::translate("SiteModel", "offline");
    return QCoreApplication::translate("SiteModel", "offline seit %1")
        .arg(QDateTime::fromMSecsSinceEpoch(kit.offlineSinceMs).toString(QStringLiteral("HH:mm:ss")));
}

QString SiteModel::clockText(const Kit& kit)
{
    const double s = kit.clockOffsetMs / 1000.0;
    return QCoreApplication::translate("SiteModel", "Uhr weicht ab: %1 s")
        .arg((s >= 0 ? QStringLiteral("+") : QString()) + QString::number(s, 'f', 1));
}

void SiteModel::setPlacements(const SiteFileData& file)
{
    filePlacements.clear();
    for (const SiteFileData::Kit& k : file.kits)
        filePlacements.insert(k.id.toUpper(), k.placement);
    for (auto it = kits.begin(); it != kits.end(); ++it)
        if (filePlacements.contains(it.key())) {
            it->placement = filePlacements.value(it.key());
            it->placed = it->fixed = true;
        }
}

void SiteModel::placeKit(const QString& id, const KitPlacement& placement)
{
    auto it = kits.find(id);
    if (it == kits.end())
        return;
    it->placement = placement;
    it->placement.rotationDeg = normalizedDegrees(placement.rotationDeg);
    it->placed = it->fixed = true;
}

const SiteModel::Kit* SiteModel::kit(const QString& id) const
{
    auto it = kits.constFind(id);
    return it == kits.constEnd() ? nullptr : &*it;
}

SiteModel::Kit* SiteModel::kitFor(const QString& id, qint64 nowMs)
{
    auto it = kits.find(id);
    if (it != kits.end())
        return &*it;
    if (kits.size() >= MaxKits)
        return nullptr;
    Kit k;
    k.id = id;
    k.name = id;
    k.offlineSinceMs = 0;
    if (filePlacements.contains(id)) {
        k.placement = filePlacements.value(id);
        k.placed = k.fixed = true;
    }
    it = kits.insert(id, k);
    order.append(id);
    if (onStateChange)
        onStateChange(*it, nowMs);
    return &*it;
}

void SiteModel::apply(const SiteMessage& m, bool retained, qint64 nowMs)
{
    if (m.kind == SiteMessage::Unrelated)
        return;
    Kit* k = m.kit.isEmpty() ? nullptr : kitFor(m.kit, nowMs);
    if (!k) {
        if (m.kind == SiteMessage::Refused)
            ++strayRefused;
        return;
    }
    applyTo(*k, m, retained, nowMs);
}

void SiteModel::applyTo(Kit& k, const SiteMessage& m, bool retained, qint64 nowMs)
{
    if (m.kind == SiteMessage::Refused) {
        ++k.refused;
        k.lastRefusal = m.reason;
        return;
    }
    // A live .../last repeats the .../position just taken.
    if (m.kind == SiteMessage::Position && m.last && !retained)
        return;
    ++k.messages;
    k.lastMessageMs = nowMs;
    if (!retained) {
        const qint64 second = nowMs / 1000;
        if (second != k.rateSecond) {
            k.ratePrevious = second == k.rateSecond + 1 ? k.rateCount : 0;
            k.rateSecond = second;
            k.rateCount = 0;
        }
        ++k.rateCount;
    }
    switch (m.kind) {
    case SiteMessage::Status:
        if (!retained) {
            k.saidOffline = !m.online;
            if (!m.online)
                k.offlineSinceMs = nowMs;
        } else if (!m.online && k.lastLiveMs == 0) {
            k.saidOffline = true;
        }
        break;
    case SiteMessage::Anchors:
        k.anchors = m.anchors;
        break;
    case SiteMessage::Info:
        if (!m.kitName.trimmed().isEmpty())
            k.name = m.kitName.trimmed();
        k.version = m.version;
        k.startedMs = m.startedMs;
        k.infoBox = m.bbox;
        k.hasInfoBox = m.hasBbox;
        k.tagColors.clear();
        for (const SiteMessage::TagInfo& t : m.tags)
            if (t.color.isValid())
                k.tagColors.insert(t.id, t.color);
        for (TagState& t : k.tags)
            t.color = k.tagColors.value(t.id, t.color);
        break;
    case SiteMessage::Occupancy:
        if (k.zones.contains(m.zone) || k.zones.size() < MaxZonesPerKit)
            k.zones[m.zone] = ZoneState{m.zone, m.count, m.tagIds, nowMs};
        break;
    case SiteMessage::Position:
        takePosition(k, m, retained, nowMs);
        break;
    default:
        break;
    }
    if (!retained && !(m.kind == SiteMessage::Status && !m.online)) {
        k.lastLiveMs = nowMs;
        k.saidOffline = false;
    }
    placeIfNeeded(k);
    settle(k, nowMs);
    if (m.kind == SiteMessage::Position && m.hasPosition && onPosition) {
        auto it = k.tags.constFind(m.tag);
        if (it != k.tags.constEnd() && it->recvMs == nowMs)
            onPosition(k, *it);
    }
}

void SiteModel::takePosition(Kit& k, const SiteMessage& m, bool retained, qint64 nowMs)
{
    if (!retained)
        noteClock(k, m.timeMs - nowMs, nowMs);
    if (!m.hasPosition)
        return;
    auto it = k.tags.find(m.tag);
    // What was retained is older than anything heard live.
    if (retained && it != k.tags.end())
        return;
    if (it == k.tags.end()) {
        if (k.tags.size() >= MaxTagsPerKit)
            return;
        TagState t;
        t.id = m.tag;
        t.color = k.tagColors.value(m.tag, fallbackColor(k.id, m.tag));
        it = k.tags.insert(m.tag, t);
    }
    // The latest to arrive is the tag's position, whatever its time says:
    // a kit's wrong clock reorders nothing.
    it->name = m.name.isEmpty() ? m.tag : m.name;
    it->kitPos = m.pos;
    it->recvMs = nowMs;
    it->timeMs = m.timeMs;
    const qint64 correction = k.clockFlagged() ? k.clockOffsetMs : 0;
    it->ageAtRecvMs = qMax(qint64(0), nowMs - m.timeMs + correction);
    ++positionCount;
    if (retained && k.lastLiveMs == 0)
        k.offlineSinceMs = qMax(k.offlineSinceMs, qMin(m.timeMs, nowMs));
}

void SiteModel::noteClock(Kit& k, qint64 offsetMs, qint64 nowMs)
{
    const qint64 second = nowMs / 1000;
    const int slot = int(second % 6);
    if (k.bucketSecond[slot] != second || !k.bucketHasOffset[slot]) {
        k.bucketSecond[slot] = second;
        k.bucketOffset[slot] = offsetMs;
        k.bucketHasOffset[slot] = true;
    } else {
        k.bucketOffset[slot] = qMax(k.bucketOffset[slot], offsetMs);
    }
    bool any = false;
    qint64 best = 0;
    for (int i = 0; i < 6; ++i)
        if (k.bucketHasOffset[i] && k.bucketSecond[i] * 1000 > nowMs - ClockWindowMs - 1000) {
            best = any ? qMax(best, k.bucketOffset[i]) : k.bucketOffset[i];
            any = true;
        }
    k.clockKnown = any;
    k.clockOffsetMs = best;
}

void SiteModel::placeIfNeeded(Kit& k)
{
    if (k.fixed)
        return;
    const bool withBox = k.hasInfoBox || !k.anchors.isEmpty();
    if (k.placed && (k.placedWithBox || !withBox))
        return;
    if (!withBox && k.tags.isEmpty())
        return;
    const QRectF extent = k.extent();
    QVector<QPolygonF> taken;
    for (const QString& id : order)
        if (id != k.id) {
            const Kit& other = kits[id];
            if (other.placed)
                taken.append(kitOutlineOnSite(other.placement, other.extent()));
        }
    k.placement = placeBeside(taken, extent);
    k.placed = true;
    k.placedWithBox = withBox;
}

SiteModel::State SiteModel::judge(const Kit& k, qint64 nowMs) const
{
    if (k.saidOffline || k.lastLiveMs == 0)
        return State::Offline;
    const qint64 silent = nowMs - k.lastLiveMs;
    if (silent >= OfflineAfterMs)
        return State::Offline;
    return silent >= StaleAfterMs ? State::Stale : State::Live;
}

void SiteModel::settle(Kit& k, qint64 nowMs)
{
    const State now = judge(k, nowMs);
    if (now == k.state)
        return;
    if (now == State::Offline && !k.saidOffline)
        k.offlineSinceMs = k.lastLiveMs;
    k.state = now;
    if (onStateChange)
        onStateChange(k, nowMs);
}

void SiteModel::tick(qint64 nowMs)
{
    for (const QString& id : order)
        settle(kits[id], nowMs);
}
