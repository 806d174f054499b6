#include "masterconfig.h"
#include "masterstandin.h"
#include "scenario.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The program's side of the terminal: a plain fd that records every line with
// its arrival time.
class SlaveClient
{
public:
    struct Line {
        qint64 ms;
        QByteArray text;
    };

    explicit SlaveClient(const QString& path) { open(path); }
    ~SlaveClient() { close(); }

    bool open(const QString& path)
    {
        close();
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        struct termios raw;
        ::tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        if (!clock.isValid())
            clock.start();
        partial.clear();
        return true;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool isOpen() const { return fd >= 0; }
    qint64 now() const { return clock.elapsed(); }

    bool send(const QByteArray& bytes)
    {
        return fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // As the program does it: one byte per 5 ms.
    bool sendPaced(const QByteArray& bytes)
    {
        for (char c : bytes) {
            spin(5);
            if (fd < 0 || ::write(fd, &c, 1) != 1)
                return false;
        }
        return true;
    }

    // Runs the event loop (the stand-in lives in it) while reading.
    void spin(int ms)
    {
        QElapsedTimer t;
        t.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            char buf[8192];
            ssize_t n;
            while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0) {
                const qint64 at = now();
                chunks.append({at, int(n)});
                totalBytes += n;
                for (ssize_t i = 0; i < n; ++i) {
                    partial.append(buf[i]);
                    if (buf[i] == '\n') {
                        lines.append({at, partial});
                        partial.clear();
                    }
                }
            }
            QThread::usleep(500);
        } while (t.elapsed() < ms);
    }

    // Index of the first line from `from` on that matches, or -1.
    int waitForMatch(const std::function<bool(const QByteArray&)>& pred, int timeoutMs, int from = 0)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (int i = from; i < lines.size(); ++i)
                if (pred(lines.at(i).text))
                    return i;
            if (t.elapsed() > timeoutMs)
                return -1;
            spin(2);
        }
    }
    int waitFor(const QByteArray& text, int timeoutMs, int from = 0)
    {
        return waitForMatch([&](const QByteArray& l) { return l == text; }, timeoutMs, from);
    }
    // Sends a command and waits for its echo; the echo's index or -1.
    int command(const QByteArray& text, int timeoutMs = 1000)
    {
        const int from = lines.size();
        return send(text) ? waitFor(text, timeoutMs, from) : -1;
    }
    QList<int> indexesOf(char kind, int from = 0, int to = -1) const
    {
        QList<int> out;
        for (int i = from; i < (to < 0 ? lines.size() : to); ++i)
            if (lines.at(i).text.startsWith(QByteArray("$P") + kind))
                out << i;
        return out;
    }
    // Lines per second between the first and the last of the given lines.
    double rateOf(const QList<int>& idx) const
    {
        return idx.size() < 2 ? 0 : (idx.size() - 1) * 1000.0 / double(lines.at(idx.last()).ms - lines.at(idx.first()).ms);
    }

    QList<Line> lines;
    QList<QPair<qint64, int>> chunks;
    qint64 totalBytes = 0;

private:
    int fd = -1;
    QElapsedTimer clock;
    QByteArray partial;
};

QList<QByteArray> fieldsOf(const QByteArray& line)
{
    return line.trimmed().split(',');
}

double dist(const QPointF& a, const QPointF& b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

struct TruthRow {
    qint64 ms;
    QString tag;
    QPointF pos;
};

QList<TruthRow> readTruth(const QString& path, QString* header)
{
    QList<TruthRow> rows;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    *header = QString::fromLatin1(f.readLine().trimmed());
    while (!f.atEnd()) {
        const QList<QByteArray> c = f.readLine().trimmed().split(',');
        if (c.size() == 4)
            rows.append({c.at(0).toLongLong(), QString::fromLatin1(c.at(1)), QPointF(c.at(2).toDouble(), c.at(3).toDouble())});
    }
    return rows;
}

Scenario quietScenario(double noise = 5)
{
    Scenario s = Scenario::builtIn();
    s.dropout = 0;
    s.outliers = 0;
    s.noiseSigma = noise;
    return s;
}

// A running stand-in without a published link, and a connected client.
struct Rig {
    explicit Rig(const Scenario& s) : master(s) {}
    bool open()
    {
        master.setLinkPath(QString());
        if (!master.start())
            return false;
        client.reset(new SlaveClient(master.slavePath()));
        return client->isOpen() && waitUntil([this] { return master.isPeerConnected(); }, 2000);
    }
    // Starts ranging, lets it run for ms, returns the indexes of the 'D' lines.
    QList<int> range(int ms)
    {
        const int echo = client->command("$PS,\r\n");
        client->spin(ms);
        return echo < 0 ? QList<int>() : client->indexesOf('D', echo);
    }
    MasterStandIn master;
    QScopedPointer<SlaveClient> client;
};

const QByteArray DefaultK = "$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n";

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void scenario();
    void configurationCommand();
    void commandEcho();
    void identityAndDiscovery();
    void ranging();
    void reconfiguration();
    void errorModel();
    void outputRate();
    void reconnectAndLink();
    void executable();
};

