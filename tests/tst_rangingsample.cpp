#include "rangingsample.h"

#include <QRandomGenerator>
#include <QtTest>

// The 'D' line parser: what becomes a distance and what becomes 0.
class TestRangingSample : public QObject
{
    Q_OBJECT
private slots:
    void fields();
    void agreesWithQtConversion();
};

void TestRangingSample::fields()
{
    RangingSample a("$PD,1A2B,1F4,0,3E8\r\n");
    QVERIFY(a.parse());
    QCOMPARE(a.tagId, QString("1A2B"));
    QCOMPARE(a.distances, (QList<int>{500, 0, 1000}));

    RangingSample b("$PD,1A2B,1F4,zz,\r\n");
    QVERIFY(!b.parse());
    QCOMPARE(b.distances, (QList<int>{500, 0, 0}));

    RangingSample c("$PD,1A2B,186A0,186A1,-1F4, 1f4 ,+1F4,0x1F4\r\n");
    QVERIFY(c.parse());                            // all convert; out-of-range values become 0
    QCOMPARE(c.distances, (QList<int>{100000, 0, 0, 500, 500, 500}));

    RangingSample d("$PD,1A2B\r\n");
    QVERIFY(!d.parse());
    QVERIFY(d.tagId.isNull());
    QVERIFY(d.distances.isEmpty());
    QCOMPARE(d.distanceAt(0), 0);

    RangingSample e("$PD,1A2B,1,2,3\r\n");
    e.parse();
    QCOMPARE(e.distanceAt(5), 0);
    QCOMPARE(e.distanceAt(-1), 0);
    QCOMPARE(e.distanceAt(2), 3);

    // Identifier: Latin-1 up to a NUL byte, not trimmed; huge and odd fields do not break it.
    RangingSample f(QByteArray("$PD, 1a\0zz,FFFFFFFFFF,-0,,7FFFFFFF\r\n", 37));
    QVERIFY(!f.parse());
    QCOMPARE(f.tagId, QString(" 1a"));
    QCOMPARE(f.distances, (QList<int>{0, 0, 0, 0}));
    RangingSample g("$PD,\xe4\xf6,1\n");
    QVERIFY(g.parse());
    QCOMPARE(g.tagId, QString::fromLatin1("\xe4\xf6"));

    // A line of many fields keeps one distance per field.
    QByteArray many = "$PD,1";
    for (int i = 0; i < 100000; ++i)
        many += ",1";
    RangingSample h(many + "\n");
    QVERIFY(h.parse());
    QCOMPARE(h.distances.size(), 100000);
}

void TestRangingSample::agreesWithQtConversion()
{
    // The field parser is hand-written for speed; it must agree with Qt's base-16 conversion.
    QRandomGenerator rng(42);
    const char alphabet[] = "0123456789abcdefABCDEFxX+- \t\rzg";
    for (int n = 0; n < 20000; ++n) {
        QByteArray field;
        const int len = int(rng.bounded(12));
        for (int i = 0; i < len; ++i)
            field += alphabet[rng.bounded(int(sizeof alphabet - 1))];
        RangingSample s("$PD,1," + field + "\n");
        const bool ok = s.parse();
        bool qtOk = false;
        const QByteArray trimmed = field.trimmed();
        const int qtValue = trimmed.isEmpty() ? 0 : trimmed.toInt(&qtOk, 16);
        const int expected = (qtOk && qtValue >= 1 && qtValue <= RangingSample::MaxDistance) ? qtValue : 0;
        QVERIFY2(ok == (qtOk && !trimmed.isEmpty()) && s.distances.value(0) == expected, field.constData());
    }
}

QTEST_APPLESS_MAIN(TestRangingSample)
#include "tst_rangingsample.moc"
