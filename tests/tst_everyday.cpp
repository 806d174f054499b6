// Feedback a user can trust: a silent port, a lost connection, an anchor moved
// by mistake, settings files that keep their suffix.
#include "mainwin.h"
#include "qlabelex.h"
#include "recording.h"
#include "replaytimeline.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class TestEveryday : public QObject
{
    Q_OBJECT
private slots:
    void silentMasterAndLostConnection();
    void undoAnchorMove();
    void settingsSuffixAndConfirmation();
    void startFromCommandLine();
    void replayFeedback();
    void replayScrub();
};

void TestEveryday::silentMasterAndLostConnection()
{
    FakeMaster pty;   // a port with nothing that answers on it
    pty.policy = FakeMaster::Silent;
    QTemporaryDir dir;
    const QString link = dir.filePath("master");   // a stable name for the device, as the by-id links are
    QVERIFY(!pty.path().isEmpty() && QFile::link(pty.path(), link));
    MainWin w;
    w.findChild<QCheckBox*>("chkAutoReconnect")->setChecked(false);   // kept from an earlier run otherwise
    w.show();
    QVERIFY(connectWindow(w, link));
    // Nothing answers: after 2 s the status bar asks, and the connection label agrees.
    const QString expected = QString("Kein Master an %1? Seit 2 s keine Antwort.").arg(link);
    QVERIFY(waitUntil([&] { return w.statusBar()->currentMessage() == expected; }, 4000));
    auto* state = w.findChild<QLabel*>("lblConnectionState");
    QCOMPARE(state->text(), QString("verbunden – Master antwortet nicht"));
    // Starting the ranging says which command went unanswered and what to check.
    w.modules = setupOf("1A2B* 3C4D 5E6F");
    w.fillAnchorTable();
    ModalAnswerer boxes;
    findButton(&w, "btnStartRanging")->click();
    QVERIFY2(boxes.seen.value(0).startsWith("Ranging starten|Das Ranging konnte nicht gestartet werden!|Warning|"
                                            "Der Master hat den Befehl „$PS“ nicht beantwortet")
                 && boxes.seen.value(0).contains(link), qPrintable(boxes.seen.value(0)));
    // The master speaks: the label says plain "verbunden" again.
    QVERIFY(pty.send("$PX,1A2B,1.0\r\n"));
    QVERIFY(waitUntil([&] { return state->text() == "verbunden"; }, 2000));

    // Ranging and recording when the port vanishes: the recording ends and says
    // where it went, the last frame stays greyed, the master distance goes.
    pty.policy = FakeMaster::Echo;
    findButton(&w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive && w.startRecording(dir.filePath("cut.orec")));
    w.findChild<QLabel*>("labAbstandMaster")->setText("Abstand Tag \"x\" -> Master: 582 cm");
    QVERIFY(waitUntil([&] { return w.frame.chartPixmap && !w.frame.chartPixmap->isNull(); }, 2000));
    w.frame.chartPixmap->fill(Qt::red);
    pty.close();
    QVERIFY(waitUntil([&] { return state->text() == "nicht verbunden – Verbindung verloren"; }, 3000));
    const QImage shown = QtCompat::pixmap(w.findChild<QLabelEx*>("lblChart")).toImage();
    const QColor c = shown.pixelColor(2, 2);
    QVERIFY2(c.red() == c.green() && c.green() == c.blue(), qPrintable(c.name()));   // grey, not red
    QVERIFY(w.findChild<QLabel*>("labAbstandMaster")->text().isEmpty());
    QVERIFY2(w.statusBar()->currentMessage().startsWith("Die Verbindung zum Master wurde unterbrochen! Aufzeichnung beendet "
                                                        "(Verbindung verloren): " + QDir::toNativeSeparators(dir.filePath("cut.orec")) + ", "),
             qPrintable(w.statusBar()->currentMessage()));
    QVERIFY(!findButton(&w, "btnRecord")->isEnabled() && !findButton(&w, "btnSendCommand")->isEnabled());

    // The device comes back: the window offers to connect, and the ranging runs again.
    FakeMaster back;
    QVERIFY(QFile::remove(link) && QFile::link(back.path(), link));
    boxes.answer(QMessageBox::Yes);
    QVERIFY(waitUntil([&] { return w.rangingActive; }, 5000));
    QCOMPARE(boxes.seen.last(), QString("Verbindung|Master wieder da – verbinden?|Question"));
    QCOMPARE(back.countLine("$PS,\r\n"), 1);
    QCOMPARE(w.statusBar()->currentMessage(), QString("Wieder verbunden mit %1. Das Ranging läuft wieder.").arg(link));
    // With "Automatisch neu verbinden" it does so without asking.
    w.findChild<QCheckBox*>("chkAutoReconnect")->setChecked(true);
    back.close();
    QVERIFY(waitUntil([&] { return !w.rangingActive; }, 3000));
    FakeMaster third;
    QVERIFY(QFile::remove(link) && QFile::link(third.path(), link));
    QVERIFY(waitUntil([&] { return w.rangingActive; }, 5000));
    QVERIFY(third.countLine("$PS,\r\n") == 1 && boxes.seen.size() == 2);
}

