// The MQTT stream against real mosquitto brokers of the test's own on 127.0.0.1.
#include "mainwin.h"
#include "mqttdialog.h"
#include "mqttpayload.h"
#include "mqttpublisher.h"
#include "recording.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <mosquitto.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>

namespace {

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

QString tool(const QString& name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"});
}

// mosquitto on 127.0.0.1 and a free port, with a generated configuration.
struct Broker {
    QTemporaryDir dir;
    int port = freePort();
    QProcess process;
    QString extra = "allow_anonymous true";   // further listener options
    QString path(const char* name) const { return dir.filePath(name); }
    bool start()
    {
        writeFileBytes(path("broker.conf"), QString("listener %1 127.0.0.1\npersistence false\nlog_dest none\nuser %2\n%3\n")
                                                .arg(port).arg(getpwuid(getuid())->pw_name, extra).toUtf8());
        process.start(tool("mosquitto"), {"-c", path("broker.conf")});
        return process.waitForStarted() && waitUntil([&] {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(quint16(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(fd);
            return up;
        }, 5000);
    }
    void kill() { process.kill(); process.waitForFinished(); }
    ~Broker() { kill(); }
};

struct Message { QString topic; QByteArray payload; bool retained; };

// A QoS 1 subscriber on libmosquitto's own thread.
class Subscriber
{
public:
    explicit Subscriber(int port, const QByteArray& filter = "orvane/#", const QString& caFile = QString())
        : filter(filter), m(mosquitto_new(nullptr, true, this))
    {
        if (!caFile.isEmpty())
            mosquitto_tls_set(m, caFile.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
        mosquitto_connect_callback_set(m, [](mosquitto* m, void* self, int) {
            mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter.constData(), 1);
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed = true;
        });
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            auto* s = static_cast<Subscriber*>(self);
            QMutexLocker l(&s->lock);
            s->got.append({msg->topic, QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), msg->retain});
        });
        mosquitto_connect(m, "127.0.0.1", port, 30);
        mosquitto_loop_start(m);
        waitUntil([&] { return subscribed.load(); }, 5000);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        mosquitto_destroy(m);
    }
    QList<Message> messages(const QString& topicPart = QString()) const
    {
        QMutexLocker l(&lock);
        QList<Message> out;
        for (const Message& msg : got)
            if (msg.topic.contains(topicPart))
                out.append(msg);
        return out;
    }
    bool waitFor(const QString& topic, const QByteArray& payload, int ms = 5000) const
    {
        return waitUntil([&] {
            const QList<Message> list = messages(topic);
            return !list.isEmpty() && list.last().payload == payload;
        }, ms);
    }
    std::atomic<bool> subscribed{false};

private:
    QByteArray filter;
    mosquitto* m;
    mutable QMutex lock;
    QList<Message> got;
};

MqttSettings brokerAt(int port)
{
    MqttSettings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = port;
    return s;
}

const QList<Anchor> Room = {Anchor("1A2B", "Master", Qt::red, 0, 0, 0, true, 0),
                            Anchor("3C4D", "Ost", Qt::blue, 1000, 0, 0, false, 0),
                            Anchor("5E6F", "Nordost", Qt::green, 1000, 800, 0, false, 0),
                            Anchor("7A80", "Nord", Qt::black, 0, 800, 0, false, 0)};

QJsonObject json(const QByteArray& payload) { return QJsonDocument::fromJson(payload).object(); }

// The CSV's text for a JSON value: empty for null, three decimals where the CSV has them.
QString csvText(const QJsonValue& v, bool decimals)
{
    return v.isNull() ? QString() : decimals ? QString::number(v.toDouble(), 'f', 3) : QString::number(v.toInt());
}

// The child process of lastWill(): publishes until it is killed.
int runChild(int port)
{
    static int argc = 0;
    QCoreApplication app(argc, nullptr);
    MqttPublisher publisher;
    publisher.setAnchors(Room);
    publisher.configure(brokerAt(port));
    return app.exec();
}

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
    void lastWill();
    void loginRefusedDialogAndSettings();
    void brokerRestart();
    void fullRate();
    void tls();
};

void TestMqtt::initTestCase()
{
    // CI installs the broker (scripts/setup.sh test): its absence is a failure, not a skip.
    QVERIFY2(!tool("mosquitto").isEmpty(), "mosquitto not installed: run scripts/setup.sh test");
    QVERIFY2(!tool("openssl").isEmpty() && !tool("mosquitto_passwd").isEmpty(), "openssl/mosquitto_passwd missing");
}

