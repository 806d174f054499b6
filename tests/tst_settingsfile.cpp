#include "settingsfile.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

SettingsData sampleData()
{
    SettingsData d;
    d.anchors.append(Anchor("1A2B", "Master", QColor(255, 153, 34), 120, -40, 250, true, 7));
    d.anchors.append(Anchor("00c3", "Küche, Nord", QColor(0, 0, 255), 0, 900, 0, false, -12));
    d.anchors.append(Anchor("7", "@Invalid()", QColor(0, 128, 0), -2147483647 - 1, 2147483647, 1, false, 0));
    Tag t1("BEEF", "Tag 1", QColor(255, 0, 0), true, false, true, false, true, false, true);
    Tag t2(" ab ", "  spaced  ", QColor(10, 20, 30), false, true, false, true, false, true, false);
    // Measurement state that must not survive a save and load.
    t1.rawX = t1.avgY = t1.prevAvgX = 5;
    t1.lastUpdateMs = 123456;
    t1.lastStep = 3.5;
    d.tags << t1 << t2;
    d.gridX = "-100";
    d.gridY = " 50";
    d.gridW = "abc";
    d.imageGridX = -20;
    d.imageGridY = 30;
    d.imageGridW = 640;
    d.imageGridH = 480;
    d.average = "10";
    d.bgImageFile = "/home/user/Plan 100%1 ä.png";
    d.bgImageFactor = 0.5;
    d.bgImageOffsetX = -300;
    d.bgImageOffsetY = 150;
    d.drawGrid = true;
    return d;
}

// Something to prove that a failed read leaves the caller's data alone.
SettingsData sentinelData()
{
    SettingsData d;
    d.anchors.append(Anchor("SENT", "inel", QColor(1, 2, 3), 1, 2, 3, true, 4));
    d.tags.append(Tag("T", "t", QColor(4, 5, 6), true, true, true, true, true, true, true));
    d.gridX = "sentinel";
    d.average = "42";
    d.bgImageFactor = 9.25;
    d.drawGrid = true;
    return d;
}

// Everything a settings file holds, as text, for comparing in one go.
QStringList describe(const SettingsData& d)
{
    return recordsOf(d.anchors) + recordsOf(d.tags)
        + QStringList({d.gridX, d.gridY, d.gridW, d.gridH, d.average, d.bgImageFile})
        + QStringList({QString::number(d.imageGridX), QString::number(d.imageGridY), QString::number(d.imageGridW),
                       QString::number(d.imageGridH), QString::number(d.bgImageFactor, 'g', 17),
                       QString::number(d.bgImageOffsetX), QString::number(d.bgImageOffsetY),
                       QString::number(d.drawGrid), QString::number(d.drawBGImage)});
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Reads a file written from bytes; the data starts as the sentinel.
bool readBytes(const QString& path, const QByteArray& bytes, SettingsData& d)
{
    d = sentinelData();
    return writeFileBytes(path, bytes) && readSettingsFile(path, d);
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void keysAndFormat();
    void recordCountsAndNumbers();
    void failedWrite();
    void unreadableOrInvalid();
    void truncatedFiles();
};

void TestSettingsFile::roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("setup.cfg");
    const SettingsData saved = sampleData();
    QVERIFY(writeSettingsFile(path, saved));
    QCOMPARE(filesIn(dir.path()), QStringList{"setup.cfg"});   // no temp or lock file left

    SettingsData loaded = sentinelData();
    QVERIFY(readSettingsFile(path, loaded));
    QCOMPARE(describe(loaded), describe(saved));
    for (const Tag& t : loaded.tags)
        QVERIFY(hasNoMeasurement(t));

    // Overwriting keeps no key of the older, larger setup and keeps the file's permissions.
    const QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(path, perms));
    SettingsData smaller;
    smaller.anchors.append(Anchor("99", "only", QColor(1, 1, 1), 1, 2, 3, false, 0));
    QVERIFY(writeSettingsFile(path, smaller));
    QCOMPARE(QFileInfo(path).permissions() & 0x7077, perms);   // owner, group, other
    QVERIFY(!QSettings(path, QSettings::IniFormat).contains("Anchor1-X"));
    QVERIFY(readSettingsFile(path, loaded));
    QCOMPARE(describe(loaded), describe(smaller));
    QCOMPARE(filesIn(dir.path()), QStringList{"setup.cfg"});

    // A link is written through, not replaced by a file.
    const QString link = dir.filePath("link.cfg");
    QVERIFY(QFile::link(path, link));
    QVERIFY(writeSettingsFile(link, saved));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(readSettingsFile(path, loaded));
    QCOMPARE(describe(loaded), describe(saved));
}

