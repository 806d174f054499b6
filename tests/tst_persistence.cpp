// What the user keeps: a settings file judged afresh on every load, and saves
// and recordings that report a failure instead of claiming success.
#include "mainwin.h"
#include "positionexport.h"
#include "positioningstep.h"
#include "recording.h"
#include "tag.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestPersistence : public QObject
{
    Q_OBJECT
private slots:
    void brokenFileRefusedEveryTime_data();
    void brokenFileRefusedEveryTime();
    void failedWritesAreReported();
};

namespace {
const QByteArray Good = "[General]\nAnchorCount=1\nAnchor0-ID=3C4D\nAnchor0-X=1000\nTagCount=0\nGrid-W=1400\n";
const QByteArray Good2 = "[General]\nAnchorCount=1\nAnchor0-ID=5E6F\nAnchor0-X=700\nTagCount=0\nGrid-W=900\n";
const QByteArray Broken = "[General\nAnchorCount=2\n";
const QString Refused = "Die Einstellungsdatei konnte nicht gelesen werden!";
} // namespace

void TestPersistence::brokenFileRefusedEveryTime_data()
{
    // Loads in order, each "file|expected": the file's bytes, then "ok" or the
    // anchor that must still be there after a refusal. "same" reloads the path
    // unchanged; a fix on disk keeps the path.
    QTest::addColumn<QList<QByteArray>>("loads");
    QTest::addColumn<QStringList>("anchorAfter");   // anchor id after each load
    QTest::newRow("same broken file twice") << QList<QByteArray>{Good, Broken, Broken}
                                             << QStringList{"3C4D", "3C4D", "3C4D"};
    QTest::newRow("broken after good") << QList<QByteArray>{Good, Broken} << QStringList{"3C4D", "3C4D"};
    QTest::newRow("good after broken") << QList<QByteArray>{Broken, Good, Broken, Good}
                                        << QStringList{"", "3C4D", "3C4D", "3C4D"};
    QTest::newRow("fixed on disk between loads") << QList<QByteArray>{Good2, Broken, Good}
                                                  << QStringList{"5E6F", "5E6F", "3C4D"};
}

void TestPersistence::brokenFileRefusedEveryTime()
{
    QFETCH(QList<QByteArray>, loads);
    QFETCH(QStringList, anchorAfter);
    QTemporaryDir dir;
    const QString path = dir.filePath("room.cfg");
    MainWin w;
    w.setFileChoosers([&](const QString&, const QString&) { return path; }, nullptr);
    ModalAnswerer boxes;
    for (int i = 0; i < loads.size(); ++i) {
        // A repeated content is not rewritten: the user's second try on the
        // same, untouched file.
        if (i == 0 || loads.at(i) != loads.at(i - 1))
            QVERIFY(writeFileBytes(path, loads.at(i)));
        const int before = boxes.seen.size();
        const QString gridBefore = w.findChild<QLineEdit*>("edtGridW")->text();
        findButton(&w, "btnLoadSettings")->click();
        const QStringList texts = boxes.texts(before);
        QVERIFY2(!texts.isEmpty(), qPrintable(QString("load %1 showed no box").arg(i)));
        const bool refused = loads.at(i) == Broken;
        QCOMPARE(texts.first().contains(Refused), refused);
        const QString id = w.modules.anchors.isEmpty() ? QString() : w.modules.anchors.first().id;
        QCOMPARE(id, anchorAfter.at(i));
        if (refused)
            QCOMPARE(w.findChild<QLineEdit*>("edtGridW")->text(), gridBefore);
    }
}

void TestPersistence::failedWritesAreReported()
{
    QTemporaryDir dir;
    RecordingWriter recording;
    PositionExport csv;
    const Tag t("2B01", "Läufer", Qt::red, true, true, false, false, false, false, false);
    TagResult row;
    row.rawValid = row.avgValid = true;
    // A disk that fills after the first kilobytes: closing must say so.
    QVERIFY(withFileSizeLimit(4096, [&] {
        QVERIFY(recording.open(dir.filePath("full.orec")));
        recording.append(1, QByteArray(128 * 1024, 'x'));
        QVERIFY(!recording.close());
        QVERIFY(csv.open(dir.filePath("full.csv")));
        for (int i = 0; i < 2000; ++i)
            csv.append(i, i, t, row);
        QVERIFY(!csv.close());
    }));

    // A good recording and its export close as saved, whole.
    QVERIFY(recording.open(dir.filePath("a.orec")));
    recording.append(1, "$PD,2B01,1,2,3\r\n");
    QVERIFY(recording.close());
    QVERIFY(csv.open(dir.filePath("a.csv")));
    csv.append(1, 1, t, row);
    QVERIFY(csv.close());
    QCOMPARE(readFileBytes(dir.filePath("a.csv")).count('\n'), 2);
}

QTEST_MAIN(TestPersistence)
#include "tst_persistence.moc"
