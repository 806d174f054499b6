#include "mqttpublisher.h"

#include "buildversion.h"
#include "mqttpayload.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTimer>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

std::once_flag libraryInitialised;

QString text(const char* source)
{
    return QCoreApplication::translate("MqttPublisher", source);
}

// The network errors a connection attempt meets, in German; the C
// library's own text, which is English, for the rest.
QString networkError(int error)
{
    switch (error) {
    case ECONNREFUSED: return text("Verbindung abgelehnt");
    case EHOSTUNREACH: return text("Host nicht erreichbar");
    case ENETUNREACH: return text("Netzwerk nicht erreichbar");
    case ETIMEDOUT: return text("Zeitüberschreitung");
    case ECONNRESET: return text("Verbindung zurückgesetzt");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

// Why a connection attempt failed before it reached the broker.
QString connectReason(int rc, int error)
{
    switch (rc) {
    case MOSQ_ERR_EAI:
        return text("Host nicht gefunden");
    case MOSQ_ERR_ERRNO:
        return text("Broker nicht erreichbar (%1)").arg(networkError(error));
    case MOSQ_ERR_TLS:
        return text("TLS-Fehler");
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

// The broker's answer to the login, MQTT 3.1.1 return codes.
QString refusalReason(int code)
{
    switch (code) {
    case 1: return text("Protokollversion abgelehnt");
    case 2: return text("Client-ID abgelehnt");
    case 3: return text("Broker nicht verfügbar");
    case 4: return text("Anmeldung abgelehnt (Benutzername oder Passwort falsch)");
    case 5: return text("Anmeldung abgelehnt (nicht berechtigt)");
    default: return text("Anmeldung abgelehnt (Code %1)").arg(code);
    }
}

} // namespace

MqttPublisher::MqttPublisher(QObject* parent)
    : QObject(parent)
{
    std::call_once(libraryInitialised, [] { mosquitto_lib_init(); });
    status = tr("MQTT: aus");
    ownClientId = "orvane-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    worker = new QObject;
    retryTimer = new QTimer(worker);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, worker, [this] { connectNow(); });
    connectTimer = new QTimer(worker);
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, worker, [this] {
        quint64 session;
        {
            QMutexLocker locker(&lock);
            if (!mosq || connected)
                return;
            session = generation;
        }
        failed(session, tr("keine Antwort vom Broker"));
    });
    worker->moveToThread(&thread);
    thread.setObjectName(QStringLiteral("mqtt"));
    thread.start();
}

MqttPublisher::~MqttPublisher()
{
    // Says "offline" and waits for the library's thread to end.
    QMetaObject::invokeMethod(worker, [this] {
        retryTimer->stop();
        connectTimer->stop();
        teardown(true);
    }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete worker;
}

int MqttPublisher::retryDelayMs(int failures)
{
    if (failures < 0)
        failures = 0;
    return failures >= 5 ? MaxRetryMs : qMin(MaxRetryMs, FirstRetryMs << failures);
}

void MqttPublisher::configure(const MqttSettings& settings)
{
    {
        QMutexLocker locker(&lock);
        // The same settings again restart only a connection that is not up, so
        // confirming the dialog retries at once instead of after the back-off.
        if (settings == config && (connected || !settings.enabled))
            return;
        // A new kit name needs no new connection: the info tells it.
        MqttSettings renamed = config;
        renamed.kitName = settings.kitName;
        if (renamed == settings && connected) {
            config = settings;
            publishInfoLocked();
            return;
        }
        config = settings;
    }
    scheduleRestart();
}

MqttSettings MqttPublisher::settings() const
{
    QMutexLocker locker(&lock);
    return config;
}

bool MqttPublisher::isEnabled() const
{
    QMutexLocker locker(&lock);
    return config.enabled;
}

void MqttPublisher::setAnchors(const QList<Anchor>& anchors)
{
    QString newMaster;
    for (const Anchor& a : anchors) {
        if (a.master) {
            newMaster = a.id.trimmed().toUpper();
            break;
        }
    }
    const QByteArray payload = MqttPayload::anchorsJson(newMaster, anchors);
    {
        QMutexLocker locker(&lock);
        const bool sameMaster = newMaster == masterId;
        if (sameMaster && payload == anchorsPayload)
            return;
        masterId = newMaster;
        anchorsPayload = payload;
        anchorList = anchors;
        if (sameMaster) {
            if (connected) {
                publishLocked(MqttPayload::anchorsTopic(sessionRoot), payload, true);
                publishInfoLocked();
            }
            return;
        }
    }
    // Another master: its own topics, with its own last will.
    scheduleRestart();
}

void MqttPublisher::setTags(const QList<Tag>& tags)
{
    QMutexLocker locker(&lock);
    bool same = tags.size() == tagList.size();
    for (int i = 0; same && i < tags.size(); ++i)
        same = tags[i].id == tagList[i].id && tags[i].name == tagList[i].name && tags[i].color == tagList[i].color;
    if (same)
        return;
    tagList = tags;
    if (connected)
        publishInfoLocked();
}

QString MqttPublisher::master() const
{
    QMutexLocker locker(&lock);
    return masterId;
}

void MqttPublisher::publishPosition(PositionMessage message)
{
    QMutexLocker locker(&lock);
    // Two messages per position; beyond the bound the library's queue would grow.
    if (!connected || sentInSession - ackedInSession.load() + 2 > MaxUnacknowledged) {
        ++tally.dropped;
        return;
    }
    if (message.master.isEmpty())
        message.master = masterId;
    const QString root = MqttPayload::root(config.prefix, message.master);
    const QByteArray json = MqttPayload::positionJson(message);
    if (publishLocked(MqttPayload::positionTopic(root, message.tag), json, false) != MOSQ_ERR_SUCCESS) {
        ++tally.dropped;
        return;
    }
    publishLocked(MqttPayload::lastTopic(root, message.tag), json, true);
    ++tally.published;
}

void MqttPublisher::setZones(const QVector<Zone>& zones)
{
    QMap<QString, QByteArray> configs;
    for (const Zone& z : zones)
        configs.insert(z.name, MqttPayload::zoneConfigJson(z));
    QMutexLocker locker(&lock);
    const QString root = sessionRoot;
    for (auto it = zoneConfigs.constBegin(); it != zoneConfigs.constEnd(); ++it) {
        if (configs.contains(it.key()))
            continue;
        zoneOccupancy.remove(it.key());
        if (connected) {
            // An empty retained message removes the retained one.
            publishLocked(MqttPayload::zoneTopic(root, it.key(), "config"), QByteArray(), true);
            publishLocked(MqttPayload::zoneTopic(root, it.key(), "occupancy"), QByteArray(), true);
        }
    }
    for (auto it = configs.constBegin(); it != configs.constEnd(); ++it) {
        if (zoneConfigs.value(it.key()) != it.value() && connected)
            publishLocked(MqttPayload::zoneTopic(root, it.key(), "config"), it.value(), true);
    }
    zoneConfigs = configs;
}

void MqttPublisher::publishZoneEvent(const ZoneEvent& event)
{
    QMutexLocker locker(&lock);
    if (!connected || sentInSession - ackedInSession.load() + 1 > MaxUnacknowledged)
        return;
    publishLocked(MqttPayload::zoneTopic(sessionRoot, event.zone, "events"),
                  MqttPayload::zoneEventJson(event), false);
}

void MqttPublisher::publishOccupancy(const QString& zone, const QStringList& tagIds)
{
    const QByteArray payload = MqttPayload::occupancyJson(zone, tagIds);
    QMutexLocker locker(&lock);
    if (zoneOccupancy.value(zone) == payload)
        return;
    zoneOccupancy.insert(zone, payload);
    if (connected)
        publishLocked(MqttPayload::zoneTopic(sessionRoot, zone, "occupancy"), payload, true);
}

bool MqttPublisher::isConnected() const
{
    QMutexLocker locker(&lock);
    return connected;
}

QString MqttPublisher::statusText() const
{
    QMutexLocker locker(&lock);
    return status;
}

quint64 MqttPublisher::unacknowledged() const
{
    QMutexLocker locker(&lock);
    return sentInSession - qMin(sentInSession, ackedInSession.load());
}

MqttPublisher::Counts MqttPublisher::counts() const
{
    QMutexLocker locker(&lock);
    return tally;
}

int MqttPublisher::publishLocked(const QString& topic, const QByteArray& payload, bool retain)
{
    const QByteArray t = topic.toUtf8();
    int rc = mosquitto_publish(mosq, nullptr, t.constData(), payload.size(), payload.constData(), 1, retain);
    // A connection that broke a moment ago, not yet told: the library keeps
    // the message and sends it after reconnecting, like one it sent unanswered.
    if (rc == MOSQ_ERR_NO_CONN)
        rc = MOSQ_ERR_SUCCESS;
    if (rc == MOSQ_ERR_SUCCESS)
        ++sentInSession;
    return rc;
}

void MqttPublisher::publishInfoLocked()
{
    publishLocked(MqttPayload::infoTopic(sessionRoot),
                  MqttPayload::infoJson(masterId, config.kitName, QString::fromUtf8(BuildVersion::full()), anchorList,
                                        tagList, startedMs),
                  true);
}

void MqttPublisher::setStatus(const QString& text)
{
    {
        QMutexLocker locker(&lock);
        if (status == text)
            return;
        status = text;
    }
    emit statusChanged(text);
}

// ---------------------------------------------------------------- the publisher's thread

void MqttPublisher::scheduleRestart()
{
    // Several changes in a row (anchors, then settings) make one new connection,
    // not a flicker of "online" and "offline".
    if (!restartPending.exchange(true))
        QMetaObject::invokeMethod(worker, [this] { restart(); }, Qt::QueuedConnection);
}

void MqttPublisher::restart()
{
    restartPending = false;
    retryTimer->stop();
    failures = 0;
    teardown(true);
    {
        QMutexLocker locker(&lock);
        startedMs = 0;
    }
    connectNow();
}

void MqttPublisher::connectNow()
{
    MqttSettings s;
    QString masterNow;
    {
        QMutexLocker locker(&lock);
        s = config;
        masterNow = masterId;
    }
    if (!s.enabled) {
        setStatus(tr("MQTT: aus"));
        return;
    }
    if (masterNow.isEmpty()) {
        // Tried again when the anchors name a master.
        setStatus(tr("MQTT: getrennt – kein Master-Anker festgelegt"));
        return;
    }
    mosquitto* existing;
    {
        QMutexLocker locker(&lock);
        existing = mosq;
    }
    if (existing) {
        reconnectNow(existing, s);
        return;
    }
    const QString root = MqttPayload::root(s.prefix, masterNow);
    // One id and a session the broker keeps for as long as these settings
    // hold: what was handed to the library and not acknowledged when the
    // connection broke is sent again on the same handle after reconnecting.
    QByteArray clientId = s.clientId.trimmed().toUtf8();
    if (clientId.isEmpty())
        clientId = ownClientId;
    mosquitto* handle = mosquitto_new(clientId.constData(), false, this);
    quint64 session;
    {
        QMutexLocker locker(&lock);
        mosq = handle;
        connected = false;
        sessionRoot = root;
        sentInSession = 0;
        ackedInSession = 0;
        session = ++generation;
    }
    if (!handle) {
        failed(session, tr("Client konnte nicht angelegt werden"));
        return;
    }
    mosquitto_connect_callback_set(handle, onConnect);
    mosquitto_disconnect_callback_set(handle, onDisconnect);
    mosquitto_publish_callback_set(handle, onPublish);
    mosquitto_log_callback_set(handle, onLog);
    // All messages go out at once; publishPosition() bounds what is unacknowledged.
    mosquitto_max_inflight_messages_set(handle, 0);
    const QByteArray willTopic = MqttPayload::statusTopic(root).toUtf8();
    mosquitto_will_set(handle, willTopic.constData(), 7, "offline", 1, true);
    const QByteArray user = s.user.toUtf8();
    const QByteArray password = s.password.toUtf8();
    if (!s.user.isEmpty())
        mosquitto_username_pw_set(handle, user.constData(), s.password.isEmpty() ? nullptr : password.constData());
    if (s.tls) {
        const QByteArray caFile = QFile::encodeName(s.caFile);
        if (s.caFile.isEmpty())
            mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (mosquitto_tls_set(handle, s.caFile.isEmpty() ? nullptr : caFile.constData(), nullptr, nullptr, nullptr,
                              nullptr) != MOSQ_ERR_SUCCESS) {
            failed(session, tr("CA-Datei nicht lesbar"), true);
            return;
        }
    }
    setStatus(tr("MQTT: verbinde mit %1:%2 …").arg(s.host).arg(s.port));
    const QByteArray host = s.host.trimmed().toUtf8();
    const int rc = mosquitto_connect_async(handle, host.constData(), s.port, KeepAliveSeconds);
    startLoop(handle, session, rc, errno);
}

void MqttPublisher::startLoop(mosquitto* handle, quint64 session, int rc, int error)
{
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_loop_start(handle);
    if (rc != MOSQ_ERR_SUCCESS)
        failed(session, connectReason(rc, error));
    else
        connectTimer->start(ConnectTimeoutMs);
}

void MqttPublisher::reconnectNow(mosquitto* handle, const MqttSettings& s)
{
    quint64 session;
    {
        QMutexLocker locker(&lock);
        session = ++generation;
    }
    // The library's thread of the broken connection ends here (it would
    // otherwise retry at its own pace); its unacknowledged messages stay.
    mosquitto_disconnect(handle);
    mosquitto_loop_stop(handle, false);
    setStatus(tr("MQTT: verbinde mit %1:%2 …").arg(s.host).arg(s.port));
    const int rc = mosquitto_reconnect_async(handle);
    startLoop(handle, session, rc, errno);
}

void MqttPublisher::failed(quint64 session, const QString& reason, bool dropHandle)
{
    mosquitto* handle;
    {
        QMutexLocker locker(&lock);
        // An attempt that has been given up already, or whose failure was
        // told (a refused login is followed by the broker closing the socket).
        if (session != generation || !mosq || session == failedGeneration)
            return;
        failedGeneration = session;
        connected = false;
        handle = mosq;
    }
    // The handle stays, and with it what the library still has to send;
    // a handle that cannot be set up as configured goes.
    if (dropHandle)
        teardown(false);
    else
        mosquitto_disconnect(handle);
    connectTimer->stop();
    const int delay = retryDelayMs(failures++);
    setStatus(tr("MQTT: getrennt – %1 (neuer Versuch in %2 s)").arg(reason).arg(delay / 1000));
    retryTimer->start(delay);
}

void MqttPublisher::teardown(bool sayOffline)
{
    mosquitto* handle;
    bool wasConnected;
    QString root;
    {
        QMutexLocker locker(&lock);
        handle = mosq;
        wasConnected = connected;
        root = sessionRoot;
        mosq = nullptr;
        connected = false;
    }
    if (!handle)
        return;
    if (wasConnected) {
        quint64 sent;
        {
            QMutexLocker locker(&lock);
            sent = sentInSession;
        }
        if (sayOffline) {
            // A clean disconnect makes the broker forget the last will: say it ourselves.
            const QByteArray topic = MqttPayload::statusTopic(root).toUtf8();
            if (mosquitto_publish(handle, nullptr, topic.constData(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS)
                ++sent;
        }
        // Closing the socket while acknowledgements are still unread makes the
        // kernel reset the connection, and the broker throws away what it has
        // received but not read yet: the last messages. So wait for them.
        QElapsedTimer waited;
        waited.start();
        while (ackedInSession.load() < sent && waited.elapsed() < DrainTimeoutMs)
            QThread::msleep(1);
    }
    // Written after what is queued; the library's thread ends once it is out.
    mosquitto_disconnect(handle);
    mosquitto_loop_stop(handle, false);
    mosquitto_destroy(handle);
}

// ---------------------------------------------------------------- libmosquitto's thread

void MqttPublisher::onConnect(mosquitto* handle, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    quint64 session;
    {
        QMutexLocker locker(&p->lock);
        if (handle != p->mosq)
            return;
        session = p->generation;
        if (rc == 0) {
            p->connected = true;
            mosquitto_log_callback_set(handle, nullptr);
            p->publishLocked(MqttPayload::statusTopic(p->sessionRoot), QByteArrayLiteral("online"), true);
            if (!p->anchorsPayload.isEmpty())
                p->publishLocked(MqttPayload::anchorsTopic(p->sessionRoot), p->anchorsPayload, true);
            if (p->startedMs == 0)
                p->startedMs = QDateTime::currentMSecsSinceEpoch();
            p->publishInfoLocked();
            for (auto it = p->zoneConfigs.constBegin(); it != p->zoneConfigs.constEnd(); ++it)
                p->publishLocked(MqttPayload::zoneTopic(p->sessionRoot, it.key(), "config"), it.value(), true);
            for (auto it = p->zoneOccupancy.constBegin(); it != p->zoneOccupancy.constEnd(); ++it)
                p->publishLocked(MqttPayload::zoneTopic(p->sessionRoot, it.key(), "occupancy"), it.value(), true);
        }
    }
    if (rc == 0) {
        QMetaObject::invokeMethod(p->worker, [p, session] {
            {
                QMutexLocker locker(&p->lock);
                if (session != p->generation || !p->connected)
                    return;
            }
            p->failures = 0;
            p->setStatus(tr("MQTT: verbunden"));
        }, Qt::QueuedConnection);
        return;
    }
    // The library would retry at its own pace; the back-off is ours.
    mosquitto_disconnect(handle);
    const QString reason = refusalReason(rc);
    QMetaObject::invokeMethod(p->worker, [p, session, reason] { p->failed(session, reason); }, Qt::QueuedConnection);
}

void MqttPublisher::onDisconnect(mosquitto* handle, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    quint64 session;
    QString reason;
    {
        QMutexLocker locker(&p->lock);
        // Our own disconnects come after the handle was given up.
        if (handle != p->mosq)
            return;
        session = p->generation;
        reason = p->connected ? tr("Verbindung verloren")
                 : rc == MOSQ_ERR_TLS ? tr("TLS-Fehler (Zertifikat oder CA-Datei?)")
                 : rc == MOSQ_ERR_KEEPALIVE ? tr("keine Antwort vom Broker")
                 : tr("Broker nicht erreichbar");
        p->connected = false;
    }
    mosquitto_disconnect(handle);
    QMetaObject::invokeMethod(p->worker, [p, session, reason] { p->failed(session, reason); }, Qt::QueuedConnection);
}

void MqttPublisher::onPublish(mosquitto*, void* self, int)
{
    ++static_cast<MqttPublisher*>(self)->ackedInSession;
}

void MqttPublisher::onLog(mosquitto* handle, void* self, int level, const char* text)
{
    // A certificate the CA file does not vouch for ends the library's thread
    // with this log line and no disconnect callback.
    if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0)
        return;
    auto* p = static_cast<MqttPublisher*>(self);
    quint64 session;
    {
        QMutexLocker locker(&p->lock);
        if (handle != p->mosq || p->connected)
            return;
        session = p->generation;
    }
    const QString detail = QString::fromUtf8(text).section(QLatin1Char(':'), -1).trimmed();
    const QString reason = tr("TLS-Fehler (%1)").arg(detail);
    QMetaObject::invokeMethod(p->worker, [p, session, reason] { p->failed(session, reason); }, Qt::QueuedConnection);
}