void TestSim::scenario()
{
    const Scenario s = Scenario::builtIn();
    QCOMPARE(s.check(), QString());
    const MasterConfig c = s.initialConfiguration();
    QCOMPARE(c.toLine(), DefaultK);
    QCOMPARE(s.onAir(), QStringList({"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"}));
    QVERIFY(s.find("2B03") && !s.find("2B03")->configured);
    QPointF p;
    QVERIFY(s.positionAt("5e6f", 12345, &p));   // any letter case
    QCOMPARE(p, QPointF(1000, 800));
    QVERIFY(!s.positionAt("BEEF", 0, &p));

    // The walker: 1 m/s round a 6 m x 4 m rectangle, back at the start after 20 s,
    // inside the room all the way; the other tag stands.
    const QList<QPair<qint64, QPointF>> walk = {{0, {200, 200}}, {1000, {300, 200}}, {7000, {800, 300}},
                                                {19000, {200, 300}}, {20000, {200, 200}}};
    for (const auto& w : walk) {
        QVERIFY(s.positionAt("2B01", w.first, &p));
        QVERIFY2(dist(p, w.second) < 1e-6, qPrintable(QString::number(w.first)));
    }
    double length = 0;
    QPointF last(200, 200);
    for (qint64 t = 100; t <= 20000; t += 100) {
        s.positionAt("2B01", t, &p);
        QVERIFY(p.x() >= 0 && p.x() <= 1000 && p.y() >= 0 && p.y() <= 800);
        length += dist(p, last);
        last = p;
    }
    QVERIFY(qAbs(length - 2000) < 1);
    s.positionAt("2B02", 9999, &p);
    QCOMPARE(p, QPointF(300, 400));

    // A scenario document.
    Scenario j;
    QString error;
    QVERIFY2(j.loadJson(R"({"name": "Flur", "firmware": "2.3", "rate": 25, "noise": 3.5, "dropout": 0.1,
        "outliers": 0, "seed": 42,
        "anchors": [{"id": "100", "x": 0, "y": 0}, {"id": "101", "position": [1500, 0]},
                    {"id": "102", "x": 1500, "y": 300, "configured": false}],
        "tags": [{"id": "a1", "waypoints": [[100, 100], [1400, 100]], "speed": 200},
                 {"id": "A2", "position": [700, 150]}, {"id": "A3", "waypoints": [[10, 10]], "configured": false}]})",
                        &error), qPrintable(error));
    QCOMPARE(QStringList({j.name, j.firmware}), QStringList({"Flur", "2.3"}));
    QCOMPARE(QList<double>({j.rateHz, j.noiseSigma, j.dropout, j.outliers, double(j.seed)}),
             QList<double>({25, 3.5, 0.1, 0, 42}));
    QCOMPARE(j.masterId(), QString("100"));
    QCOMPARE(j.initialConfiguration().anchors, QStringList({"101"}));
    QCOMPARE(j.initialConfiguration().tags, QStringList({"a1", "A2"}));
    QCOMPARE(j.onAir(), QStringList({"101", "102", "a1", "A2", "A3"}));
    j.positionAt("A1", 3000, &p);   // 600 cm along at 2 m/s
    QCOMPARE(p, QPointF(700, 100));
    j.positionAt("A1", 8000, &p);   // 1300 out, 300 back
    QCOMPARE(p, QPointF(1100, 100));

    // From a file, with the defaults for what it leaves out.
    QTemporaryDir dir;
    const QString path = dir.filePath("s.json");
    QVERIFY(writeFileBytes(path, R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "waypoints": [[0, 100], [100, 100]]}]})"));
    Scenario fromFile;
    QVERIFY2(fromFile.loadFile(path, &error), qPrintable(error));
    QCOMPARE(QList<double>({fromFile.rateHz, fromFile.noiseSigma, fromFile.tags.first().speed}),
             QList<double>({10, 5, 100}));
    QCOMPARE(fromFile.firmware, QString("1.0"));
    QVERIFY(!fromFile.loadFile(dir.filePath("none.json"), &error));
    QVERIFY(error.contains("none.json"));

    // Broken documents are refused with a reason and change nothing.
    const QByteArray a1 = R"({"anchors": [{"id": "1", "x": 0, "y": 0}])";
    const QList<QByteArray> broken = {
        "", "{\"anchors\": [", "[1, 2]", "{}", R"({"anchors": []})",
        R"({"anchors": [{"id": "XYZ", "x": 0, "y": 0}]})", R"({"anchors": [{"id": "1A2B"}]})",
        R"({"anchors": [{"id": "1A2B", "x": 0, "y": 0}, {"id": "1a2b", "x": 5, "y": 0}]})",   // twice
        a1 + R"(, "tags": [{"id": "2", "waypoints": []}]})", a1 + R"(, "tags": [{"id": "2", "position": [1, 1], "speed": -1}]})",
        a1 + R"(, "rate": 0})", a1 + R"(, "dropout": 1.5})", a1 + R"(, "seed": 1.5})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}, {"id": "2", "x": 1, "y": 0}, {"id": "3", "x": 2, "y": 0},
                        {"id": "4", "x": 3, "y": 0}, {"id": "5", "x": 4, "y": 0}]})",   // more than the kit has
    };
    for (const QByteArray& doc : broken) {
        Scenario t = Scenario::builtIn();
        error.clear();
        QVERIFY2(!t.loadJson(doc, &error) && !error.isEmpty(), doc.constData());
        QCOMPARE(t.initialConfiguration().toLine(), DefaultK);
    }
    // Five anchors are fine when the extra one is only on the air.
    QVERIFY(j.loadJson(R"({"anchors": [{"id": "1", "x": 0, "y": 0}, {"id": "2", "x": 1, "y": 0}, {"id": "3", "x": 2, "y": 0},
                        {"id": "4", "x": 3, "y": 0}, {"id": "5", "x": 4, "y": 0, "configured": false}]})", &error));
}

