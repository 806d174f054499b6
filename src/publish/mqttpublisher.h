#ifndef MQTTPUBLISHER_H
#define MQTTPUBLISHER_H

#include "anchor.h"
#include "mqttsettings.h"
#include "positionmessage.h"
#include "tag.h"
#include "zone.h"
#include "zoneevent.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QVector>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

struct mosquitto;
class QTimer;

// Publishes tag positions, the anchors and an online/offline status to an MQTT
// broker. The network traffic runs on libmosquitto's own thread and the
// connection's life (connect, reconnect with back-off, tear-down) on a thread
// of the publisher's, so the caller never waits for the network:
// publishPosition() only hands the message to the library, or drops it while
// there is no connection. What the library holds when a connection breaks
// (sent, not yet acknowledged) is sent again once it is back: the session is
// a persistent one, kept on the same handle.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 1000;
    static constexpr int MaxRetryMs = 30000;
    // Also how long a silent broker keeps an attempt (and a tear-down) waiting.
    static constexpr int KeepAliveSeconds = 5;
    // An attempt that has neither connected nor failed by then is given up.
    static constexpr int ConnectTimeoutMs = 15000;
    // Messages handed to the library and not yet acknowledged by the broker,
    // above which new positions are dropped (a broker that stalls without
    // closing the connection): about five seconds of the full link rate.
    static constexpr quint64 MaxUnacknowledged = 20000;
    // How long closing a connection waits for the broker to acknowledge what
    // was sent (the window's closing waits as long at most).
    static constexpr int DrainTimeoutMs = 2000;

    struct Counts {
        quint64 published = 0;   // positions handed to the library
        quint64 dropped = 0;     // positions dropped: no connection, or too many unacknowledged
    };

    explicit MqttPublisher(QObject* parent = nullptr);
    ~MqttPublisher() override;

    // Stops a running connection (publishing "offline" first) and, when the
    // settings are enabled and a master is known, connects anew.
    void configure(const MqttSettings& settings);
    MqttSettings settings() const;
    bool isEnabled() const;

    // The anchors, retained under .../anchors (and their extent under .../info); the one marked master names the
    // topic root. A new master means a new connection under its topics.
    void setAnchors(const QList<Anchor>& anchors);
    QString master() const;
    // The tags' ids, names and colours, for the .../info a site view draws them with.
    void setTags(const QList<Tag>& tags);

    // QoS 1 under .../position, and retained under .../last. An empty master
    // in the message is the one of the anchors.
    void publishPosition(PositionMessage message);

    // The zones, each retained under .../zones/<zone>/config; a zone gone has
    // its config and occupancy cleared.
    void setZones(const QVector<Zone>& zones);
    // QoS 1, not retained, under .../zones/<zone>/events.
    void publishZoneEvent(const ZoneEvent& event);
    // Retained under .../zones/<zone>/occupancy, sent only when it changed.
    void publishOccupancy(const QString& zone, const QStringList& tagIds);

    bool isConnected() const;
    // "MQTT: aus", "MQTT: verbinde …", "MQTT: verbunden", "MQTT: getrennt – <reason>".
    QString statusText() const;
    Counts counts() const;
    // Messages of this connection the broker has not acknowledged yet.
    quint64 unacknowledged() const;

    // The wait before the next attempt after `failures` failed ones in a row:
    // 1 s, doubling up to 30 s.
    static int retryDelayMs(int failures);

signals:
    // Emitted from the publisher's thread.
    void statusChanged(const QString& text);

private:
    void scheduleRestart();
    void restart();
    void connectNow();
    void teardown(bool sayOffline);
    void reconnectNow(mosquitto* handle, const MqttSettings& s);
    // Starts the library's thread after a connect call that returned rc (errno then: error).
    void startLoop(mosquitto* handle, quint64 session, int rc, int error);
    void failed(quint64 session, const QString& reason, bool dropHandle = false);
    void setStatus(const QString& text);
    int publishLocked(const QString& topic, const QByteArray& payload, bool retain);
    // The retained .../info of the current connection.
    void publishInfoLocked();

    static void onConnect(mosquitto* handle, void* self, int rc);
    static void onDisconnect(mosquitto* handle, void* self, int rc);
    static void onPublish(mosquitto* handle, void* self, int mid);
    static void onLog(mosquitto* handle, void* self, int level, const char* text);

    QThread thread;
    QByteArray ownClientId;          // when the settings name none
    QObject* worker = nullptr;       // lives on `thread`; context of the life-cycle steps
    QTimer* retryTimer = nullptr;    // on `thread`
    QTimer* connectTimer = nullptr;  // on `thread`: the deadline of an attempt
    int failures = 0;                // `thread` only
    std::atomic<bool> restartPending{false};

    mutable QMutex lock;             // guards everything below
    mosquitto* mosq = nullptr;
    bool connected = false;
    MqttSettings config;
    QString masterId;                // of the anchors
    QString sessionRoot;             // topic root of the current connection
    QByteArray anchorsPayload;
    QList<Anchor> anchorList;        // for the info's bounding box
    QList<Tag> tagList;              // for the info's tag list
    qint64 startedMs = 0;            // first connection since the last restart; 0: none yet
    QMap<QString, QByteArray> zoneConfigs;     // by zone name
    QMap<QString, QByteArray> zoneOccupancy;   // by zone name, the last sent
    QString status;
    Counts tally;
    quint64 generation = 0;          // counts connection attempts
    quint64 failedGeneration = 0;    // the last attempt whose failure was handled
    quint64 sentInSession = 0;
    std::atomic<quint64> ackedInSession{0};
};

#endif
