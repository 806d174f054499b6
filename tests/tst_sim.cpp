#include "cominterface.h"
#include "masterconfig.h"
#include "masterstandin.h"
#include "scenario.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cerrno>
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

    // Whole line at once.
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

    void poll()
    {
        if (fd < 0)
            return;
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            const qint64 t = now();
            chunks.append({t, int(n)});
            totalBytes += n;
            for (ssize_t i = 0; i < n; ++i) {
                partial.append(buf[i]);
                if (buf[i] == '\n') {
                    lines.append({t, partial});
                    partial.clear();
                }
            }
        }
    }

    // Runs the event loop (the stand-in lives in it) while reading.
    void spin(int ms)
    {
        QElapsedTimer t;
        t.start();
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            poll();
            QThread::usleep(500);
        } while (t.elapsed() < ms);
    }

    // Index of the first line from `from` on that equals `text`, or -1.
    int waitFor(const QByteArray& text, int timeoutMs, int from = 0)
    {
        return waitForMatch([&](const QByteArray& l) { return l == text; }, timeoutMs, from);
    }
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
    QList<int> indexesOf(char kind, int from = 0, int to = -1) const
    {
        QList<int> out;
        for (int i = from; i < (to < 0 ? lines.size() : to); ++i)
            if (lines.at(i).text.startsWith(QByteArray("$P") + kind))
                out << i;
        return out;
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

Scenario quietScenario()
{
    Scenario s = Scenario::builtIn();
    s.dropout = 0;
    s.outliers = 0;
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
    MasterStandIn master;
    QScopedPointer<SlaveClient> client;
};

const QByteArray DefaultK = "$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n";

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void scenarioModel();
    void scenarioJson();
    void configurationCommand();
    void commandEcho();
    void identityAndDiscovery();
    void ranging();
    void reconfiguration();
    void errorModel();
    void outputRate();
    void reconnectAndLink();
    void programLink();
    void executable();
};

void TestSim::scenarioModel()
{
    const Scenario s = Scenario::builtIn();
    QCOMPARE(s.check(), QString());
    QCOMPARE(s.masterId(), QStringLiteral("1A2B"));
    QCOMPARE(s.anchors.size(), 4);
    QPointF p;
    QVERIFY(s.positionAt(QStringLiteral("5e6f"), 12345, &p));   // case-insensitive
    QCOMPARE(p, QPointF(1000, 800));
    QVERIFY(!s.positionAt(QStringLiteral("BEEF"), 0, &p));

    const MasterConfig c = s.initialConfiguration();
    QCOMPARE(c.master, QStringLiteral("1A2B"));
    QCOMPARE(c.anchors, QStringList({"3C4D", "5E6F", "7A80"}));
    QCOMPARE(c.tags, QStringList({"2B01", "2B02"}));
    QCOMPARE(s.onAir(), QStringList({"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"}));

    // The walker: 1 m/s round a 6 m x 4 m rectangle, back at the start after 20 s.
    QVERIFY(s.positionAt(QStringLiteral("2B01"), 0, &p));
    QCOMPARE(p, QPointF(200, 200));
    s.positionAt(QStringLiteral("2B01"), 1000, &p);
    QCOMPARE(p, QPointF(300, 200));
    s.positionAt(QStringLiteral("2B01"), 7000, &p);
    QCOMPARE(p, QPointF(800, 300));
    s.positionAt(QStringLiteral("2B01"), 20000, &p);
    QVERIFY(dist(p, QPointF(200, 200)) < 1e-6);
    s.positionAt(QStringLiteral("2B01"), 19000, &p);
    QVERIFY(dist(p, QPointF(200, 300)) < 1e-6);   // last leg runs down the left side
    double length = 0;
    QPointF last;
    s.positionAt(QStringLiteral("2B01"), 0, &last);
    for (qint64 t = 100; t <= 20000; t += 100) {
        s.positionAt(QStringLiteral("2B01"), t, &p);
        QVERIFY(p.x() >= 0 && p.x() <= 1000 && p.y() >= 0 && p.y() <= 800);   // stays in the room
        length += dist(p, last);
        last = p;
    }
    QVERIFY(qAbs(length - 2000) < 1);
    // The standing tag and the unconfigured one.
    s.positionAt(QStringLiteral("2B02"), 9999, &p);
    QCOMPARE(p, QPointF(300, 400));
    QVERIFY(s.find(QStringLiteral("2B03")) && !s.find(QStringLiteral("2B03"))->configured);
}

