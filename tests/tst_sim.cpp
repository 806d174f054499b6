#include "discoverwin.h"
#include "mainwin.h"
#include "masterconfig.h"
#include "masterstandin.h"
#include "scenario.h"
#include "tagmeasurement.h"
#include "testsupport.h"

#include <QFile>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The stand-in for the master module on its own, then the program against it.
class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void scenario();
    void configLine_data();
    void configLine();
    void commandsAndRanging();
    void fullRate();
    void programAgainstStandIn();
};

namespace {

const QByteArray DefaultK = "$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n";

// The program's side of the terminal: a raw fd that collects lines with their arrival time.
struct Client {
    int fd = -1;
    QElapsedTimer clock;
    QByteArray partial;
    QList<QPair<qint64, QByteArray>> lines;
    qint64 bytes = 0;
    explicit Client(const QString& path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        struct termios raw;
        ::tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        clock.start();
    }
    ~Client() { ::close(fd); }
    void spin(int ms)   // runs the event loop, where the stand-in lives, while reading
    {
        QElapsedTimer t;
        t.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            char buf[8192];
            ssize_t n;
            while ((n = ::read(fd, buf, sizeof buf)) > 0) {
                bytes += n;
                for (ssize_t i = 0; i < n; ++i)
                    if ((partial += buf[i]).endsWith('\n'))
                        lines << qMakePair(clock.elapsed(), partial), partial.clear();
            }
            QThread::usleep(500);
        } while (t.elapsed() < ms);
    }
    // Sends a line and waits for its echo; the echo's index or -1.
    int command(const QByteArray& line)
    {
        const int from = lines.size();
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            return -1;
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < 1000; spin(2)) {
            if (!t.isValid())
                t.start();
            for (int i = from; i < lines.size(); ++i)
                if (lines.at(i).second == line)
                    return i;
        }
        return -1;
    }
    QList<int> indexes(char kind, int from = 0) const
    {
        QList<int> out;
        for (int i = from; i < lines.size(); ++i)
            if (lines.at(i).second.startsWith(QByteArray("$P") + kind))
                out << i;
        return out;
    }
};

Scenario quiet()
{
    Scenario s = Scenario::builtIn();
    s.noiseSigma = s.dropout = s.outliers = 0;
    return s;
}

} // namespace

void TestSim::scenario()
{
    const Scenario s = Scenario::builtIn();
    QCOMPARE(s.check(), QString());
    QCOMPARE(s.initialConfiguration().toLine(), DefaultK);
    QCOMPARE(s.onAir(), QStringList({"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"}));
    // The walker: 1 m/s round a 6 m x 4 m rectangle, back at the start after 20 s.
    QPointF p;
    for (const auto& w : QList<QPair<qint64, QPointF>>{{1000, {300, 200}}, {7000, {800, 300}}, {20000, {200, 200}}}) {
        QVERIFY(s.positionAt("2b01", w.first, &p));
        QVERIFY2(std::hypot(p.x() - w.second.x(), p.y() - w.second.y()) < 1e-6, qPrintable(QString::number(w.first)));
    }
    QVERIFY(!s.positionAt("BEEF", 0, &p));

    // A scenario document; unconfigured modules are on the air but not listed.
    Scenario j;
    QString error;
    QVERIFY2(j.loadJson(R"({"rate": 25, "anchors": [{"id": "100", "x": 0, "y": 0}, {"id": "101", "position": [1500, 0]},
        {"id": "102", "x": 1500, "y": 300, "configured": false}],
        "tags": [{"id": "a1", "waypoints": [[100, 100], [1400, 100]], "speed": 200}]})", &error), qPrintable(error));
    QCOMPARE(j.initialConfiguration().toLine(), QByteArray("$PK,100,1,1,101,a1,\r\n"));
    QCOMPARE(j.onAir(), QStringList({"101", "102", "a1"}));
    QVERIFY(j.positionAt("A1", 8000, &p) && p == QPointF(1100, 100));   // 1300 out, 300 back
    // Broken documents are refused with a reason and change nothing.
    const QByteArray a1 = R"({"anchors": [{"id": "1", "x": 0, "y": 0}])";
    for (const QByteArray& doc : {QByteArray("{\"anchors\": ["), QByteArray("{}"), QByteArray(R"({"anchors": [{"id": "XYZ", "x": 0, "y": 0}]})"),
                                  QByteArray(R"({"anchors": [{"id": "1A2B", "x": 0, "y": 0}, {"id": "1a2b", "x": 5, "y": 0}]})"),
                                  a1 + R"(, "tags": [{"id": "2", "waypoints": []}]})", a1 + R"(, "rate": 0})",
                                  a1 + R"(, "dropout": 1.5})"}) {
        error.clear();
        QVERIFY2(!j.loadJson(doc, &error) && !error.isEmpty(), doc.constData());
        QCOMPARE(j.masterId(), QString("100"));
    }
}

