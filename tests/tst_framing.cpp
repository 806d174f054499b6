#include "framing.h"
#include "mainwin.h"
#include "rangingsample.h"
#include "testsupport.h"

#include <QTableWidget>
#include <QtTest>

// Line framing and dispatch: how received byte batches become packet lines.
class TestFraming : public QObject
{
    Q_OBJECT
private slots:
    void cutting();
    void dispatch();
};

namespace {
QList<QByteArray> feed(QByteArray& buffer, const QList<QByteArray>& batches)
{
    QList<QByteArray> lines;
    for (const QByteArray& b : batches)
        Framing::forEachLine(Framing::takeCompleteLines(buffer, b), [&](const QByteArray& l) { lines << l; });
    return lines;
}
} // namespace

void TestFraming::cutting()
{
    QByteArray buffer;
    // A line split over two batches comes out once, when its line feed arrives.
    QCOMPARE(feed(buffer, {"$PX,1A", "2B,1.0\r\n"}), QList<QByteArray>{"$PX,1A2B,1.0\r\n"});
    QVERIFY(buffer.isEmpty());

    // Stray bytes, a complete line and the start of another.
    QCOMPARE(feed(buffer, {"abc$PX,1,2\r\n$PD,1A"}), QList<QByteArray>{"$PX,1,2\r\n"});
    QCOMPARE(buffer, QByteArray("$PD,1A"));
    buffer.clear();

    // Two lines in one batch, in order; junk between them skipped; a "$" inside a line starts nothing.
    QCOMPARE(feed(buffer, {"$PD,1,2\r\nxx$PK,1$2,0,0\r\n"}),
             (QList<QByteArray>{"$PD,1,2\r\n", "$PK,1$2,0,0\r\n"}));
    // A line feed with no "$" before it: kept until a line completes after a "$".
    QCOMPARE(feed(buffer, {"zz\n", "$PR,5\r\n"}), QList<QByteArray>{"$PR,5\r\n"});
    QVERIFY(Framing::isPacketLine("$PD\n"));
    QVERIFY(!Framing::isPacketLine("$\n"));
    QVERIFY(!Framing::isPacketLine("$QD,1\n"));
}

void TestFraming::dispatch()
{
    MainWin w;
    // 'D' lines are stored per tag, at most 200, oldest evicted first.
    QByteArray batch;
    for (int i = 0; i < 201; ++i)
        batch += "$PD,1A2B," + QByteArray::number(i + 1, 16) + ",0,3E8\r\n";
    w.dataReceived(batch.left(1000));
    w.dataReceived(batch.mid(1000));
    QCOMPARE(w.rangingHistory.value("1A2B").size(), 200);
    QCOMPARE(w.rangingHistory.value("1A2B").first()->distances.first(), 2);
    QCOMPARE(w.rangingHistory.value("1A2B").last()->distances.first(), 201);

    // Short lines are stored under the empty key; other case is another key.
    w.dataReceived("$PD,1a2b\r\n$PD,1a2b,1F4\r\n");
    QCOMPARE(w.rangingHistory.value(QString()).size(), 1);
    QCOMPARE(w.rangingHistory.value("1a2b").size(), 1);

    // A 'K' line creates records and rebuilds both tables.
    w.dataReceived("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n");
    QCOMPARE(w.modules.anchors.size(), 3);
    QCOMPARE(w.findChild<QTableWidget*>("tblAnker")->rowCount(), 3);
    QCOMPARE(w.findChild<QTableWidget*>("tblTags")->rowCount(), 1);
}

QTEST_MAIN(TestFraming)
#include "tst_framing.moc"