void TestSim::scenarioJson()
{
    const QByteArray good = R"({
        "name": "Flur",
        "firmware": "2.3",
        "rate": 25, "noise": 3.5, "dropout": 0.1, "outliers": 0, "seed": 42,
        "anchors": [
            {"id": "100", "x": 0, "y": 0},
            {"id": "101", "position": [1500, 0]},
            {"id": "102", "x": 1500, "y": 300, "configured": false}
        ],
        "tags": [
            {"id": "a1", "waypoints": [[100, 100], [1400, 100]], "speed": 200},
            {"id": "A2", "position": [700, 150]},
            {"id": "A3", "waypoints": [[10, 10]], "configured": false}
        ]
    })";
    Scenario s;
    QString error;
    QVERIFY2(s.loadJson(good, &error), qPrintable(error));
    QCOMPARE(s.name, QStringLiteral("Flur"));
    QCOMPARE(s.firmware, QStringLiteral("2.3"));
    QCOMPARE(s.rateHz, 25.0);
    QCOMPARE(s.noiseSigma, 3.5);
    QCOMPARE(s.dropout, 0.1);
    QCOMPARE(s.outliers, 0.0);
    QCOMPARE(s.seed, quint32(42));
    QCOMPARE(s.masterId(), QStringLiteral("100"));
    const MasterConfig c = s.initialConfiguration();
    QCOMPARE(c.anchors, QStringList({"101"}));
    QCOMPARE(c.tags, QStringList({"a1", "A2"}));
    QCOMPARE(s.onAir(), QStringList({"101", "102", "a1", "A2", "A3"}));
    QPointF p;
    s.positionAt(QStringLiteral("A1"), 3000, &p);   // 600 cm along at 2 m/s
    QCOMPARE(p, QPointF(700, 100));
    s.positionAt(QStringLiteral("A1"), 8000, &p);   // 1300 out, 300 back
    QCOMPARE(p, QPointF(1100, 100));

    // From a file, and the defaults for what a file leaves out.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("s.json"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "waypoints": [[0, 100], [100, 100]]}]})");
    }
    Scenario fromFile;
    QVERIFY2(fromFile.loadFile(path, &error), qPrintable(error));
    QCOMPARE(fromFile.rateHz, 10.0);
    QCOMPARE(fromFile.noiseSigma, 5.0);
    QCOMPARE(fromFile.tags.first().speed, 100.0);
    QCOMPARE(fromFile.firmware, QStringLiteral("1.0"));

    // Broken documents are refused with a reason and change nothing.
    const QList<QByteArray> broken = {
        "",
        "{\"anchors\": [",
        "[1, 2]",
        "{}",
        R"({"anchors": []})",
        R"({"anchors": [{"id": "XYZ", "x": 0, "y": 0}]})",
        R"({"anchors": [{"id": "0", "x": 0, "y": 0}]})",
        R"({"anchors": [{"id": "1A2B"}]})",
        R"({"anchors": [{"id": "1A2B", "x": "0", "y": 0}]})",
        R"({"anchors": [{"id": "1A2B", "x": 0, "y": 0}, {"id": "1a2b", "x": 5, "y": 0}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "waypoints": [[1, 2, 3]]}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "waypoints": []}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "position": [1, 1], "speed": -1}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "position": [1, 1], "configured": "no"}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": {"id": "2"}})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "rate": 0})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "dropout": 1.5})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "noise": -2})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "seed": 1.5})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}, {"id": "2", "x": 1, "y": 0}, {"id": "3", "x": 2, "y": 0},
                        {"id": "4", "x": 3, "y": 0}, {"id": "5", "x": 4, "y": 0}]})",
        R"({"anchors": [{"id": "1", "x": 0, "y": 0}], "tags": [{"id": "2", "position": [0, 0]},
            {"id": "3", "position": [0, 0]}, {"id": "4", "position": [0, 0]}, {"id": "5", "position": [0, 0]},
            {"id": "6", "position": [0, 0]}]})",
    };
    for (const QByteArray& doc : broken) {
        Scenario t = Scenario::builtIn();
        error.clear();
        QVERIFY2(!t.loadJson(doc, &error), doc.constData());
        QVERIFY2(!error.isEmpty(), doc.constData());
        QCOMPARE(t.masterId(), QStringLiteral("1A2B"));
        QCOMPARE(t.tags.size(), 3);
    }
    // Five anchors are fine when the extra one is only on the air.
    QVERIFY(s.loadJson(R"({"anchors": [{"id": "1", "x": 0, "y": 0}, {"id": "2", "x": 1, "y": 0}, {"id": "3", "x": 2, "y": 0},
                        {"id": "4", "x": 3, "y": 0}, {"id": "5", "x": 4, "y": 0, "configured": false}]})", &error));

    Scenario missing;
    QVERIFY(!missing.loadFile(dir.filePath(QStringLiteral("none.json")), &error));
    QVERIFY(error.contains(QStringLiteral("none.json")));
}

