// The site view: placement maths, the message parser against hostile input,
// liveness and clock judgement, the site file, and the whole road from three
// batch replays through a real mosquitto into the headless site log.
#include "mqttpublisher.h"
#include "recording.h"
#include "settingsfile.h"
#include "sitefile.h"
#include "sitemodel.h"
#include "sitesubscriber.h"
#include "sitechart.h"
#include "sitewindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <QDateTime>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <memory>

namespace {

QList<Anchor> room(const QString& master)
{
    return {Anchor(master, "Master", Qt::red, 0, 0, 0, true, 0), Anchor(master + "1", "Ost", Qt::blue, 1000, 0, 0, false, 0),
            Anchor(master + "2", "Nordost", Qt::green, 1000, 800, 0, false, 0),
            Anchor(master + "3", "Nord", Qt::black, 0, 800, 0, false, 0)};
}

MqttSettings brokerAt(int port)
{
    MqttSettings s;
    s.enabled = true, s.host = "127.0.0.1", s.port = port;
    return s;
}

SiteMessage parsed(const QByteArray& topic, const QByteArray& payload)
{
    return SiteMessage::parse("orvane", topic, payload);
}

QByteArray position(const QString& tag, qint64 timeMs, int x, int y)
{
    return QString(R"({"master":"A","tag":"%1","name":"T %1","time":"%2","x_cm":%3,"y_cm":%4,"raw_x_cm":null,"raw_y_cm":null})")
        .arg(tag, QDateTime::fromMSecsSinceEpoch(timeMs).toOffsetFromUtc(3600).toString(Qt::ISODateWithMs)).arg(x).arg(y)
        .toUtf8();
}

// A kit publishing tag 2B01 every 100 ms from its own process; its clock runs `aheadMs` ahead.
QProcess* startKit(int port, const QString& master, int aheadMs)
{
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_SITE_CHILD", QString("%1,%2,%3").arg(port).arg(master).arg(aheadMs));
    p->setProcessEnvironment(env);
    p->start(QCoreApplication::applicationFilePath(), QStringList());
    return p;
}

} // namespace

class TestSite : public QObject
{
    Q_OBJECT
private slots:
    void placement_data();
    void placement();
    void hostileMessages();
    void livenessClockAndPlacing();
    void siteFile();
    void threeReplaysInTheLog();
    void kitsComeAndGo();
    void windowMovesTurnsAndSaves();
};

void TestSite::placement_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("rotation");
    QTest::addColumn<QPointF>("kit");
    QTest::addColumn<QPointF>("site");
    QTest::newRow("identity") << 0.0 << 0.0 << 0.0 << QPointF(412, 288) << QPointF(412, 288);
    QTest::newRow("shifted") << 2000.0 << -300.0 << 0.0 << QPointF(412, 288) << QPointF(2412, -12);
    QTest::newRow("quarter turn") << 2000.0 << 0.0 << 90.0 << QPointF(1000, 0) << QPointF(2000, 1000);
    QTest::newRow("half turn") << -500.0 << 3000.0 << 180.0 << QPointF(1000, 800) << QPointF(-1500, 2200);
    QTest::newRow("clockwise quarter") << 0.0 << 0.0 << -90.0 << QPointF(0, 100) << QPointF(100, 0);
    QTest::newRow("more than a turn") << 10.0 << 20.0 << 450.0 << QPointF(100, 0) << QPointF(10, 120);
    QTest::newRow("30 degrees") << 0.0 << 0.0 << 30.0 << QPointF(200, 0) << QPointF(173.205, 100);
}

void TestSite::placement()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, rotation);
    QFETCH(QPointF, kit);
    QFETCH(QPointF, site);
    const KitPlacement p{x, y, rotation};
    const QPointF there = kitToSite(p, kit), back = siteToKit(p, there);
    QVERIFY2(std::hypot(there.x() - site.x(), there.y() - site.y()) < 0.01,
             qPrintable(QString("%1,%2").arg(there.x()).arg(there.y())));
    QVERIFY(std::hypot(back.x() - kit.x(), back.y() - kit.y()) < 1e-9);
}