void TestEveryday::undoAnchorMove()
{
    MainWin w;
    w.findChild<QWidget*>("chart")->setFixedSize(700, 500);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.modules.anchors = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("7A80", "A", Qt::blue, 0, 800, 0, false, 0)};
    w.fillAnchorTable();
    const QStringList grid = {"-100", "-100", "1000", "1000"};
    const QStringList edits = {"edtGridX", "edtGridY", "edtGridW", "edtGridH"};
    for (int i = 0; i < 4; ++i)
        w.findChild<QLineEdit*>(edits[i])->setText(grid[i]);
    w.redrawChart();
    QLabelEx* chart = w.findChild<QLabelEx*>("lblChart");
    QVERIFY(waitUntil([&] { return chart->size() == QSize(w.chartGeo.pixmapW, w.chartGeo.pixmapH); }, 2000));
    auto pixel = [&](int x, int y) {   // the label pixel nearest to a world point
        QPoint best;
        for (int py = 0; py < chart->height(); ++py)
            for (int px = 0; px < chart->width(); ++px)
                if ((pixelToWorld(w.chartGeo, QPointF(px, py)) - QPoint(x, y)).manhattanLength()
                    < (pixelToWorld(w.chartGeo, best) - QPoint(x, y)).manhattanLength())
                    best = QPoint(px, py);
        return best;
    };
    auto at = [&](int i) { return QPoint(w.modules.anchors[i].x, w.modules.anchors[i].y); };
    auto* table = w.findChild<QTableWidget*>("tblAnker");

    // Two drags of the same anchor, undone one after the other.
    for (const QPoint& to : {QPoint(300, 500), QPoint(100, 100)}) {
        const QPoint from = pixel(at(1).x(), at(1).y());
        QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, from);
        const QPoint over = pixel(to.x(), to.y());
        QMouseEvent drag(QEvent::MouseMove, over, chart->mapToGlobal(over), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &drag);
        QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, pixel(to.x(), to.y()));
    }
    QVERIFY(at(1) != QPoint(0, 800));
    QCOMPARE(w.statusBar()->currentMessage(), QString("Anker 7A80 verschoben – Strg+Z macht es rückgängig"));
    const QPoint afterFirst = at(1);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(at(1) != afterFirst);
    QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(at(1), QPoint(0, 800));
    QCOMPARE(table->item(1, 3)->text() + ' ' + table->item(1, 4)->text(), QString("0 800"));
    QCOMPARE(at(0), QPoint(0, 0));
    // The chart's context menu offers the same action.
    QCOMPARE(chart->contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(chart->actions().size(), 2);
    QVERIFY(!chart->actions().first()->isEnabled());   // nothing left to undo
    QCOMPARE(chart->actions().last()->shortcut(), QKeySequence(Qt::Key_F11));   // and the presentation view
}

void TestEveryday::settingsSuffixAndConfirmation()
{
    QTemporaryDir dir;
    MainWin w;
    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return dir.filePath("mysettings"); });
    findButton(&w, "btnSaveSettings")->click();
    const QString saved = dir.filePath("mysettings.cfg");
    QVERIFY(QFileInfo::exists(saved));
    QVERIFY(!QFileInfo::exists(dir.filePath("mysettings")));
    QVERIFY(w.statusBar()->currentMessage().contains(QDir::toNativeSeparators(saved)));
    // An existing name with its own suffix is kept as typed.
    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return dir.filePath("room.ini"); });
    findButton(&w, "btnSaveSettings")->click();
    QVERIFY(QFileInfo::exists(dir.filePath("room.ini")));
}

void TestEveryday::startFromCommandLine()
{
    const QString demo = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/sim/demo.cfg";
    FakeMaster master;   // echoes every command
    ModalAnswerer boxes;
    MainWin w;
    QCOMPARE(w.applyStartup(demo, master.path(), false, true), QStringList());
    QVERIFY(w.com.isOpen() && w.rangingActive);
    QCOMPARE(master.countLine("$PS,\r\n"), 1);
    QCOMPARE(w.modules.anchors.size(), 4);
    QVERIFY(boxes.seen.isEmpty());   // no reminder, no box

    // What fails is said in a line each; the window stays disconnected.
    MainWin other;
    const QStringList problems = other.applyStartup("/nonexistent/room.cfg", "/nonexistent/tty", true, false);
    QCOMPARE(problems.size(), 2);
    QVERIFY(problems.at(0).contains("/nonexistent/room.cfg") && problems.at(1).contains("/nonexistent/tty"));
    QVERIFY(!other.com.isOpen() && boxes.seen.isEmpty());
}