void TestMqtt::payload_data()
{
    QTest::addColumn<PositionMessage>("message");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("json");
    PositionMessage full{"1a2b ", "2b01", "Läufer", 1796634930120, 120, -45, 118, -40, 1.23456, 10.5};
    QTest::newRow("winter, all values") << full << "orvane" << "orvane/1A2B/tags/2B01/position"
        << QByteArray(R"({"master":"1A2B","tag":"2B01","name":"Läufer","time":"2026-12-07T10:15:30.120+01:00",)"
                      R"("x_cm":120,"y_cm":-45,"raw_x_cm":118,"raw_y_cm":-40,"speed_mps":1.235,"rate_hz":10.500})");
    PositionMessage raw{"1A2B", "2B02", "", 1782885600000, {}, {}, 7, 0, {}, NAN};
    QTest::newRow("summer, absent values") << raw << "/site/orvane/" << "site/orvane/1A2B/tags/2B02/position"
        << QByteArray(R"({"master":"1A2B","tag":"2B02","name":"","time":"2026-07-01T08:00:00.000+02:00",)"
                      R"("x_cm":null,"y_cm":null,"raw_x_cm":7,"raw_y_cm":0,"speed_mps":null,"rate_hz":null})");
    PositionMessage odd{"", "a/b#+", "Tag \"A\"\\\n", 1782885600000, 0, 0, {}, {}, 0.0, 0.0};
    QTest::newRow("reserved characters") << odd << "x+#" << "x/_/tags/A_B__/position"
        << QByteArray(R"({"master":"","tag":"A/B#+","name":"Tag \"A\"\\\u000a","time":"2026-07-01T08:00:00.000+02:00",)"
                      R"("x_cm":0,"y_cm":0,"raw_x_cm":null,"raw_y_cm":null,"speed_mps":0.000,"rate_hz":0.000})");
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
    QTemporaryDir dir;
    const QString path = dir.filePath("walk.orec");
    RecordingWriter recording;
    QVERIFY(recording.open(path));
    for (int ms = 0; ms < 3000; ms += 50) {   // 10 lines per second and tag: one walks, one stands
        const bool walker = ms % 100 == 0;
        const double x = walker ? 200 + ms / 10.0 : 700, y = walker ? 300 : 500;
        QByteArray line = walker ? "$PD,2B01" : "$PD,2B02";
        for (const Anchor& a : Room)
            line += ',' + QByteArray::number(qRound(std::hypot(a.x - x, a.y - y)), 16);
        recording.append(quint32(ms), line + "\r\n");
    }
    recording.close();

    MainWin w;
    w.modules.anchors = Room;
    w.modules.tags = {Tag("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false),
                      Tag("2B02", "Steher", Qt::blue, false, true, false, false, false, false, false)};
    w.fillAnchorTable();
    w.fillTagTable();
    Subscriber live(broker.port);
    w.mqtt.configure(brokerAt(broker.port));
    QVERIFY(waitUntil([&] { return w.mqtt.isConnected(); }, 5000));
    QVERIFY(w.startReplay(path, 0));
    QVERIFY(waitUntil([&] { return !w.replaying; }, 20000));

    const QList<QByteArray> rows = readFileBytes(dir.filePath("walk.replay.csv")).trimmed().split('\n').mid(1);
    QVERIFY(rows.size() > 40);
    QVERIFY(waitUntil([&] { return live.messages("/position").size() >= rows.size(); }, 10000));
    const QList<Message> positions = live.messages("/position");
    QCOMPARE(positions.size(), rows.size());
    QHash<QString, QByteArray> last;
    for (int i = 0; i < rows.size(); ++i) {
        // time,tag_id,tag_name,raw_x_cm,raw_y_cm,avg_x_cm,avg_y_cm,speed_mps,rate_hz
        const QStringList csv = QString::fromUtf8(rows.at(i)).split(',');
        const QJsonObject o = json(positions.at(i).payload);
        QCOMPARE(positions.at(i).topic, "orvane/1A2B/tags/" + csv[1] + "/position");
        QCOMPARE(QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs),
                 QDateTime::fromString(csv[0], Qt::ISODateWithMs));
        const QStringList got = {o["tag"].toString(), o["name"].toString(), csvText(o["raw_x_cm"], false),
                                 csvText(o["raw_y_cm"], false), csvText(o["x_cm"], false), csvText(o["y_cm"], false),
                                 csvText(o["speed_mps"], true), csvText(o["rate_hz"], true)};
        QCOMPARE(got, csv.mid(1));
        QCOMPARE(o["master"].toString(), QString("1A2B"));
        last[csv[1]] = positions.at(i).payload;
    }
    QCOMPARE(last.size(), 2);

    Subscriber late(broker.port);
    QVERIFY(waitUntil([&] { return late.messages().size() == 4; }, 5000));
    for (const Message& m : late.messages())
        QVERIFY2(m.retained, qPrintable(m.topic));
    QCOMPARE(late.messages("orvane/1A2B/status").value(0).payload, QByteArray("online"));
    QCOMPARE(late.messages("orvane/1A2B/tags/2B01/last").value(0).payload, last["2B01"]);
    QCOMPARE(late.messages("orvane/1A2B/tags/2B02/last").value(0).payload, last["2B02"]);
    QJsonArray anchors = json(late.messages("orvane/1A2B/anchors").value(0).payload)["anchors"].toArray();
    QCOMPARE(anchors.size(), 4);
    QCOMPARE(anchors[2].toObject(), json(R"({"id":"5E6F","name":"Nordost","x_cm":1000,"y_cm":800,"z_cm":0,"master":false})"));
    // An anchor moved: the room is published again.
    w.modules.anchors[1].x = 900;
    w.fillAnchorTable();
    QVERIFY(waitUntil([&] { return late.messages("/anchors").size() == 2; }, 5000));
    anchors = json(late.messages("/anchors").last().payload)["anchors"].toArray();
    QCOMPARE(anchors[1].toObject()["x_cm"].toInt(), 900);
    // Switched off, the program says "offline" itself (a clean goodbye drops the will).
    w.mqtt.configure(MqttSettings());
    QVERIFY(late.waitFor("/status", "offline"));
}

