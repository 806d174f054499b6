// Mouse events go through the window, as a real pointer's would.
#define QTEST_QPA_MOUSE_HANDLING

#include "discoverwin.h"
#include "mainwin.h"
#include "masterinfo.h"
#include "numberedit.h"
#include "qflatcombobox.h"
#include "qlabelex.h"
#include "settingsfile.h"
#include "stoppedtags.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLayout>
#include <QStatusBar>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// The main window: connection, exchange and ranging against a pty, the receive
// path, the tables, the chart pass with mouse and background picture, settings
// through the buttons, recording and replay.
class TestMainWin : public QObject
{
    Q_OBJECT
private slots:
    void serial();
    void receiving();
    void tables();
    void chartPass();
    void mouseAndPicture();
    void settings();
    void recordAndReplay();
    void closeAsks();
    void stoppedRanging();
};

namespace {

const QByteArray ThreeModules = "$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n";

QPushButton* button(MainWin& w, const char* name) { return findButton(&w, name); }
QTableWidget* table(MainWin& w, const char* name) { return w.findChild<QTableWidget*>(name); }
QLineEdit* edit(MainWin& w, const char* name) { return w.findChild<QLineEdit*>(name); }
QLabelEx* chart(MainWin& w) { return w.findChild<QLabelEx*>("lblChart"); }

void pass(MainWin& w)
{
    w.redrawChart();
    w.redrawTimer->stop();   // no passes of its own while disconnected
}

// Shows the window with a chart area of 700 x 500 pixels: the default grid of
// 1000 x 1000 cm at 2 cm per pixel, label pixels being chart pixels.
bool showWindow(MainWin& w)
{
    w.findChild<QWidget*>("chart")->setFixedSize(700, 500);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return false;
    pass(w);
    return waitUntil([&] { return chart(w)->size() == QSize(w.chartGeo.pixmapW, w.chartGeo.pixmapH); }, 2000);
}

QString readouts(MainWin& w)
{
    QStringList out;
    for (const char* name : {"lblMouseX", "lblMouseY", "lblMouseXD", "lblMouseYD", "lblMouseD"})
        out << w.findChild<QLabel*>(name)->text();
    return out.join(' ');
}

void click(MainWin& w, QPoint p)
{
    QTest::mousePress(chart(w), Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseRelease(chart(w), Qt::LeftButton, Qt::NoModifier, p);
}

// The grid edits, the grid that fits the picture, and the picture's placement.
QString placement(MainWin& w)
{
    QStringList grid;
    for (const char* name : {"edtGridX", "edtGridY", "edtGridW", "edtGridH"})
        grid << edit(w, name)->text();
    return grid.join(' ') + QString(" / %1 %2 %3 %4 / %5 %6 %7").arg(w.background.imageGridX).arg(w.background.imageGridY).arg(w.background.imageGridW)
                                .arg(w.background.imageGridH).arg(w.background.bgImageFactor).arg(w.background.bgImageOffsetX).arg(w.background.bgImageOffsetY);
}

QList<int> distancesTo(const QList<Anchor>& anchors, double x, double y)
{
    QList<int> out;
    for (const Anchor& a : anchors)
        out << int(std::hypot(a.x - x, a.y - y));
    return out;
}

} // namespace

void TestMainWin::serial()
{
    FakeMaster master, viaLink;
    QTemporaryDir dir;
    const QString link = dir.filePath("usb-FTDI_A10K3XYZ-if00-port0");
    // Links to something that is gone, or outside /dev, and plain files are no ports.
    QVERIFY(QFile::link(viaLink.path(), link) && QFile::link("/dev/does-not-exist-orvane", dir.filePath("usb-Gone-if00")));
    QVERIFY(writeFileBytes(dir.filePath("notes"), "x") && QFile::link(dir.filePath("notes"), dir.filePath("usb-Zeta-if00")));
    qputenv("ORVANE_BY_ID_DIR", dir.path().toLocal8Bit());
    qputenv("ORVANE_PORTS", (master.path() + ":/dev/does-not-exist-orvane").toLocal8Bit());
    MainWin w;
    qunsetenv("ORVANE_PORTS");
    qunsetenv("ORVANE_BY_ID_DIR");
    // A stopped clock: samples expire after 2 s of it, and a busy machine
    // takes longer than that between the exchanges below.
    w.setClocks([] { return QTime(12, 0, 0); }, [] { return qint64(1700000000000); });
    ModalAnswerer boxes;
    for (const char* name : {"btnDisconnect", "btnStartRanging", "btnDiscovery", "btnSendCommand"})
        QVERIFY2(!button(w, name)->isEnabled(), name);
    QVERIFY(!w.sendCommand("$PW,1,\r\n", false));   // port closed: false at once, and why
    QCOMPARE(w.exchangeError(), QString("Keine Verbindung zum Master: zuerst „Verbindung herstellen“."));

    // Paths from the environment are offered when they exist; a stable name
    // shows its device and opens the link it stands for.
    auto* ports = w.findChild<QComboBox*>("cmbComPort");
    QVERIFY(ports->findText(master.path()) >= 0 && ports->findText("/dev/does-not-exist-orvane") < 0);
    QCOMPARE(ports->itemText(ports->count() - 3), link + " (" + viaLink.path().mid(5) + ")");
    QCOMPARE(ports->itemText(ports->count() - 2), dir.filePath("usb-Zeta-if00 (") + QFileInfo(dir.filePath("notes")).canonicalFilePath() + ")");
    ports->setCurrentIndex(ports->count() - 3);
    w.connectPort();
    QVERIFY(w.com.isOpen() && !ports->isEnabled());
    w.disconnectPort();
    // Failures warn, with the system's reason, and leave the controls as they were.
    QVERIFY(!connectWindow(w, "/dev/does-not-exist-orvane"));
    QVERIFY2(boxes.seen.value(0).startsWith("Verbindung herstellen|Die Verbindung konnte nicht hergestellt werden!|Warning|"),
             qPrintable(boxes.seen.value(0)));
    QVERIFY(button(w, "btnConnect")->isEnabled() && !w.redrawTimer->isActive());
    edit(w, "edtBaud")->setText("abc");
    QVERIFY(!connectWindow(w, master.path()));
    QCOMPARE(boxes.texts(1), QStringList({"Ungültige Baud-Rate!"}));
    edit(w, "edtBaud")->setText("512000");

    // Connected: the identity is cleared and the chart runs. The echo comes amid
    // other lines of one batch, which are dispatched as well.
    w.dataReceived("$PX,1A2B,2.1\r\n");
    QVERIFY(connectWindow(w, master.path()));
    QVERIFY(w.masterInfo->text().isEmpty() && !button(w, "btnConnect")->isEnabled() && w.redrawTimer->isActive());
    master.responder = [](const QByteArray& l) { return "$PD,77,1F4\r\n" + l + "$PX,1A2B,2.1\r\n"; };
    QVERIFY(w.sendCommand("$PW,1,\r\n", false));
    QVERIFY(w.rangingHistory.value("77").size() == 1 && w.masterInfo->text() == "Master ID: 1A2B - Version: 2.1");
    // An echo without its CR and other lines are no reply; any packet line answers a loose command.
    master.responder = [](const QByteArray& l) { return QByteArray(l).replace("\r\n", "\n") + "$PDX,1\r\n"; };
    QVERIFY(!w.sendCommand("$PW,0,\r\n", false) && w.isEnabled());
    master.responder = [](const QByteArray&) { return QByteArray("$PD,1A2B,1F4\r\n"); };
    QVERIFY(w.sendCommand("$PS,\r\n", true));
    // A second exchange reached from the event loop the first one spins is refused, not deadlocked.
    bool nested = true;
    master.responder = [&](const QByteArray& l) {
        nested = l != "$PW,1,\r\n" || w.sendCommand("$PW,0,\r\n", false);
        return l;
    };
    QVERIFY(w.sendCommand("$PW,1,\r\n", false) && !nested);
    // The dialogs' entry point: an empty command fails without an exchange.
    master.responder = nullptr;
    QList<bool> results;
    connect(&w, &MainWin::commandResult, [&](bool ok) { results << ok; });
    master.lines.clear();
    w.executeCommand(QByteArray(), false);
    w.executeCommand("$PH,FFFF,1,1,\r\n", false);
    QVERIFY(results == QList<bool>({false, true}) && master.lines == QList<QByteArray>{"$PH,FFFF,1,1,\r\n"});

    // Ranging needs three anchors; a start or stop the master does not answer warns.
    w.dataReceived("$PK,1A2B,1,0,3C4D\r\n");
    button(w, "btnStartRanging")->click();
    QCOMPARE(boxes.seen.last(), QString("Ranging starten|Das Ranging ist erst ab 3 Ankern möglich!|Information"));
    w.dataReceived(ThreeModules);
    master.policy = FakeMaster::Silent;
    button(w, "btnStartRanging")->click();
    QVERIFY(!w.rangingActive);
    master.policy = FakeMaster::Echo;
    button(w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive && button(w, "btnSendCommand")->isEnabled() && !button(w, "btnDiscovery")->isEnabled());
    master.policy = FakeMaster::Silent;
    button(w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive);
    QCOMPARE(boxes.texts(3), QStringList({"Das Ranging konnte nicht gestartet werden!", "Das Ranging konnte nicht gestoppt werden!"}));
    QVERIFY2(boxes.seen.at(4).contains("|Der Master hat den Befehl „$PG“ nicht beantwortet (6 Versuche"), qPrintable(boxes.seen.at(4)));
    // Disconnecting while ranging sends the stop first, answered or not; nothing is read afterwards.
    master.lines.clear();
    w.disconnectPort();
    QCOMPARE(master.lines.value(0), QByteArray("$PG,\r\n"));
    QVERIFY(!w.com.isOpen() && !w.rangingActive && button(w, "btnConnect")->isEnabled() && !w.redrawTimer->isActive());
    // (How many samples came before depends on retransmissions the master answered.)
    const int samples = w.rangingHistory.value("1A2B").size();
    QVERIFY(!button(w, "btnSendCommand")->isEnabled());   // nothing to send it to
    master.send(dLine("1A2B", {500}));
    QTest::qWait(100);
    QCOMPARE(w.rangingHistory.value("1A2B").size(), samples);
    // Stopped with an answer, discovery is offered again and LED commands not.
    master.policy = FakeMaster::Echo;
    QVERIFY(connectWindow(w, master.path()));
    button(w, "btnStartRanging")->click();
    button(w, "btnStartRanging")->click();
    QVERIFY(!w.rangingActive && button(w, "btnDiscovery")->isEnabled() && !button(w, "btnSendCommand")->isEnabled());
    // The port vanishes: said without a box, and the setup stays.
    master.close();
    QVERIFY(waitUntil([&] { return w.findChild<QLabel*>("lblConnectionState")->text() == "nicht verbunden – Verbindung verloren"; }, 3000));
    QCOMPARE(w.statusBar()->currentMessage(), QString("Die Verbindung zum Master wurde unterbrochen!"));
    QVERIFY(button(w, "btnConnect")->isEnabled() && w.modules.anchors.size() == 3 && boxes.seen.size() == 5);
}

void TestMainWin::receiving()
{
    MainWin w;
    // At most 200 samples per tag, the oldest leave first; a short line is kept under no name.
    QByteArray batch;
    for (int i = 1; i <= 201; ++i)
        batch += dLine("1A2B", {i, 0, 1000});
    w.dataReceived(batch.left(1000));
    w.dataReceived(batch.mid(1000) + "$PD,1a2b\r\n");
    QCOMPARE(w.rangingHistory.value("1A2B").size(), 200);
    QCOMPARE(w.rangingHistory.value("1A2B").first()->distances.first(), 2);
    QCOMPARE(w.rangingHistory.value("1A2B").last()->distances, QList<int>({201, 0, 1000}));
    QCOMPARE(w.rangingHistory.value(QString()).size(), 1);
    // Module lists fill both tables; a refused one changes nothing.
    w.dataReceived(ThreeModules);
    w.dataReceived("$PK,1A2B,FFFFFFFF,1,3C4D,2B01\r\n");
    QVERIFY(table(w, "tblAnker")->rowCount() == 3 && table(w, "tblTags")->rowCount() == 1);

    // The status label: the identity at once, "keine Verbindung" when a periodic
    // check finds no packet for more than five seconds.
    MasterInfo* info = w.masterInfo;
    qint64 clock = QDateTime::currentMSecsSinceEpoch() + 100000;
    info->now = [&] { return clock; };
    const QList<QPair<qint64, QByteArray>> steps = {
        {0, ""}, {0, "$PX,1A2B,2.1\r\n"}, {5000, ""}, {1, ""}, {0, dLine("1A2B", {1})},
        {-100000, ""},              // a clock that went back is no silence
        {200000, "$PX,1A2B\r\n"},   // a short identity clears it and is no sign of life
        {0, "$PX, 3C4D , 1.0 ,extra\r\n"}};
    QStringList shown;
    for (const auto& s : steps) {
        clock += s.first;
        w.dataReceived(s.second);
        shown << info->text();
        QMetaObject::invokeMethod(info, "checkAlive", Qt::DirectConnection);
        shown << info->text();
    }
    const QString id = "Master ID: 1A2B - Version: 2.1", silent = "keine Verbindung", id2 = "Master ID: 3C4D - Version: 1.0";
    QCOMPARE(shown, QStringList({"", silent, id, id, id, id, id, silent, silent, id, id, id, "", silent, id2, id2}));
}

void TestMainWin::tables()
{
    MainWin w;
    QTableWidget* ta = table(w, "tblAnker");
    QTableWidget* tt = table(w, "tblTags");
    w.modules.anchors = {Anchor("3c4d", "Nord", colorList.at(1), 100, -200, 30, false, 5),
                         Anchor("1a2b", "Haupt", colorList.at(7), 0, 0, 250, true, -3),
                         Anchor("5e6f", "Sued", QColor(1, 2, 3), 7, 8, 0, false, 0)};
    w.modules.tags = {Tag("7a8b", "Wagen", colorList.at(3), true, false, true, false, true, false, true)};
    w.modules.tags[0].avgX = 20;
    w.fillAnchorTable();
    w.fillTagTable();
    QCOMPARE(w.modules.tags[0].avgX, 20);   // building the tables writes nothing back
    // Ids read-only; the master's box ticked but not the user's to change; each
    // box shows its colour, one outside the list as a twelfth item.
    auto box = [](QTableWidget* t, int r, int c) { return t->cellWidget(r, c)->findChild<QCheckBox*>(); };
    auto combo = [](QTableWidget* t, int r) { return t->cellWidget(r, 2)->findChild<QFlatComboBox*>(); };
    QVERIFY(!(ta->item(0, 0)->flags() & Qt::ItemIsEditable) && (ta->item(0, 1)->flags() & Qt::ItemIsEditable));
    QVERIFY(box(ta, 1, 6)->isChecked() && !box(ta, 1, 6)->isEnabled() && !box(ta, 0, 6)->isChecked());
    QVERIFY(combo(ta, 1)->currentIndex() == 7 && combo(ta, 1)->palette().color(QPalette::Base) == colorList.at(7));
    QCOMPARE(combo(ta, 1)->itemData(3, Qt::BackgroundRole).value<QColor>(), colorList.at(3));
    QVERIFY(combo(ta, 2)->count() == 12 && combo(ta, 2)->currentIndex() == 11);

    // Every edit reads the table back: the master first, names as typed,
    // numbers trimmed, anything else 0 while the cell keeps what was typed.
    ta->item(0, 1)->setText("  Nord 2 ");
    ta->item(0, 4)->setText(" 250 ");
    ta->item(0, 7)->setText("12a");
    QCOMPARE(recordsOf(w.modules), QStringList({"1a2b|Haupt|#ffff9922|0,0|M|-3", "3c4d|  Nord 2 |#ffff0000|100,250|-|0",
                                                "5e6f|Sued|#ff010203|7,8|-|0", "7a8b|Wagen|#ff0000ff|1010101"}));
    QVERIFY(ta->item(0, 7)->text() == "12a" && w.modules.anchors.at(1).z == 30);
    // A tag option or colour rebuilds the tag records, so their measurement starts afresh.
    box(tt, 0, 4)->setChecked(true);
    QCOMPARE(w.modules.tags[0].avgX, Tag::NoPosition);
    combo(tt, 0)->setCurrentIndex(9);
    QCOMPARE(recordsOf(w.modules).last(), QString("7a8b|Wagen|#ff22ff99|1110101"));
    box(tt, 0, 10)->setChecked(true);
    QVERIFY(w.modules.tags[0].showUncertainty && !w.modules.tags[0].showTrail);
    box(tt, 0, 11)->setChecked(true);
    QVERIFY(w.modules.tags[0].showTrail && tt->horizontalHeaderItem(10)->text() == "Unsicherheit");
    QCOMPARE(combo(tt, 0)->palette().color(QPalette::Base), colorList.at(9));
    // While the flag is down the table slots stay silent.
    w.modulesPanel->tablesInSync = false;
    ta->item(0, 1)->setText("still");
    QCOMPARE(w.modules.anchors[1].name, QString("  Nord 2 "));
    w.modulesPanel->tablesInSync = true;
    // A module list arriving inside a colour box's own signal rebuilds the table
    // under that box: the choice is kept and the old box goes once it returns.
    QPointer<QFlatComboBox> old = combo(ta, 1);
    connect(old.data(), QOverload<int>::of(&QComboBox::currentIndexChanged), &w, [&w](int) { w.dataReceived(ThreeModules); });
    old->setCurrentIndex(4);
    QVERIFY(old && combo(ta, 0) != old);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!old && w.modules.anchors.at(0).color == colorList.at(4) && combo(ta, 0)->currentIndex() == 4);
}