void TestSettingsFile::keysAndFormat()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("keys.cfg");
    SettingsData d = sampleData();
    d.anchors.removeLast();
    d.tags.removeLast();
    QVERIFY(writeSettingsFile(path, d));

    QCOMPARE(QSettings(path, QSettings::IniFormat).value("Anchor1-Name").toString(), QString("Küche, Nord"));
    // Numbers as decimal text, booleans as true/false, colours as #rrggbb.
    const QByteArray text = readFileBytes(path);
    QVERIFY(text.startsWith("[General]\n"));
    for (const char* line : {"Anchor0-Color=#ff9922", "DrawBGImage=false", "Anchor0-Y=-40", "Anchor0-Master=true",
                             "Tag0-PosRaw=true", "Grid-W=abc", "Grid-Xb=-20", "BGImage-Factor=0.5", "AnchorCount=2"})
        QVERIFY2(text.contains(QByteArray(line) + '\n'), line);

}

void TestSettingsFile::recordCountsAndNumbers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("counts.cfg");
    SettingsData d;
    const QString empty = "||invalid|0,0,0|-|0";

    // More records announced than stored: the extra ones are empty. Colours in
    // any letter case; what is no colour (or missing) is invalid.
    QVERIFY(readBytes(path, "[General]\nAnchorCount=5\nAnchor0-ID=A0\nAnchor0-Color=#FF9922\nAnchor0-Master=true\n"
                            "Anchor1-Color=#zzzzzz\nAnchor2-Color=nocolour\nAnchor3-Color=\n"
                            "TagCount=2\nTag0-ID=T0\nTag0-Rate=true\nTag0-Color=#ff992\n", d));
    QCOMPARE(recordsOf(d.anchors), QStringList({"A0||#ffff9922|0,0,0|M|0", empty, empty, empty, empty}));
    QCOMPARE(recordsOf(d.tags), QStringList({"T0||invalid|0000001", "||invalid|0000000"}));
    QVERIFY(hasNoMeasurement(d.tags.at(1)));

    // Negative and unreadable counts give no records.
    for (const QByteArray& counts : {QByteArray("AnchorCount=-1\nTagCount=-2147483648\n"),
                                     QByteArray("AnchorCount=two\nTagCount=1.5\n")}) {
        QVERIFY(readBytes(path, "[General]\n" + counts + "Anchor0-ID=A0\nTag0-ID=T0\n", d));
        QVERIFY(d.anchors.isEmpty() && d.tags.isEmpty());
    }

    // Numbers beyond the int range do not wrap around: a count is cut to the bound,
    // any other integer reads as 0; a factor that is no finite number reads as 0 too.
    QVERIFY(readBytes(path, "[General]\nAnchorCount=4294967297\nAnchor0-X=4294967396\nAnchor0-Y=-2147483649\n"
                            "Anchor0-Z=2147483647\nTagCount=99999999999\nGrid-Xb=4294967396\n"
                            "BGImage-OffsetX=-4294967196\nBGImage-Factor=nan\n", d));
    QCOMPARE(d.anchors.size() + d.tags.size(), 2 * MaxSettingsRecords);
    QCOMPARE(recordsOf(d.anchors).first(), QString("||invalid|0,0,2147483647|-|0"));
    QCOMPARE(QList<int>({d.imageGridX, d.bgImageOffsetX}), QList<int>({0, 0}));
    QCOMPARE(d.bgImageFactor, 0.0);

    // Hostile counts are cut to the bound, quickly.
    for (const char* count : {"2000000000", "2147483647"}) {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(readBytes(path, QByteArray("[General]\nAnchorCount=") + count + "\nAnchor0-ID=A0\nTagCount=" + count
                                    + "\nTag1-ID=T1\n", d));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(d.anchors.size() + d.tags.size(), 2 * MaxSettingsRecords);
        QCOMPARE(d.anchors[0].id + d.tags[1].id, QString("A0T1"));
        QCOMPARE(recordsOf(d.anchors).last(), empty);
    }

    // Exactly the bound is read whole; records beyond it are not.
    SettingsData big;
    for (int i = 0; i <= MaxSettingsRecords; ++i)
        big.anchors.append(Anchor(QString::number(i), "n", QColor(1, 2, 3), i, 0, 0, false, 0));
    QVERIFY(writeSettingsFile(path, big));
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.anchors.size(), MaxSettingsRecords);
    QCOMPARE(d.anchors.last().x, MaxSettingsRecords - 1);
}