// Anyone may publish: what is not the documented JSON is refused with its kit named, never half taken.
void TestSite::hostileMessages()
{
    const qint64 t = 1796634930120;
    SiteMessage m = parsed("orvane/1a2b/tags/2B01/position", position("2B01", t, 412, -288));
    QVERIFY(m.kind == SiteMessage::Position && m.hasPosition && !m.last);
    QCOMPARE(m.kit, QString("1A2B"));
    QCOMPARE(m.pos, QPointF(412, -288));
    QCOMPARE(m.timeMs, t);
    m = parsed("orvane/1A2B/tags/2B01/last", R"({"tag":"2B01","time":"2026-12-07T10:15:30.120Z","x_cm":null,"y_cm":null,"raw_x_cm":5,"raw_y_cm":7})");
    QVERIFY(m.kind == SiteMessage::Position && m.last && m.pos == QPointF(5, 7));
    m = parsed("orvane/1A2B/zones/Lager/occupancy", R"({"zone":"Lager","count":2,"tag_ids":["2e00","2B01"]})");
    QVERIFY(m.kind == SiteMessage::Occupancy && m.count == 2 && m.tagIds == QStringList({"2E00", "2B01"}));
    QVERIFY(parsed("orvane/1A2B/status", "offline").kind == SiteMessage::Status);
    QVERIFY(parsed("orvane/1A2B/whatever", "x").kind == SiteMessage::Unrelated);
    QVERIFY(parsed("other/1A2B/status", "x").kind == SiteMessage::Unrelated);

    const QByteArray good = position("2B01", t, 1, 2);
    const QList<QPair<QByteArray, QByteArray>> hostile = {
        {"tags/2B01/position", good.left(good.size() - 1)},                        // broken JSON
        {"tags/2B01/position", QByteArray(good).replace("\"time\"", "\"tim\"")},    // a field missing
        {"tags/2B01/position", QByteArray(good).replace("\"x_cm\":1", "\"x_cm\":1e9")},   // absurd
        {"tags/2B01/position", QByteArray(good).replace("\"x_cm\":1", "\"x_cm\":\"1\"")},  // of the wrong type
        {"tags/2B01/position", QByteArray(good).replace("\"y_cm\":2", "\"y_cm\":null")},   // half a position
        {"tags/2B01/position", QByteArray(good).replace("+01:00", "")},                    // a time without its offset
        {"tags/2B01/position", QByteArray(good).replace("2026-", "1969-")},
        {"tags/2B01/position", good + QByteArray(70000, ' ')},                             // huge
        {"tags/2B01/position", "[" + good + "]"},
        {"tags/2B01/position", QByteArray(good).replace("{", R"({"x_cm":{"a":[1]},)")},      // a key repeated
        {"tags/2B01/position", QByteArray(good).replace("{", R"({"x_\u0063m":{"a":[1]},)")},  // again, by an escape
        {"status", "onlin"},
        {"anchors", R"({"anchors":{"id":"1A2B"}})"},
        {"anchors", R"({"anchors":[{"id":"1A2B","x_cm":0}]})"},
        {"info", R"({"kit":"Halle","bbox":{"min_x_cm":10,"min_y_cm":0,"max_x_cm":0,"max_y_cm":5}})"},
        {"zones/Lager/occupancy", R"({"zone":"Lager","count":-1,"tag_ids":[]})"},
        {"zones/Lager/occupancy", R"({"zone":"Lager","count":1.5,"tag_ids":[]})"},
        {"zones/Lager/occupancy", R"({"zone":"Lager","count":1,"tag_ids":[7]})"},
    };
    for (const auto& h : hostile) {
        m = parsed("orvane/1A2B/" + h.first, h.second);
        QVERIFY2(m.kind == SiteMessage::Refused && m.kit == "1A2B", h.second.left(120).constData());
    }
    // Counted against the kit, and nothing else of it changes.
    SiteModel model;
    model.apply(parsed("orvane/1A2B/tags/2B01/position", good), false, t);
    for (const auto& h : hostile)
        model.apply(parsed("orvane/1A2B/" + h.first, h.second), false, t + 10);
    QCOMPARE(model.kit("1A2B")->refused, quint64(hostile.size()));
    QCOMPARE(model.kit("1A2B")->tags.value("2B01").kitPos, QPointF(1, 2));
    QCOMPARE(model.kit("1A2B")->lastLiveMs, t);
}

