#include "commandwin.h"
#include "discoverwin.h"
#include "mainwin.h"
#include "masterstandin.h"
#include "scenario.h"
#include "tagmeasurement.h"
#include "testsupport.h"

#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
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
    void commandsAndRanging();
    void fullRate();
    void programAgainstStandIn();
};

namespace {

const QByteArray DefaultK = "$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n";

// The program's side of the terminal, opened on the stand-in's own: collects
// lines with their arrival time while running the event loop the stand-in lives in.
struct Client {
    MasterStandIn master;
    int fd = -1;
    QElapsedTimer clock;
    QByteArray partial;
    QList<QPair<qint64, QByteArray>> lines;
    qint64 bytes = 0;
    explicit Client(const Scenario& s, bool fullRate = false) : master(s)
    {
        master.setLinkPath(QString());
        master.setFullRate(fullRate);
        clock.start();
    }
    bool open()
    {
        if (!master.start())
            return false;
        fd = ::open(QFile::encodeName(master.slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        struct termios raw;
        ::tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        return waitUntil([&] { return master.isPeerConnected(); }, 2000);
    }
    ~Client() { ::close(fd); }
    void spin(int ms)
    {
        for (QElapsedTimer t; !t.isValid() || t.elapsed() < ms; QThread::usleep(500)) {
            if (!t.isValid())
                t.start();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            char buf[8192];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0; bytes += n)
                for (ssize_t i = 0; i < n; ++i)
                    if ((partial += buf[i]).endsWith('\n'))
                        lines << qMakePair(clock.elapsed(), partial), partial.clear();
        }
    }
    // Sends a line and waits for its echo: the echo's index, -1 after a second without.
    int command(const QByteArray& line)
    {
        const int from = lines.size();
        const qint64 sent = clock.elapsed();
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            return -1;
        while (clock.elapsed() - sent < 1000) {
            spin(2);
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

}

void TestSim::commandsAndRanging()
{
    QTemporaryDir dir;
    Client c(quiet());
    QVERIFY(c.master.setTruthFile(dir.filePath("truth.csv")));
    QVERIFY(c.open());
    // Accepted commands come back as their exact line well inside the program's
    // 100 ms time-out; malformed or unknown ones get no answer at all.
    for (const QByteArray& cmd : {QByteArray("$PH,FFFF,1,1,\r\n"), QByteArray("$PK,1A2B,1,1,3C4D,2B02,\r\n"), DefaultK}) {
        const qint64 sent = c.clock.elapsed();
        const int at = c.command(cmd);
        QVERIFY2(at >= 0 && c.lines.at(at).first - sent < 100, cmd.constData());
    }
    const int from = c.lines.size();
    QVERIFY(c.command("$PS,1,\r\n$PW,2,\r\n$PH,FFFF,3,1,\r\n$PH,2B03,1,1,\r\n$PK,1A2B,1,0,\r\n$PZ,\r\n\x01 junk\r\n$PW,1$PG,\r\n") < 0);
    QList<QByteArray> answers;
    for (int i = from; i < c.lines.size(); ++i)
        if (!c.lines.at(i).second.startsWith("$PX,1A2B,1.0"))
            answers << c.lines.at(i).second;
    QCOMPARE(answers, QList<QByteArray>{"$PG,\r\n"});   // a line cut short by the next '$' is dropped
    QCOMPARE(c.master.commandsIgnored(), 6);
    QCOMPARE(c.master.configuration().toLine(), DefaultK);

    // Ranging: the module list right after the echo, then lines with the exact
    // distances to the tags' true places, ten a second per tag; none after the stop.
    const int echo = c.command("$PS,\r\n");
    c.spin(2000);
    const int stop = c.command("$PG,\r\n");
    c.spin(300);
    QVERIFY(echo >= 0 && stop > echo);
    QCOMPARE(c.lines.at(c.indexes('K', echo).value(0)).second, DefaultK);
    QVERIFY(c.indexes('K', echo).value(0) < c.indexes('D', echo).value(0) && c.indexes('D', stop).isEmpty());
    c.master.flushTruth();
    const QList<QByteArray> truth = readFileBytes(dir.filePath("truth.csv")).split('\n');
    const QList<int> ds = c.indexes('D', echo);
    QCOMPARE(truth.size() - 2, ds.size());
    QMap<QByteArray, int> perTag;
    const QList<QPointF> anchors = {{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    for (int i = 0; i < ds.size(); ++i) {
        const QList<QByteArray> f = c.lines.at(ds.at(i)).second.trimmed().split(','), t = truth.at(i + 1).split(',');
        QVERIFY(f.size() == 6 && f.at(1) == t.at(1));
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
    Client c(quiet(), true);
    QVERIFY(c.open());
    const int echo = c.command("$PS,\r\n");
    c.spin(200);
    QVERIFY(c.indexes('D', echo).size() > 100);   // at once, not at the next identity line
    const qint64 t0 = c.clock.elapsed(), b0 = c.bytes;
    c.spin(2000);
    const double rate = (c.bytes - b0) * 1000.0 / (c.clock.elapsed() - t0);
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
    QCOMPARE(w.findChild<QTableWidget*>("tblTags")->rowCount(), 3);

    // While ranging, an LED command from its dialog: the echo amid ranging lines reports success.
    QSignalSpy accepted(&master, &MasterStandIn::commandAccepted);
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(runModalDialog<CommandWin>(boxes, findButton(&w, "btnSendCommand"), [&](CommandWin* dlg) {
        dlg->findChild<QRadioButton*>("rbTXLED")->click();
        dlg->findChild<QRadioButton*>("rbLEDon")->click();
        findButton(dlg, "btnSendCommand")->click();
        dlg->reject();
    }));
    QCOMPARE(accepted.last().at(0).toByteArray(), QByteArray("$PH,2B03,1,1,\r\n"));   // the last tag comes selected
    QCOMPARE(boxes.texts(), QStringList({"Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor dem "
                                         "Ranging die Modulkonfiguration vorzunehmen um den Master zu konfigurieren!\n"
                                         "Möchten Sie jetzt das Konfigurationsfenster öffnen?", "Befehl wurde ausgeführt"}));
    QVERIFY(w.rangingActive && w.isEnabled() && !w.commandWin);
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