void TestSim::configurationCommand()
{
    MasterConfig parsed;
    QVERIFY(MasterConfig::parse(DefaultK, &parsed));
    QCOMPARE(parsed, Scenario::builtIn().initialConfiguration());
    QCOMPARE(parsed.rangingAnchors(), QStringList({"1A2B", "3C4D", "5E6F", "7A80"}));
    QVERIFY(MasterConfig::parse("$PK,1A2B,0,0,\r\n", &parsed));
    QCOMPARE(parsed.toLine(), QByteArray("$PK,1A2B,0,0,\r\n"));
    QVERIFY(MasterConfig::parse("$PK,1A2B,1,1,3C4D,7A8B,\n", &parsed));   // bare line feed
    QCOMPARE(parsed.tags, QStringList({"7A8B"}));
    // The program may list one id twice; the master takes it as given.
    QVERIFY(MasterConfig::parse("$PK,1A2B,2,0,3C4D,3C4D,\r\n", &parsed));
    QCOMPARE(parsed.anchors.size(), 2);
    QVERIFY(parsed.contains("3c4d"));

    const MasterConfig before = parsed;
    const QList<QByteArray> bad = {
        "$PK,0,0,0,\r\n", "$PK,,0,0,\r\n", "$PK,1A2B,1,0,\r\n", "$PK,1A2B,0,1,3C4D,5E6F,\r\n",
        "$PK,1A2B,0,0\r\n", "$PK,1A2B,0,0,,\r\n", "$PK,1A2B,4,0,1,2,3,4,\r\n", "$PK,1A2B,0,5,1,2,3,4,5,\r\n",
        "$PK,1A2B,1,0,XYZ,\r\n", "$PK,1A2B,1,0, 3C4D,\r\n", "$PK,1A2B,G,0,\r\n", "$PK,1A2B,-1,0,\r\n",
        "$PK,1A2B,0,0,", "$PX,1A2B,0,0,\r\n", "$PK\r\n",
    };
    for (const QByteArray& line : bad) {
        parsed = before;
        QVERIFY2(!MasterConfig::parse(line, &parsed), line.constData());
        QCOMPARE(parsed, before);
    }
}