// A publisher killed outright leaves "offline" behind through the broker's last will.
void TestMqtt::lastWill()
{
    Broker broker;
    QVERIFY(broker.start());
    Subscriber sub(broker.port);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_MQTT_CHILD_PORT", QString::number(broker.port));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(sub.waitFor("orvane/1A2B/status", "online"));
    QCOMPARE(sub.messages("orvane/1A2B/anchors").size(), 1);
    child.kill();   // SIGKILL: no chance to say goodbye
    QVERIFY(child.waitForFinished());
    QVERIFY(sub.waitFor("orvane/1A2B/status", "offline"));
    Subscriber late(broker.port);
    QVERIFY(late.waitFor("orvane/1A2B/status", "offline"));
    QVERIFY(late.messages("/status").last().retained);
}

namespace {
// The waits announced in status texts, e.g. {"1 s", "2 s"}.
QStringList announcedWaits(const QStringList& statuses)
{
    QStringList waits;
    for (const QString& s : statuses)
        if (s.contains("neuer Versuch in "))
            waits << s.section("neuer Versuch in ", 1).chopped(1);
    return waits;
}
} // namespace

// The dialog's login, refused: a status text and retries with back-off, no box.
// The password never reaches a settings file; an old file switches MQTT off.
void TestMqtt::loginRefusedDialogAndSettings()
{
    Broker broker;
    QCOMPARE(QProcess::execute(tool("mosquitto_passwd"), {"-b", "-c", broker.path("passwd"), "orvane", "geheim"}), 0);
    broker.extra = "allow_anonymous false\npassword_file " + broker.path("passwd");
    QVERIFY(broker.start());
    MainWin w;
    w.modules.anchors = Room;
    w.fillAnchorTable();
    ModalAnswerer boxes;
    QStringList statuses;
    connect(&w.mqtt, &MqttPublisher::statusChanged, this, [&](const QString& s) { statuses << s; });
    auto* label = w.findChild<QLabel*>("lblMqttStatus");
    const auto configure = [&](const QString& password) {
        return runModalDialog<MqttDialog>(boxes, findButton(&w, "btnMqtt"), [&](MqttDialog* d) {
            d->findChild<QCheckBox*>("chkEnabled")->setChecked(true);
            d->findChild<QLineEdit*>("edtHost")->setText("127.0.0.1");
            d->findChild<QLineEdit*>("edtPort")->setText(QString::number(broker.port));
            d->findChild<QLineEdit*>("edtUser")->setText("orvane");
            d->findChild<QLineEdit*>("edtPassword")->setText(password);
            findButton(d, "btnOk")->click();
        }).result;
    };
    QCOMPARE(configure("falsch"), int(QDialog::Accepted));
    QVERIFY(waitUntil([&] { return label->text().endsWith("(neuer Versuch in 4 s)"); }, 10000));
    QVERIFY2(label->text().startsWith("MQTT: getrennt – Anmeldung abgelehnt"), qPrintable(label->text()));
    QVERIFY(!label->isHidden());
    QCOMPARE(announcedWaits(statuses), QStringList({"1 s", "2 s", "4 s"}));
    QVERIFY(boxes.seen.isEmpty());
    const QString userConfig = QSettings(QSettings::NativeFormat, QSettings::UserScope, "Fenwright", "Orvane").fileName();
    QVERIFY(readFileBytes(userConfig).contains("falsch"));
    QCOMPARE(QFileInfo(userConfig).permissions() & 0x0077, QFile::Permissions());

    qputenv("ORVANE_MQTT_PASSWORD", "geheim");   // wins over the stored one
    QCOMPARE(configure(QString()), int(QDialog::Accepted));
    qunsetenv("ORVANE_MQTT_PASSWORD");
    QVERIFY(waitUntil([&] { return label->text() == "MQTT: verbunden"; }, 5000));

    QTemporaryDir dir;
    w.chooseSaveFile = [&](const QString&, const QString&) { return dir.filePath("setup.cfg"); };
    findButton(&w, "btnSaveSettings")->click();
    const QByteArray file = readFileBytes(dir.filePath("setup.cfg"));
    for (const char* line : {"MQTT-Enabled=true", "MQTT-Host=127.0.0.1", "MQTT-User=orvane", "MQTT-Prefix=orvane"})
        QVERIFY2(file.contains(QByteArray(line) + '\n'), line);
    QVERIFY(file.contains(QByteArray("MQTT-Port=") + QByteArray::number(broker.port)));
    QVERIFY(!file.contains("geheim") && !file.contains("falsch"));

    writeFileBytes(dir.filePath("old.cfg"), "[General]\nAnchorCount=0\nTagCount=0\n");
    w.chooseOpenFile = [&](const QString&, const QString&) { return dir.filePath("old.cfg"); };
    findButton(&w, "btnLoadSettings")->click();
    QVERIFY(waitUntil([&] { return label->text() == "MQTT: aus"; }, 5000));
    QVERIFY(label->isHidden() && !w.mqtt.isEnabled());
    QCOMPARE(boxes.seen.size(), 1);   // only the reminder that comes with loading
}