void TestSim::configurationCommand()
{
    const MasterConfig def = Scenario::builtIn().initialConfiguration();
    QCOMPARE(def.toLine(), DefaultK);
    MasterConfig parsed;
    QVERIFY(MasterConfig::parse(DefaultK, &parsed));
    QCOMPARE(parsed, def);
    QCOMPARE(parsed.rangingAnchors(), QStringList({"1A2B", "3C4D", "5E6F", "7A80"}));

    QVERIFY(MasterConfig::parse("$PK,1A2B,0,0,\r\n", &parsed));
    QCOMPARE(parsed.master, QStringLiteral("1A2B"));
    QVERIFY(parsed.anchors.isEmpty() && parsed.tags.isEmpty());
    QCOMPARE(parsed.toLine(), QByteArray("$PK,1A2B,0,0,\r\n"));
    QVERIFY(MasterConfig::parse("$PK,1A2B,1,1,3C4D,7A8B,\n", &parsed));   // bare line feed
    QCOMPARE(parsed.tags, QStringList({"7A8B"}));
    // The program may list one id twice; the master takes it as given.
    QVERIFY(MasterConfig::parse("$PK,1A2B,2,0,3C4D,3C4D,\r\n", &parsed));
    QCOMPARE(parsed.anchors.size(), 2);
    QVERIFY(parsed.contains(QStringLiteral("3c4d")));

    const MasterConfig before = parsed;
    const QList<QByteArray> bad = {
        "$PK,0,0,0,\r\n",                         // zero master
        "$PK,,0,0,\r\n",                          // empty master
        "$PK,1A2B,1,0,\r\n",                      // announced anchor missing
        "$PK,1A2B,0,1,3C4D,5E6F,\r\n",            // one id too many
        "$PK,1A2B,0,0\r\n",                       // no trailing comma
        "$PK,1A2B,0,0,,\r\n",                     // stray field
        "$PK,1A2B,4,0,1,2,3,4,\r\n",              // more anchors than the kit has
        "$PK,1A2B,0,5,1,2,3,4,5,\r\n",            // more tags than the kit has
        "$PK,1A2B,1,0,XYZ,\r\n",                  // not hexadecimal
        "$PK,1A2B,1,0, 3C4D,\r\n",                // blank inside a field
        "$PK,1A2B,G,0,\r\n",                      // count not hexadecimal
        "$PK,1A2B,-1,0,\r\n",
        "$PK,1A2B,0,0,",                          // no line end
        "$PX,1A2B,0,0,\r\n",
        "$PK\r\n",
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
        const int from = c.lines.size();
        QVERIFY(c.send(cmd));
        const qint64 sentAt = c.now();
        const int at = c.waitFor(cmd, 1000, from);
        QVERIFY2(at >= 0, cmd.constData());
        QVERIFY2(c.lines.at(at).ms - sentAt < 100, cmd.constData());
    }
    QCOMPARE(rig.master.commandsAccepted(), accepted.size());
    QCOMPARE(rig.master.configuration().toLine(), QByteArray("$PK,1A2B,1,1,3C4D,2B02,\r\n"));

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
    for (int i = from; i < c.lines.size(); ++i) {
        const QByteArray& l = c.lines.at(i).text;
        QVERIFY2(l.startsWith("$PX,") || l == "$PG,\r\n", l.constData());
    }
    QCOMPARE(rig.master.commandsIgnored() - ignoredBefore, refused.size());
    QCOMPARE(rig.master.configuration().toLine(), QByteArray("$PK,1A2B,1,1,3C4D,2B02,\r\n"));
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
    QVERIFY(c.send("$PW,1,\r\n"));
    const int echo = c.waitFor("$PW,1,\r\n", 1000);
    QVERIFY(echo >= 0);
    QVERIFY(rig.master.isDiscovering());
    c.spin(3300);

    // Identity about once a second.
    const QList<int> xs = c.indexesOf('X');
    QVERIFY2(xs.size() >= 3 && xs.size() <= 4, QByteArray::number(xs.size()).constData());
    for (int i : xs)
        QCOMPARE(c.lines.at(i).text, QByteArray("$PX,1A2B,1.0\r\n"));
    for (int i = 1; i < xs.size(); ++i) {
        const qint64 gap = c.lines.at(xs.at(i)).ms - c.lines.at(xs.at(i - 1)).ms;
        QVERIFY2(gap > 700 && gap < 1300, QByteArray::number(gap).constData());
    }

    // Discovery: twice a second, the master in field 2, then everything on
    // the air, the unconfigured tag included.
    const QList<int> ws = c.indexesOf('W', echo + 1);
    QVERIFY2(ws.size() >= 5 && ws.size() <= 8, QByteArray::number(ws.size()).constData());
    for (int i : ws) {
        const QList<QByteArray> f = fieldsOf(c.lines.at(i).text);
        QVERIFY(f.size() >= 3);
        QVERIFY(!f.at(1).isEmpty());
        QCOMPARE(f.at(2), QByteArray("1A2B"));
        const QList<QByteArray> found = f.mid(3);
        for (const char* id : {"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"})
            QVERIFY(found.contains(id));
        QVERIFY(c.lines.at(i).text.endsWith("\r\n"));
    }
    for (int i = 1; i < ws.size(); ++i) {
        const qint64 gap = c.lines.at(ws.at(i)).ms - c.lines.at(ws.at(i - 1)).ms;
        QVERIFY2(gap > 300 && gap < 700, QByteArray::number(gap).constData());
    }

    // Off: nothing more after the echo.
    QVERIFY(c.send("$PW,0,\r\n"));
    const int off = c.waitFor("$PW,0,\r\n", 1000);
    QVERIFY(off >= 0);
    c.spin(1200);
    QVERIFY(c.indexesOf('W', off + 1).isEmpty());
    QVERIFY(!rig.master.isDiscovering());
    QVERIFY(rig.master.linesSent('W') >= ws.size());
}