void TestSim::commandEcho()
{
    Rig rig(quietScenario());
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;

    // Every accepted command comes back as its exact line, well inside the
    // program's 100 ms reply time-out.
    const QList<QByteArray> accepted = {
        "$PW,1,\r\n", "$PW,0,\r\n", "$PH,FFFF,1,1,\r\n", "$PH,3C4D,2,0,\r\n", "$PH,2b01,1,0,\r\n",
        "$PH,1A2B,2,1,\r\n", "$PS,\r\n", "$PG,\r\n", DefaultK, "$PL,\r\n",
        "$PK,1A2B,1,1,3C4D,2B02,\r\n", "$PH,2B02,1,1,\r\n",
    };
    for (const QByteArray& cmd : accepted) {
        const qint64 sentAt = c.now();
        const int at = c.command(cmd);
        QVERIFY2(at >= 0 && c.lines.at(at).ms - sentAt < 100, cmd.constData());
    }
    QCOMPARE(rig.master.commandsAccepted(), accepted.size());
    const QByteArray k = "$PK,1A2B,1,1,3C4D,2B02,\r\n";
    QCOMPARE(rig.master.configuration().toLine(), k);

    // Paced as the program sends: one byte every 5 ms.
    int from = c.lines.size();
    QVERIFY(c.sendPaced("$PH,FFFF,2,1,\r\n"));
    QVERIFY(c.waitFor("$PH,FFFF,2,1,\r\n", 100, from) >= 0);

    // Malformed or unknown commands get no answer at all.
    const QList<QByteArray> refused = {
        "$PS\r\n", "$PS,1,\r\n", "$PG,,\r\n", "$PW,2,\r\n", "$PW,\r\n", "$PL,0,\r\n",
        "$PH,FFFF,3,1,\r\n", "$PH,FFFF,1,2,\r\n", "$PH,FFFF,1,1\r\n", "$PH,2B03,1,1,\r\n", "$PH,XYZ,1,1,\r\n",
        "$PH,5E6F,1,1,\r\n",   // an anchor the current configuration does not list
        "$PK,1A2B,1,0,\r\n", "$PK,0,0,0,\r\n", "$PX,1A2B,1.0\r\n", "$PZ,\r\n", "$P\r\n", "$\r\n",
    };
    from = c.lines.size();
    const int ignoredBefore = rig.master.commandsIgnored();
    for (const QByteArray& cmd : refused)
        QVERIFY(c.send(cmd));
    // Noise between lines, and a line cut short by the next '$'.
    QVERIFY(c.send("\x01\xff junk\r\n$PW,1$PG,\r\n"));
    QVERIFY(c.waitFor("$PG,\r\n", 1000, from) >= 0);
    c.spin(300);
    for (int i = from; i < c.lines.size(); ++i)
        QVERIFY2(c.lines.at(i).text.startsWith("$PX,") || c.lines.at(i).text == "$PG,\r\n", c.lines.at(i).text.constData());
    QCOMPARE(rig.master.commandsIgnored() - ignoredBefore, refused.size());
    QCOMPARE(rig.master.configuration().toLine(), k);
    QVERIFY(!rig.master.isDiscovering());

    // An overlong line without a line feed is forgotten, and the next one works.
    from = c.lines.size();
    QVERIFY(c.send("$PK," + QByteArray(1000, 'A') + "$PS,\r\n"));
    QVERIFY(c.waitFor("$PS,\r\n", 1000, from) >= 0);
}