void TestSettingsFile::failedWrite()
{
    QTemporaryDir dir;
    const SettingsData d = sampleData();

    // Folder missing, folder is a file, target is a folder, no name: nothing is created.
    QVERIFY(writeFileBytes(dir.filePath("plain"), "keep"));
    QVERIFY(QDir().mkdir(dir.filePath("folder.cfg")));
    for (const QString& target : {dir.filePath("nofolder/x.cfg"), dir.filePath("plain/x.cfg"),
                                  dir.filePath("folder.cfg"), QString()})
        QVERIFY2(!writeSettingsFile(target, d), qPrintable(target));
    QCOMPARE(filesIn(dir.path()), (QStringList{"folder.cfg", "plain"}));
    QVERIFY(filesIn(dir.filePath("folder.cfg")).isEmpty());
    QCOMPARE(readFileBytes(dir.filePath("plain")), QByteArray("keep"));

    // The write itself fails (a full disk) over an existing file: the old file
    // stays byte for byte and no temporary file is left.
    const QString target = dir.filePath("existing.cfg");
    QVERIFY(writeSettingsFile(target, SettingsData()));
    const QByteArray before = readFileBytes(target);
    SettingsData large = d;
    for (int i = 0; i < 200; ++i)
        large.anchors.append(Anchor(QString::number(i), "some name", QColor(1, 2, 3), i, i, i, false, i));
    bool written = true;
    QVERIFY(withFileSizeLimit(512, [&] { written = writeSettingsFile(target, large); }));
    QVERIFY(!written);
    QCOMPARE(readFileBytes(target), before);
    QCOMPARE(filesIn(dir.path()), (QStringList{"existing.cfg", "folder.cfg", "plain"}));
    // With the limit lifted the same save succeeds.
    QVERIFY(writeSettingsFile(target, large));
    SettingsData back;
    QVERIFY(readSettingsFile(target, back));
    QCOMPARE(describe(back), describe(large));

}

void TestSettingsFile::unreadableOrInvalid()
{
    QTemporaryDir dir;
    const QStringList sentinel = describe(sentinelData());
    SettingsData d = sentinelData();
    for (const QString& path : {dir.filePath("missing.cfg"), dir.path(), QString()}) {
        QVERIFY(!readSettingsFile(path, d));
        QCOMPARE(describe(d), sentinel);
    }
    // Garbage that the INI reader rejects changes nothing.
    const QString garbage = dir.filePath("garbage.cfg");
    const QList<QByteArray> rejected = {
        QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20),
        "[General\nAnchorCount=2\n",
        "[General]\nAnchorCount=1\n[Other]\nbroken line\n",   // an error in any section counts
    };
    for (const QByteArray& bytes : rejected) {
        QVERIFY2(!readBytes(garbage, bytes, d), bytes.left(40).toHex().constData());
        QCOMPARE(describe(d), sentinel);
    }

    // What the reader accepts loads with the missing-key defaults: binary bytes as
    // key=value lines, an empty file, a file without any of the keys.
    for (const QByteArray& bytes : {QByteArray("\x01\x02=\xff\xfe\n\x7f=\x80\x81\n", 10), QByteArray(),
                                    QByteArray("[Other]\nfoo=1\n; comment\n")}) {
        QVERIFY2(readBytes(garbage, bytes, d), bytes.toHex().constData());
        QCOMPARE(describe(d), describe(SettingsData()));
    }
}

void TestSettingsFile::truncatedFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("full.cfg");
    SettingsData saved;
    saved.anchors.append(Anchor("A0", "Alpha", QColor(255, 0, 0), 1, 2, 3, true, 4));
    saved.tags.append(Tag("T0", "Tango", QColor(0, 255, 0), true, true, true, true, true, true, true));
    saved.gridX = "100";
    saved.drawGrid = true;
    saved.drawBGImage = true;
    QVERIFY(writeSettingsFile(path, saved));
    const QByteArray full = readFileBytes(path);
    const QString cut = dir.filePath("cut.cfg");
    SettingsData d;

    // Cut after a whole line: the keys up to there load, the rest take their defaults.
    QVERIFY(readBytes(cut, full.left(full.indexOf("\nAverage=") + 1), d));
    QCOMPARE(recordsOf(d.anchors), recordsOf(saved.anchors));
    QVERIFY(d.tags.isEmpty());            // "TagCount" sorts after the cut
    QVERIFY(!d.drawGrid && !d.drawBGImage);

    // Cut inside a value: the partial value loads.
    QVERIFY(readBytes(cut, full.left(full.indexOf("Grid-X=10") + 9), d));
    QCOMPARE(d.gridX, QString("10"));
    QCOMPARE(recordsOf(d.anchors), recordsOf(saved.anchors));
    QVERIFY(d.drawGrid);                  // "DrawGrid" sorts before "Grid-X"

    // Cut inside a key: the last line has no "=", a format error: nothing is loaded.
    QVERIFY(!readBytes(cut, full.left(full.indexOf("Anchor0-Name=") + 10), d));
    QCOMPARE(describe(d), describe(sentinelData()));
}

QTEST_GUILESS_MAIN(TestSettingsFile)   // no window needed; spares the platform plugin
#include "tst_settingsfile.moc"