void TestSim::ranging()
{
    QTemporaryDir dir;
    const QString truthPath = dir.filePath(QStringLiteral("truth.csv"));
    Scenario s = quietScenario();
    s.noiseSigma = 5;
    Rig rig(s);
    QVERIFY(rig.master.setTruthFile(truthPath));
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;

    QVERIFY(c.send("$PS,\r\n"));
    const int echo = c.waitFor("$PS,\r\n", 1000);
    QVERIFY(echo >= 0);
    QVERIFY(rig.master.isRanging());
    c.spin(3000);
    QVERIFY(c.send("$PG,\r\n"));
    const int stop = c.waitFor("$PG,\r\n", 1000, echo);
    QVERIFY(stop > echo);
    c.spin(500);
    rig.master.flushTruth();

    // Right after the echo comes the module list, before any ranging line.
    int k = echo + 1;
    while (c.lines.at(k).text.startsWith("$PX"))
        ++k;
    QCOMPARE(c.lines.at(k).text, DefaultK);
    QVERIFY(c.indexesOf('D', 0, k).isEmpty());
    // No ranging line after the stop's echo.
    QVERIFY(c.indexesOf('D', stop).isEmpty());
    QVERIFY(!rig.master.isRanging());

    const QList<int> ds = c.indexesOf('D', k);
    QString header;
    const QList<TruthRow> truth = readTruth(truthPath, &header);
    QCOMPARE(header, QStringLiteral("time_ms,tag_id,x_cm,y_cm"));
    QCOMPARE(truth.size(), ds.size());
    QCOMPARE(rig.master.linesSent('D'), ds.size());

    // About 10 lines per second and tag, taking turns.
    QHash<QByteArray, QList<qint64>> times;
    const QRegularExpression upperHex(QStringLiteral("^[0-9A-F]+$"));
    const QList<QPointF> anchors = {QPointF(0, 0), QPointF(1000, 0), QPointF(1000, 800), QPointF(0, 800)};
    double sum = 0;
    double sumSq = 0;
    int n = 0;
    for (int j = 0; j < ds.size(); ++j) {
        const QList<QByteArray> f = fieldsOf(c.lines.at(ds.at(j)).text);
        QCOMPARE(f.size(), 6);
        QVERIFY(c.lines.at(ds.at(j)).text.endsWith("\r\n"));
        QCOMPARE(QString::fromLatin1(f.at(1)), truth.at(j).tag);
        times[f.at(1)] << c.lines.at(ds.at(j)).ms;
        // The truth row belongs to this line and lies on the scenario's path.
        QPointF expected;
        rig.master.scenario().positionAt(truth.at(j).tag, truth.at(j).ms, &expected);
        QVERIFY(dist(expected, truth.at(j).pos) < 0.1);
        for (int a = 0; a < 4; ++a) {
            QVERIFY2(upperHex.match(QString::fromLatin1(f.at(2 + a))).hasMatch(), f.at(2 + a).constData());
            bool ok = false;
            const int d = f.at(2 + a).toInt(&ok, 16);
            QVERIFY(ok);
            const double err = d - dist(truth.at(j).pos, anchors.at(a));
            QVERIFY2(qAbs(err) < 5 * 5 + 1, QByteArray::number(err).constData());
            sum += err;
            sumSq += err * err;
            ++n;
        }
    }
    QCOMPARE(times.keys().size(), 2);
    for (const QByteArray& tag : {QByteArray("2B01"), QByteArray("2B02")}) {
        const QList<qint64>& t = times.value(tag);
        QVERIFY(t.size() >= 20);
        const double rate = (t.size() - 1) * 1000.0 / double(t.last() - t.first());
        QVERIFY2(rate > 8.5 && rate < 11.5, QByteArray::number(rate).constData());
    }
    const double mean = sum / n;
    const double sigma = std::sqrt(sumSq / n - mean * mean);
    QVERIFY2(qAbs(mean) < 1.5, QByteArray::number(mean).constData());
    QVERIFY2(sigma > 3.5 && sigma < 6.5, QByteArray::number(sigma).constData());

    // The walker walks at about 1 m/s; the other one stands.
    double walked = 0;
    QPointF last;
    qint64 first = -1;
    qint64 lastMs = 0;
    for (const TruthRow& r : truth) {
        if (r.tag == QLatin1String("2B02")) {
            QCOMPARE(r.pos, QPointF(300, 400));
            continue;
        }
        if (first >= 0)
            walked += dist(r.pos, last);
        else
            first = r.ms;
        last = r.pos;
        lastMs = r.ms;
    }
    const double speed = walked * 1000.0 / double(lastMs - first);
    QVERIFY2(speed > 90 && speed < 101, QByteArray::number(speed).constData());
}