void TestSim::identityAndDiscovery()
{
    Rig rig(quietScenario());
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;
    const int echo = c.command("$PW,1,\r\n");
    QVERIFY(echo >= 0);
    QVERIFY(rig.master.isDiscovering());
    c.spin(3300);

    // Identity about once a second; discovery twice a second with the master in
    // field 2, then everything on the air, the unconfigured tag included.
    const QList<int> xs = c.indexesOf('X');
    const QList<int> ws = c.indexesOf('W', echo + 1);
    QVERIFY2(xs.size() >= 3 && xs.size() <= 4, QByteArray::number(xs.size()).constData());
    QVERIFY2(ws.size() >= 5 && ws.size() <= 8, QByteArray::number(ws.size()).constData());
    for (int i : xs)
        QCOMPARE(c.lines.at(i).text, QByteArray("$PX,1A2B,1.0\r\n"));
    for (int i : ws) {
        const QList<QByteArray> f = fieldsOf(c.lines.at(i).text);
        QVERIFY(f.size() >= 3 && !f.at(1).isEmpty() && c.lines.at(i).text.endsWith("\r\n"));
        QCOMPARE(f.at(2), QByteArray("1A2B"));
        for (const char* id : {"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"})
            QVERIFY(f.mid(3).contains(id));
    }
    auto gapsWithin = [&](const QList<int>& idx, qint64 lo, qint64 hi) {
        for (int i = 1; i < idx.size(); ++i) {
            const qint64 gap = c.lines.at(idx.at(i)).ms - c.lines.at(idx.at(i - 1)).ms;
            if (gap <= lo || gap >= hi)
                return false;
        }
        return true;
    };
    QVERIFY(gapsWithin(xs, 700, 1300));
    QVERIFY(gapsWithin(ws, 300, 700));

    // Off: nothing more after the echo.
    const int off = c.command("$PW,0,\r\n");
    QVERIFY(off >= 0);
    c.spin(1200);
    QVERIFY(c.indexesOf('W', off + 1).isEmpty());
    QVERIFY(!rig.master.isDiscovering());
}