void TestSite::livenessClockAndPlacing()
{
    SiteModel model;
    QStringList changes;
    model.onStateChange = [&](const SiteModel::Kit& k, qint64) { changes << k.id + ":" + SiteModel::stateName(k.state); };
    const qint64 t = QDateTime(QDate(2026, 12, 8), QTime(14, 3, 12)).toMSecsSinceEpoch();
    // Kits seen first by their retained info are put side by side without overlap.
    model.apply(parsed("orvane/A/info", R"({"kit":"Halle 1","bbox":{"min_x_cm":0,"min_y_cm":0,"max_x_cm":1000,"max_y_cm":800}})"), true, t);
    model.apply(parsed("orvane/B/info", R"({"kit":"Halle 2","bbox":{"min_x_cm":-200,"min_y_cm":-100,"max_x_cm":300,"max_y_cm":400}})"), true, t);
    model.apply(parsed("orvane/C/tags/2B01/position", position("2B01", t, 50, 60)), false, t);   // a publisher without info
    const auto outline = [&](const char* id) { return kitOutlineOnSite(model.kit(id)->placement, model.kit(id)->extent()).boundingRect(); };
    QVERIFY(outline("A").right() < outline("B").left() && outline("B").right() < outline("C").left());
    QCOMPARE(outline("A").top(), outline("B").top());
    QCOMPARE(model.kit("A")->name, QString("Halle 1"));
    QCOMPARE(model.kit("A")->state, SiteModel::State::Offline);   // only what was retained: not live

    model.apply(parsed("orvane/A/tags/2B01/position", position("2B01", t - 40, 100, 200)), false, t);
    QCOMPARE(model.kit("A")->state, SiteModel::State::Live);
    QVERIFY(!model.kit("A")->clockFlagged());
    QCOMPARE(model.kit("A")->clockOffsetMs, qint64(-40));
    model.tick(t + 2999);
    QCOMPARE(model.kit("A")->state, SiteModel::State::Live);
    QCOMPARE(model.kit("A")->tags.value("2B01").ageMs(t + 2999), qint64(2999 + 40));   // 40 ms on the way
    model.tick(t + 3000);
    QCOMPARE(model.kit("A")->state, SiteModel::State::Stale);
    QVERIFY(model.kit("A")->tags.value("2B01").ageMs(t + 3000) > SiteModel::OldTagMs);   // drawn hollow
    model.tick(t + 5000);
    QCOMPARE(model.kit("A")->state, SiteModel::State::Offline);
    QCOMPARE(SiteModel::offlineText(*model.kit("A")), QString("offline seit 14:03:12"));
    model.apply(parsed("orvane/A/status", "online"), false, t + 9000);   // back without a restart
    QCOMPARE(model.kit("A")->state, SiteModel::State::Live);
    model.apply(parsed("orvane/A/status", "offline"), false, t + 9500);
    QCOMPARE(SiteModel::offlineText(*model.kit("A")), QString("offline seit 14:03:21"));
    QCOMPARE(changes.filter("A:"), QStringList({"A:offline", "A:live", "A:stale", "A:offline", "A:live", "A:offline"}));

    // A clock 3.2 s ahead is flagged; a later message with an earlier time still wins.
    model.apply(parsed("orvane/B/tags/2B01/position", position("2B01", t + 3200, 10, 10)), false, t);
    model.apply(parsed("orvane/B/tags/2B01/position", position("2B01", t + 3100, 20, 20)), false, t + 100);
    QVERIFY(model.kit("B")->clockFlagged());
    QCOMPARE(SiteModel::clockText(*model.kit("B")), QString("Uhr weicht ab: +3.2 s"));
    QCOMPARE(model.kit("B")->tags.value("2B01").kitPos, QPointF(20, 20));
    QCOMPARE(model.kit("B")->tags.value("2B01").ageAtRecvMs, qint64(200));
    model.apply(parsed("orvane/B/tags/2B01/position", position("2B01", t + 2000 + 1900, 20, 20)), false, t + 1900);
    QCOMPARE(model.kit("B")->clockOffsetMs, qint64(3200));   // the window still holds the larger one
    model.apply(parsed("orvane/B/tags/2B01/position", position("2B01", t + 8000 + 1900, 20, 20)), false, t + 8000);
    QVERIFY(!model.kit("B")->clockFlagged());   // 1.9 s: within tolerance once the old ones left the window
}

