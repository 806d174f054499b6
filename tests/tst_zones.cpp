// Zones: geometry, the events engine on made-up tracks, the settings keys,
// the CSV and the batch mode's --events.
#include "batchreplay.h"
#include "chartzone.h"
#include "mainwin.h"
#include "zoneeditflow.h"
#include "mqttpublisher.h"
#include "recording.h"
#include "settingsfile.h"
#include "testsupport.h"
#include "zoneeventexport.h"
#include "zoneevents.h"
#include "zonegeometry.h"

#include <QAction>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <functional>

namespace {

QPolygonF poly(std::initializer_list<QPointF> corners) { return QPolygonF(QVector<QPointF>(corners)); }

const QPolygonF Square = poly({{0, 0}, {400, 0}, {400, 400}, {0, 400}});
// An L: the square without its upper right quarter.
const QPolygonF Ell = poly({{0, 0}, {400, 0}, {400, 200}, {200, 200}, {200, 400}, {0, 400}});

struct Fix { qint64 ms; QPointF p; };

// Fixes every 100 ms along straight legs, 10 cm apart, from the first point on.
QVector<Fix> walk(const QVector<QPointF>& points, qint64 startMs = 0)
{
    QVector<Fix> fixes{{startMs, points.first()}};
    for (int i = 1; i < points.size(); ++i) {
        const QPointF a = points.at(i - 1), b = points.at(i);
        const int steps = qMax(1, qRound(std::hypot(b.x() - a.x(), b.y() - a.y()) / 10));
        for (int s = 1; s <= steps; ++s)
            fixes.append({fixes.last().ms + 100, a + (b - a) * double(s) / steps});
    }
    return fixes;
}

// "enter@900 exit@5000(timeout) dwell@..." of one run, after `then` (a change between fixes).
QString run(const QPolygonF& corners, const QVector<Fix>& fixes, int dwell = 0, qint64 advanceTo = -1,
            const std::function<void(ZoneEvents&, qint64)>& then = {})
{
    ZoneEvents engine;
    engine.setRules({10, 3, 10, 3, 5});
    engine.setZones({Zone{"Lager", Qt::red, corners, dwell, true}});
    QStringList out;
    for (const Fix& f : fixes) {
        if (then)
            then(engine, f.ms);
        engine.addFix("2B01", "Läufer", f.p, f.ms);
        engine.advance(f.ms);
    }
    if (advanceTo >= 0)
        engine.advance(advanceTo);
    for (const ZoneEvent& e : engine.takeEvents())
        out << QString("%1@%2%3").arg(ZoneEvent::kindName(e.kind)).arg(e.ms)
                   .arg(e.reason == ZoneEvent::Timeout ? "(timeout)" : "");
    return out.join(' ');
}

} // namespace

Q_DECLARE_METATYPE(Fix)
Q_DECLARE_METATYPE(QVector<Fix>)

class TestZones : public QObject
{
    Q_OBJECT
private slots:
    void geometry();
    void events_data();
    void events();
    void editedWhileInside();
    void settingsKeys();
    void batchEvents();
    void window();
};

void TestZones::geometry()
{
    QVERIFY(zoneContains(Square, {10, 10}));
    QVERIFY(zoneContains(Square, {0, 200}));   // on the boundary
    QVERIFY(!zoneContains(Ell, {300, 300}));   // in the L's notch
    QCOMPARE(zoneSignedDistance(Square, {200, 30}), 30.0);
    QCOMPARE(zoneSignedDistance(Square, {-40, 200}), -40.0);
    QCOMPARE(zoneSignedDistance(Ell, {300, 250}), -50.0);   // nearest: the notch's edge, not the hull's
    QCOMPARE(zoneSignedDistance(Ell, {180, 300}), 20.0);
    // Either turning direction.
    QCOMPARE(zoneSignedDistance(poly({{0, 0}, {0, 400}, {400, 400}, {400, 0}}), {200, 30}), 30.0);

    QCOMPARE(zoneShapeFault(Square), ZoneShapeFault::None);
    QCOMPARE(zoneShapeFault(Ell), ZoneShapeFault::None);
    QCOMPARE(zoneShapeFault(poly({{0, 0}, {400, 0}})), ZoneShapeFault::TooFewCorners);
    QCOMPARE(zoneShapeFault(poly({{0, 0}, {400, 0}, {400, 0}, {0, 0}})), ZoneShapeFault::TooFewCorners);
    QCOMPARE(zoneShapeFault(poly({{0, 0}, {200, 0}, {400, 0}})), ZoneShapeFault::TooFewCorners);
    QCOMPARE(zoneShapeFault(poly({{0, 0}, {400, 400}, {400, 0}, {0, 400}})), ZoneShapeFault::SelfCrossing);
    // One edge touching another corner is a crossing too.
    QCOMPARE(zoneShapeFault(poly({{0, 0}, {400, 0}, {200, 200}, {400, 400}, {0, 400}, {200, 0}})),
             ZoneShapeFault::SelfCrossing);

    QPolygonF read;
    QVERIFY(zoneCornersFromText(" 0,0; 420.5,0 ;420,-360;", &read));
    QCOMPARE(read, poly({{0, 0}, {420.5, 0}, {420, -360}}));
    for (const char* bad : {"0,0;420", "0,0;a,1;2,2", "0,0;1,1,1;2,2", "0,0;nan,1;2,2"})
        QVERIFY2(!zoneCornersFromText(bad, &read), bad);
    QCOMPARE(read.size(), 3);
    QCOMPARE(zoneCornersText(read), QString("0,0;420.5,0;420,-360"));
}