void TestMainWin::chartPass()
{
    MainWin w;
    QVERIFY(showWindow(w));
    w.modules.anchors = {Anchor("1A2B", "M", Qt::red, -400, -400, 0, true, 0), Anchor("3C4D", "A1", Qt::blue, 400, -400, 0, false, 0),
                         Anchor("5E6F", "A2", Qt::cyan, 400, 400, 0, false, 0), Anchor("7A80", "A3", Qt::magenta, -400, 400, 0, false, 0)};
    const QColor green(0, 255, 0), orange(255, 153, 34);
    w.modules.tags = {Tag("2B01", "Walker", green, true, true, false, false, true, true, true),
                      Tag("2B02", "Circles", orange, false, false, false, true, false, false, false)};
    QTime now(23, 59, 59);
    w.setClocks([&] { return now; }, [] { return qint64(1000000); });
    const QList<int> walker = distancesTo(w.modules.anchors, 100, -50), circles = distancesTo(w.modules.anchors, -200, 150);
    // Identifiers in another letter case still find their tag; unknown ones change nothing.
    for (int i = 0; i < 12; ++i)
        w.dataReceived(dLine("2b01", walker) + dLine("2B02", circles) + dLine("FFFF", {100, 100, 100, 100}));
    pass(w);
    const Tag& t = w.modules.tags.at(0);
    QVERIFY(qAbs(t.avgX - 100) <= 2 && qAbs(t.avgY + 50) <= 2 && qAbs(t.rawX - 100) <= 2 && qAbs(t.rawY + 50) <= 2);
    QCOMPARE(t.lastUpdateMs, qint64(1000000));
    const QImage img = w.frame.chartPixmap->toImage();
    auto px = [&](int x, int y) { return QColor(img.pixel((500 + x) / 2, (500 - y) / 2)); };
    QCOMPARE(px(t.avgX, t.avgY), green);
    // Each tag keeps a trail while "Spur" has seconds (10 by default); none at 0.
    auto walkerTrail = [&] {
        for (const TagResult& r : w.lastPositioning().tags)
            if (r.tag == 0)
                return int(r.trail.size());
        return -1;
    };
    QCOMPARE(walkerTrail(), 1);
    w.findChild<QSpinBox*>("spnTrailSeconds")->setValue(0);
    pass(w);
    QCOMPARE(walkerTrail(), 0);
    // Only averaged circles for the other tag; its position is computed for the export all the same, and
    // the circle round the master passes through its true place.
    QVERIFY(qAbs(w.modules.tags.at(1).avgX + 200) <= 2);
    bool onCircle = false;
    for (int d = -4; d <= 4; d += 2)
        onCircle = onCircle || px(-400 + circles.at(0) + d, -400) == orange;
    QVERIFY(onCircle);
    // The first history (by key) with a master writes the master distance.
    QCOMPARE(w.findChild<QLabel*>("labAbstandMaster")->text(), QString("Abstand Tag \"Circles\" -> Master: %1 cm").arg(circles.at(0)));
    // Coverage: green inside the anchors' square, grey where fewer than three reach; off, the floor stays white.
    auto floorAt = [&](int x, int y) { pass(w); return QColor(w.frame.chartPixmap->toImage().pixel((500 + x) / 2, (500 - y) / 2)); };
    QCOMPARE(floorAt(-130, 330), QColor(Qt::white));
    w.findChild<QCheckBox*>("chkShowCoverage")->setChecked(true);
    const QColor good = floorAt(-130, 330);
    QVERIFY2(good.green() > good.red() + 30 && good.red() == good.blue(), qPrintable(good.name()));
    edit(w, "edtRangeLimit")->setText("300");
    const QColor grey = floorAt(-130, 330);
    QVERIFY2(grey.red() == grey.green() && grey.green() == grey.blue() && grey.red() < 230, qPrintable(grey.name()));
    edit(w, "edtRangeLimit")->clear();
    QCOMPARE(floorAt(-130, 330), good);
    // Link quality: a window beside the main one, a row per tag and one per link, refreshed every second.
    findButton(&w, "btnLinkQuality")->click();
    auto* links = w.findChild<QDialog*>("LinkQualityDialog");
    QVERIFY(links && links->isVisible() && !links->isModal());
    auto* table = links->findChild<QTableWidget*>("tblLinkQuality");
    QCOMPARE(table->rowCount(), 10);
    QCOMPARE(table->item(6, 0)->text() + table->item(6, 1)->text() + table->item(6, 3)->text(), QString("WalkerM0.0 %"));
    QCOMPARE(table->item(6, 3)->background().color(), QColor(200, 240, 200));
    for (int i = 0; i < 12; ++i)
        w.dataReceived(dLine("2b01", {walker.at(0), walker.at(1), walker.at(2), 0}));
    pass(w);
    QTRY_COMPARE(table->item(9, 3)->text(), QString("50.0 %"));
    QCOMPARE(table->item(9, 3)->background().color(), QColor(255, 190, 190));
    // Samples expire after two whole seconds, across midnight too; identifiers that fell silent are forgotten.
    now = QTime(0, 0, 1);
    pass(w);
    QCOMPARE(w.rangingHistory.value("2b01").size(), 24);
    now = QTime(0, 0, 2);
    pass(w);
    QVERIFY(w.rangingHistory.isEmpty());
    // A grid that cannot be drawn keeps the last good geometry until one can.
    for (const char* width : {"0", "abc", "2000"}) {
        edit(w, "edtGridW")->setText(width);
        pass(w);
        QCOMPARE(w.chartGeo.gridW, width == QString("2000") ? 2000 : 1400);   // the chart's area filled
    }
}

