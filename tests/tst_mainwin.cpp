#include "mainwin.h"
#include "testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

// The main window's connection and ranging controls and its command exchange,
// against a pseudo-terminal playing the master module.
class TestMainWin : public QObject
{
    Q_OBJECT
private slots:
    void startState();
    void connectFailures();
    void connectDisconnect();
    void exchange();
    void ranging();
    void portPulled();

private:
    static QPushButton* button(MainWin& w, const char* name) { return w.findChild<QPushButton*>(name); }
    static bool connectTo(MainWin& w, const QString& path)
    {
        w.findChild<QComboBox*>("cmbComPort")->setEditText(path);
        w.connectPort();
        return w.com.isOpen();
    }
};

void TestMainWin::startState()
{
    MainWin w;
    for (const char* name : {"btnDisconnect", "btnStartRanging", "btnDiscovery", "btnSendCommand"})
        QVERIFY2(!button(w, name)->isEnabled(), name);

    // Averaging depth follows the combo box.
    w.findChild<QComboBox*>("cmbLastMeasures")->setCurrentText("1");
    QCOMPARE(w.averageCount, 1);

    // Ports named by the environment are offered when they exist.
    PtyPair pty;
    qputenv("ORVANE_PORTS", (pty.slavePath() + ":/dev/does-not-exist-orvane").toLocal8Bit());
    w.refreshComPorts();
    auto* ports = w.findChild<QComboBox*>("cmbComPort");
    QVERIFY(ports->findText(pty.slavePath()) >= 0);
    QCOMPARE(ports->findText("/dev/does-not-exist-orvane"), -1);
    qunsetenv("ORVANE_PORTS");
}

void TestMainWin::connectFailures()
{
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(!connectTo(w, QString()));
    QVERIFY(!connectTo(w, "/dev/does-not-exist-orvane"));
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxOf(boxes.seen.at(1)),
             QStringList({"Verbindung herstellen", "Die Verbindung konnte nicht hergestellt werden!", "Warning"}));
    // The operating system's reason comes along as the informative text.
    QVERIFY(!boxes.seen.at(1).informativeText.isEmpty());
    QVERIFY(button(w, "btnConnect")->isEnabled());
    QVERIFY(!w.redrawTimer->isActive());

    w.findChild<QLineEdit*>("edtBaud")->setText("abc");
    PtyPair pty;
    QVERIFY(!connectTo(w, pty.slavePath()));
    QCOMPARE(boxes.seen.last().text, QString("Ungültige Baud-Rate!"));
}

void TestMainWin::connectDisconnect()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    QVERIFY(connectTo(w, pty.slavePath()));
    QVERIFY(!button(w, "btnConnect")->isEnabled() && button(w, "btnStartRanging")->isEnabled());
    QVERIFY(w.redrawTimer->isActive());

    // Bytes from the master reach the dispatcher while connected.
    pty.send("$PD,1A2B,1F4,0,3E8\r\n");
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("1A2B").size() == 1; }, 2000));

    w.disconnectPort();
    QVERIFY(button(w, "btnConnect")->isEnabled() && !button(w, "btnStartRanging")->isEnabled());
    QVERIFY(!w.redrawTimer->isActive());
    QVERIFY(master.lines.isEmpty());     // not ranging: nothing sent on disconnect
    // Data after disconnecting is not dispatched.
    pty.send("$PD,1A2B,1F4,0,3E8\r\n");
    QTest::qWait(100);
    QCOMPARE(w.rangingHistory.value("1A2B").size(), 1);
}