void TestZones::events_data()
{
    QTest::addColumn<QPolygonF>("corners");
    QTest::addColumn<QVector<Fix>>("fixes");
    QTest::addColumn<int>("dwell");
    QTest::addColumn<qint64>("advanceTo");
    QTest::addColumn<QString>("expected");
    // In at x=0 (fix 10), back out at x=0 (fix 50): the last fix on the old
    // side is x=-10 going in (900 ms) and x=0, on the boundary, going out (5000 ms).
    QTest::newRow("clean crossing") << Square << walk({{-100, 200}, {200, 200}, {-100, 200}}) << 0 << qint64(-1)
                                    << "enter@900 exit@5000";
    // 5 cm in, less than the margin, and out again; then along the inside 5 cm from the edge.
    QTest::newRow("grazing") << Square << walk({{-100, 200}, {5, 200}, {-100, 200}}) << 0 << qint64(-1) << "";
    QTest::newRow("grazing inside") << Square << walk({{100, 200}, {-5, 200}, {-5, 380}, {100, 380}}) << 0 << qint64(-1)
                                    << "enter@0";
    QVector<Fix> onIt;   // jitter about the boundary, beyond the margin two fixes in a row
    for (int i = 0; i < 100; ++i)
        onIt.append({i * 100, QPointF(i % 5 < 2 ? 12 : -12, 200)});
    QTest::newRow("standing on it") << Square << onIt << 0 << qint64(-1) << "";
    QTest::newRow("timeout") << Square << walk({{-50, 200}, {50, 200}}) << 0 << qint64(5000 + 5000)
                             << "enter@400 exit@1000(timeout)";
    QTest::newRow("no timeout yet") << Square << walk({{-50, 200}, {50, 200}}) << 0 << qint64(5999) << "enter@400";
    QTest::newRow("dwell") << Square << walk({{-50, 200}, {350, 200}}) << 3 << qint64(-1) << "enter@400 dwell@3400";
    QTest::newRow("dwell not reached") << Square << walk({{-50, 200}, {150, 200}, {-50, 200}}) << 4 << qint64(-1)
                                       << "enter@400 exit@3500";
    // Through the notch of the L: outside all along, though inside its hull.
    QTest::newRow("concave, notch") << Ell << walk({{300, 450}, {300, 220}, {450, 220}}) << 0 << qint64(-1) << "";
    QTest::newRow("concave, leg") << Ell << walk({{300, 450}, {300, 150}}) << 0 << qint64(-1) << "enter@2400";
}

void TestZones::events()
{
    QFETCH(QPolygonF, corners);
    QFETCH(QVector<Fix>, fixes);
    QFETCH(int, dwell);
    QFETCH(qint64, advanceTo);
    QFETCH(QString, expected);
    QCOMPARE(run(corners, fixes, dwell, advanceTo), expected);
}