void TestSim::ranging()
{
    QTemporaryDir dir;
    const QString truthPath = dir.filePath("truth.csv");
    Rig rig(quietScenario());
    QVERIFY(rig.master.setTruthFile(truthPath));
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;

    const int echo = c.command("$PS,\r\n");
    QVERIFY(echo >= 0 && rig.master.isRanging());
    c.spin(3000);
    const int stop = c.command("$PG,\r\n");
    QVERIFY(stop > echo);
    c.spin(500);
    rig.master.flushTruth();

    // Right after the echo comes the module list, before any ranging line; no
    // ranging line after the stop's echo.
    int k = echo + 1;
    while (c.lines.at(k).text.startsWith("$PX"))
        ++k;
    QCOMPARE(c.lines.at(k).text, DefaultK);
    QVERIFY(c.indexesOf('D', 0, k).isEmpty());
    QVERIFY(c.indexesOf('D', stop).isEmpty());
    QVERIFY(!rig.master.isRanging());

    const QList<int> ds = c.indexesOf('D', k);
    QString header;
    const QList<TruthRow> truth = readTruth(truthPath, &header);
    QCOMPARE(header, QString("time_ms,tag_id,x_cm,y_cm"));
    QCOMPARE(truth.size(), ds.size());
    QCOMPARE(rig.master.linesSent('D'), ds.size());

    // Upper-case hex distances to the four anchors, noisy around the truth.
    QHash<QByteArray, QList<int>> perTag;
    const QRegularExpression upperHex("^[0-9A-F]+$");
    const QList<QPointF> anchors = {{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    double sum = 0, sumSq = 0;
    int n = 0;
    for (int j = 0; j < ds.size(); ++j) {
        const QList<QByteArray> f = fieldsOf(c.lines.at(ds.at(j)).text);
        QCOMPARE(f.size(), 6);
        QCOMPARE(QString::fromLatin1(f.at(1)), truth.at(j).tag);
        perTag[f.at(1)] << ds.at(j);
        // The truth row belongs to this line and lies on the scenario's path.
        QPointF expected;
        rig.master.scenario().positionAt(truth.at(j).tag, truth.at(j).ms, &expected);
        QVERIFY(dist(expected, truth.at(j).pos) < 0.1);
        for (int a = 0; a < 4; ++a) {
            QVERIFY2(upperHex.match(QString::fromLatin1(f.at(2 + a))).hasMatch(), f.at(2 + a).constData());
            const double err = f.at(2 + a).toInt(nullptr, 16) - dist(truth.at(j).pos, anchors.at(a));
            QVERIFY2(qAbs(err) < 26, QByteArray::number(err).constData());
            sum += err;
            sumSq += err * err;
            ++n;
        }
    }
    // About 10 lines per second and tag.
    QCOMPARE(perTag.size(), 2);
    for (const QList<int>& lines : perTag) {
        QVERIFY(lines.size() >= 20);
        QVERIFY2(c.rateOf(lines) > 8.5 && c.rateOf(lines) < 11.5, QByteArray::number(c.rateOf(lines)).constData());
    }
    const double mean = sum / n;
    const double sigma = std::sqrt(sumSq / n - mean * mean);
    QVERIFY2(qAbs(mean) < 1.5 && sigma > 3.5 && sigma < 6.5, qPrintable(QString("%1 %2").arg(mean).arg(sigma)));

    // The walker walks at about 1 m/s; the other one stands.
    double walked = 0;
    QList<const TruthRow*> walker;
    for (const TruthRow& r : truth) {
        if (r.tag == "2B02")
            QCOMPARE(r.pos, QPointF(300, 400));
        else
            walker << &r;
    }
    for (int i = 1; i < walker.size(); ++i)
        walked += dist(walker.at(i)->pos, walker.at(i - 1)->pos);
    const double speed = walked * 1000.0 / double(walker.last()->ms - walker.first()->ms);
    QVERIFY2(speed > 90 && speed < 101, QByteArray::number(speed).constData());
}

void TestSim::reconfiguration()
{
    Rig rig(quietScenario(0));
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;

    // A new configuration while stopped: the next module list and the ranging lines follow it.
    const QByteArray k1 = "$PK,1A2B,1,1,5E6F,2B02,\r\n";
    QVERIFY(c.command(k1) >= 0);
    QCOMPARE(rig.master.configuration().toLine(), k1);
    const int echo = c.command("$PS,\r\n");
    QVERIFY(echo >= 0 && c.waitFor(k1, 1000, echo + 1) > echo);
    c.spin(600);
    QList<int> ds = c.indexesOf('D', echo);
    QVERIFY(ds.size() >= 4);
    for (int i : ds)
        QCOMPARE(c.lines.at(i).text, QByteArray("$PD,2B02,1F4,326\r\n"));   // 500 and 806 cm

    // While ranging: anchor 3C4D, an anchor not on the air, the walker, a tag not on the air.
    const QByteArray k2 = "$PK,1A2B,2,2,3C4D,ABCD,2B01,BEEF,\r\n";
    const int echo2 = c.command(k2);
    QVERIFY(echo2 >= 0);
    c.spin(600);
    ds = c.indexesOf('D', echo2);
    QVERIFY(ds.size() >= 4);
    for (int i : ds) {
        const QList<QByteArray> f = fieldsOf(c.lines.at(i).text);
        QCOMPARE(f.size(), 5);
        QCOMPARE(f.at(1), QByteArray("2B01"));
        QVERIFY(f.at(2) != "0" && f.at(3) != "0");
        QCOMPARE(f.at(4), QByteArray("0"));   // nobody answers for ABCD
    }
    // A single tag is ranged at the full per-tag rate.
    QVERIFY2(c.rateOf(ds) > 7 && c.rateOf(ds) < 13, QByteArray::number(c.rateOf(ds)).constData());

    // Reset: the master alone, so nothing left to range.
    const int reset = c.command("$PL,\r\n");
    QVERIFY(reset >= 0);
    QCOMPARE(rig.master.configuration().toLine(), QByteArray("$PK,1A2B,0,0,\r\n"));
    c.spin(400);
    QVERIFY(c.indexesOf('D', reset + 1).isEmpty());
    const int from = c.lines.size();
    QVERIFY(c.send("$PS,\r\n"));
    QVERIFY(c.waitFor("$PK,1A2B,0,0,\r\n", 1000, from) >= 0);

    // The default configuration again: all four distances.
    const int back = c.command(DefaultK);
    QVERIFY(back >= 0);
    const int d = c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PD,2B02,"); }, 1000, back);
    QVERIFY(d > back);
    QCOMPARE(c.lines.at(d).text, QByteArray("$PD,2B02,1F4,326,326,1F4\r\n"));   // 500, 806, 806, 500
}

void TestSim::errorModel()
{
    // Every distance dropped.
    {
        Scenario s = Scenario::builtIn();
        s.dropout = 1;
        Rig rig(s);
        QVERIFY(rig.open());
        const QList<int> ds = rig.range(500);
        QVERIFY(ds.size() >= 5);
        for (int i : ds)
            QVERIFY(rig.client->lines.at(i).text.endsWith(",0,0,0,0\r\n"));
    }
    // Every distance an outlier: too long by 1 to 8 m, never too short.
    {
        Scenario s = quietScenario(0);
        s.outliers = 1;
        Rig rig(s);
        QVERIFY(rig.open());
        int seen = 0;
        const QList<double> trueDist = {500, std::hypot(700.0, 400.0), std::hypot(700.0, 400.0), 500};
        for (int i : rig.range(500)) {
            const QList<QByteArray> f = fieldsOf(rig.client->lines.at(i).text);
            if (f.at(1) != "2B02")
                continue;
            for (int a = 0; a < 4; ++a) {
                const double excess = f.at(2 + a).toInt(nullptr, 16) - trueDist.at(a);
                QVERIFY2(excess >= 99 && excess <= 801, QByteArray::number(excess).constData());
            }
            ++seen;
        }
        QVERIFY(seen >= 2);
    }
    // The same seed gives the same distances (the standing tag only: no dependence on timing).
    {
        QList<QByteArray> runs[2];
        for (QList<QByteArray>& run : runs) {
            Scenario s = Scenario::builtIn();
            s.seed = 7;
            s.tags.removeFirst();
            Rig rig(s);
            QVERIFY(rig.open());
            for (int i : rig.range(700))
                run << rig.client->lines.at(i).text;
        }
        const int n = qMin(runs[0].size(), runs[1].size());
        QVERIFY(n >= 4);
        QCOMPARE(runs[0].mid(0, n), runs[1].mid(0, n));
    }
    // Malformed lines mixed in, one after every 4 good ones.
    {
        Rig rig(quietScenario());
        rig.master.setMalformedEvery(4);
        QVERIFY(rig.open());
        rig.range(1000);
        const QRegularExpression good(
            "^\\$P(D,[0-9A-F]{4}(,[0-9A-F]+){4}|X,1A2B,1\\.0|S,|K,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,|R,\\d+)\\r\\n$");
        int bad = 0;
        for (const SlaveClient::Line& l : rig.client->lines)
            bad += good.match(QString::fromLatin1(l.text)).hasMatch() ? 0 : 1;
        const int total = rig.client->lines.size();
        QVERIFY(total >= 15);
        QCOMPARE(bad, rig.master.linesSent('!'));
        QVERIFY2(qAbs(bad * 5 - total) <= 5, qPrintable(QString("%1 of %2").arg(bad).arg(total)));
    }
}

void TestSim::outputRate()
{
    Rig rig(quietScenario());
    rig.master.setFullRate(true);
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;
    QVERIFY(c.command("$PS,\r\n") >= 0);
    c.spin(200);
    const qint64 t0 = c.now(), bytes0 = c.totalBytes, sent0 = rig.master.bytesSent(), sim0 = rig.master.elapsedMs();
    const int lines0 = c.lines.size();
    c.spin(3000);
    const double seconds = (c.now() - t0) / 1000.0;
    const double rate = (c.totalBytes - bytes0) / seconds;
    const double linesPerSecond = (c.lines.size() - lines0) / seconds;
    const double simRate = (rig.master.bytesSent() - sent0) * 1000.0 / double(rig.master.elapsedMs() - sim0);
    qint64 worstSecond = 0;
    for (int i = 0; i < c.chunks.size() && c.chunks.at(i).first + 1000 <= c.chunks.last().first; ++i) {
        qint64 inWindow = 0;
        for (int j = i; j < c.chunks.size() && c.chunks.at(j).first < c.chunks.at(i).first + 1000; ++j)
            inWindow += c.chunks.at(j).second;
        worstSecond = qMax(worstSecond, inWindow);
    }
    qInfo("full rate: %.0f bytes/s received, %.0f sent, %.0f lines/s, busiest second %lld bytes", rate, simRate,
          linesPerSecond, worstSecond);

    // Never more than the link carries, over the whole run and in any second; and it does fill the link.
    const double link = MasterStandIn::LinkBytesPerSecond;
    QVERIFY2(simRate <= link && rate <= link && worstSecond <= link, "over the link rate");
    QVERIFY2(rate > link * 0.6 && linesPerSecond > 1000, "link not filled");

    // Commands still get through a full link promptly.
    const qint64 sentAt = c.now();
    const int echo = c.command("$PH,FFFF,1,1,\r\n");
    QVERIFY(echo >= 0 && c.lines.at(echo).ms - sentAt < 100);
}

void TestSim::reconnectAndLink()
{
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("master");
    // A link left by a crashed run points nowhere; it is replaced.
    QVERIFY(QFile::link("/dev/pts/nonexistent", linkPath));
    {
        MasterStandIn m(quietScenario());
        m.setLinkPath(linkPath);
        QString error;
        QVERIFY2(m.start(&error), qPrintable(error));
        QCOMPARE(QFile::symLinkTarget(linkPath), m.slavePath());

        SlaveClient c(linkPath);
        QVERIFY(c.isOpen() && waitUntil([&] { return m.isPeerConnected(); }, 1000));
        QVERIFY(c.command("$PS,\r\n") >= 0);
        QVERIFY(c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PD"); }, 1000) >= 0);

        // The program closes its port; lines meanwhile go nowhere.
        c.close();
        QVERIFY(waitUntil([&] { return !m.isPeerConnected(); }, 1000));
        const int droppedBefore = m.linesDropped();
        QTest::qWait(500);
        QVERIFY(m.linesDropped() > droppedBefore);
        QVERIFY(m.isRanging());

        // ...and opens it again: nothing stale or torn arrives first, and the link works.
        const int from = c.lines.size();
        QVERIFY(c.open(linkPath) && waitUntil([&] { return m.isPeerConnected(); }, 1000));
        c.spin(300);
        QVERIFY(c.lines.size() > from);
        for (int i = from; i < c.lines.size(); ++i)
            QVERIFY2(c.lines.at(i).text.startsWith("$P") && c.lines.at(i).text.endsWith("\r\n"),
                     c.lines.at(i).text.constData());
        QVERIFY(c.command("$PG,\r\n") >= 0);

        // Twice more, quickly.
        for (int round = 0; round < 2; ++round) {
            c.close();
            QVERIFY(waitUntil([&] { return !m.isPeerConnected(); }, 1000));
            QVERIFY(c.open(linkPath));
            QVERIFY(c.command("$PW,1,\r\n") >= 0);
        }
    }
    QVERIFY(!QFileInfo(linkPath).isSymLink());   // gone with the stand-in

    // A regular file in the way is not clobbered.
    QVERIFY(writeFileBytes(linkPath, "keep me"));
    MasterStandIn m(quietScenario());
    m.setLinkPath(linkPath);
    QString error;
    QVERIFY(!m.start(&error) && !error.isEmpty() && !m.isRunning());
    QCOMPARE(readFileBytes(linkPath), QByteArray("keep me"));
}

void TestSim::executable()
{
    const QString binary = qEnvironmentVariable("ORVANE_BINARY_DIR") + "/sim/orvane-sim";
    if (!QFileInfo(binary).isExecutable())
        QSKIP("orvane-sim not built");
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("link");
    const QString truthPath = dir.filePath("truth.csv");

    QProcess p;
    p.start(binary, {"--link", linkPath, "--truth", truthPath, "--rate", "20", "--seed", "3"});
    QVERIFY(p.waitForStarted());
    QVERIFY(waitUntil([&] { return p.canReadLine(); }, 5000));
    QCOMPARE(QString::fromLocal8Bit(p.readLine().trimmed()), linkPath);

    SlaveClient c(linkPath);
    QVERIFY(c.isOpen());
    QVERIFY(c.waitFor("$PX,1A2B,1.0\r\n", 2000) >= 0);
    const int from = c.lines.size();
    QVERIFY(c.sendPaced("$PS,\r\n"));
    QVERIFY(c.waitFor("$PS,\r\n", 1000, from) >= 0);
    QVERIFY(c.waitFor(DefaultK, 1000, from) >= 0);
    c.spin(1000);
    const int d = c.indexesOf('D', from).size();
    QVERIFY2(d >= 30 && d <= 50, QByteArray::number(d).constData());   // 2 tags at 20 Hz
    c.close();

    p.terminate();   // SIGTERM: a clean exit that takes the link along
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(linkPath).isSymLink());
    QString header;
    QVERIFY(readTruth(truthPath, &header).size() >= d);

    // A broken scenario file stops it before anything is opened.
    const QString bad = dir.filePath("bad.json");
    QVERIFY(writeFileBytes(bad, "{\"anchors\": 5}"));
    QProcess q;
    q.start(binary, {"--link", linkPath, "--scenario", bad});
    QVERIFY(q.waitForFinished(5000));
    QCOMPARE(q.exitCode(), 2);
    QVERIFY(q.readAllStandardError().contains("anchors"));
    QVERIFY(!QFileInfo(linkPath).isSymLink());
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
