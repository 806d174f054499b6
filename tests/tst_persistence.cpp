// What the user keeps: a settings file judged afresh on every load, and saves
// and recordings that report a failure instead of claiming success.
#include "mainwin.h"
#include "positionexport.h"
#include "positioningstep.h"
#include "recording.h"
#include "settingsfile.h"
#include "tag.h"
#include "testsupport.h"

#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestPersistence : public QObject
{
    Q_OBJECT
private slots:
    void brokenFileRefusedEveryTime_data();
    void brokenFileRefusedEveryTime();
    void everyKeyRoundTrips();
    void failedWritesAreReported();
};

namespace {
const QByteArray Good = "[General]\nAnchorCount=1\nAnchor0-ID=3C4D\nAnchor0-X=1000\nTagCount=0\nGrid-W=1400\n";
const QByteArray Good2 = "[General]\nAnchorCount=1\nAnchor0-ID=5E6F\nAnchor0-X=700\nTagCount=0\nGrid-W=900\n";
const QByteArray Broken = "[General\nAnchorCount=2\n";
const QByteArray Foreign = "[General]\nfoo=1\n";   // parses, but holds none of our keys
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
    QTest::newRow("foreign file after good") << QList<QByteArray>{Good, Foreign, Foreign}
                                              << QStringList{"3C4D", "3C4D", "3C4D"};
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
        const bool refused = loads.at(i) == Broken || loads.at(i) == Foreign;
        QCOMPARE(texts.first().contains(Refused), refused);
        const QString id = w.modules.anchors.isEmpty() ? QString() : w.modules.anchors.first().id;
        QCOMPARE(id, anchorAfter.at(i));
        if (refused)
            QCOMPARE(w.findChild<QLineEdit*>("edtGridW")->text(), gridBefore);
    }
}

// Loaded into a fresh window and saved again, every key comes back with its
// value; each value differs from what the key's absence restores, so a key
// dropped on the way in or out shows.
void TestPersistence::everyKeyRoundTrips()
{
    QTemporaryDir dir;
    const QString plan = dir.filePath("plan.png");
    QVERIFY(QImage(40, 30, QImage::Format_RGB32).save(plan));
    const QList<QPair<QString, QString>> keys = {
        {"AnchorCount", "1"}, {"Anchor0-X", "120"}, {"Anchor0-Y", "-40"}, {"Anchor0-Z", "250"}, {"Anchor0-ID", "1A2B"},
        {"Anchor0-Name", "Nord"}, {"Anchor0-Color", "#ff9922"}, {"Anchor0-Master", "true"}, {"Anchor0-Offset", "7"},
        {"TagCount", "1"}, {"Tag0-Rate", "true"}, {"Tag0-Speed", "true"}, {"Tag0-Coordinates", "true"},
        {"Tag0-PosRaw", "true"}, {"Tag0-PosAvg", "true"}, {"Tag0-DistRaw", "true"}, {"Tag0-DistAvg", "true"},
        {"Tag0-Uncertainty", "true"}, {"Tag0-Trail", "true"},
        {"Tag0-Name", "Gast 2"}, {"Tag0-Color", "#0a141e"}, {"Tag0-ID", "2B01"},
        {"Grid-X", "-100"}, {"Grid-Y", "50"}, {"Grid-W", "900"}, {"Grid-H", "700"},
        {"Grid-Xb", "3"}, {"Grid-Yb", "4"}, {"Grid-Wb", "30"}, {"Grid-Hb", "20"},
        {"Average", "5"}, {"Filter", "kalman"}, {"TagHeight", "120"}, {"TrailSeconds", "25"}, {"BGImage-File", plan}, {"BGImage-Factor", "0.5"},
        {"BGImage-OffsetX", "-30"}, {"BGImage-OffsetY", "40"}, {"DrawGrid", "true"}, {"DrawBGImage", "true"},
        {"ShowCoverage", "true"}, {"RangeLimit", "800"},
        {"MQTT-Enabled", "true"}, {"MQTT-Host", "127.0.0.1"}, {"MQTT-Port", "1"}, {"MQTT-Prefix", "halle"},
        {"MQTT-ClientId", "c1"}, {"MQTT-User", "u"}, {"MQTT-TLS", "true"}, {"MQTT-CAFile", "ca.pem"}, {"KitName", "Halle 2"}};
    QByteArray file = "[General]\n";
    for (const auto& kv : keys)
        file += (kv.first + '=' + kv.second + '\n').toUtf8();
    QString path = dir.filePath("in.cfg");
    QVERIFY(writeFileBytes(path, file));
    MainWin w;
    ModalAnswerer boxes;
    w.setFileChoosers([&](const QString&, const QString&) { return path; },
                      [&](const QString&, const QString&) { return path; });
    findButton(&w, "btnLoadSettings")->click();
    path = dir.filePath("out.cfg");
    findButton(&w, "btnSaveSettings")->click();
    const QSettings out(path, QSettings::IniFormat);
    QStringList names;
    for (const auto& kv : keys) {
        names << kv.first;
        QCOMPARE(kv.first + '=' + out.value(kv.first).toString(), kv.first + '=' + kv.second);
    }
    names.sort();
    QStringList saved = out.allKeys();
    saved.sort();
    QCOMPARE(saved, names);

    // A file from before the uncertainty and the trails: both off, trails of 10 s.
    file.replace("Tag0-Uncertainty=true\n", "").replace("Tag0-Trail=true\n", "").replace("TrailSeconds=25\n", "");
    QVERIFY(writeFileBytes(path, file));
    SettingsData old;
    QVERIFY(readSettingsFile(path, old));
    QCOMPARE(old.tags.size(), 1);
    QVERIFY(!old.tags.at(0).showUncertainty && !old.tags.at(0).showTrail && old.tags.at(0).showRate);
    QCOMPARE(old.trailSeconds, 10);
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