void TestMainWin::mouseAndPicture()
{
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(showWindow(w));
    QLabelEx* c = chart(w);
    // Pixels to centimetres, truncated toward zero; a drag over empty floor only reads out.
    click(w, {249, 251});
    QCOMPARE(readouts(w), QString("-2 cm -2 cm 0 cm 0 cm 0 cm"));
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, {250, 250});
    QTest::mouseMove(c, {258, 240});
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, {265, 230});
    QCOMPARE(readouts(w), QString("30 cm 40 cm 30 cm 40 cm 50 cm"));
    // The read-outs say what they are, and the measured line stays on the chart.
    auto row = [&](const char* name) {
        QStringList texts;
        auto* layout = w.findChild<QLayout*>(name);
        for (int i = 0; i < layout->count(); ++i)
            if (auto* label = qobject_cast<QLabel*>(layout->itemAt(i)->widget()))
                texts << label->text().simplified();
        return texts.join(' ');
    };
    QCOMPARE(row("horizontalLayout_readouts").trimmed(),
             QString("Maus: X 30 cm Y 40 cm Strecke: ΔX 30 cm ΔY 40 cm Länge 50 cm"));
    {   // somewhere along the drag the shown label is dark where the chart's own frame is light
        const QImage shown = c->grab().toImage(), frame = QtCompat::pixmap(c).toImage();
        bool drawn = false;
        for (int y = 230; y <= 250 && !drawn; ++y)
            for (int x = 250; x <= 265 && !drawn; ++x)
                drawn = qGray(shown.pixel(x, y)) < 100 && qGray(frame.pixel(x, y)) > 200;
        QVERIFY(drawn);
    }
    // Where two anchors lie on each other the later one is dragged; the table follows when the button is released.
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, -200, -200, 0, true, 0), Anchor("A2", "Zwei", Qt::blue, -200, -200, 0, false, 0),
                         Anchor("A3", "Drei", Qt::green, 100, 100, 0, false, 0)};
    w.fillAnchorTable();
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, {151, 349});
    QTest::mouseMove(c, {165, 330});
    QCOMPARE(QPoint(w.modules.anchors[1].x, w.modules.anchors[1].y), QPoint(-170, -160));
    QCOMPARE(table(w, "tblAnker")->item(1, 3)->text(), QString("-200"));
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, {165, 330});
    QCOMPARE(readouts(w), QString("-170 cm -160 cm 28 cm 38 cm 47 cm"));
    QCOMPARE(table(w, "tblAnker")->item(1, 3)->text() + table(w, "tblAnker")->item(1, 4)->text(), QString("-170-160"));
    QCOMPARE(w.modules.anchors[0].x, -200);
    // Five pixels either way catch an anchor, the square's edge included.
    for (const auto& p : {qMakePair(QPoint(305, 205), 2), qMakePair(QPoint(295, 195), 2), qMakePair(QPoint(306, 200), -1)}) {
        QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, p.first);
        QCOMPARE(w.chartViewFlow()->dragAnchor, p.second);
        QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, p.first);
    }
    // "Anker fixieren" keeps every anchor where it stands.
    w.findChild<QCheckBox*>("chkLockAnchors")->setChecked(true);
    QTest::mousePress(c, Qt::LeftButton, Qt::NoModifier, {305, 205});
    QCOMPARE(w.chartViewFlow()->dragAnchor, -1);
    QTest::mouseRelease(c, Qt::LeftButton, Qt::NoModifier, {305, 205});
    w.findChild<QCheckBox*>("chkLockAnchors")->setChecked(false);
    // The wheel zooms about the pointer and the middle button pans; the grid edits follow.
    const auto grid = [&w] {
        return QStringList{edit(w, "edtGridX")->text(), edit(w, "edtGridY")->text(), edit(w, "edtGridW")->text(),
                           edit(w, "edtGridH")->text()}.join(' ');
    };
    QWheelEvent wheel(QPointF(150, 350), QPointF(c->mapToGlobal(QPoint(150, 350))), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(c, &wheel);
    QCOMPARE(grid(), QString("-440 -440 800 800"));   // (-200, -200) stays under the pointer
    QTest::mousePress(c, Qt::MiddleButton, Qt::NoModifier, {150, 350});
    QTest::mouseMove(c, {200, 300});
    QTest::mouseRelease(c, Qt::MiddleButton, Qt::NoModifier, {200, 300});
    QCOMPARE(grid(), QString("-540 -540 800 800"));
    edit(w, "edtGridX")->setText("-500"), edit(w, "edtGridY")->setText("-500");
    edit(w, "edtGridW")->setText("1000"), edit(w, "edtGridH")->setText("1000");

    // A picture comes at 1 cm per pixel, its lower-left corner at the origin, the grid fitted to it.
    QTemporaryDir dir;
    QImage picture(700, 500, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QString chosen = dir.filePath("plan.png");
    QVERIFY(picture.save(chosen));
    w.setFileChoosers([&](const QString&, const QString&) { return chosen; }, nullptr);
    button(w, "btnSelectBackground")->click();
    QVERIFY(w.findChild<QCheckBox*>("chkDrawBGImage")->isChecked());
    QCOMPARE(placement(w), QString("0 0 700 500 / 0 0 700 500 / 1 0 500"));
    // Calibration by buttons and clicks (at 1 cm per pixel, pixel (x, 500 - y) is (x, y)),
    // each missing piece refused in turn; a press picks a point and drags no anchor.
    button(w, "btnBGImageSetup")->click();
    QVERIFY(showWindow(w));
    auto accept = [&] { button(w, "btnAcceptBGImageSetup")->click(); };
    accept();
    button(w, "btnBGImageOrigin")->click();
    click(w, {300, 300});
    click(w, {100, 400});   // on anchor A3, picked again: the last one counts
    accept();
    button(w, "btnBGImageDist")->click();
    click(w, {100, 400});
    accept();
    edit(w, "edtBGImageDistance")->setText("600");
    accept();               // the same spot twice gives no scale
    QVERIFY(w.background.calibration && w.background.mouseMode == 2 && w.modules.anchors[2].x == 100);
    pass(w);                // the marks are drawn meanwhile
    click(w, {400, 400});
    pass(w);                // the measuring point: a disc 10 px across (above and below its line)
    int green = 0;
    for (int y = 392; y <= 408; ++y)
        for (int x = 392; x <= 408; ++x)
            green += qAbs(y - 400) >= 3 && QColor(w.frame.chartPixmap->toImage().pixel(x, y)) == QColor(Qt::green);
    QVERIFY2(green >= 15 && green <= 50, qPrintable(QString::number(green)));
    accept();
    QStringList refusals;
    for (const QString& b : boxes.seen)
        if (b.endsWith("|Warning") || b.contains("erfolgreich"))
            refusals << b.section('|', 1, 1);
    QCOMPARE(refusals, QStringList({"Sie haben noch keinen Koordinatenursprung gewählt!", "Sie haben noch keinen Messpunkt gewählt!",
                                    "Sie haben noch keinen Messabstand eingegeben!",
                                    "Ursprung und Messpunkt dürfen nicht übereinstimmen!", "Image erfolgreich angepasst"}));
    QVERIFY(boxes.seen.size() == 8 && !w.background.calibration && w.background.mouseMode == 0);
    QCOMPARE(placement(w), QString("-200 -200 1400 1000 / -200 -200 1400 1000 / 2 -200 800"));
    // The picked origin is now the world's origin, with the picture under it.
    QVERIFY(showWindow(w));
    click(w, {100, 400});
    QCOMPARE(readouts(w).left(9), QString("0 cm 0 cm"));
    QCOMPARE(QColor(w.frame.chartPixmap->toImage().pixel(60, 240)), QColor(Qt::blue));

    // Cancelled, the picture stays at 1 cm per pixel; cleared, there is nothing to calibrate.
    button(w, "btnBGImageSetup")->click();
    button(w, "btnAcceptBGImageCancel")->click();
    QVERIFY(!w.background.calibration && placement(w).endsWith("/ 1 0 500"));
    button(w, "btnClearBackground")->click();
    button(w, "btnBGImageSetup")->click();
    QCOMPARE(boxes.seen.last(), QString("Image anpassen|Kein Hintergrundbild ausgewählt!|Warning"));
    // A picture cut short is an empty one: the chart keeps its geometry and draws on.
    QVERIFY(writeFileBytes(dir.filePath("cut.png"), readFileBytes(chosen).left(100)));
    chosen = dir.filePath("cut.png");
    button(w, "btnSelectBackground")->click();
    pass(w);
    QVERIFY(w.background.bgImage && w.background.bgImage->isNull() && w.chartGeo.gridW == 1400 && !QtCompat::pixmap(chart(w)).isNull());
    // Grid fields take numbers only, and are marked while they hold none.
    QLineEdit* width = edit(w, "edtGridW");
    width->clear();
    QTest::keyClicks(width, "abc");
    QVERIFY(width->text().isEmpty() && isMarkedInvalid(width));
    QTest::keyClicks(width, "1400");
    QVERIFY(!isMarkedInvalid(width));
}

void TestMainWin::settings()
{
    QTemporaryDir dir;
    QVERIFY(QImage(40, 30, QImage::Format_RGB32).save(dir.filePath("plan.png")));
    QString target = dir.filePath("plan.png");
    auto chooser = [&](const QString&, const QString&) { return target; };
    MainWin w;
    ModalAnswerer boxes;
    w.setFileChoosers(chooser, chooser);
    button(w, "btnSelectBackground")->click();
    w.background.bgImageFactor = 1.0 / 3.0;
    w.modules = setupOf("1A2B* 3C4D", "7A8B");
    w.modules.anchors[1].name = "Süd = \"zwei\"; %1";
    w.fillAnchorTable();
    w.fillTagTable();
    edit(w, "edtGridX")->setText(" -1200");   // stored as typed
    edit(w, "edtGridH")->setText("abc");
    w.findChild<QComboBox*>("cmbLastMeasures")->setCurrentText("5");
    target = dir.filePath("setup.cfg");
    button(w, "btnSaveSettings")->click();
    QVERIFY(boxes.seen.isEmpty());
    // Another window takes it all over; disconnected, a hint follows.
    MainWin v;
    v.setFileChoosers(chooser, nullptr);
    button(v, "btnLoadSettings")->click();
    QCOMPARE(recordsOf(v.modules), recordsOf(w.modules));
    QCOMPARE(table(v, "tblAnker")->item(1, 1)->text(), w.modules.anchors[1].name);
    QCOMPARE(placement(v), placement(w));
    QVERIFY(v.averageCount == 5 && v.background.bgImage && v.background.bgImage->size() == QSize(40, 30) && v.gridDirty);
    const QString reminder = "Module konfigurieren|Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor "
                             "dem Ranging die Modulkonfiguration vorzunehmen um den Master zu konfigurieren!";
    QCOMPARE(boxes.seen, QStringList({reminder + "|Information"}));

    // Overwriting asks first: No (the default) keeps the file, Yes replaces it.
    const QByteArray saved = readFileBytes(target);
    w.modules = ModuleSetup();
    button(w, "btnSaveSettings")->click();
    QCOMPARE(boxes.seen.last(), QString("Einstellungen speichern|Die Zieldatei '%1' existiert bereits!\n\nWollen Sie diese "
                                        "wirklich überschreiben?|Information").arg(target));
    QCOMPARE(readFileBytes(target), saved);
    boxes.answer(QMessageBox::Yes);
    button(w, "btnSaveSettings")->click();
    QVERIFY(readFileBytes(target).contains("\nAnchorCount=0\n"));
    target = dir.filePath("no/such.cfg");
    button(w, "btnSaveSettings")->click();
    // An unreadable file changes nothing and says so.
    target = dir.filePath("bad.cfg");
    QVERIFY(writeFileBytes(target, "[General\nAnchorCount=0\n"));
    button(v, "btnLoadSettings")->click();
    QCOMPARE(boxes.texts(3), QStringList({"Die Einstellungen konnten nicht gespeichert werden!",
                                          "Die Einstellungsdatei konnte nicht gelesen werden:\n" + QDir::toNativeSeparators(target)
                                              + "\nFormatfehler in Zeile 1"}));
    QCOMPARE(v.modules.anchors.size(), 2);

    // Connected, the reminder asks; Yes opens the module configuration, and nothing is sent to the master.
    FakeMaster master;
    QVERIFY(connectWindow(v, master.path()));
    target = dir.filePath("setup.cfg");
    boxes.answer(QMessageBox::Yes);
    QVERIFY(runModalDialog<DiscoverWin>(boxes, button(v, "btnLoadSettings"),
                                        [](DiscoverWin* d) { findButton(d, "btnCancelDiscovery")->click(); }));
    QCOMPARE(boxes.seen.last(), reminder + "\nMöchten Sie jetzt das Konfigurationsfenster öffnen?|Question");
    QVERIFY(master.lines.isEmpty() && !v.discoverWin);
}

void TestMainWin::recordAndReplay()
{
    QTemporaryDir dir;
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(showWindow(w));
    const QList<Anchor> room = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "A1", Qt::blue, 1000, 0, 0, false, 0),
                                Anchor("5E6F", "A2", Qt::cyan, 1000, 800, 0, false, 0)};
    w.modules.anchors = room;
    // The raw position is not shown, and still exported; so are the distances.
    w.modules.tags = {Tag("2B01", "Süd, \"Ecke\"", Qt::red, false, true, false, false, true, true, true)};
    w.findChild<QCheckBox*>("chkExportDistances")->setChecked(true);
    w.averageCount = 1;
    const qint64 base = QDateTime(QDate(2024, 5, 1), QTime(10, 0)).toMSecsSinceEpoch();
    qint64 now = 0;
    w.setClocks([&] { return QTime(10, 0).addMSecs(int(now)); }, [&] { return base + now; });
    const QString path = dir.filePath("s.orec");
    QVERIFY(w.startRecording(path));
    for (int step = 0; step < 10; ++step) {
        now += 100;
        w.dataReceived(dLine("2B01", distancesTo(room, 200 + 10 * step, 300)));
        pass(w);
        QTest::qWait(15);   // recorded time runs on between the batches
    }
    pass(w);   // nothing new: no row
    w.stopRecording();
    QVERIFY(!w.startRecording(dir.filePath("same.csv")));   // the export is never the recording

    // One row per new sample, with what the chart pass computed; text quoted where
    // needed (the name's comma shifts the later fields by one when split here).
    const QList<QByteArray> rows = readFileBytes(dir.filePath("s.csv")).split('\n');
    QCOMPARE(rows.size(), 12);
    QCOMPARE(rows.first(), QByteArray("time,tag_id,tag_name,raw_x_cm,raw_y_cm,avg_x_cm,avg_y_cm,speed_mps,rate_hz,rec_ms,"
                                      "d_1A2B_cm,d_3C4D_cm,d_5E6F_cm,sigma_x_cm,sigma_y_cm,r95_cm,rho_xy"));
    QStringList used;
    for (int d : distancesTo(room, 290, 300))
        used << QString::number(d);
    QCOMPARE(QString(rows.at(10).split(',').mid(11, 3).join(',')), used.join(','));
    const QList<QByteArray> row10 = rows.at(10).split(',');
    QVERIFY(row10.at(14).toDouble() > 0 && row10.at(16).toDouble() > 2 * row10.at(14).toDouble());   // sigma_x, r95
    const Tag& t = w.modules.tags.at(0);
    QCOMPARE(rows.at(10), (QDateTime::fromMSecsSinceEpoch(base + 1000).toString(Qt::ISODateWithMs) + ",2B01,\"Süd, \"\"Ecke\"\"\","
                           + QString("%1,%2,%1,%2,").arg(t.rawX).arg(t.rawY)).toUtf8() + rows.at(10).split(',').mid(8).join(','));
    QVERIFY(qAbs(rows.at(10).split(',').at(8).toDouble() - 1.0) < 0.2);   // 10 cm per 100 ms
    QCOMPARE(rows.at(10).split(',').at(9), QByteArray("10.000"));          // nine intervals in 900 ms

    // Replayed as fast as possible, the recording gives the same positions again.
    w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
    w.setFileChoosers([&](const QString&, const QString&) { return path; }, nullptr);
    button(w, "btnReplay")->click();
    QVERIFY(w.isReplaying() && !button(w, "btnConnect")->isEnabled());
    QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 5000));
    QVERIFY(button(w, "btnConnect")->isEnabled() && w.rangingHistory.isEmpty());
    auto positions = [](const QString& file) {
        QStringList out;
        for (const QByteArray& row : readFileBytes(file).split('\n').mid(1))
            out << row.split(',').mid(4, 4).join(',');
        out.removeDuplicates();
        return out;
    };
    QCOMPARE(positions(dir.filePath("s.replay-avg1.csv")), positions(dir.filePath("s.csv")));
    // What is no recording is refused with a warning.
    QVERIFY(writeFileBytes(path, "ORVANE-RECORDING 2\n"));
    button(w, "btnReplay")->click();
    QCOMPARE(boxes.seen, QStringList({"Aufzeichnung abspielen|Die Aufzeichnung konnte nicht gelesen werden!|Warning"}));
}

