// The MQTT stream against mosquitto brokers of the test's own on 127.0.0.1.
#include "batchreplay.h"
#include "mainwin.h"
#include "mqttdialog.h"
#include "mqttpayload.h"
#include "settingsfile.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <mosquitto.h>

#include <netinet/in.h>
#include <pwd.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <memory>

namespace {

struct Message { QString topic; QByteArray payload; bool retained; };

// A QoS 1 subscriber on libmosquitto's own thread; with an id, its session
// (and what the broker queues for it) outlives a broker restart.
struct Subscriber {
    mosquitto* m;
    std::atomic<bool> subscribed{false};
    mutable QMutex lock;
    QList<Message> got;

    explicit Subscriber(int port, const QString& caFile = QString(), const char* id = nullptr)
        : m(mosquitto_new(id, !id, this))
    {
        if (!caFile.isEmpty())
            mosquitto_tls_set(m, caFile.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* s, int, int, const int*) {
            static_cast<Subscriber*>(s)->subscribed = true;
        });
        mosquitto_message_callback_set(m, [](mosquitto*, void* s, const mosquitto_message* msg) {
            auto* self = static_cast<Subscriber*>(s);
            QMutexLocker l(&self->lock);
            self->got.append({msg->topic, QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), msg->retain});
        });
        mosquitto_connect(m, "127.0.0.1", port, 30);
        mosquitto_subscribe(m, nullptr, "orvane/#", 1);
        mosquitto_loop_start(m);
        waitUntil([&] { return subscribed.load(); }, 5000);
    }
    ~Subscriber() { mosquitto_disconnect(m), mosquitto_loop_stop(m, false), mosquitto_destroy(m); }
    QList<Message> messages(const QString& topicPart = QString()) const
    {
        QMutexLocker l(&lock);
        QList<Message> out;
        std::copy_if(got.begin(), got.end(), std::back_inserter(out), [&](const Message& m) { return m.topic.contains(topicPart); });
        return out;
    }
    // The topic's latest message becomes `payload`.
    bool waitFor(const QString& topic, const QByteArray& payload) const
    {
        return waitUntil([&] { return messages(topic).value(messages(topic).size() - 1).payload == payload; }, 5000);
    }
};

MqttSettings brokerAt(int port)
{
    MqttSettings s;
    s.enabled = true, s.host = "127.0.0.1", s.port = port;
    return s;
}

const QList<Anchor> Room = {Anchor("1A2B", "Master", Qt::red, 0, 0, 0, true, 0),
                            Anchor("3C4D", "Ost", Qt::blue, 1000, 0, 0, false, 0),
                            Anchor("5E6F", "Nordost", Qt::green, 1000, 800, 0, false, 0),
                            Anchor("7A80", "Nord", Qt::black, 0, 800, 0, false, 0)};

bool connectTo(MqttPublisher& publisher, const MqttSettings& settings)
{
    publisher.setAnchors(Room);
    publisher.configure(settings);
    return waitUntil([&] { return publisher.isConnected(); }, 5000);
}

QJsonObject json(const QByteArray& payload) { return QJsonDocument::fromJson(payload).object(); }

} // namespace

Q_DECLARE_METATYPE(PositionMessage)

class TestMqtt : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void payload_data();
    void payload();
    void replayPublishes();
    void zoneTopics();
    void lastWill();
    void loginRefusedDialogAndSettings();
    void brokerRestart();
    void fullRate();
    void tls();
};

void TestMqtt::initTestCase()
{
    // CI installs them (scripts/setup.sh test): missing is a failure, not a skip.
    for (const char* name : {"mosquitto", "mosquitto_passwd", "openssl"})
        QVERIFY2(!tool(name).isEmpty(), qPrintable(QString("%1 missing: run scripts/setup.sh test").arg(name)));
}