void TestSite::siteFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("site.cfg");
    writeFileBytes(path, "[General]\nSite-Name=Werk Süd\nSite-KitCount=4\n"
                         "Site-Kit0-ID=a001\nSite-Kit0-X=100\nSite-Kit0-Y=-50.5\nSite-Kit0-Rotation=-90\n"
                         "Site-Kit1-ID=B002\nSite-Kit1-X=abc\nSite-Kit1-Y=0\nSite-Kit1-Rotation=0\n"
                         "Site-Kit2-X=1\nSite-Kit2-Y=2\nSite-Kit2-Rotation=3\n"
                         "Site-Kit3-ID=C003\nSite-Kit3-X=1\nSite-Kit3-Y=2\nSite-Kit3-Rotation=3\n"
                         "BGImage-File=plan.png\nBGImage-Factor=2.5\nDrawBGImage=true\nMQTT-Prefix=werk\n");
    SiteFileData d;
    QStringList warnings;
    QVERIFY(readSiteFile(path, d, &warnings));
    QCOMPARE(d.name, QString("Werk Süd"));
    QCOMPARE(d.kits.size(), 2);
    QCOMPARE(d.kits[0].id, QString("A001"));
    QVERIFY(d.kits[0].placement == (KitPlacement{100, -50.5, 270}));
    QCOMPARE(d.kits[1].id, QString("C003"));
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings[0].startsWith("Site-Kit1 (B002)") && warnings[1].startsWith("Site-Kit2 (?)"), qPrintable(warnings.join('|')));
    QVERIFY(d.bgImageFactor == 2.5 && d.drawBGImage && d.mqtt.prefix == "werk");
    QVERIFY(writeSiteFile(path, d));
    SiteFileData again;
    QVERIFY(readSiteFile(path, again, &warnings) && warnings.size() == 2);
    QVERIFY(again.kits.size() == 2 && again.kits[1].placement == d.kits[1].placement && again.name == d.name);
    writeFileBytes(path, "[General]\nAnchorCount=0\n");   // a settings file, no site file
    QVERIFY(!readSiteFile(path, again, &warnings));
}

