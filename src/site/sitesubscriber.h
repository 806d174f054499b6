#ifndef SITESUBSCRIBER_H
#define SITESUBSCRIBER_H

#include "mqttsettings.h"
#include "sitemessage.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>

struct mosquitto;
struct mosquitto_message;

// Listens to every kit under the prefix on one broker. The network and the
// parsing run on libmosquitto's thread (which also reconnects, 1 s doubling
// to 30 s); the parsed messages reach the caller's thread in batches through
// messagesArrived(), so a flood of them costs one queued call, not one each.
class SiteSubscriber : public QObject
{
    Q_OBJECT
public:
    struct Received {
        SiteMessage message;
        bool retained = false;
        qint64 recvMs = 0;   // the receiving clock when it came off the network
    };
    // Messages parsed and not yet taken, beyond which new ones are dropped
    // (a caller that stopped taking them): about ten seconds of a large site.
    static constexpr int MaxPending = 20000;
    static constexpr int KeepAliveSeconds = 5;

    explicit SiteSubscriber(QObject* parent = nullptr);
    ~SiteSubscriber() override;

    // Connects (anew) to the broker the settings name; `enabled` is ignored.
    void start(const MqttSettings& settings);
    void stop();

    bool isConnected() const { return connected.load(); }
    // True once an attempt has failed before any connection came up.
    bool hasFailed() const { return failedBeforeConnect.load(); }
    // "MQTT: verbunden", "MQTT: verbinde …", "MQTT: getrennt – <Grund>".
    QString statusText() const;
    // Everything parsed since the last call, oldest first.
    QVector<Received> take();
    quint64 received() const { return receivedCount.load(); }
    quint64 dropped() const { return droppedCount.load(); }

signals:
    // Some messages wait to be taken (once per batch).
    void messagesArrived();
    void statusChanged(const QString& text);

private:
    void setStatus(const QString& text);
    static void onConnect(mosquitto* m, void* self, int rc);
    static void onDisconnect(mosquitto* m, void* self, int rc);
    static void onSubscribe(mosquitto* m, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* m, void* self, const mosquitto_message* message);

    mosquitto* mosq = nullptr;
    QString prefix;
    MqttSettings config;
    std::atomic<bool> connected{false};
    std::atomic<bool> everConnected{false};
    std::atomic<bool> failedBeforeConnect{false};
    std::atomic<int> lastSubscribeMid{0};
    std::atomic<quint64> receivedCount{0};
    std::atomic<quint64> droppedCount{0};
    mutable QMutex lock;   // guards the two below
    QVector<Received> pending;
    QString status;
};

#endif