void TestMqtt::payload_data()
{
    QTest::addColumn<PositionMessage>("message");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("winter, all values")
        << PositionMessage{"1a2b ", "2b01", "Läufer", 1796634930120, 120, -45, 118, -40, 1.23456, 10.5, 4.24, 3.06, 10.66, -0.25} << "orvane"
        << "orvane/1A2B/tags/2B01/position"
        << QByteArray(R"({"master":"1A2B","tag":"2B01","name":"Läufer","time":"2026-12-07T10:15:30.120+01:00",)"
                      R"("x_cm":120,"y_cm":-45,"raw_x_cm":118,"raw_y_cm":-40,"speed_mps":1.235,"rate_hz":10.500,)"
                      R"("sigma_x_cm":4.2,"sigma_y_cm":3.1,"r95_cm":10.7,"rho_xy":-0.250})");
    QTest::newRow("summer, absent values, reserved characters")
        << PositionMessage{"", "a/b#+", "Tag \"A\"\\\n", 1782885600000, {}, {}, 7, 0, {}, NAN, {}, {}, {}, {}} << "/site+/x#/"
        << "site/x/_/tags/A_B__/position"
        << QByteArray(R"({"master":"","tag":"A/B#+","name":"Tag \"A\"\\\u000a","time":"2026-07-01T08:00:00.000+02:00",)"
                      R"("x_cm":null,"y_cm":null,"raw_x_cm":7,"raw_y_cm":0,"speed_mps":null,"rate_hz":null,)"
                      R"("sigma_x_cm":null,"sigma_y_cm":null,"r95_cm":null,"rho_xy":null})");
}

void TestMqtt::payload()
{
    QFETCH(PositionMessage, message);
    QFETCH(QString, prefix);
    QFETCH(QString, topic);
    QFETCH(QByteArray, json);
    QCOMPARE(MqttPayload::positionTopic(MqttPayload::root(prefix, message.master), message.tag), topic);
    QCOMPARE(MqttPayload::positionJson(message), json);
    QVERIFY(QJsonDocument::fromJson(json).isObject());
}

