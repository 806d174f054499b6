// Feedback a user can trust: a silent port, a lost connection, an anchor moved
// by mistake, settings files that keep their suffix.
#include "mainwin.h"
#include "qlabelex.h"
#include "recording.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

class TestEveryday : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void silentMasterAndLostConnection();
    void undoAnchorMove();
    void settingsSuffixAndConfirmation();
    void startFromCommandLine();
    void replayFeedback();
};

void TestEveryday::silentMasterAndLostConnection()
{
    FakeMaster pty;   // a port with nothing that answers on it
    pty.policy = FakeMaster::Silent;
    QVERIFY(!pty.path().isEmpty());
    MainWin w;
    w.show();
    QVERIFY(connectWindow(w, pty.path()));
    // Nothing answers: after 2 s the status bar asks, the labels keep their texts.
    const QString expected = QString("Kein Master an %1? Seit 2 s keine Antwort.").arg(pty.path());
    QVERIFY(waitUntil([&] { return w.statusBar()->currentMessage() == expected; }, 4000));
    QCOMPARE(w.findChild<QLabel*>("lblConnectionState")->text(), QString("verbunden"));
    w.disconnectPort();

    // A master that speaks within the 2 s: no such message.
    w.statusBar()->clearMessage();
    QVERIFY(connectWindow(w, pty.path()));
    QVERIFY(pty.send("$PX,1A2B,1.0\r\n"));
    QTest::qWait(2500);
    QVERIFY(w.statusBar()->currentMessage().isEmpty());

    // The last frame stays, greyed out; the master distance goes.
    w.findChild<QLabel*>("labAbstandMaster")->setText("Abstand Tag \"x\" -> Master: 582 cm");
    QVERIFY(waitUntil([&] { return w.frame.chartPixmap && !w.frame.chartPixmap->isNull(); }, 2000));
    w.frame.chartPixmap->fill(Qt::red);
    ModalAnswerer boxes;
    pty.close();
    // The link closes the port at once and reports the loss a moment later.
    QVERIFY(waitUntil([&] { return !w.com.isOpen() && w.findChild<QLabel*>("lblConnectionState")->text() == "nicht verbunden"; }, 3000));
    const QImage shown = w.findChild<QLabelEx*>("lblChart")->pixmap(Qt::ReturnByValue).toImage();
    const QColor c = shown.pixelColor(2, 2);
    QVERIFY2(c.red() == c.green() && c.green() == c.blue(), qPrintable(c.name()));   // grey, not red
    QVERIFY(w.findChild<QLabel*>("labAbstandMaster")->text().isEmpty());
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
        QMouseEvent drag(QEvent::MouseMove, pixel(to.x(), to.y()), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
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
    QVERIFY(writeFileBytes(dir.filePath("walk.replay.csv"), "an earlier replay\n"));

    MainWin w;
    QVERIFY(w.startReplay(path, 1.0));
    QVERIFY(waitUntil([&] { return w.statusBar()->currentMessage().endsWith(" von 1:01"); }, 2000));
    // Faster while it runs, to the end; the earlier export is kept.
    w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
    QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 5000));
    QVERIFY(w.statusBar()->currentMessage().startsWith("Wiedergabe beendet (1:01), Positionen in "));
    QVERIFY(w.statusBar()->currentMessage().endsWith("walk.replay-2.csv"));
    QCOMPARE(readFileBytes(dir.filePath("walk.replay.csv")), QByteArray("an earlier replay\n"));
}

QTEST_MAIN(TestEveryday)
#include "tst_everyday.moc"