void TestZones::editedWhileInside()
{
    // Standing at (200, 200); at 2 s the zone grows, at 4 s it moves away.
    QVector<Fix> standing;
    for (int ms = 0; ms <= 6000; ms += 100)
        standing.append({ms, QPointF(200, 200)});
    const auto edit = [](ZoneEvents& engine, qint64 ms) {
        if (ms == 2000)
            engine.setZones({Zone{"Lager", Qt::red, Square.translated(-50, -50), 0, true}});
        if (ms == 4000)
            engine.setZones({Zone{"Lager", Qt::red, Square.translated(300, 0), 0, true}});
    };
    QCOMPARE(run(Square, standing, 0, -1, edit), QString("enter@0 exit@3900"));
    // A zone removed and one renamed take their states along, without events.
    ZoneEvents engine;
    engine.setRules({10, 3, 10, 3, 5});
    engine.setZones({Zone{"Lager", Qt::red, Square, 0, true}, Zone{"Hof", Qt::red, Square, 0, true}});
    for (int ms = 0; ms < 500; ms += 100)
        engine.addFix("2B01", "Läufer", {200, 200}, ms);
    QCOMPARE(engine.occupants(0), QStringList{"2B01"});
    QCOMPARE(engine.takeEvents().size(), 2);
    engine.setZones({Zone{"Hof", Qt::red, Square, 0, true}});
    engine.addFix("2B01", "Läufer", {200, 200}, 600);
    QVERIFY(!engine.hasEvents());
    QCOMPARE(engine.occupants(0), QStringList{"2B01"});
}

void TestZones::settingsKeys()
{
    QTemporaryDir dir;
    SettingsData data;
    data.zones = {Zone{"Lager", QColor("#40a0ff"), Ell, 60, true}, Zone{"Hof, Süd", QColor("#102030"), Square, 0, false}};
    data.zoneRules = {12.5, 4, 20, 5, 30};
    QVERIFY(writeSettingsFile(dir.filePath("a.cfg"), data));
    QVERIFY(readFileBytes(dir.filePath("a.cfg")).contains("Zone0-Points=\"0,0;400,0;400,200;200,200;200,400;0,400\""));
    SettingsData back;
    QVERIFY(readSettingsFile(dir.filePath("a.cfg"), back));
    QCOMPARE(back.zones.size(), 2);
    QCOMPARE(back.zones[0].corners, Ell);
    QCOMPARE(back.zones[0].color, QColor("#40a0ff"));
    QCOMPARE(back.zones[0].dwellSeconds, 60);
    QCOMPARE(back.zones[1].name, QString("Hof, Süd"));
    QVERIFY(!back.zones[1].shown);
    QVERIFY(back.zoneRules == data.zoneRules);
    QVERIFY(back.warnings.isEmpty());
    // Without zones and with the default rules the file has no zone keys at all.
    QVERIFY(writeSettingsFile(dir.filePath("none.cfg"), SettingsData()));
    QVERIFY(!readFileBytes(dir.filePath("none.cfg")).contains("Zone"));
    QVERIFY(readSettingsFile(dir.filePath("none.cfg"), back));
    QVERIFY(back.zones.isEmpty());

    // A hand-written file: points without quotes; broken zones skipped, by name.
    writeFileBytes(dir.filePath("hand.cfg"), "[General]\nAnchorCount=0\nZoneCount=7\n"
                                             "Zone0-Name=Lager\nZone0-Points=0,0;420,0;420,360\nZone0-Color=#ff0000\n"
                                             "Zone1-Name=Zahl\nZone1-Points=0,0;4x0,0;420,360\n"
                                             "Zone2-Name=Strich\nZone2-Points=0,0;420,0\n"
                                             "Zone3-Name=Schleife\nZone3-Points=0,0;400,400;400,0;0,400\n"
                                             "Zone4-Name=lager\nZone4-Points=0,0;10,0;10,10\n"
                                             "Zone5-Points=0,0;10,0;10,10\n"
                                             "Zone6-Name=Hof\nZone6-Points=\"0,0;10,0;10,10\"\nZone6-Dwell=5\n");
    QVERIFY(readSettingsFile(dir.filePath("hand.cfg"), back));
    QCOMPARE(back.zones.size(), 2);
    QCOMPARE(back.zones[0].corners, poly({{0, 0}, {420, 0}, {420, 360}}));
    QCOMPARE(back.zones[1].name, QString("Hof"));
    QCOMPARE(back.zones[1].dwellSeconds, 5);
    QCOMPARE(back.warnings.size(), 5);
    for (const char* name : {"„Zahl“", "„Strich“", "„Schleife“", "„lager“", "Zone 5 "})
        QVERIFY2(back.warnings.filter(QString::fromUtf8(name)).size() == 1, name);
    QVERIFY(back.warnings.filter("schon vergeben").size() == 1);
}