void TestSim::configLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("parsed");   // master/anchors/tags, empty: refused
    QTest::newRow("default") << DefaultK << "1A2B/3C4D 5E6F 7A80/2B01 2B02";
    QTest::newRow("twice, bare LF") << QByteArray("$PK,1A2B,2,0,3C4D,3C4D,\n") << "1A2B/3C4D 3C4D/";
    QTest::newRow("kit's limits") << QByteArray("$PK,1A2B,3,4,1,2,3,4,5,6,7,\r\n") << "1A2B/1 2 3/4 5 6 7";
    for (const char* bad : {"$PK,,0,0,\r\n", "$PK,1A2B,1,0,\r\n", "$PK,1A2B,0,0,,\r\n", "$PK,1A2B,4,0,1,2,3,4,\r\n",
                            "$PK,1A2B,0,5,1,2,3,4,5,\r\n", "$PK,1A2B,1,0,XYZ,\r\n", "$PK,1A2B,-1,0,\r\n", "$PK,1A2B,0,0,",
                            "$PK,0,0,0,\r\n"})
        QTest::newRow(QByteArray(bad).trimmed()) << QByteArray(bad) << "";
}

void TestSim::configLine()
{
    QFETCH(QByteArray, line);
    MasterConfig c;
    c.master = "untouched";
    const bool ok = MasterConfig::parse(line, &c);
    QTEST(ok ? c.master + "/" + c.anchors.join(' ') + "/" + c.tags.join(' ') : QString(), "parsed");
    QVERIFY(ok || c.master == "untouched");
}

