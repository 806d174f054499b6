#include "sitesubscriber.h"

#include "mqttpayload.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>
#include <QRandomGenerator>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {
std::once_flag siteLibraryInitialised;
}

SiteSubscriber::SiteSubscriber(QObject* parent)
    : QObject(parent)
{
    std::call_once(siteLibraryInitialised, [] { mosquitto_lib_init(); });
    status = tr("MQTT: aus");
}

SiteSubscriber::~SiteSubscriber()
{
    stop();
}

QString SiteSubscriber::statusText() const
{
    QMutexLocker locker(&lock);
    return status;
}

void SiteSubscriber::setStatus(const QString& text)
{
    {
        QMutexLocker locker(&lock);
        if (status == text)
            return;
        status = text;
    }
    emit statusChanged(text);
}

void SiteSubscriber::stop()
{
    if (!mosq)
        return;
    mosquitto_disconnect(mosq);
    mosquitto_loop_stop(mosq, false);
    mosquitto_destroy(mosq);
    mosq = nullptr;
    connected = false;
    setStatus(tr("MQTT: aus"));
}

void SiteSubscriber::start(const MqttSettings& settings)
{
    stop();
    config = settings;
    prefix = MqttPayload::cleanPrefix(settings.prefix);
    everConnected = false;
    failedBeforeConnect = false;
    {
        QMutexLocker locker(&lock);
        pending.clear();
    }
    // A session of its own each time: what was sent while the view was away is history.
    const QByteArray id = "orvane-site-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    mosq = mosquitto_new(id.constData(), true, this);
    if (!mosq) {
        failedBeforeConnect = true;
        setStatus(tr("MQTT: getrennt – Client konnte nicht angelegt werden"));
        return;
    }
    mosquitto_connect_callback_set(mosq, onConnect);
    mosquitto_disconnect_callback_set(mosq, onDisconnect);
    mosquitto_subscribe_callback_set(mosq, onSubscribe);
    mosquitto_message_callback_set(mosq, onMessage);
    mosquitto_reconnect_delay_set(mosq, 1, 30, true);
    const QByteArray user = settings.user.toUtf8();
    const QByteArray password = settings.password.toUtf8();
    if (!settings.user.isEmpty())
        mosquitto_username_pw_set(mosq, user.constData(), settings.password.isEmpty() ? nullptr : password.constData());
    if (settings.tls) {
        const QByteArray caFile = QFile::encodeName(settings.caFile);
        if (settings.caFile.isEmpty())
            mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (mosquitto_tls_set(mosq, settings.caFile.isEmpty() ? nullptr : caFile.constData(), nullptr, nullptr, nullptr,
                              nullptr) != MOSQ_ERR_SUCCESS) {
            failedBeforeConnect = true;
            setStatus(tr("MQTT: getrennt – CA-Datei nicht lesbar"));
            return;
        }
    }
    setStatus(tr("MQTT: verbinde mit %1:%2 …").arg(settings.host).arg(settings.port));
    const QByteArray host = settings.host.trimmed().toUtf8();
    int rc = mosquitto_connect_async(mosq, host.constData(), settings.port, KeepAliveSeconds);
    const int error = errno;
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_ERRNO)
        rc = mosquitto_loop_start(mosq) == MOSQ_ERR_SUCCESS ? rc : MOSQ_ERR_UNKNOWN;
    if (rc != MOSQ_ERR_SUCCESS) {
        failedBeforeConnect = true;
        setStatus(tr("MQTT: getrennt – %1").arg(rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(error))
                                                                    : QString::fromUtf8(mosquitto_strerror(rc))));
    }
}

QVector<SiteSubscriber::Received> SiteSubscriber::take()
{
    QVector<Received> out;
    QMutexLocker locker(&lock);
    out.swap(pending);
    return out;
}

// ---------------------------------------------------------------- libmosquitto's thread

void SiteSubscriber::onConnect(mosquitto* m, void* self, int rc)
{
    auto* s = static_cast<SiteSubscriber*>(self);
    if (rc != 0) {
        if (!s->everConnected)
            s->failedBeforeConnect = true;
        s->setStatus(tr("MQTT: getrennt – Anmeldung abgelehnt (Code %1)").arg(rc));
        return;
    }
    const QByteArray p = s->prefix.toUtf8();
    for (const char* tail : {"/+/status", "/+/anchors", "/+/info", "/+/tags/+/position", "/+/zones/+/occupancy"})
        mosquitto_subscribe(m, nullptr, (p + tail).constData(), 1);
    // Where each tag was, once: the retained .../last. Live, it only repeats
    // .../position, so it is left again as soon as the broker has said yes.
    int mid = 0;
    mosquitto_subscribe(m, &mid, (p + "/+/tags/+/last").constData(), 1);
    s->lastSubscribeMid = mid;
    s->connected = true;
    s->everConnected = true;
    s->setStatus(tr("MQTT: verbunden"));
}

void SiteSubscriber::onSubscribe(mosquitto* m, void* self, int mid, int, const int*)
{
    auto* s = static_cast<SiteSubscriber*>(self);
    if (mid == s->lastSubscribeMid)
        mosquitto_unsubscribe(m, nullptr, (s->prefix.toUtf8() + "/+/tags/+/last").constData());
}

void SiteSubscriber::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* s = static_cast<SiteSubscriber*>(self);
    const bool was = s->connected.exchange(false);
    if (!s->everConnected)
        s->failedBeforeConnect = true;
    if (rc == 0)
        return;   // our own
    s->setStatus(was ? tr("MQTT: getrennt – Verbindung verloren (neuer Versuch läuft)")
                     : tr("MQTT: getrennt – Broker nicht erreichbar (neuer Versuch läuft)"));
}

void SiteSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* msg)
{
    auto* s = static_cast<SiteSubscriber*>(self);
    ++s->receivedCount;
    Received r;
    r.recvMs = QDateTime::currentMSecsSinceEpoch();
    r.retained = msg->retain;
    // The size is checked before anything is copied.
    const QByteArray topic = QByteArray::fromRawData(msg->topic, int(std::strlen(msg->topic)));
    const QByteArray payload = msg->payloadlen > SiteMessage::MaxPayloadBytes
                                   ? QByteArray(SiteMessage::MaxPayloadBytes + 1, ' ')
                                   : QByteArray::fromRawData(static_cast<const char*>(msg->payload), msg->payloadlen);
    r.message = SiteMessage::parse(s->prefix, topic, payload);
    if (r.message.kind == SiteMessage::Unrelated)
        return;
    bool first;
    {
        QMutexLocker locker(&s->lock);
        if (s->pending.size() >= MaxPending) {
            ++s->droppedCount;
            return;
        }
        first = s->pending.isEmpty();
        s->pending.append(std::move(r));
    }
    if (first)
        QMetaObject::invokeMethod(s, [s] { emit s->messagesArrived(); }, Qt::QueuedConnection);
}