void TestZones::batchEvents()
{
    // A tag walks into a zone at x >= 500 and out again; the CSV matches the engine.
    QTemporaryDir dir;
    const QList<Anchor> room = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "O", Qt::blue, 1000, 0, 0, false, 0),
                                Anchor("5E6F", "NO", Qt::green, 1000, 800, 0, false, 0), Anchor("7A80", "N", Qt::black, 0, 800, 0, false, 0)};
    RecordingWriter recording;
    QVERIFY(recording.open(dir.filePath("walk.orec")));
    for (int ms = 0; ms <= 20000; ms += 100) {
        const double x = 300 + 400 * std::sin(ms / 20000.0 * M_PI);   // 300 -> 700 -> 300
        QByteArray line = "$PD,2B01";
        for (const Anchor& a : room)
            line += ',' + QByteArray::number(qRound(std::hypot(a.x - x, a.y - 400)), 16);
        recording.append(quint32(ms), line + "\r\n");
    }
    recording.close();
    SettingsData setup;
    setup.anchors = room;
    setup.tags = {Tag("2B01", "Läufer, A", Qt::red, true, true, false, false, false, false, false)};
    setup.zones = {Zone{"Lager", Qt::red, poly({{500, 0}, {1000, 0}, {1000, 800}, {500, 800}}), 2, true}};
    QVERIFY(writeSettingsFile(dir.filePath("room.cfg"), setup));
    BatchReplayOptions options;
    options.recording = dir.filePath("walk.orec");
    options.settings = dir.filePath("room.cfg");
    options.events = dir.filePath("events.csv");
    BatchReplay batch;
    QString error;
    QVERIFY2(batch.run(options, &error), qPrintable(error));
    const QList<QByteArray> rows = readFileBytes(options.events).trimmed().split('\n');
    QCOMPARE(rows.value(0), QByteArray("time,rec_ms,tag_id,tag_name,zone,event,x_cm,y_cm,entry_rec_ms,dwell_s,reason"));
    QCOMPARE(rows.size(), 4);
    QStringList kinds;
    QVector<qint64> ms;
    for (const QByteArray& row : rows.mid(1)) {
        const QStringList f = QString::fromUtf8(row).split(',');
        QCOMPARE(f.size(), 12);   // the quoted name holds a comma
        QCOMPARE(f[3] + ',' + f[4], QString("\"Läufer, A\""));
        kinds << f[6] + '/' + f[11];
        ms << f[1].toLongLong();
        if (f[6] != "dwell")
            QVERIFY(std::abs(f[7].toInt() - 500) <= 15);   // at the boundary, x = 500
        QCOMPARE(f[9].isEmpty(), f[6] == "enter");
    }
    QCOMPARE(kinds, QStringList({"enter/boundary", "dwell/boundary", "exit/boundary"}));
    // x passes 500 at 20000/pi * asin(0.5) = 3333 ms and 16667 ms; the average lags a little.
    QVERIFY2(ms[0] > 3333 && ms[0] < 3333 + 1000, qPrintable(QString::number(ms[0])));
    QCOMPARE(ms[1], ms[0] + 2000);
    QVERIFY2(ms[2] > 16667 && ms[2] < 16667 + 1000, qPrintable(QString::number(ms[2])));
    QCOMPARE(rows[3].split(',').value(9), QByteArray::number(ms[0]));
    QCOMPARE(rows[3].split(',').value(10), QByteArray::number((ms[2] - ms[0]) / 1000.0, 'f', 1));
}