// Three kits replayed by the batch mode into one broker: the headless site log
// has every position at its placed site coordinates, and the kits go offline at the end.
void TestSite::threeReplaysInTheLog()
{
    const QString bin = qEnvironmentVariable("ORVANE_BINARY_DIR") + "/orvane";
    QVERIFY2(QFileInfo(bin).isExecutable(), "run through ctest, after building orvane");
    Broker broker;
    broker.options += "\nlog_type all";   // the view's subscriptions show in the broker's log
    QVERIFY(broker.start());
    RecordingWriter recording;
    QVERIFY(recording.open(broker.path("walk.orec")));
    for (int ms = 0; ms < 3000; ms += 100) {
        QByteArray line = "$PD,2B01";
        for (const Anchor& a : room("M"))
            line += ',' + QByteArray::number(qRound(std::hypot(a.x - 200 - ms / 10, a.y - 300)), 16);
        recording.append(quint32(ms), line + "\r\n");
    }
    recording.close();
    const QStringList masters = {"A001", "B002", "C003"};
    const QList<KitPlacement> places = {{0, 0, 0}, {2000, 0, 90}, {-500, 3000, 180}};
    QByteArray site = "[General]\nSite-Name=Test\nSite-KitCount=4\nSite-Kit3-ID=D004\nSite-Kit3-X=x\n";
    for (int i = 0; i < 3; ++i) {
        SettingsData setup;
        setup.anchors = room(masters[i]);
        setup.tags = {Tag("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false)};
        QVERIFY(writeSettingsFile(broker.path(masters[i] + ".cfg"), setup));
        site += QString("Site-Kit%1-ID=%2\nSite-Kit%1-X=%3\nSite-Kit%1-Y=%4\nSite-Kit%1-Rotation=%5\n")
                    .arg(i).arg(masters[i]).arg(places[i].x).arg(places[i].y).arg(places[i].rotationDeg).toUtf8();
    }
    writeFileBytes(broker.path("site.cfg"), site);
    QProcess view;
    view.start(bin, {"--site", QString("127.0.0.1:%1").arg(broker.port), "--site-settings", broker.path("site.cfg"),
                     "--site-log", broker.path("site.csv"), "--duration", "6"});
    QByteArray brokerLog;
    // The view subscribes to .../last last of all.
    QVERIFY(waitUntil([&] { return (brokerLog += broker.process.readAllStandardError()).contains("orvane/+/tags/+/last"); }, 10000));
    QList<std::shared_ptr<QProcess>> kits;
    for (const QString& m : masters) {
        kits << std::make_shared<QProcess>();
        kits.last()->start(bin, {"--replay", broker.path("walk.orec"), "--settings", broker.path(m + ".cfg"), "--export",
                                 broker.path(m + ".csv"), "--mqtt", QString("127.0.0.1:%1").arg(broker.port)});
    }
    for (auto& k : kits)
        QVERIFY(k->waitForFinished(20000) && k->exitCode() == 0);
    QVERIFY(view.waitForFinished(20000));
    QCOMPARE(view.exitCode(), 0);
    QVERIFY(view.readAllStandardError().contains("Site-Kit3 (D004) übergangen: X ist keine Zahl"));

    const QList<QByteArray> rows = readFileBytes(broker.path("site.csv")).split('\n');
    QCOMPARE(rows.first(), QByteArray("recv_time,kit,tag_id,tag_name,site_x_cm,site_y_cm,age_ms,kit_state,clock_offset_ms"));
    for (int i = 0; i < 3; ++i) {
        QStringList expected, got, states;
        for (const QByteArray& row : readFileBytes(broker.path(masters[i] + ".csv")).trimmed().split('\n').mid(1)) {
            const QList<QByteArray> c = row.split(',');   // time,tag_id,tag_name,raw_x,raw_y,avg_x,avg_y,…
            const QPointF p = kitToSite(places[i], QPointF(c[5].toInt(), c[6].toInt()));
            expected << QString("2B01,Läufer,%1,%2").arg(qRound(p.x())).arg(qRound(p.y()));
        }
        for (const QByteArray& row : rows.mid(1)) {
            const QStringList c = QString::fromUtf8(row).split(',');
            if (c.size() == 9 && c[1] == masters[i])
                (c[2].isEmpty() ? states : got) << (c[2].isEmpty() ? c[7] : QStringList(c.mid(2, 4)).join(','));
        }
        QVERIFY(expected.size() > 20);
        QCOMPARE(got, expected);
        QCOMPARE(states.last(), QString("offline"));
        QVERIFY(states.contains("live"));
    }
    // A broker that is not there: exit code 2 and one line.
    broker.kill();
    view.start(bin, {"--site", QString("127.0.0.1:%1").arg(broker.port), "--site-log", broker.path("x.csv"), "--duration", "1"});
    QVERIFY(view.waitForFinished(20000));
    QCOMPARE(view.exitCode(), 2);
    QVERIFY(view.readAllStandardError().trimmed().split('\n').size() == 1);
}

// Live kits through the broker: a kit 5 s ahead is flagged, a stopped one goes
// offline within the keep-alive, comes back without a restart; garbage is counted.
void TestSite::kitsComeAndGo()
{
    Broker broker;
    QVERIFY(broker.start());
    SiteModel model;
    SiteSubscriber sub;
    connect(&sub, &SiteSubscriber::messagesArrived, this, [&] {
        for (const SiteSubscriber::Received& r : sub.take())
            model.apply(r.message, r.retained, r.recvMs);
    });
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&] { model.tick(QDateTime::currentMSecsSinceEpoch()); });
    tick.start(50);
    sub.start(brokerAt(broker.port));
    QVERIFY(waitUntil([&] { return sub.isConnected(); }, 5000));
    std::unique_ptr<QProcess> a(startKit(broker.port, "A001", 0)), b(startKit(broker.port, "B002", 5000));
    const auto state = [&](const char* id) { return model.kit(id) ? model.kit(id)->state : SiteModel::State::Offline; };
    QVERIFY(waitUntil([&] { return state("A001") == SiteModel::State::Live && state("B002") == SiteModel::State::Live; }, 10000));
    QVERIFY(waitUntil([&] { return model.kit("B002")->clockFlagged(); }, 2000));
    QVERIFY2(SiteModel::clockText(*model.kit("B002")).startsWith("Uhr weicht ab: +") &&
             qAbs(model.kit("B002")->clockOffsetMs - 5000) < 500, qPrintable(SiteModel::clockText(*model.kit("B002"))));
    QVERIFY(!model.kit("A001")->clockFlagged());

    QProcess::execute(tool("mosquitto_pub"), {"-p", QString::number(broker.port), "-h", "127.0.0.1", "-t",
                                              "orvane/A001/tags/2B01/position", "-m", "{\"tag\":"});
    QVERIFY(waitUntil([&] { return model.kit("A001")->refused == 1; }, 5000));
    QElapsedTimer stopped;
    a->kill();   // SIGKILL: no goodbye
    stopped.start();
    QVERIFY(waitUntil([&] { return state("A001") == SiteModel::State::Offline; }, 8000));
    // Its silence, not the broker's last will (1.5 keep-alives): 5 s and what a busy machine adds.
    QVERIFY2(stopped.elapsed() <= SiteModel::OfflineAfterMs + 1500, qPrintable(QString::number(stopped.elapsed())));
    QVERIFY(SiteModel::offlineText(*model.kit("A001")).startsWith("offline seit "));
    QCOMPARE(state("B002"), SiteModel::State::Live);
    a.reset(startKit(broker.port, "A001", 0));
    QVERIFY(waitUntil([&] { return state("A001") == SiteModel::State::Live; }, 10000));
    QCOMPARE(sub.dropped(), quint64(0));
    for (QProcess* kit : {a.get(), b.get()})
        kit->kill(), kit->waitForFinished();
}