// The broker vanishes mid-stream and comes back: positions are dropped meanwhile
// (not queued), attempts back off 1, 2, 4 s, the caller's thread never waits.
void TestMqtt::brokerRestart()
{
    Broker broker;
    QVERIFY(broker.start());
    MqttPublisher publisher;
    publisher.setAnchors(Room);
    QStringList statuses;
    connect(&publisher, &MqttPublisher::statusChanged, this, [&](const QString& s) { statuses << s; });
    publisher.configure(brokerAt(broker.port));
    QVERIFY2(waitUntil([&] { return publisher.isConnected(); }, 5000), qPrintable(publisher.statusText()));
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, worstGap = 0;
    int seq = 0;
    QTimer pass;   // stands in for the chart pass
    connect(&pass, &QTimer::timeout, this, [&] {
        worstGap = qMax(worstGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
        publisher.publishPosition({"", "2B01", "", QDateTime::currentMSecsSinceEpoch(), ++seq, 0, {}, {}, 0.0, 10.0});
    });
    pass.start(10);
    waitUntil([] { return false; }, 300);
    broker.kill();
    QVERIFY(waitUntil([&] { return !statuses.isEmpty() && statuses.last().endsWith("(neuer Versuch in 4 s)"); }, 10000));
    QVERIFY(statuses.filter("Verbindung verloren").size() == 1);
    QCOMPARE(announcedWaits(statuses), QStringList({"1 s", "2 s", "4 s"}));
    const MqttPublisher::Counts down = publisher.counts();
    waitUntil([] { return false; }, 300);
    QVERIFY(publisher.counts().dropped > down.dropped);
    QCOMPARE(publisher.counts().published, down.published);

    QVERIFY(broker.start());
    Subscriber sub(broker.port);
    QVERIFY(waitUntil([&] { return publisher.isConnected(); }, 6000));
    QVERIFY(sub.waitFor("/status", "online"));
    QVERIFY(waitUntil([&] { return sub.messages("/position").size() > 10; }, 5000));
    QVERIFY2(worstGap < 1000, qPrintable(QString("%1 ms without a pass").arg(worstGap)));
}

// The full link rate, about 2000 positions per second across four tags, arrives
// whole at QoS 1.
void TestMqtt::fullRate()
{
    Broker broker;
    QVERIFY(broker.start());
    Subscriber sub(broker.port, "orvane/+/tags/+/position");
    MqttPublisher publisher;
    publisher.setAnchors(Room);
    publisher.configure(brokerAt(broker.port));
    QVERIFY2(waitUntil([&] { return publisher.isConnected(); }, 5000), qPrintable(publisher.statusText()));
    const int total = 6000;
    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer pass;
    connect(&pass, &QTimer::timeout, this, [&] {
        for (const qint64 due = qMin<qint64>(total, clock.elapsed() * 2); sent < due; ++sent)
            publisher.publishPosition({"", QString("2B0%1").arg(sent % 4), "", 0, sent, 0, {}, {}, 0.0, 500.0});
    });
    pass.start(10);
    QVERIFY(waitUntil([&] { return sent == total; }, 10000));
    QVERIFY(waitUntil([&] { return sub.messages().size() >= total; }, 20000));
    qInfo("%d positions published in %lld ms and delivered", total, clock.elapsed());
    QCOMPARE(publisher.counts().dropped, quint64(0));
    QList<int> perTag[4];
    for (const Message& m : sub.messages()) {
        const int x = json(m.payload)["x_cm"].toInt();
        QVERIFY(m.topic.endsWith(QString("2B0%1/position").arg(x % 4)));
        perTag[x % 4] << x;
    }
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < perTag[t].size(); ++i)
            QCOMPARE(perTag[t][i], t + 4 * i);
}