void TestMainWin::exchange()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    QVERIFY(!w.sendCommand("$PW,1,\r\n", false));     // port not open: false at once
    QVERIFY(connectTo(w, pty.slavePath()));

    // An exact echo arriving with other lines in the same batch is recognised,
    // and the other lines are still dispatched.
    master.responder = [&](const QByteArray& line) { return "$PD,77,1F4\r\n" + line + "$PX,1A2B,2.1\r\n"; };
    QVERIFY(w.sendCommand("$PW,1,\r\n", false));
    QCOMPARE(master.countLine("$PW,1,\r\n"), 1);
    QCOMPARE(w.rangingHistory.value("77").size(), 1);

    // An echo without the carriage return is no reply: six transmissions, then false.
    master.clear();
    master.responder = [](const QByteArray& line) { QByteArray l = line; l.replace("\r\n", "\n"); return l; };
    QElapsedTimer t;
    t.start();
    QVERIFY(!w.sendCommand("$PW,0,\r\n", false));
    QCOMPARE(master.countLine("$PW,0,\r\n"), 6);
    QVERIFY(t.elapsed() >= 6 * 100);
    QVERIFY(w.isEnabled());

    // A loose command is answered by the first ranging line, without any echo.
    master.clear();
    master.responder = [](const QByteArray&) { return QByteArray("$PD,1A2B,1F4\r\n"); };
    QVERIFY(w.sendCommand("$PS,\r\n", true));
    QCOMPARE(master.countLine("$PS,\r\n"), 1);

    // While a command waits, non-matching lines leave it waiting.
    master.clear();
    master.responder = [](const QByteArray&) { return QByteArray("$PDX,1\r\n$PK\r\n"); };
    QVERIFY(!w.sendCommand("$PW,1,\r\n", false));

    // A second exchange reached from the event loop the first one spins is
    // refused instead of deadlocking the window.
    master.clear();
    bool nested = true;
    master.responder = [&](const QByteArray& line) {
        if (line == "$PW,1,\r\n")
            nested = w.sendCommand("$PW,0,\r\n", false);
        return line;
    };
    QVERIFY(w.sendCommand("$PW,1,\r\n", false));
    QVERIFY(!nested);

    // The dialogs' entry point: empty commands fail without an exchange.
    QList<bool> results;
    connect(&w, &MainWin::commandResult, [&](bool ok) { results << ok; });
    master.clear();
    master.policy = FakeMaster::Echo;
    master.responder = nullptr;
    w.executeCommand(QByteArray(), false);
    w.executeCommand("$PH,FFFF,1,1,\r\n", false);
    QCOMPARE(results, (QList<bool>{false, true}));
    QCOMPARE(master.lines, QList<QByteArray>{"$PH,FFFF,1,1,\r\n"});
}

void TestMainWin::ranging()
{
    PtyPair pty;
    FakeMaster master(&pty);
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(connectTo(w, pty.slavePath()));

    // Fewer than three anchor rows: a hint and nothing sent.
    button(w, "btnStartRanging")->click();
    QCOMPARE(boxTexts(boxes), QStringList({"Das Ranging ist erst ab 3 Ankern möglich!"}));
    QCOMPARE(boxes.seen.at(0).icon, QMessageBox::Information);
    QVERIFY(master.lines.isEmpty());

    w.dataReceived("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n");
    QCOMPARE(w.findChild<QTableWidget*>("tblAnker")->rowCount(), 3);

    button(w, "btnStartRanging")->click();
    QCOMPARE(master.lines, QList<QByteArray>{"$PS,\r\n"});
    QVERIFY(w.rangingActive);

    // A stop the master does not answer: a warning, still ranging.
    master.policy = FakeMaster::Silent;
    button(w, "btnStartRanging")->click();
    QCOMPARE(boxes.seen.last().text, QString("Das Ranging konnte nicht gestoppt werden!"));
    QVERIFY(w.rangingActive);

    // Disconnecting while ranging sends the stop first, even unanswered.
    master.clear();
    w.disconnectPort();
    QCOMPARE(master.lines.value(0), QByteArray("$PG,\r\n"));
    QVERIFY(!w.com.isOpen());
    QVERIFY(!w.rangingActive);

    // Start not answered: a warning, not ranging.
    QVERIFY(connectTo(w, pty.slavePath()));
    button(w, "btnStartRanging")->click();
    QCOMPARE(boxes.seen.last().text, QString("Das Ranging konnte nicht gestartet werden!"));
    QVERIFY(!w.rangingActive);
}

void TestMainWin::portPulled()
{
    auto* pty = new PtyPair;
    MainWin w;
    ModalAnswerer boxes;
    w.dataReceived("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n");
    w.modules.anchors[1].x = 250;
    QVERIFY(connectTo(w, pty->slavePath()));
    delete pty;   // the far end goes away
    QVERIFY(waitUntil([&] { return !boxes.seen.isEmpty(); }, 3000));
    QCOMPARE(boxOf(boxes.seen.at(0)), QStringList({"Verbindung", "Die Verbindung zum Master wurde unterbrochen!", "Warning"}));
    QVERIFY(!w.com.isOpen());
    QVERIFY(button(w, "btnConnect")->isEnabled());
    QVERIFY(!w.redrawTimer->isActive());
    // Nothing the user set up is lost.
    QCOMPARE(w.modules.anchors.size(), 3);
    QCOMPARE(w.modules.anchors.at(1).x, 250);
    // And the program does not spin on the dead port afterwards.
    QTest::qWait(200);
    QCOMPARE(boxes.seen.size(), 1);
}

QTEST_MAIN(TestMainWin)
#include "tst_mainwin.moc"