void TestSim::reconfiguration()
{
    Scenario s = quietScenario();
    s.noiseSigma = 0;
    Rig rig(s);
    QVERIFY(rig.open());
    SlaveClient& c = *rig.client;

    // A new configuration while stopped: the next module list and the ranging
    // lines follow it.
    const QByteArray k1 = "$PK,1A2B,1,1,5E6F,2B02,\r\n";
    QVERIFY(c.send(k1));
    QVERIFY(c.waitFor(k1, 1000) >= 0);
    QCOMPARE(rig.master.configuration().toLine(), k1);
    int from = c.lines.size();
    QVERIFY(c.send("$PS,\r\n"));
    const int echo = c.waitFor("$PS,\r\n", 1000, from);
    QVERIFY(echo >= 0);
    QVERIFY(c.waitFor(k1, 1000, echo + 1) > echo);
    c.spin(600);
    QList<int> ds = c.indexesOf('D', echo);
    QVERIFY(ds.size() >= 4);
    for (int i : ds)
        QCOMPARE(c.lines.at(i).text, QByteArray("$PD,2B02,1F4,326\r\n"));   // 500 and 806 cm

    // While ranging: anchors 3C4D and an anchor that is not on the air, the
    // walker, and a tag that is not on the air.
    const QByteArray k2 = "$PK,1A2B,2,2,3C4D,ABCD,2B01,BEEF,\r\n";
    from = c.lines.size();
    QVERIFY(c.send(k2));
    const int echo2 = c.waitFor(k2, 1000, from);
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
    const double rate = (ds.size() - 1) * 1000.0 / double(c.lines.at(ds.last()).ms - c.lines.at(ds.first()).ms);
    QVERIFY2(rate > 7 && rate < 13, QByteArray::number(rate).constData());

    // Reset: the master alone, so nothing left to range.
    from = c.lines.size();
    QVERIFY(c.send("$PL,\r\n"));
    const int reset = c.waitFor("$PL,\r\n", 1000, from);
    QVERIFY(reset >= 0);
    QCOMPARE(rig.master.configuration().toLine(), QByteArray("$PK,1A2B,0,0,\r\n"));
    c.spin(400);
    QVERIFY(c.indexesOf('D', reset + 1).isEmpty());
    from = c.lines.size();
    QVERIFY(c.send("$PS,\r\n"));
    QVERIFY(c.waitFor("$PK,1A2B,0,0,\r\n", 1000, from) >= 0);

    // The default configuration again: all four distances.
    from = c.lines.size();
    QVERIFY(c.send(DefaultK));
    const int back = c.waitFor(DefaultK, 1000, from);
    QVERIFY(back >= 0);
    QVERIFY(c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PD,2B02,"); }, 1000, back) > back);
    const int d = c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PD,2B02,"); }, 1000, back);
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
        QVERIFY(rig.client->send("$PS,\r\n"));
        rig.client->spin(500);
        const QList<int> ds = rig.client->indexesOf('D');
        QVERIFY(ds.size() >= 5);
        for (int i : ds)
            QVERIFY(rig.client->lines.at(i).text.endsWith(",0,0,0,0\r\n"));
    }
    // Every distance an outlier: too long by 1 to 8 m, never too short.
    {
        Scenario s = Scenario::builtIn();
        s.dropout = 0;
        s.outliers = 1;
        s.noiseSigma = 0;
        Rig rig(s);
        QVERIFY(rig.open());
        QVERIFY(rig.client->send("$PS,\r\n"));
        rig.client->spin(500);
        int seen = 0;
        for (int i : rig.client->indexesOf('D')) {
            const QList<QByteArray> f = fieldsOf(rig.client->lines.at(i).text);
            if (f.at(1) != "2B02")
                continue;
            const QList<double> trueDist = {500, std::hypot(700.0, 400.0), std::hypot(700.0, 400.0), 500};
            for (int a = 0; a < 4; ++a) {
                const double excess = f.at(2 + a).toInt(nullptr, 16) - trueDist.at(a);
                QVERIFY2(excess >= 99 && excess <= 801, QByteArray::number(excess).constData());
            }
            ++seen;
        }
        QVERIFY(seen >= 2);
    }
    // The same seed gives the same distances.
    {
        QList<QByteArray> runs[2];
        for (int r = 0; r < 2; ++r) {
            Scenario s = Scenario::builtIn();
            s.seed = 7;
            s.tags.removeFirst();   // only the standing tag: no dependence on timing
            Rig rig(s);
            QVERIFY(rig.open());
            QVERIFY(rig.client->send("$PS,\r\n"));
            rig.client->spin(700);
            for (int i : rig.client->indexesOf('D'))
                runs[r] << rig.client->lines.at(i).text;
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
        QVERIFY(rig.client->send("$PS,\r\n"));
        QVERIFY(rig.client->waitFor("$PS,\r\n", 1000) >= 0);
        rig.client->spin(1000);
        const QRegularExpression good(QStringLiteral(
            "^\\$P(D,[0-9A-F]{4}(,[0-9A-F]+){4}|X,1A2B,1\\.0|S,|K,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,|R,\\d+)\\r\\n$"));
        int bad = 0;
        int total = 0;
        for (const SlaveClient::Line& l : rig.client->lines) {
            ++total;
            if (!good.match(QString::fromLatin1(l.text)).hasMatch())
                ++bad;
        }
        QVERIFY(total >= 15);
        QCOMPARE(bad, rig.master.linesSent('!'));
        QVERIFY2(qAbs(bad * 5 - total) <= 5, qPrintable(QStringLiteral("%1 of %2").arg(bad).arg(total)));
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
    const int lines0 = c.lines.size();
    const qint64 sent0 = rig.master.bytesSent();
    const qint64 sim0 = rig.master.elapsedMs();
    c.spin(3000);
    const qint64 t1 = c.now();
    const double seconds = (t1 - t0) / 1000.0;
    const double rate = (c.totalBytes - bytes0) / seconds;
    const double linesPerSecond = (c.lines.size() - lines0) / seconds;
    const double simSeconds = (rig.master.elapsedMs() - sim0) / 1000.0;
    const double simRate = (rig.master.bytesSent() - sent0) / simSeconds;
    qInfo("full rate: %.0f bytes/s received, %.0f bytes/s sent, %.0f lines/s", rate, simRate, linesPerSecond);

    // Never more than the link carries, over the whole run and in any second.
    QVERIFY2(simRate <= MasterStandIn::LinkBytesPerSecond, QByteArray::number(simRate).constData());
    QVERIFY2(rate <= MasterStandIn::LinkBytesPerSecond, QByteArray::number(rate).constData());
    qint64 worstSecond = 0;
    for (int i = 0; i < c.chunks.size(); ++i) {
        if (c.chunks.at(i).first + 1000 > c.chunks.last().first)
            break;
        qint64 inWindow = 0;
        for (int j = i; j < c.chunks.size() && c.chunks.at(j).first < c.chunks.at(i).first + 1000; ++j)
            inWindow += c.chunks.at(j).second;
        worstSecond = qMax(worstSecond, inWindow);
    }
    qInfo("busiest second: %lld bytes", worstSecond);
    QVERIFY2(worstSecond <= MasterStandIn::LinkBytesPerSecond, QByteArray::number(worstSecond).constData());
    // And it does fill the link.
    QVERIFY2(rate > MasterStandIn::LinkBytesPerSecond * 0.6, QByteArray::number(rate).constData());
    QVERIFY(linesPerSecond > 1000);

    // Commands still get through a full link promptly.
    const int from = c.lines.size();
    QVERIFY(c.send("$PH,FFFF,1,1,\r\n"));
    const qint64 sentAt = c.now();
    const int echo = c.waitFor("$PH,FFFF,1,1,\r\n", 1000, from);
    QVERIFY(echo >= 0);
    QVERIFY(c.lines.at(echo).ms - sentAt < 100);
}

void TestSim::reconnectAndLink()
{
    QTemporaryDir dir;
    const QString linkPath = dir.filePath(QStringLiteral("master"));
    // A link left by a crashed run points nowhere; it is replaced.
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/nonexistent"), linkPath));
    {
        MasterStandIn m(quietScenario());
        m.setLinkPath(linkPath);
        QString error;
        QVERIFY2(m.start(&error), qPrintable(error));
        QCOMPARE(QFile::symLinkTarget(linkPath), m.slavePath());

        SlaveClient c(linkPath);
        QVERIFY(c.isOpen());
        QVERIFY(waitUntil([&] { return m.isPeerConnected(); }, 1000));
        QVERIFY(c.send("$PS,\r\n"));
        QVERIFY(c.waitFor("$PS,\r\n", 1000) >= 0);
        QVERIFY(c.waitForMatch([](const QByteArray& l) { return l.startsWith("$PD"); }, 1000) >= 0);

        // The program closes its port; lines meanwhile go nowhere.
        c.close();
        QVERIFY(waitUntil([&] { return !m.isPeerConnected(); }, 1000));
        const int droppedBefore = m.linesDropped();
        QTest::qWait(500);
        QVERIFY(m.linesDropped() > droppedBefore);
        QVERIFY(m.isRanging());

        // ...and opens it again: the link still works, and nothing stale or
        // torn arrives first.
        const int from = c.lines.size();
        QVERIFY(c.open(linkPath));
        QVERIFY(waitUntil([&] { return m.isPeerConnected(); }, 1000));
        c.spin(300);
        QVERIFY(c.lines.size() > from);
        for (int i = from; i < c.lines.size(); ++i)
            QVERIFY2(c.lines.at(i).text.startsWith("$P") && c.lines.at(i).text.endsWith("\r\n"),
                     c.lines.at(i).text.constData());
        QVERIFY(c.send("$PG,\r\n"));
        QVERIFY(c.waitFor("$PG,\r\n", 1000, from) >= 0);

        // Twice more, quickly.
        for (int round = 0; round < 2; ++round) {
            c.close();
            QVERIFY(waitUntil([&] { return !m.isPeerConnected(); }, 1000));
            QVERIFY(c.open(linkPath));
            const int at = c.lines.size();
            QVERIFY(c.send("$PW,1,\r\n"));
            QVERIFY(c.waitFor("$PW,1,\r\n", 1000, at) >= 0);
        }
    }
    // Gone with the stand-in.
    QVERIFY(!QFileInfo(linkPath).isSymLink());

    // A regular file in the way is not clobbered.
    {
        QFile f(linkPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    {
        MasterStandIn m(quietScenario());
        m.setLinkPath(linkPath);
        QString error;
        QVERIFY(!m.start(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!m.isRunning());
    }
    QFile f(linkPath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

// A serial port set up as the program sets it up (512000 baud, 8N1, no flow
// control) against the stand-in: paced commands answered by their echo within
// the reply time-out, retransmissions of a refused one, and the port closed
// and opened again.
void TestSim::programLink()
{
    MasterStandIn m(quietScenario());
    m.setLinkPath(QString());
    QVERIFY(m.start());
    QSerialPort port;
    port.setPortName(m.slavePath());
    QByteArray rx;
    connect(&port, &QSerialPort::readyRead, this, [&] { rx += port.readAll(); });

    // Send one byte per 5 ms, wait 100 ms for a matching line, up to six times.
    auto exchange = [&](const QByteArray& command, bool loose) {
        for (int attempt = 0; attempt <= ComInterface::Retransmissions; ++attempt) {
            rx.clear();
            for (char c : command) {
                QThread::msleep(ComInterface::ByteDelayMs);
                if (port.write(&c, 1) != 1)
                    return false;
                port.waitForBytesWritten(100);
            }
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < ComInterface::ReplyTimeoutMs) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                int nl;
                while ((nl = rx.indexOf('\n')) >= 0) {
                    const int start = rx.indexOf('$');
                    const QByteArray line = (start >= 0 && start < nl) ? rx.mid(start, nl - start + 1) : QByteArray();
                    rx.remove(0, nl + 1);
                    if (!line.isEmpty() && replyMatches(command, line, loose))
                        return true;
                }
                QThread::msleep(2);
            }
        }
        return false;
    };

    for (int round = 0; round < 2; ++round) {
        port.setBaudRate(512000, QSerialPort::AllDirections);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setDataBits(QSerialPort::Data8);
        port.setFlowControl(QSerialPort::NoFlowControl);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QVERIFY(waitUntil([&] { return m.isPeerConnected(); }, 1000));
        QVERIFY(exchange("$PW,1,\r\n", false));
        QVERIFY(exchange("$PW,0,\r\n", false));
        QVERIFY(exchange("$PS,\r\n", true));
        QVERIFY(exchange("$PH,FFFF,1,1,\r\n", false));
        QVERIFY(exchange(DefaultK, false));
        QVERIFY(exchange("$PG,\r\n", true));
        QVERIFY(!m.isRanging());
        const int ignored = m.commandsIgnored();
        QVERIFY(!exchange("$PH,FFFF,7,1,\r\n", false));
        QCOMPARE(m.commandsIgnored() - ignored, 1 + ComInterface::Retransmissions);
        port.close();
        QVERIFY(waitUntil([&] { return !m.isPeerConnected(); }, 1000));
    }
}

void TestSim::executable()
{
    const QString binary = qEnvironmentVariable("ORVANE_BINARY_DIR") + QStringLiteral("/sim/orvane-sim");
    if (!QFileInfo(binary).isExecutable())
        QSKIP("orvane-sim not built");
    QTemporaryDir dir;
    const QString linkPath = dir.filePath(QStringLiteral("link"));
    const QString truthPath = dir.filePath(QStringLiteral("truth.csv"));

    QProcess p;
    p.start(binary, {QStringLiteral("--link"), linkPath, QStringLiteral("--truth"), truthPath,
                     QStringLiteral("--rate"), QStringLiteral("20"), QStringLiteral("--seed"), QStringLiteral("3")});
    QVERIFY(p.waitForStarted());
    QVERIFY(waitUntil([&] { return p.canReadLine(); }, 5000));
    QCOMPARE(QString::fromLocal8Bit(p.readLine().trimmed()), linkPath);
    QVERIFY(QFileInfo(linkPath).isSymLink());

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
    const QString bad = dir.filePath(QStringLiteral("bad.json"));
    {
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"anchors\": 5}");
    }
    QProcess q;
    q.start(binary, {QStringLiteral("--link"), linkPath, QStringLiteral("--scenario"), bad});
    QVERIFY(q.waitForFinished(5000));
    QCOMPARE(q.exitCode(), 2);
    QVERIFY(q.readAllStandardError().contains("anchors"));
    QVERIFY(!QFileInfo(linkPath).isSymLink());
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
