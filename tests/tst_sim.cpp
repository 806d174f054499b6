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
    void scenarioAndConfig();
    void commandEcho();
    void identityAndDiscovery();
    void ranging();
    void reconfiguration();
    void errorModel();
    void outputRate();
    void reconnectAndLink();
    void executable();
};

void TestSim::scenarioAndConfig()
{
    const Scenario s = Scenario::builtIn();
    QCOMPARE(s.check(), QString());
    QCOMPARE(s.initialConfiguration().toLine(), DefaultK);
    QCOMPARE(s.onAir(), QStringList({"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"}));
    QPointF p;
    QVERIFY(s.positionAt("5e6f", 12345, &p));   // any letter case
    QCOMPARE(p, QPointF(1000, 800));
    QVERIFY(!s.positionAt("BEEF", 0, &p));
    // The walker: 1 m/s round a 6 m x 4 m rectangle, back at the start after 20 s.
    const QList<QPair<qint64, QPointF>> walk = {{1000, {300, 200}}, {7000, {800, 300}}, {20000, {200, 200}}};
    for (const auto& w : walk) {
        QVERIFY(s.positionAt("2B01", w.first, &p));
        QVERIFY2(dist(p, w.second) < 1e-6, qPrintable(QString::number(w.first)));
    }

    // A scenario document: unconfigured modules are on the air but not listed.
    Scenario j;
    QString error;
    QVERIFY2(j.loadJson(R"({"rate": 25, "seed": 42,
        "anchors": [{"id": "100", "x": 0, "y": 0}, {"id": "101", "position": [1500, 0]},
                    {"id": "102", "x": 1500, "y": 300, "configured": false}],
        "tags": [{"id": "a1", "waypoints": [[100, 100], [1400, 100]], "speed": 200}]})", &error),
             qPrintable(error));
    QCOMPARE(j.masterId(), QString("100"));
    QCOMPARE(j.initialConfiguration().anchors, QStringList({"101"}));
    QCOMPARE(j.initialConfiguration().tags, QStringList({"a1"}));
    QCOMPARE(j.onAir(), QStringList({"101", "102", "a1"}));
    j.positionAt("A1", 8000, &p);   // 1300 out, 300 back at 2 m/s
    QCOMPARE(p, QPointF(1100, 100));

    // Broken documents are refused with a reason and change nothing.
    const QByteArray a1 = R"({"anchors": [{"id": "1", "x": 0, "y": 0}])";
    const QList<QByteArray> broken = {
        "{\"anchors\": [", "{}", R"({"anchors": [{"id": "XYZ", "x": 0, "y": 0}]})",
        R"({"anchors": [{"id": "1A2B", "x": 0, "y": 0}, {"id": "1a2b", "x": 5, "y": 0}]})",   // twice
        a1 + R"(, "tags": [{"id": "2", "waypoints": []}]})", a1 + R"(, "rate": 0})", a1 + R"(, "dropout": 1.5})",
    };
    for (const QByteArray& doc : broken) {
        Scenario t = Scenario::builtIn();
        error.clear();
        QVERIFY2(!t.loadJson(doc, &error) && !error.isEmpty(), doc.constData());
        QCOMPARE(t.initialConfiguration().toLine(), DefaultK);
    }

    // The master's side of the configuration command.
    MasterConfig parsed;
    QVERIFY(MasterConfig::parse(DefaultK, &parsed));
    QCOMPARE(parsed, s.initialConfiguration());
    QVERIFY(MasterConfig::parse("$PK,1A2B,2,0,3C4D,3C4D,\n", &parsed));   // a twice-listed id, bare LF
    QCOMPARE(parsed.anchors.size(), 2);
    const MasterConfig before = parsed;
    for (const QByteArray& line : QList<QByteArray>({"$PK,,0,0,\r\n", "$PK,1A2B,1,0,\r\n", "$PK,1A2B,0,0,,\r\n",
                                                     "$PK,1A2B,4,0,1,2,3,4,\r\n", "$PK,1A2B,1,0,XYZ,\r\n",
                                                     "$PK,1A2B,-1,0,\r\n", "$PK,1A2B,0,0,"})) {
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
    // program's 100 ms reply time-out, also when paced one byte per 5 ms.
    const QList<QByteArray> accepted = {"$PW,1,\r\n", "$PW,0,\r\n", "$PH,FFFF,1,1,\r\n", "$PS,\r\n", "$PG,\r\n",
                                        DefaultK, "$PL,\r\n", "$PK,1A2B,1,1,3C4D,2B02,\r\n", "$PH,2B02,1,1,\r\n"};
    for (const QByteArray& cmd : accepted) {
        const qint64 sentAt = c.now();
        const int at = c.command(cmd);
        QVERIFY2(at >= 0 && c.lines.at(at).ms - sentAt < 100, cmd.constData());
    }
    int from = c.lines.size();
    QVERIFY(c.sendPaced("$PH,FFFF,2,1,\r\n"));
    QVERIFY(c.waitFor("$PH,FFFF,2,1,\r\n", 100, from) >= 0);
    const QByteArray k = "$PK,1A2B,1,1,3C4D,2B02,\r\n";
    QCOMPARE(rig.master.configuration().toLine(), k);

    // Malformed or unknown commands get no answer at all.
    const QList<QByteArray> refused = {"$PS,1,\r\n", "$PW,2,\r\n", "$PH,FFFF,3,1,\r\n", "$PH,2B03,1,1,\r\n",
                                       "$PH,5E6F,1,1,\r\n",   // an anchor the configuration does not list
                                       "$PK,1A2B,1,0,\r\n", "$PZ,\r\n"};
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

    // Reset: the master alone, so nothing left to range.
    const int reset = c.command("$PL,\r\n");
    QVERIFY(reset >= 0);
    QCOMPARE(rig.master.configuration().toLine(), QByteArray("$PK,1A2B,0,0,\r\n"));
    c.spin(400);
    QVERIFY(c.indexesOf('D', reset + 1).isEmpty());
    const int from = c.lines.size();
    QVERIFY(c.send("$PS,\r\n"));
    QVERIFY(c.waitFor("$PK,1A2B,0,0,\r\n", 1000, from) >= 0);
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
}

void TestSim::outputRate()
{
    Rig rig(quietScenario());
    rig.master.setFullRate(true);
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;
    // Start right after a $PX, so that the next one (which also wakes the
    // output) is a second away: ranging lines must follow the start at once.
    const int x = c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PX,"); }, 2000);
    QVERIFY(x >= 0);
    QVERIFY(c.send("$PS,\r\n"));
    const int started = c.waitFor("$PS,\r\n", 1000, x);
    QVERIFY(started >= 0);
    c.spin(200);
    const int early = c.indexesOf('D', started).size();
    QVERIFY2(early > 100, QByteArray::number(early).constData());
    const qint64 t0 = c.now();
    const qint64 bytes0 = c.totalBytes;
    const qint64 sent0 = rig.master.bytesSent(), sim0 = rig.master.elapsedMs();
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

}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