// A replayed recording reaches the broker row for row as the CSV export has it;
// status, anchors and each tag's last position stay retained for late subscribers.
void TestMqtt::replayPublishes()
{
    Broker broker;
    QVERIFY(broker.start());
    RecordingWriter recording;
    QVERIFY(recording.open(broker.path("walk.orec")));
    for (int ms = 0; ms < 3000; ms += 50) {   // 10 lines per second and tag: one walks, one stands
        const bool walker = ms % 100 == 0;
        QByteArray line = walker ? "$PD,2B01" : "$PD,2B02";
        for (const Anchor& a : Room)
            line += ',' + QByteArray::number(qRound(walker ? std::hypot(a.x - 200 - ms / 10, a.y - 300)
                                                           : std::hypot(a.x - 700, a.y - 500)), 16);
        recording.append(quint32(ms), line + "\r\n");
    }
    recording.close();
    MainWin w;
    w.modules.anchors = Room;
    w.modules.tags = {Tag("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false),
                      Tag("2B02", "Steher", Qt::blue, false, true, false, false, false, false, false)};
    w.fillAnchorTable();
    Subscriber live(broker.port);
    w.mqttPublisher().configure(brokerAt(broker.port));
    QVERIFY(waitUntil([&] { return w.mqttPublisher().isConnected(); }, 5000));
    QVERIFY(w.startReplay(broker.path("walk.orec"), 0));
    QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 20000));

    const QList<QByteArray> rows = readFileBytes(broker.path("walk.replay-avg10.csv")).trimmed().split('\n').mid(1);
    QVERIFY(rows.size() > 40);
    QVERIFY(waitUntil([&] { return live.messages("/position").size() >= rows.size(); }, 10000));
    const QList<Message> positions = live.messages("/position");
    QCOMPARE(positions.size(), rows.size());
    QHash<QString, QByteArray> last;
    for (int i = 0; i < rows.size(); ++i) {
        // time,tag_id,tag_name,raw_x_cm,raw_y_cm,avg_x_cm,avg_y_cm,speed_mps,rate_hz,rec_ms
        const QStringList csv = QString::fromUtf8(rows.at(i)).split(',');
        const QJsonObject o = json(positions.at(i).payload);
        QCOMPARE(positions.at(i).topic, "orvane/1A2B/tags/" + csv[1] + "/position");
        QCOMPARE(QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs), QDateTime::fromString(csv[0], Qt::ISODateWithMs));
        QStringList got = {o["master"].toString(), o["tag"].toString(), o["name"].toString()};
        for (const char* key : {"raw_x_cm", "raw_y_cm", "x_cm", "y_cm", "speed_mps", "rate_hz"})   // the CSV's text
            got << (o[key].isNull() ? QString() : got.size() < 7 ? QString::number(o[key].toInt())
                                                                  : QString::number(o[key].toDouble(), 'f', 3));
        QCOMPARE(got, QStringList{"1A2B"} + csv.mid(1, 8));
        QVERIFY(!o["raw_x_cm"].isNull());   // also for "Steher", whose raw position is not shown
        QStringList sigmas;   // the export's last columns, for every averaged position
        for (const char* key : {"sigma_x_cm", "sigma_y_cm", "r95_cm"})
            sigmas << (o[key].isNull() ? QString() : QString::number(o[key].toDouble(), 'f', 1));
        QCOMPARE(sigmas, csv.mid(csv.size() - 4, 3));
        QCOMPARE(sigmas.at(2).isEmpty(), csv[5].isEmpty());
        last[csv[1]] = positions.at(i).payload;
    }

    Subscriber late(broker.port);   // gets what is retained
    QVERIFY(waitUntil([&] { return late.messages().size() == 5; }, 5000));
    QCOMPARE(late.messages("orvane/1A2B/status").value(0).payload, QByteArray("online"));
    QCOMPARE(late.messages("orvane/1A2B/tags/2B01/last").value(0).payload, last["2B01"]);
    QCOMPARE(late.messages("orvane/1A2B/tags/2B02/last").value(0).payload, last["2B02"]);
    const QJsonArray anchors = json(late.messages("orvane/1A2B/anchors").value(0).payload)["anchors"].toArray();
    QCOMPARE(anchors.size(), 4);
    QCOMPARE(anchors[2].toObject(), json(R"({"id":"5E6F","name":"Nordost","x_cm":1000,"y_cm":800,"z_cm":0,"master":false})"));
    w.modules.anchors[1].x = 900;   // moved: the room goes out again
    w.fillAnchorTable();
    QVERIFY(waitUntil([&] { return late.messages("/anchors").size() == 2; }, 5000));
    QCOMPARE(json(late.messages("/anchors").last().payload)["anchors"].toArray()[1].toObject()["x_cm"].toInt(), 900);
    // The kit's info for a site view: name (the master's id until one is given), extent, tags, start.
    const QJsonObject info = json(late.messages("orvane/1A2B/info").value(0).payload);
    QCOMPARE(info["kit"].toString(), QString("1A2B"));
    QCOMPARE(info["bbox"].toObject(), json(R"({"min_x_cm":0,"min_y_cm":0,"max_x_cm":1000,"max_y_cm":800})"));
    QCOMPARE(info["tags"].toArray()[1].toObject(), json(R"({"id":"2B02","name":"Steher","color":"#0000ff"})"));
    QVERIFY(qAbs(QDateTime::fromString(info["started"].toString(), Qt::ISODateWithMs).secsTo(QDateTime::currentDateTime())) < 60);
    MqttSettings named = brokerAt(broker.port);
    named.kitName = "Halle 2";
    w.mqttPublisher().configure(named);
    QVERIFY(waitUntil([&] { return json(late.messages("/info").last().payload)["kit"].toString() == "Halle 2"; }, 5000));
    QCOMPARE(late.messages("/status").size(), 1);   // renamed without a new connection
    // Switched off, the program says "offline" itself (a clean goodbye drops the will).
    w.mqttPublisher().configure(MqttSettings());
    QVERIFY(late.waitFor("/status", "offline"));
    // The batch mode publishes the very same positions.
    SettingsData setup;
    setup.anchors = Room;
    setup.tags = w.modules.tags;
    QVERIFY(writeSettingsFile(broker.path("room.cfg"), setup));
    BatchReplay batch;
    QString error;
    QVERIFY2(batch.run({broker.path("walk.orec"), broker.path("room.cfg"), broker.path("b.csv"), {}, 0, "127.0.0.1", broker.port},
                       &error), qPrintable(error));
    QCOMPARE(batch.published(), quint64(rows.size()));
    QVERIFY(waitUntil([&] { return live.messages("/position").size() == 2 * rows.size(); }, 10000));
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(live.messages("/position").at(rows.size() + i).payload, positions.at(i).payload);
}

// The batch mode's zone events reach the broker as the CSV has them, shaped
// like omlox fence events; occupancy and config stay retained; a zone gone
// has them cleared.
void TestMqtt::zoneTopics()
{
    Broker broker;
    QVERIFY(broker.start());
    RecordingWriter recording;
    QVERIFY(recording.open(broker.path("walk.orec")));
    for (int ms = 0; ms < 6000; ms += 100) {   // x from 200 to 790 cm, over x = 400 at 2 s
        QByteArray line = "$PD,2b01";
        for (const Anchor& a : Room)
            line += ',' + QByteArray::number(qRound(std::hypot(a.x - 200 - ms / 10, a.y - 300)), 16);
        recording.append(quint32(ms), line + "\r\n");
    }
    recording.close();
    SettingsData setup;
    setup.anchors = Room;
    setup.tags = {Tag("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false)};
    const QPolygonF east(QVector<QPointF>{{400, 0}, {1000, 0}, {1000, 800}, {400, 800}});
    setup.zones = {Zone{"Lager/Süd", QColor("#102030"), east, 0, true}, Zone{"Hof", Qt::red, east.translated(2000, 0), 0, true}};
    QVERIFY(writeSettingsFile(broker.path("room.cfg"), setup));
    Subscriber live(broker.port);
    BatchReplayOptions options;
    options.recording = broker.path("walk.orec");
    options.settings = broker.path("room.cfg");
    options.events = broker.path("events.csv");
    options.mqttHost = "127.0.0.1";
    options.mqttPort = broker.port;
    BatchReplay batch;
    QString error;
    QVERIFY2(batch.run(options, &error), qPrintable(error));
    const QList<QByteArray> rows = readFileBytes(options.events).trimmed().split('\n');
    QCOMPARE(rows.size(), 2);
    const QList<QByteArray> csv = rows[1].split(',');   // time,rec_ms,tag_id,tag_name,zone,event,x_cm,y_cm,...
    QVERIFY(waitUntil([&] { return live.messages("/events").size() == 1; }, 5000));
    const Message event = live.messages("/events").first();
    QCOMPARE(event.topic, QString("orvane/1A2B/zones/Lager_Süd/events"));
    QVERIFY(!event.retained);
    const QJsonObject o = json(event.payload);
    QCOMPARE(QDateTime::fromString(o["entry_time"].toString(), Qt::ISODateWithMs),
             QDateTime::fromString(QString(csv[0]), Qt::ISODateWithMs));
    QVERIFY(o["entry_time"].toString().contains(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d[+-]")));
    QVERIFY(o.contains("exit_time") && o["exit_time"].isNull());
    QCOMPARE(QStringList({o["event_type"].toString(), o["fence_id"].toString(), o["fence_name"].toString(),
                          o["trackable_id"].toString(), o["tag_name"].toString(), QString::number(o["x_cm"].toInt()),
                          QString::number(o["y_cm"].toInt()), o["reason"].toString(), QString::number(o["seq"].toInt())}),
             QStringList({"region_entry", "Lager_Süd", "Lager/Süd", "2B01", "Läufer", QString(csv[6]), QString(csv[7]),
                          "boundary", "1"}));
    QVERIFY(std::abs(csv[1].toInt() - 2000) <= 700);   // the average lags the walk a little

    Subscriber late(broker.port);   // the retained ones
    QVERIFY(waitUntil([&] { return late.messages("/zones/").size() == 4; }, 5000));
    QCOMPARE(late.messages("orvane/1A2B/zones/Hof/occupancy").value(0).payload, QByteArray(R"({"zone":"Hof","count":0,"tag_ids":[]})"));
    QCOMPARE(late.messages("orvane/1A2B/zones/Lager_Süd/occupancy").value(0).payload,
             QByteArray(R"({"zone":"Lager/Süd","count":1,"tag_ids":["2B01"]})"));
    QCOMPARE(late.messages("orvane/1A2B/zones/Hof/config").value(0).payload,
             QByteArray(R"({"name":"Hof","color":"#ff0000","dwell_s":0,"polygon":[[2400,0],[3000,0],[3000,800],[2400,800]]})"));
    QVERIFY(late.messages("orvane/1A2B/zones/Lager_Süd/config").value(0).retained);
    // A zone removed: its retained topics are emptied.
    MqttPublisher publisher;
    QVERIFY(connectTo(publisher, brokerAt(broker.port)));
    publisher.setZones(setup.zones);
    publisher.setZones({setup.zones[1]});
    QVERIFY(late.waitFor("orvane/1A2B/zones/Lager_Süd/config", QByteArray()));
    QVERIFY(late.waitFor("orvane/1A2B/zones/Lager_Süd/occupancy", QByteArray()));
}

// A publisher killed outright leaves "offline" behind through the broker's last will.
void TestMqtt::lastWill()
{
    Broker broker;
    QVERIFY(broker.start());
    Subscriber sub(broker.port);
    QProcess child;   // this very test, run as a publisher (see main)
    qputenv("ORVANE_MQTT_CHILD_PORT", QByteArray::number(broker.port));
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    qunsetenv("ORVANE_MQTT_CHILD_PORT");
    QVERIFY(sub.waitFor("orvane/1A2B/status", "online"));
    child.kill();   // SIGKILL: no chance to say goodbye
    QVERIFY(child.waitForFinished());
    QVERIFY(sub.waitFor("orvane/1A2B/status", "offline"));
    Subscriber late(broker.port);
    QVERIFY(late.waitFor("orvane/1A2B/status", "offline") && late.messages("/status").last().retained);
}

// A refused login from the dialog: a status text per attempt, no box. The password never reaches a settings file; an old file switches MQTT off.
void TestMqtt::loginRefusedDialogAndSettings()
{
    Broker broker;
    QCOMPARE(QProcess::execute(tool("mosquitto_passwd"), {"-b", "-c", broker.path("passwd"), "orvane", "geheim"}), 0);
    broker.options = "allow_anonymous false\npassword_file " + broker.path("passwd");
    QVERIFY(broker.start());
    MainWin w;
    w.modules.anchors = Room;
    w.fillAnchorTable();
    ModalAnswerer boxes;
    auto* label = w.findChild<QLabel*>("lblMqttStatus");
    const auto configure = [&](const QString& password) {
        return runModalDialog<MqttDialog>(boxes, findButton(&w, "btnMqtt"), [&](MqttDialog* d) {
            d->findChild<QCheckBox*>("chkEnabled")->setChecked(true);
            d->findChild<QLineEdit*>("edtHost")->setText("127.0.0.1");
            d->findChild<QLineEdit*>("edtPort")->setText(QString::number(broker.port));
            d->findChild<QLineEdit*>("edtUser")->setText("orvane");
            d->findChild<QLineEdit*>("edtPassword")->setText(password);
            d->findChild<QLineEdit*>("edtKitName")->setText("Halle 2");
            findButton(d, "btnOk")->click();
        });
    };
    QVERIFY(configure("falsch"));
    QVERIFY(waitUntil([&] { return label->text().endsWith("(neuer Versuch in 2 s)"); }, 10000));   // refused twice
    QVERIFY2(label->text().startsWith("MQTT: getrennt – Anmeldung abgelehnt"), qPrintable(label->text()));
    QVERIFY(!label->isHidden() && boxes.seen.isEmpty());
    const QString userConfig = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Fenwright", "Orvane").fileName();
    QVERIFY(readFileBytes(userConfig).contains("falsch"));
    QCOMPARE(QFileInfo(userConfig).permissions() & 0x0077, QFile::Permissions());

    qputenv("ORVANE_MQTT_PASSWORD", "geheim");   // wins over the stored one
    QVERIFY(configure(QString()));
    qunsetenv("ORVANE_MQTT_PASSWORD");
    QVERIFY(waitUntil([&] { return label->text() == "MQTT: verbunden"; }, 5000));
    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return broker.path("setup.cfg"); });
    findButton(&w, "btnSaveSettings")->click();
    const QByteArray file = readFileBytes(broker.path("setup.cfg"));
    for (const QString& line : {QString("MQTT-Enabled=true"), QString("MQTT-Host=127.0.0.1"), QString("MQTT-User=orvane"), QString("KitName=Halle 2"),
                                QString("MQTT-Port=%1").arg(broker.port)})
        QVERIFY2(file.contains(line.toUtf8() + '\n'), qPrintable(line));
    QVERIFY(!file.contains("geheim") && !file.contains("falsch"));

    writeFileBytes(broker.path("old.cfg"), "[General]\nAnchorCount=0\nTagCount=0\n");
    w.setFileChoosers([&](const QString&, const QString&) { return broker.path("old.cfg"); }, nullptr);
    findButton(&w, "btnLoadSettings")->click();
    QVERIFY(waitUntil([&] { return label->text() == "MQTT: aus"; }, 5000));
    QVERIFY(label->isHidden() && !w.mqttPublisher().isEnabled());
    QCOMPARE(boxes.seen.size(), 1);   // only the reminder that comes with loading
}

// The broker vanishes mid-stream and comes back: positions are dropped while
// it is away, not queued; attempts back off 1, 2, 4 s; the caller's thread
// never waits. What was handed over before it went arrives all the same: the
// unacknowledged messages are sent again, and a stopped broker keeps what it
// queued for a persistent subscriber, with the publisher's last will.
void TestMqtt::brokerRestart()
{
    Broker broker;
    broker.options += "\npersistence true\npersistence_location " + broker.dir.path() + "/\n";
    QVERIFY(broker.start());
    MqttPublisher publisher;
    QStringList statuses;
    connect(&publisher, &MqttPublisher::statusChanged, this, [&](const QString& s) { statuses << s; });
    QVERIFY(connectTo(publisher, brokerAt(broker.port)));
    auto sub = std::make_unique<Subscriber>(broker.port, QString(), "tst-mqtt-counter");
    QVERIFY(sub->waitFor("/status", "online"));
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, worstGap = 0, sequence = 0;
    QTimer pass;   // stands in for the chart pass
    connect(&pass, &QTimer::timeout, this, [&] {
        worstGap = qMax(worstGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
        // Two passes in one millisecond (a loaded machine) must not look like one repeated message.
        publisher.publishPosition({"", "2B01", "", ++sequence, 1, 0, {}, {}, 0.0, 10.0, {}, {}, {}, {}});
    });
    pass.start(10);
    waitUntil([] { return false; }, 300);
    // Held still, the broker acknowledges nothing more; then it is stopped.
    ::kill(broker.process.processId(), SIGSTOP);
    waitUntil([] { return false; }, 300);
    QVERIFY(publisher.unacknowledged() > 20);
    ::kill(broker.process.processId(), SIGTERM);
    ::kill(broker.process.processId(), SIGCONT);
    QVERIFY(broker.process.waitForFinished(5000));
    QVERIFY(waitUntil([&] { return statuses.value(statuses.size() - 1).endsWith("(neuer Versuch in 4 s)"); }, 10000));
    QCOMPARE(statuses.filter("Verbindung verloren").size(), 1);
    QCOMPARE(statuses.filter("neuer Versuch").replaceInStrings(QRegularExpression(".*neuer Versuch in "), ""),
             QStringList({"1 s)", "2 s)", "4 s)"}));
    const MqttPublisher::Counts down = publisher.counts();
    waitUntil([] { return false; }, 300);
    QVERIFY(publisher.counts().dropped > down.dropped);
    QCOMPARE(publisher.counts().published, down.published);

    QVERIFY(broker.start());
    QVERIFY(waitUntil([&] { return publisher.isConnected(); }, 6000));   // the next attempt, at most 4 s on
    QVERIFY(waitUntil([&] { return sub->messages("/position").size() > int(down.published) + 10; }, 5000));
    pass.stop();
    QVERIFY(waitUntil([&] { return publisher.unacknowledged() == 0; }, 5000));
    const auto distinct = [&] {   // acknowledged by the broker need not mean delivered yet
        QSet<QByteArray> d;
        for (const Message& m : sub->messages("/position"))
            d.insert(m.payload);
        return int(d.size());
    };
    waitUntil([&] { return distinct() == int(publisher.counts().published); }, 5000);
    QCOMPARE(distinct(), int(publisher.counts().published));
    // "offline" by the will the broker sent on its way down, before the publisher is back.
    QStringList said;   // at least once: a repetition may come
    for (const Message& m : sub->messages("/status"))
        if (said.value(said.size() - 1) != m.payload)
            said << m.payload;
    QVERIFY2(said == QStringList({"online", "offline", "online"}), qPrintable(said.join(' ')));
    QVERIFY2(worstGap < 1000, qPrintable(QString("%1 ms without a pass").arg(worstGap)));
}

// The full link rate, 2000 positions per second across four tags, arrives whole
// and in order at QoS 1; so does a burst (a fast replay) cut off by closing.
void TestMqtt::fullRate()
{
    Broker broker;
    QVERIFY(broker.start());
    Subscriber sub(broker.port);
    auto publisher = std::make_unique<MqttPublisher>();
    QVERIFY(connectTo(*publisher, brokerAt(broker.port)));
    const int paced = 6000, total = paced + 4000;
    int sent = 0;
    const auto publish = [&] {
        publisher->publishPosition({"", QString("2B0%1").arg(sent % 4), "", 0, sent, 0, {}, {}, 0.0, 500.0, {}, {}, {}, {}});
    };
    QElapsedTimer clock;
    clock.start();
    QTimer pass;
    connect(&pass, &QTimer::timeout, this, [&] {
        for (const qint64 due = qMin<qint64>(paced, clock.elapsed() * 2); sent < due; ++sent)
            publish();
    });
    pass.start(10);
    QVERIFY(waitUntil([&] { return sent == paced; }, 20000));
    pass.stop();
    for (; sent < total; ++sent)
        publish();
    QCOMPARE(publisher->counts().dropped, quint64(0));
    publisher.reset();
    QVERIFY(waitUntil([&] { return sub.messages("/position").size() >= total; }, 10000));
    int next[4] = {0, 1, 2, 3};   // per tag, the position expected next
    for (const Message& m : sub.messages("/position")) {
        const int x = json(m.payload)["x_cm"].toInt();
        QVERIFY2(m.topic.endsWith(QString("2B0%1/position").arg(x % 4)) && x == next[x % 4], qPrintable(m.topic));
        next[x % 4] += 4;
    }
}

// TLS against a throw-away CA: a foreign CA gives a status text, the right one connects.
void TestMqtt::tls()
{
    Broker broker;
    // Split before the folder goes in: it may hold blanks.
    const auto ssl = [&](const QString& args) {
        return QProcess::execute(tool("openssl"), args.split(' ').replaceInStrings("@", broker.dir.path())) == 0;
    };
    const QString key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout @/";
    writeFileBytes(broker.path("san.ext"), "subjectAltName=IP:127.0.0.1\n");
    QVERIFY(ssl("req -x509 -days 1 " + key + "ca.key -out @/ca.crt -subj /CN=Test-CA"));
    QVERIFY(ssl("req -x509 -days 1 " + key + "other.key -out @/other.crt -subj /CN=Other-CA"));
    QVERIFY(ssl("req " + key + "server.key -out @/server.csr -subj /CN=127.0.0.1"));
    QVERIFY(ssl("x509 -req -in @/server.csr -CA @/ca.crt -CAkey @/ca.key -CAcreateserial -days 1 -extfile @/san.ext "
                "-out @/server.crt"));
    broker.options = QString("cafile @/ca.crt\ncertfile @/server.crt\nkeyfile @/server.key\nallow_anonymous true")
                         .replace("@", broker.dir.path());
    QVERIFY(broker.start());
    Subscriber sub(broker.port, broker.path("ca.crt"));
    MqttPublisher publisher;
    MqttSettings s = brokerAt(broker.port);
    s.tls = true;
    s.caFile = broker.path("other.crt");
    publisher.setAnchors(Room);
    publisher.configure(s);
    QVERIFY2(waitUntil([&] { return publisher.statusText().startsWith("MQTT: getrennt – TLS-Fehler"); }, 5000),
             qPrintable(publisher.statusText()));
    s.caFile = broker.path("ca.crt");
    QVERIFY(connectTo(publisher, s));
    publisher.publishPosition({"", "2B01", "Läufer", 0, 1, 2, 3, 4, 0.5, 10.0, {}, {}, {}, {}});
    QVERIFY(waitUntil([&] { return sub.messages("/position").size() == 1; }, 5000));
    QCOMPARE(json(sub.messages("/position").first().payload)["name"].toString(), QString("Läufer"));
}

int main(int argc, char** argv)
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");   // Central European time, without the zone database
    if (const int port = qEnvironmentVariableIntValue("ORVANE_MQTT_CHILD_PORT")) {
        // lastWill()'s child: publishes until it is killed.
        QCoreApplication app(argc, argv);
        MqttPublisher publisher;
        publisher.setAnchors(Room);
        publisher.configure(brokerAt(port));
        return app.exec();
    }
    QTemporaryDir home;   // the user's own configuration, where the password goes
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    TestMqtt test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mqtt.moc"