// Closing asks only when something would be lost: a recording under way
// (ended cleanly on leaving), a setup changed since it was last loaded or saved.
void TestMainWin::closeAsks()
{
    QTemporaryDir dir;
    ModalAnswerer boxes;
    MainWin w;
    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return dir.filePath("room.cfg"); });
    w.show();
    QVERIFY(w.close() && boxes.seen.isEmpty());
    w.show();
    w.modules = setupOf("1A2B* 3C4D", "2B01");
    w.fillAnchorTable();
    boxes.answer(QMessageBox::Cancel);
    QVERIFY(!w.close() && w.isVisible());
    QVERIFY2(boxes.seen.value(0).startsWith("Orvane beenden|Änderungen speichern?|Question|"), qPrintable(boxes.seen.value(0)));
    boxes.answer(QMessageBox::Save);
    QVERIFY(w.close());
    SettingsData saved;
    QVERIFY(readSettingsFile(dir.filePath("room.cfg"), saved) && saved.anchors.size() == 2 && saved.tags.size() == 1);
    w.show();
    QVERIFY(w.close() && boxes.seen.size() == 2);   // saved: nothing to lose
    // Recording: asked first, Cancel records on; leaving ends it, after the setup question.
    w.show();
    QVERIFY(w.startRecording(dir.filePath("r.orec")));
    boxes.answer(QMessageBox::Cancel);
    QVERIFY(!w.close() && w.isVisible());
    QCOMPARE(boxes.texts(2), QStringList({"Eine Aufzeichnung läuft. Aufzeichnung beenden und Orvane schließen?"}));
    w.modules.anchors[1].offset = 12;
    boxes.answer(QMessageBox::Yes);
    boxes.answer(QMessageBox::Discard);
    QVERIFY(w.close() && boxes.seen.size() == 5);
    QVERIFY(QFileInfo::exists(dir.filePath("r.csv")) && w.startRecording(dir.filePath("again.orec")));   // the first one ended
    QVERIFY(w.stopRecording());
}