void TestSim::commandsAndRanging()
{
    QTemporaryDir dir;
    MasterStandIn master(quiet());
    master.setLinkPath(QString());
    QVERIFY(master.setTruthFile(dir.filePath("truth.csv")));
    QVERIFY(master.start());
    Client c(master.slavePath());
    QVERIFY(waitUntil([&] { return master.isPeerConnected(); }, 2000));

    // Accepted commands come back as their exact line well inside the program's
    // 100 ms time-out; malformed or unknown ones get no answer at all.
    for (const QByteArray& cmd : {QByteArray("$PH,FFFF,1,1,\r\n"), QByteArray("$PK,1A2B,1,1,3C4D,2B02,\r\n"), DefaultK}) {
        const qint64 sent = c.clock.elapsed();
        const int at = c.command(cmd);
        QVERIFY2(at >= 0 && c.lines.at(at).first - sent < 100, cmd.constData());
    }
    const QByteArray refused = "$PS,1,\r\n$PW,2,\r\n$PH,FFFF,3,1,\r\n$PH,2B03,1,1,\r\n$PK,1A2B,1,0,\r\n$PZ,\r\n\x01 junk\r\n$PW,1$PG,\r\n";
    const int from = c.lines.size();
    QVERIFY(c.command(refused) < 0);
    QList<QByteArray> answers;
    for (int i = from; i < c.lines.size(); ++i)
        if (!c.lines.at(i).second.startsWith("$PX,1A2B,1.0"))
            answers << c.lines.at(i).second;
    QCOMPARE(answers, QList<QByteArray>{"$PG,\r\n"});   // a line cut short by the next '$' is dropped
    QCOMPARE(master.commandsIgnored(), 6);
    QCOMPARE(master.configuration().toLine(), DefaultK);

    // Discovery: the master in field 2, then everything on the air, twice a second.
    int echo = c.command("$PW,1,\r\n");
    c.spin(1100);
    const QList<int> ws = c.indexes('W', echo + 1);
    QVERIFY2(ws.size() >= 2 && ws.size() <= 3, QByteArray::number(ws.size()).constData());
    QCOMPARE(c.lines.at(ws.first()).second.split(',').mid(2), QByteArray("1A2B,3C4D,5E6F,7A80,2B01,2B02,2B03\r\n").split(','));
    echo = c.command("$PW,0,\r\n");
    c.spin(600);
    QVERIFY(c.indexes('W', echo + 1).isEmpty());

    // Ranging: the module list right after the echo, then lines with the exact
    // distances to the tags' true places, ten a second per tag; none after the stop.
    echo = c.command("$PS,\r\n");
    c.spin(2000);
    const int stop = c.command("$PG,\r\n");
    c.spin(300);
    QVERIFY(echo >= 0 && stop > echo);
    QCOMPARE(c.lines.at(c.indexes('K', echo).value(0)).second, DefaultK);
    QVERIFY(c.indexes('K', echo).value(0) < c.indexes('D', echo).value(0));
    QVERIFY(c.indexes('D', stop).isEmpty());
    master.flushTruth();
    const QList<QByteArray> truth = readFileBytes(dir.filePath("truth.csv")).split('\n');
    const QList<int> ds = c.indexes('D', echo);
    QCOMPARE(truth.first(), QByteArray("time_ms,tag_id,x_cm,y_cm"));
    QCOMPARE(truth.size() - 2, ds.size());
    QMap<QByteArray, int> perTag;
    const QList<QPointF> anchors = {{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    for (int i = 0; i < ds.size(); ++i) {
        const QList<QByteArray> f = c.lines.at(ds.at(i)).second.trimmed().split(','), t = truth.at(i + 1).split(',');
        QCOMPARE(f.size(), 6);
        QCOMPARE(f.at(1), t.at(1));
        ++perTag[f.at(1)];
        for (int a = 0; a < 4; ++a) {
            const qint64 d = std::llround(std::hypot(t.at(2).toDouble() - anchors[a].x(), t.at(3).toDouble() - anchors[a].y()));
            QVERIFY2(f.at(2 + a) == f.at(2 + a).toUpper() && qAbs(f.at(2 + a).toInt(nullptr, 16) - d) <= 1,
                     c.lines.at(ds.at(i)).second.constData());
        }
    }
    QCOMPARE(perTag.keys(), QList<QByteArray>({"2B01", "2B02"}));
    const double seconds = (c.lines.at(stop).first - c.lines.at(echo).first) / 1000.0;
    for (int n : perTag)
        QVERIFY2(qAbs(n - 10 * seconds) <= 3, qPrintable(QString("%1 lines in %2 s").arg(n).arg(seconds)));
}

void TestSim::fullRate()
{
    MasterStandIn master(quiet());
    master.setLinkPath(QString());
    master.setFullRate(true);
    QVERIFY(master.start());
    Client c(master.slavePath());
    QVERIFY(waitUntil([&] { return master.isPeerConnected(); }, 2000));
    const int echo = c.command("$PS,\r\n");
    c.spin(200);
    QVERIFY(c.indexes('D', echo).size() > 100);   // at once, not at the next identity line
    const qint64 t0 = c.clock.elapsed(), b0 = c.bytes;
    c.spin(2000);
    const double rate = (c.bytes - b0) * 1000.0 / (c.clock.elapsed() - t0);
    qInfo("full rate: %.0f bytes/s", rate);
    QVERIFY2(rate <= MasterStandIn::LinkBytesPerSecond && rate > 0.6 * MasterStandIn::LinkBytesPerSecond,
             QByteArray::number(rate).constData());
    const qint64 sent = c.clock.elapsed();
    const int at = c.command("$PH,FFFF,1,1,\r\n");   // commands still get through at once
    QVERIFY(at >= 0 && c.lines.at(at).first - sent < 100);
}

void TestSim::programAgainstStandIn()
{
    Scenario s = Scenario::builtIn();
    s.outliers = 0;   // one in the averaging window would throw the standing tag off by decimetres
    MasterStandIn master(s);
    master.setLinkPath(QString());
    QVERIFY(master.start());
    MainWin w;
    w.show();
    ModalAnswerer boxes;
    QVERIFY(connectWindow(w, master.slavePath()));
    QVERIFY(waitUntil([&] { return master.isPeerConnected(); }, 2000));
    // The demo settings, the reminder answered No; then ranging, with the chart running.
    const QString cfg = QFINDTESTDATA("../sim/demo.cfg");
    w.chooseOpenFile = [&](const QString&, const QString&) { return cfg; };
    findButton(&w, "btnLoadSettings")->click();
    QCOMPARE(w.modules.tags.size(), 2);
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive && waitUntil([&] { return master.isRanging(); }, 1000));
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("2B01").size() >= 20 && w.rangingHistory.value("2B02").size() >= 20; }, 4000));
    QTest::qWait(300);

    // The standing tag where it stands, the walker within a metre (the average
    // lags), both at about ten lines a second.
    const Tag& standing = w.modules.tags.at(w.modules.findTag("2B02"));
    QVERIFY2(std::hypot(standing.avgX - 300, standing.avgY - 400) <= 15, qPrintable(QString("%1,%2").arg(standing.avgX).arg(standing.avgY)));
    const Tag& walker = w.modules.tags.at(w.modules.findTag("2B01"));
    QPointF truth;
    master.scenario().positionAt("2B01", master.elapsedMs(), &truth);
    QVERIFY(std::hypot(walker.avgX - truth.x(), walker.avgY - truth.y()) <= 100);
    for (const char* id : {"2B01", "2B02"})
        QVERIFY(qAbs(historyRate(w.rangingHistory.value(id)) - 10.5) < 1.5);
    QVERIFY(w.findChild<QLabel*>("labAbstandMaster")->text().startsWith("Abstand Tag \"Läufer\" -> Master: "));
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(!w.rangingActive && waitUntil([&] { return !master.isRanging(); }, 1000));

    // Discovery finds the module nobody configured; as a tag it goes to the master.
    QVERIFY(runModalDialog<DiscoverWin>(boxes, findButton(&w, "btnDiscovery"), [&](DiscoverWin* dlg) {
        findButton(dlg, "btnStartDiscovery")->click();
        QTableWidget* t = dlg->table();
        QVERIFY(waitUntil([&] { return t->rowCount() == 7; }, 3000));
        QCOMPARE(t->item(6, 0)->text(), QString("2B03"));
        auto* role = t->cellWidget(6, 1)->findChild<QComboBox*>();
        role->setCurrentIndex(role->findText("Tag"));
        findButton(dlg, "btnStartDiscovery")->click();
        findButton(dlg, "btnFinishDiscovery")->click();
    }));
    QCOMPARE(master.configuration().toLine(), QByteArray("$PK,1A2B,3,3,3C4D,5E6F,7A80,2B01,2B02,2B03,\r\n"));
    QCOMPARE(boxes.seen.size(), 1);   // the reminder only
    QCOMPARE(w.findChild<QTableWidget*>("tblTags")->rowCount(), 3);
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
