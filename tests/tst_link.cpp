#include "cominterface.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

// The serial link over a real pseudo-terminal: pacing, time-outs,
// retransmissions, reply matching and forwarding as the kernel delivers them.
class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void openAndReopen();
    void pacedTransmissionAndRetries();
    void replyMatching();
    void forwarding();
    void failedTransmissionEndsPending();
};

void TestLink::openAndReopen()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    ComInterface com;
    QVERIFY(!com.open(QString(), 512000));
    QVERIFY(!com.isOpen());
    QVERIFY(com.open(pty.slavePath(), 512000));
    QVERIFY(com.isOpen());
    QSerialPort* first = com.findChild<QSerialPort*>();
    QVERIFY(first);
    QCOMPARE(first->baudRate(), 512000);

    // An empty name closes the open port and fails, keeping the object.
    QVERIFY(!com.open(QString(), 512000));
    QVERIFY(!com.isOpen());
    QCOMPARE(com.findChild<QSerialPort*>(), first);

    // Reopening reuses the same port object with the new rate.
    QVERIFY(com.open(pty.slavePath(), 115200));
    QCOMPARE(com.findChild<QSerialPort*>(), first);
    QCOMPARE(first->baudRate(), 115200);
    com.close();
    QVERIFY(!com.isOpen());

    // A device that does not exist fails, drops the port object and says why.
    QVERIFY(!com.open(QStringLiteral("/dev/does-not-exist-orvane"), 512000));
    QVERIFY(com.findChild<QSerialPort*>() == nullptr);
    QVERIFY(!com.lastError().isEmpty());
}

void TestLink::pacedTransmissionAndRetries()
{
    PtyPair pty;
    PtyRecorder master(pty.master());
    ComInterface com;
    QVERIFY(com.open(pty.slavePath(), 512000));

    const QByteArray cmd("$PW,1,\r\n");
    QElapsedTimer t;
    t.start();
    QVERIFY(com.write(cmd));
    QVERIFY(com.commandPending);
    // Without a reply the command goes out six times, then is dropped.
    QVERIFY(waitUntil([&] { return !com.commandPending; }, 5000));
    const qint64 total = t.elapsed();
    QVERIFY(waitUntil([&] { return master.bytes().size() >= 6 * cmd.size(); }, 1000));
    QCOMPARE(master.bytes(), cmd.repeated(6));
    const QList<qint64> times = master.timesMs();
    // Six transmissions of 8 bytes at >= 5 ms per byte, each followed by 100 ms.
    QVERIFY2(total >= 6 * (8 * 5 + 100) - 20, qPrintable(QString::number(total)));

    // No faster than 5 ms per byte: the sender takes at least 5 ms a byte, and the
    // bytes reach the far end spread out, not in one burst (the reader may be
    // late under load, so the widest of the six transmissions is judged).
    qint64 widest = 0;
    for (int k = 0; k < 6; ++k)
        widest = qMax(widest, times.at(k * cmd.size() + cmd.size() - 1) - times.at(k * cmd.size()));
    QVERIFY2(widest >= 25, qPrintable(QString::number(widest)));
    // Retransmissions about 100 ms apart (end of one to start of the next);
    // the median, since a reader late for one byte shortens one gap.
    QList<qint64> gaps;
    for (int k = 1; k < 6; ++k)
        gaps << times.at(k * cmd.size()) - times.at(k * cmd.size() - 1);
    std::sort(gaps.begin(), gaps.end());
    QVERIFY2(gaps.at(2) >= 80, qPrintable(QString::number(gaps.at(2))));

    QElapsedTimer one;
    one.start();
    QVERIFY(com.write("$PG,\r\n"));
    QVERIFY(one.elapsed() >= 6 * 5);
}

void TestLink::replyMatching()
{
    // Exact: the echo of the identical line, field by field.
    QVERIFY(replyMatches("$PW,1,\r\n", "$PW,1,\r\n", false));
    QVERIFY(!replyMatches("$PW,1,\r\n", "$PW,1,\n", false));       // no CR: last field differs
    QVERIFY(!replyMatches("$PW,1,\r\n", "$PW,0,\r\n", false));
    QVERIFY(!replyMatches("$PW,1,\r\n", "$PW,1,,\r\n", false));
    QVERIFY(!replyMatches("$PK,1A2B,0,0,\r\n", "$PK,1a2b,0,0,\r\n", false));
    // Loose: any packet line whose first field has three bytes.
    QVERIFY(replyMatches("$PS,\r\n", "$PD,1A2B,1F4,0,3E8\r\n", true));
    QVERIFY(replyMatches("$PS,\r\n", "$PX,1A2B,1.0\r\n", true));
    QVERIFY(!replyMatches("$PS,\r\n", "$PDX,1\r\n", true));
    QVERIFY(!replyMatches("$PS,\r\n", "$P\r\n", true));
    QVERIFY(!replyMatches("$PS,\r\n", "", true));

    // Through the link: a match ends the pending command and empties it.
    PtyPair pty;
    ComInterface com;
    QVERIFY(com.open(pty.slavePath(), 512000));
    QVERIFY(com.write("$PS,\r\n"));
    QVERIFY(!com.checkReply("$PDX,1\r\n", true));
    QVERIFY(com.commandPending);
    QVERIFY(com.checkReply("$PD,1,2\r\n", true));
    QVERIFY(!com.commandPending);
    QVERIFY(com.pendingCommand.isEmpty());
    // A timer firing after the match changes nothing.
    QTest::qWait(150);
    QVERIFY(!com.commandPending);
}

void TestLink::forwarding()
{
    PtyPair pty;
    ComInterface com;
    QSignalSpy spy(&com, &ComInterface::dataReceived);
    QVERIFY(com.open(pty.slavePath(), 512000));
    pty.send("$PX,1,2\r\n");
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);            // forwarding off: read and dropped
    com.setForwarding(true);
    pty.send("$PX,3,4\r\n");
    QVERIFY(waitUntil([&] { return spy.count() > 0; }, 1000));
    QByteArray all;
    for (const auto& args : spy)
        all += args.at(0).toByteArray();
    QCOMPARE(all, QByteArray("$PX,3,4\r\n"));
}

void TestLink::failedTransmissionEndsPending()
{
    ComInterface com;
    // No port: the write fails and nothing stays pending.
    QVERIFY(!com.write("$PS,\r\n"));
    QVERIFY(!com.commandPending);
    QVERIFY(com.pendingCommand.isEmpty());

    // The next command starts afresh and is matched against itself only.
    PtyPair pty;
    FakeMaster master(&pty);
    master.policy = FakeMaster::Silent;
    QVERIFY(com.open(pty.slavePath(), 512000));
    QVERIFY(com.write("$PW,1,\r\n"));
    QCOMPARE(com.pendingCommand, QByteArray("$PW,1,\r\n"));
    QVERIFY(!com.checkReply("$PS,\r\n", false));
    QVERIFY(com.checkReply("$PW,1,\r\n", false));

    // A vanished far end mid-command: the link reports the loss and nothing stays pending.
    QSignalSpy lost(&com, &ComInterface::portLost);
    QVERIFY(com.write("$PW,0,\r\n"));
    pty.closeMaster();
    pty.closeSlave();
    QVERIFY(waitUntil([&] { return lost.count() > 0; }, 3000));
    QVERIFY(!com.isOpen());
    QVERIFY(waitUntil([&] { return !com.commandPending; }, 2000));
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