// TLS against a throw-away CA: a foreign CA is refused with a status text, the
// right one connects.
void TestMqtt::tls()
{
    Broker broker;
    const QString d = broker.dir.path();
    // Split before the folder goes in: it may hold blanks.
    const auto ssl = [&](const QString& args) {
        return QProcess::execute(tool("openssl"), args.split(' ').replaceInStrings("@", d)) == 0;
    };
    const QString key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout @/";
    writeFileBytes(d + "/san.ext", "subjectAltName=IP:127.0.0.1\n");
    QVERIFY(ssl("req -x509 -days 1 " + key + "ca.key -out @/ca.crt -subj /CN=Test-CA"));
    QVERIFY(ssl("req -x509 -days 1 " + key + "other.key -out @/other.crt -subj /CN=Other-CA"));
    QVERIFY(ssl("req " + key + "server.key -out @/server.csr -subj /CN=127.0.0.1"));
    QVERIFY(ssl("x509 -req -in @/server.csr -CA @/ca.crt -CAkey @/ca.key -CAcreateserial -days 1 -extfile @/san.ext "
                "-out @/server.crt"));
    broker.extra = QString("cafile %1/ca.crt\ncertfile %1/server.crt\nkeyfile %1/server.key\nallow_anonymous true").arg(d);
    QVERIFY(broker.start());
    Subscriber sub(broker.port, "orvane/#", d + "/ca.crt");
    QVERIFY(sub.subscribed);

    MqttPublisher publisher;
    publisher.setAnchors(Room);
    MqttSettings s = brokerAt(broker.port);
    s.tls = true;
    s.caFile = d + "/other.crt";
    publisher.configure(s);
    QVERIFY(waitUntil([&] { return publisher.statusText().contains("TLS-Fehler"); }, 5000));
    s.caFile = d + "/ca.crt";
    publisher.configure(s);
    QVERIFY2(waitUntil([&] { return publisher.isConnected(); }, 5000), qPrintable(publisher.statusText()));
    QVERIFY(sub.waitFor("/status", "online"));
    publisher.publishPosition({"", "2B01", "Läufer", 0, 1, 2, 3, 4, 0.5, 10.0});
    QVERIFY(waitUntil([&] { return sub.messages("/position").size() == 1; }, 5000));
    QCOMPARE(json(sub.messages("/position").first().payload)["name"].toString(), QString("Läufer"));
}

int main(int argc, char** argv)
{
    // Central European time without depending on the zone database.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    if (const int port = qEnvironmentVariableIntValue("ORVANE_MQTT_CHILD_PORT"))
        return runChild(port);
    QTemporaryDir home;   // the user's own configuration, where the password goes
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    TestMqtt test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mqtt.moc"