void TestEveryday::replayFeedback()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("walk.orec");
    RecordingWriter rec;
    QVERIFY(rec.open(path));
    for (int ms = 0; ms <= 61000; ms += 500)   // a minute and a second of recorded time
        rec.append(quint32(ms), "$PX,1A2B,1.0\r\n");
    QVERIFY(rec.close());

    // Connected but idle is fine for a replay; the time line shows where it is.
    FakeMaster master;
    MainWin w;
    w.show();
    QVERIFY(connectWindow(w, master.path()) && w.startReplay(path, 1.0));
    auto* line = w.findChild<ReplayTimeline*>();
    auto* time = line->findChild<QLabel*>("lblTime");
    QVERIFY(line->isVisible() && waitUntil([&] { return time->text().endsWith(" / 1:01"); }, 2000));
    // Paused, the recorded time stands still; sought, it goes on from there.
    findButton(line, "btnPlayPause")->click();
    const QString paused = time->text();
    QTest::qWait(1100);   // the time shows whole seconds
    QCOMPARE(time->text(), paused);
    line->findChild<QSlider*>("sldPosition")->setValue(30000);
    QVERIFY(time->text().startsWith("0:30 / "));
    // Stopped by hand: said, the export named partial, the frame greyed, the time line gone.
    QVERIFY(waitUntil([&] { return w.frame.chartPixmap && !w.frame.chartPixmap->isNull(); }, 2000));
    w.frame.chartPixmap->fill(Qt::red);
    findButton(&w, "btnReplay")->click();
    const QColor c = w.findChild<QLabelEx*>("lblChart")->pixmap(Qt::ReturnByValue).toImage().pixelColor(2, 2);
    QVERIFY2(c.red() == c.green() && c.green() == c.blue(), qPrintable(c.name()));
    const QString partial = dir.filePath("walk.replay-avg10.partial.csv");
    QCOMPARE(w.statusBar()->currentMessage(), "Wiedergabe beendet bei 0:30 von 1:01, unvollständige Positionen in "
                                                  + QDir::toNativeSeparators(partial));
    QVERIFY(QFileInfo::exists(partial) && !QFileInfo::exists(dir.filePath("walk.replay-avg10.csv")) && !line->isVisible());
    // To the end: complete, under one name per recording and filter setting, however often.
    for (int run = 0; run < 2; ++run) {
        QVERIFY(w.startReplay(path, 0));
        QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 5000));
    }
    QCOMPARE(w.statusBar()->currentMessage(), "Wiedergabe beendet (1:01), Positionen in "
                                                  + QDir::toNativeSeparators(dir.filePath("walk.replay-avg10.csv")));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

// A replay one can scrub: a paused seek shows the tag at the new time, a
// click on the track goes there, the end after a seek is said plainly, and
// the greyed last frame stays until the user acts.
void TestEveryday::replayScrub()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("walk.orec");
    const QList<Anchor> room = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "A1", Qt::blue, 1000, 0, 0, false, 0),
                                Anchor("5E6F", "A2", Qt::cyan, 1000, 800, 0, false, 0)};
    RecordingWriter rec;
    QVERIFY(rec.open(path));
    for (int ms = 0; ms <= 20000; ms += 100) {   // 10 cm/s along x, from x = 200
        QList<int> cm;
        for (const Anchor& a : room)
            cm << int(std::hypot(a.x - (200 + ms / 100.0), a.y - 300.0));
        rec.append(quint32(ms), dLine("2B01", cm));
    }
    QVERIFY(rec.close());
    FakeMaster master;
    MainWin w;
    w.modules.anchors = room;
    w.modules.tags = {Tag("2B01", "T", Qt::magenta, false, true, false, false, false, false, false)};
    w.show();
    QVERIFY(connectWindow(w, master.path()) && w.startReplay(path, 1.0));
    auto* line = w.findChild<ReplayTimeline*>();
    auto* slider = line->findChild<QSlider*>("sldPosition");
    findButton(line, "btnPlayPause")->click();
    auto near = [&](double x) {
        for (const TagResult& r : w.lastPositioning().tags)
            if (r.avgValid)
                return qAbs(r.avg.x() - x) < 20;
        return false;
    };
    slider->setValue(10000);
    QVERIFY(waitUntil([&] { return near(300); }, 1000));
    QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() * 3 / 4, slider->height() / 2));
    QVERIFY2(qAbs(slider->value() - 15000) < 1500, qPrintable(QString::number(slider->value())));
    QVERIFY(waitUntil([&] { return near(200 + slider->value() / 100); }, 1000));
    w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
    findButton(line, "btnPlayPause")->click();
    QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 5000));
    QVERIFY2(w.statusBar()->currentMessage().startsWith("Wiedergabe beendet (0:20); nach dem Springen lückenhafte Positionen in "),
             qPrintable(w.statusBar()->currentMessage()));
    // Connected, the live chart runs on behind the greyed frame, which stays until a click.
    auto* chart = w.findChild<QLabelEx*>("lblChart");
    const QImage ended = QtCompat::pixmap(chart).toImage();
    QTest::qWait(1500);
    QVERIFY(QtCompat::pixmap(chart).toImage() == ended);
    QTest::mouseClick(chart, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QVERIFY(waitUntil([&] { return QtCompat::pixmap(chart).toImage() != ended; }, 1000));
}

QTEST_MAIN(TestEveryday)
#include "tst_everyday.moc"