// The window: a kit in the list, its outline dragged, turned by a typed
// angle about its middle, and the placement saved to the site file.
void TestSite::windowMovesTurnsAndSaves()
{
    Broker broker;
    QVERIFY(broker.start());
    SiteWindow w;
    w.resize(1000, 600);
    w.show();
    QVERIFY(w.start(brokerAt(broker.port), QString()).isEmpty());
    std::unique_ptr<QProcess> kit(startKit(broker.port, "A001", 0));
    auto* list = w.findChild<QTableWidget*>("tblKits");
    QVERIFY(waitUntil([&] { return list->item(0, 1) && list->item(0, 1)->text() == "live"; }, 10000));
    QCOMPARE(list->item(0, 2)->text(), QString("1"));   // one tag
    kit->kill(), kit->waitForFinished();
    w.chart()->fitAll();
    QTest::qWait(100);
    const SiteModel::Kit& k = *w.siteModel().kit("A001");
    const KitPlacement before = k.placement;
    const QPointF centre = kitToSite(before, k.extent().center());
    const QPoint from = w.chart()->toPixel(centre).toPoint(), to = from + QPoint(100, 0);
    QTest::mousePress(w.chart(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(w.chart()->mapToGlobal(to)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.chart(), &move);
    QTest::mouseRelease(w.chart(), Qt::LeftButton, Qt::NoModifier, to);
    QVERIFY(qAbs(k.placement.x - before.x - 100 * w.chart()->geometry().cmPerPixel) <= 1.0 && k.placement.y == before.y);
    auto* angle = w.findChild<QLineEdit*>("edtRotation");
    QCOMPARE(angle->text(), QString("0"));
    const QPointF middle = kitToSite(k.placement, k.extent().center());
    angle->setText("90");
    QTest::keyClick(angle, Qt::Key_Return);
    QCOMPARE(k.placement.rotationDeg, 90.0);
    QVERIFY(QLineF(kitToSite(k.placement, k.extent().center()), middle).length() < 1.0);
    w.chooseSaveFile = [&](const QString&, const QString&) { return broker.path("saved.cfg"); };
    findButton(&w, "btnSaveSite")->click();
    SiteFileData saved;
    QStringList warnings;
    QVERIFY(readSiteFile(broker.path("saved.cfg"), saved, &warnings) && warnings.isEmpty());
    QVERIFY(saved.kits.size() == 1 && saved.kits[0].placement == k.placement && saved.mqtt.port == broker.port);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("ORVANE_SITE_CHILD")) {   // startKit()'s child
        QCoreApplication app(argc, argv);
        const QStringList arg = qEnvironmentVariable("ORVANE_SITE_CHILD").split(',');
        MqttPublisher publisher;
        publisher.setAnchors(room(arg[1]));
        publisher.configure(brokerAt(arg[0].toInt()));
        QTimer pass;
        int step = 0;
        QObject::connect(&pass, &QTimer::timeout, [&] {
            const int x = 100 + (step++ % 50) * 10;
            publisher.publishPosition({"", "2B01", "Läufer", QDateTime::currentMSecsSinceEpoch() + arg[2].toInt(), x, 300,
                                       {}, {}, 1.0, 10.0, {}, {}, {}, {}});
        });
        pass.start(100);
        return app.exec();
    }
    QApplication app(argc, argv);
    TestSite test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_site.moc"
