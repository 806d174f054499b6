#ifndef SITEMODEL_H
#define SITEMODEL_H

#include "sitefile.h"
#include "sitemessage.h"
#include "siteplacement.h"

#include <QColor>
#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Every kit heard through the broker: its anchors, tags and zones, where it
// lies on the site, and how far its word can be trusted (live, stale or
// offline; its clock against ours). Times are the receiving clock's, in ms
// since the epoch, passed in by the caller so a test can set them.
class SiteModel
{
public:
    // A kit silent this long is stale (its tags all old), and then offline.
    static constexpr qint64 StaleAfterMs = 3000;
    static constexpr qint64 OfflineAfterMs = 5000;
    // A tag's position older than this is drawn hollow with its age.
    static constexpr qint64 OldTagMs = 3000;
    // A kit clock further off than this is flagged.
    static constexpr qint64 ClockToleranceMs = 2000;
    // The offset is the largest (position time - receiving time) over this
    // window: delays in the network only ever make it smaller.
    static constexpr qint64 ClockWindowMs = 5000;
    // Bounds against a publisher that invents kits, tags or zones without end.
    static constexpr int MaxKits = 500;
    static constexpr int MaxTagsPerKit = 64;
    static constexpr int MaxZonesPerKit = 64;

    enum class State { Live, Stale, Offline };

    struct TagState {
        QString id;
        QString name;
        QColor color;
        QPointF kitPos;              // cm, the kit's coordinates
        qint64 recvMs = 0;           // when it came
        qint64 ageAtRecvMs = 0;      // how old it was then, by the corrected kit clock
        qint64 timeMs = 0;           // the kit's own time of it
        qint64 ageMs(qint64 nowMs) const { return qMax(qint64(0), nowMs - recvMs) + ageAtRecvMs; }
    };
    struct ZoneState {
        QString zone;
        int count = 0;
        QStringList tagIds;
        qint64 recvMs = 0;
    };
    struct Kit {
        QString id;                  // the master's id: the topic level
        QString name;                // the kit's own name; the id when it gave none
        QString version;
        qint64 startedMs = 0;
        QVector<SiteMessage::Anchor> anchors;
        QRectF infoBox;              // the extent the kit published, cm
        bool hasInfoBox = false;
        QMap<QString, QColor> tagColors;   // from the kit's info
        KitPlacement placement;
        bool placed = false;
        bool fixed = false;          // placed by the site file or the user, never moved by the view
        bool placedWithBox = false;  // the extent was known when the view placed it
        State state = State::Offline;
        qint64 lastLiveMs = 0;       // last message sent while we listened (not a retained one)
        qint64 offlineSinceMs = 0;
        bool saidOffline = false;    // its status says "offline"
        bool clockKnown = false;
        qint64 clockOffsetMs = 0;    // position time minus the receiving clock
        quint64 messages = 0;
        quint64 refused = 0;
        QString lastRefusal;
        qint64 lastMessageMs = 0;
        QMap<QString, TagState> tags;
        QMap<QString, ZoneState> zones;

        // The kit's rectangle in its own coordinates: its published extent,
        // else its anchors', else its tags'; null when nothing is known.
        QRectF extent() const;
        bool clockFlagged() const { return clockKnown && qAbs(clockOffsetMs) > ClockToleranceMs; }
        double messageRate(qint64 nowMs) const;

        // Per second of the receiving clock: the largest offset, and the messages.
        qint64 bucketSecond[6] = {};
        qint64 bucketOffset[6] = {};
        bool bucketHasOffset[6] = {};
        qint64 rateSecond = 0;
        int rateCount = 0, ratePrevious = 0;
    };

    // "live", "stale", "offline": the site log's words.
    static QString stateName(State s);
    // "offline seit 14:03:12", "Uhr weicht ab: +3.2 s" (local time of day).
    static QString offlineText(const Kit& kit);
    static QString clockText(const Kit& kit);

    // Placements the site file fixes; kits not named there are placed beside.
    void setPlacements(const SiteFileData& file);
    // The user moved or turned a kit: it stays there.
    void placeKit(const QString& id, const KitPlacement& placement);

    // Takes one message; `retained` ones tell what was, not that a kit lives.
    void apply(const SiteMessage& message, bool retained, qint64 nowMs);
    // Judges liveness now; calls onStateChange for each kit that changed.
    void tick(qint64 nowMs);

    const QVector<QString>& kitOrder() const { return order; }
    const Kit* kit(const QString& id) const;
    QPointF toSite(const Kit& kit, const QPointF& kitPoint) const { return kitToSite(kit.placement, kitPoint); }
    // Messages that named no kit, or more kits than the bound.
    quint64 refusedWithoutKit() const { return strayRefused; }
    quint64 positions() const { return positionCount; }

    // A position taken (live or retained), with the kit's state after it.
    std::function<void(const Kit&, const TagState&)> onPosition;
    // A kit seen for the first time, and every change of its state after.
    std::function<void(const Kit&, qint64 nowMs)> onStateChange;

private:
    Kit* kitFor(const QString& id, qint64 nowMs);
    void applyTo(Kit& k, const SiteMessage& m, bool retained, qint64 nowMs);
    void takePosition(Kit& k, const SiteMessage& m, bool retained, qint64 nowMs);
    void noteClock(Kit& k, qint64 offsetMs, qint64 nowMs);
    void placeIfNeeded(Kit& k);
    State judge(const Kit& k, qint64 nowMs) const;
    void settle(Kit& k, qint64 nowMs);

    QMap<QString, Kit> kits;
    QVector<QString> order;
    QMap<QString, KitPlacement> filePlacements;
    quint64 strayRefused = 0;
    quint64 positionCount = 0;
};

#endif