void TestZones::window()
{
    // Draw a zone by clicks, walk a tag into it, see the event; save, reload.
    QTemporaryDir dir;
    MainWin w;
    w.resize(1400, 1000);
    w.show();
    w.findChild<QWidget*>("chart")->setFixedSize(1000, 800);
    QCoreApplication::processEvents();
    w.modules.anchors = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "O", Qt::blue, 1000, 0, 0, false, 0),
                         Anchor("5E6F", "NO", Qt::green, 1000, 800, 0, false, 0), Anchor("7A80", "N", Qt::black, 0, 800, 0, false, 0)};
    w.modules.tags = {Tag("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false)};
    QTime clock(10, 0);
    qint64 epoch = 1700000000000;
    w.setClocks([&clock] { return clock; }, [&epoch] { return epoch; });
    w.redrawChart();
    QWidget* chart = w.findChild<QWidget*>("lblChart");
    const auto at = [&](double x, double y) { return worldToPixel(w.chartGeo, QPointF(x, y)).toPoint(); };
    w.findChild<QPushButton*>("btnDrawZone")->click();
    QVERIFY(w.zoneEditFlow()->isDrawing());
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, at(500, 100));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, at(900, 100));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, at(900, 700));
    QTest::mouseDClick(chart, Qt::LeftButton, Qt::NoModifier, at(500, 700));
    QVERIFY(!w.zoneEditFlow()->isDrawing());
    QCOMPARE(w.zoneEvents().zones().size(), 1);
    QVERIFY(std::abs(w.zoneEvents().zones()[0].corners.boundingRect().left() - 500) <= 2 * w.chartGeo.cmPerPixel);
    QVERIFY(w.isSetupChanged());
    // A second zone crossing itself is refused with the reason in the status bar.
    w.findChild<QPushButton*>("btnDrawZone")->click();
    for (const QPoint& p : {at(100, 100), at(300, 300), at(300, 100)})
        QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseDClick(chart, Qt::LeftButton, Qt::NoModifier, at(100, 300));
    QVERIFY2(w.statusBar()->currentMessage().contains("kreuzt sich selbst"), qPrintable(w.statusBar()->currentMessage()));
    QCOMPARE(w.zoneEvents().zones().size(), 1);
    // Shift-drag: a rectangle; Ctrl+Z takes it back, then a dragged corner.
    w.findChild<QPushButton*>("btnDrawZone")->click();
    QTest::mousePress(chart, Qt::LeftButton, Qt::ShiftModifier, at(100, 100));
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::ShiftModifier, at(300, 250));
    QCOMPARE(w.zoneEvents().zones().size(), 2);
    QCOMPARE(w.zoneEvents().zones()[1].corners.size(), 4);
    QVERIFY(w.zoneEvents().zones()[1].corners.boundingRect().width() > 190);
    QAction* undo = w.findChild<QWidget*>("lblChart")->actions().first();
    undo->trigger();
    QCOMPARE(w.zoneEvents().zones().size(), 1);
    const QPolygonF drawn = w.zoneEvents().zones()[0].corners;
    QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, at(drawn[2].x(), drawn[2].y()));
    QMouseEvent move(QEvent::MouseMove, at(950, 750), chart->mapToGlobal(at(950, 750)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(chart, &move);
    QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, at(950, 750));
    QVERIFY(w.zoneEvents().zones()[0].corners[2] != drawn[2]);
    QVERIFY(undo->isEnabled());
    undo->trigger();
    QCOMPARE(w.zoneEvents().zones()[0].corners, drawn);

    for (int step = 0; step <= 50; ++step) {   // 300 -> 800 cm in 5 s
        clock = clock.addMSecs(100);
        epoch += 100;
        QByteArray line = "$PD,2B01";
        for (const Anchor& a : w.modules.anchors)
            line += ',' + QByteArray::number(qRound(std::hypot(a.x - 300 - 10 * step, a.y - 400)), 16);
        w.dataReceived(line + "\r\n");
        w.redrawChart();
    }
    auto* list = w.findChild<QListWidget*>("lstEvents");
    QCOMPARE(list->count(), 1);
    QVERIFY2(list->item(0)->text().contains("Läufer  Zone 1  betreten"), qPrintable(list->item(0)->text()));
    QCOMPARE(w.findChild<QListWidget*>("lstZones")->item(0)->text(), QString("Zone 1 (1)"));

    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return dir.filePath("zones.cfg"); });
    w.findChild<QPushButton*>("btnSaveSettings")->click();
    MainWin again;
    QVERIFY(again.loadSettings(dir.filePath("zones.cfg"), false));
    QCOMPARE(again.zoneEvents().zones().size(), 1);
    QCOMPARE(again.zoneEvents().zones()[0].corners, w.zoneEvents().zones()[0].corners);
    QCOMPARE(again.findChild<QListWidget*>("lstZones")->count(), 1);
    QVERIFY(!again.isSetupChanged());
}

QTEST_MAIN(TestZones)
#include "tst_zones.moc"
