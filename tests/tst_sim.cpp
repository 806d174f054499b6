#include "commandwin.h"
#include "discoverwin.h"
#include "mainwin.h"
#include "masterstandin.h"
#include "scenario.h"
#include "tagmeasurement.h"
#include "testsupport.h"

#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <cmath>

// The stand-in for the master module, driven by the program itself.
class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void scenario();
    void programAgainstStandIn();
    void fullRate();
};

void TestSim::scenario()
{
    const Scenario s = Scenario::builtIn();
    QCOMPARE(s.check(), QString());
    QCOMPARE(s.initialConfiguration().toLine(), QByteArray("$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n"));
    QCOMPARE(s.onAir(), QStringList({"3C4D", "5E6F", "7A80", "2B01", "2B02", "2B03"}));
    // The walker: 1 m/s round a 6 m x 4 m rectangle, back at the start after 20 s.
    QPointF p;
    for (const auto& w : QList<QPair<qint64, QPointF>>{{1000, {300, 200}}, {7000, {800, 300}}, {20000, {200, 200}}}) {
        QVERIFY(s.positionAt("2b01", w.first, &p));
        QVERIFY2(std::hypot(p.x() - w.second.x(), p.y() - w.second.y()) < 1e-6, qPrintable(QString::number(w.first)));
    }
    QVERIFY(!s.positionAt("BEEF", 0, &p));
    // A walker that stands a second at each end of a 1 m line, facing the way it came.
    Scenario stops;
    QVERIFY(stops.loadJson(R"({"anchors": [{"id": "1A2B", "x": 0, "y": 500}],
        "tags": [{"id": "2B01", "waypoints": [[0, 0], [100, 0]], "speed": 100, "stop": 1}]})"));
    const Scenario::Module& walker = stops.tags.first();
    for (const auto& w : QList<QPair<qint64, QPointF>>{{500, {50, 0}}, {1000, {100, 0}}, {1999, {100, 0}}, {2500, {50, 0}},
                                                       {3500, {0, 0}}, {4500, {50, 0}}}) {
        p = Scenario::pathPosition(walker, w.first);
        QVERIFY2(std::hypot(p.x() - w.second.x(), p.y() - w.second.y()) < 1e-6, qPrintable(QString::number(w.first)));
    }
    QCOMPARE(Scenario::headingAt(walker, 1500), 0.0);
    QCOMPARE(Scenario::headingAt(walker, 3500), 180.0);
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
    // From the source folder ctest names: QFINDTESTDATA goes by the compiler's
    // idea of this file's path, which a compiler cache may make relative.
    const QString cfg = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/sim/demo.cfg";
    w.setFileChoosers([&](const QString&, const QString&) { return cfg; }, nullptr);
    findButton(&w, "btnLoadSettings")->click();
    QCOMPARE(w.modules.tags.size(), 2);
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive && waitUntil([&] { return master.isRanging(); }, 1000));
    QCOMPARE(master.commandsAccepted(), 1);   // answered at once: no retransmission
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("2B01").size() >= 20 && w.rangingHistory.value("2B02").size() >= 20; }, 4000));
    QTest::qWait(300);
    // The standing tag where it stands, the walker within a metre (the average lags), both at about ten lines a second.
    const Tag& standing = w.modules.tags.at(w.modules.findTag("2B02"));
    QVERIFY2(std::hypot(standing.avgX - 300, standing.avgY - 400) <= 15, qPrintable(QString("%1,%2").arg(standing.avgX).arg(standing.avgY)));
    const Tag& walker = w.modules.tags.at(w.modules.findTag("2B01"));
    QPointF truth;
    master.scenario().positionAt("2B01", master.elapsedMs(), &truth);
    QVERIFY(std::hypot(walker.avgX - truth.x(), walker.avgY - truth.y()) <= 100);
    for (const char* id : {"2B01", "2B02"})
        QVERIFY2(qAbs(historyRate(w.rangingHistory.value(id)) - 10.5) < 1.5, id);
    QVERIFY(w.findChild<QLabel*>("labAbstandMaster")->text().startsWith("Abstand Tag \"Läufer\" -> Master: "));
    // Nothing measured before the stop follows its echo; what the master cannot do it leaves unanswered.
    // Any ranging line answers the stop, also one sent before the master read it.
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(!w.rangingActive && waitUntil([&] { return !master.isRanging(); }, 1000));
    const int sent = master.linesSent('D');
    QVERIFY(!w.sendCommand("$PH,FFFF,3,1,\r\n", false));
    QVERIFY(master.linesSent('D') == sent && master.commandsIgnored() == 6);

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
    QCOMPARE(accepted.last().at(0).toByteArray(), QByteArray("$PH,FFFF,1,1,\r\n"));   // "alle" comes selected
    QVERIFY(boxes.seen.size() == 2 && boxes.texts(1) == QStringList({"Befehl wurde ausgeführt"}));
    QVERIFY(w.rangingActive && w.isEnabled() && !w.commandWin);
}

void TestSim::fullRate()
{
    // orvane-sim in a process of its own, as the soak runs it, at the full link rate.
    const QString binaryDir = qEnvironmentVariable("ORVANE_BINARY_DIR");
    if (binaryDir.isEmpty())
        QSKIP("ORVANE_BINARY_DIR is not set (run through ctest)");
    QProcess sim;
    sim.start(binaryDir + "/sim/orvane-sim", {"--no-link", "--full-rate"});
    QVERIFY(sim.waitForReadyRead(5000));
    qint64 bytes = 0;
    MainWin w;
    connect(&w.com, &ComInterface::dataReceived, [&](const QByteArray& b) { bytes += b.size(); });
    w.dataReceived(Scenario::builtIn().initialConfiguration().toLine());
    QVERIFY(connectWindow(w, QString::fromLocal8Bit(sim.readLine()).trimmed()));
    findButton(&w, "btnStartRanging")->click();
    QTest::qWait(200);
    QVERIFY(w.rangingActive && w.rangingLinesStored() > 100);   // at once, not from the next identity line on
    // Never more than the link carries, and far more than the paced lines
    // (two tags at 10 Hz: about 1 % of the link). How near the link's rate it
    // comes depends on the CPU time the two processes get, which a busy
    // machine takes away: that is the ingest benchmark's figure, not a test's.
    QElapsedTimer t;
    t.start();
    bytes = 0;
    QTest::qWait(2000);
    const double rate = bytes * 1000.0 / t.elapsed();
    QVERIFY2(rate <= MasterStandIn::LinkBytesPerSecond && rate > 0.1 * MasterStandIn::LinkBytesPerSecond, QByteArray::number(rate).constData());
    // Its reply is found among the flood. (How often it was sent depends on
    // how busy the machine is: a late reply is a retransmission by design.)
    QVERIFY(w.sendCommand("$PH,FFFF,1,1,\r\n", false));
}

QTEST_MAIN(TestSim)
#include "tst_sim.moc"