// After "Ranging stoppen" the tags stay where they were, greyed and without
// their rate, and the distance to the master goes.
void TestMainWin::stoppedRanging()
{
    FakeMaster master;
    MainWin w;
    QVERIFY(showWindow(w));
    const QList<Anchor> room = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "A1", Qt::blue, 1000, 0, 0, false, 0),
                                Anchor("5E6F", "A2", Qt::cyan, 1000, 800, 0, false, 0)};
    w.modules.anchors = room;
    w.modules.tags = {Tag("2B01", "T", Qt::magenta, false, true, false, false, false, false, true)};
    w.fillAnchorTable();
    w.fillTagTable();
    QVERIFY(connectWindow(w, master.path()));
    button(w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive);
    for (int i = 0; i < 10; ++i) {
        master.send(dLine("2B01", distancesTo(room, 200, 300)));
        QTest::qWait(20);
    }
    auto pixels = [&](const QColor& c) {
        const QImage img = QtCompat::pixmap(chart(w)).toImage();
        QRegion found;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (QColor(img.pixel(x, y)) == c)
                    found += QRect(x, y, 1, 1);
        return found;
    };
    QVERIFY(waitUntil([&] { return pixels(Qt::magenta).rectCount() > 5; }, 2000));
    const QRect live = pixels(Qt::magenta).boundingRect();   // the tag's disc and label
    auto* distance = w.findChild<QLabel*>("labAbstandMaster");
    QVERIFY(distance->text().startsWith("Abstand Tag"));
    button(w, "btnStartRanging")->click();
    QVERIFY(!w.rangingActive);
    QTest::qWait(2500);   // the samples expire meanwhile
    const QRegion grey = pixels(stoppedColor(Qt::magenta));
    int greyInside = 0;   // the stopped tag's disc where the live one was
    for (const QRect& r : grey & QRegion(live))
        greyInside += r.width() * r.height();
    QVERIFY2(pixels(Qt::magenta).isEmpty() && greyInside > 30, qPrintable(QString::number(greyInside)));
    QVERIFY(distance->text().isEmpty());
}

QTEST_MAIN(TestMainWin)
#include "tst_mainwin.moc"
