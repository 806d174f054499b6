#include "sitelogrun.h"

#include "mqttpassword.h"
#include "sitefile.h"
#include "sitelog.h"
#include "sitemodel.h"
#include "sitesubscriber.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QTimer>

bool SiteLogRun::run(const SiteLogOptions& given, QString* error, QStringList* warnings)
{
    SiteFileData site;
    if (!given.siteFile.isEmpty() && !readSiteFile(given.siteFile, site, warnings)) {
        *error = QStringLiteral("cannot read the site file %1").arg(given.siteFile);
        return false;
    }
    MqttSettings broker = site.mqtt;
    broker.host = given.host;
    if (given.port > 0)
        broker.port = given.port;
    broker.password = MqttPassword::load(broker.host, broker.user);

    SiteModel model;
    model.setPlacements(site);
    SiteLog log;
    SiteSubscriber subscriber;
    const auto drain = [&] {
        for (const SiteSubscriber::Received& r : subscriber.take())
            model.apply(r.message, r.retained, r.recvMs);
    };
    // What arrives before the log is open waits in the subscriber.
    subscriber.start(broker);
    QEventLoop loop;
    QElapsedTimer waited;
    waited.start();
    while (!subscriber.isConnected() && !subscriber.hasFailed() && waited.elapsed() < ConnectTimeoutMs) {
        loop.processEvents(QEventLoop::AllEvents);
        QThread::msleep(5);
    }
    if (!subscriber.isConnected()) {
        const QString where = broker.host + QLatin1Char(':') + QString::number(broker.port);
        *error = QStringLiteral("cannot reach the MQTT broker %1 (%2)")
                     .arg(where, subscriber.hasFailed() ? subscriber.statusText() : QStringLiteral("no answer"));
        subscriber.stop();
        return false;
    }
    if (!log.open(given.output)) {
        *error = QStringLiteral("cannot write %1").arg(given.output);
        return false;
    }
    log.attach(model);
    QObject::connect(&subscriber, &SiteSubscriber::messagesArrived, &subscriber, drain);
    drain();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] { model.tick(QDateTime::currentMSecsSinceEpoch()); });
    tick.start(100);
    QTimer::singleShot(given.durationS * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    tick.stop();
    drain();
    subscriber.stop();
    receivedCount = subscriber.received();
    kitCount = model.kitOrder().size();
    refusedCount = model.refusedWithoutKit();
    for (const QString& id : model.kitOrder())
        refusedCount += model.kit(id)->refused;
    rowCount = log.rows();
    if (!log.close()) {
        *error = QStringLiteral("cannot write %1").arg(given.output);
        return false;
    }
    return true;
}
