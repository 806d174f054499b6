#include "settingsfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

SettingsData sampleData()
{
    SettingsData d;
    d.anchors.append(Anchor("1A2B", "Master", QColor(255, 153, 34), 120, -40, 250, true, 7));
    d.anchors.append(Anchor("00c3", "Küche, Nord", QColor(0, 0, 255), 0, 900, 0, false, -12));
    d.anchors.append(Anchor("7", "@Invalid()", QColor(0, 128, 0), -2147483647 - 1, 2147483647, 1, false, 0));
    Tag t1("BEEF", "Tag 1", QColor(255, 0, 0), true, false, true, false, true, false, true);
    Tag t2(" ab ", "  spaced  ", QColor(10, 20, 30), false, true, false, true, false, true, false);
    // Measurement state that must not survive a save and load.
    t1.rawX = t1.rawY = t1.avgX = t1.avgY = 5;
    t1.prevRawX = t1.prevRawY = t1.prevAvgX = t1.prevAvgY = 6;
    t1.lastUpdateMs = 123456;
    t1.prevUpdateMs = 12345;
    t1.lastStep = 3.5;
    d.tags << t1 << t2;
    d.gridX = "-100";
    d.gridY = " 50";
    d.gridW = "abc";
    d.gridH = "";
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
    d.drawBGImage = false;
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

bool sameAnchor(const Anchor& a, const Anchor& b)
{
    return a.id == b.id && a.name == b.name && a.color == b.color && a.x == b.x && a.y == b.y
           && a.z == b.z && a.offset == b.offset && a.master == b.master;
}

bool sameTagSetup(const Tag& a, const Tag& b)
{
    return a.id == b.id && a.name == b.name && a.color == b.color && a.showPosRaw == b.showPosRaw
           && a.showPosAvg == b.showPosAvg && a.showDistRaw == b.showDistRaw
           && a.showDistAvg == b.showDistAvg && a.showSpeed == b.showSpeed
           && a.showCoordinates == b.showCoordinates && a.showRate == b.showRate;
}

bool freshMeasurement(const Tag& t)
{
    const int n = Tag::NoPosition;
    return t.prevRawX == n && t.prevRawY == n && t.prevAvgX == n && t.prevAvgY == n && t.rawX == n
           && t.rawY == n && t.avgX == n && t.avgY == n && t.lastUpdateMs == 0
           && t.prevUpdateMs == 0 && t.lastStep == 0.0;
}

bool sameData(const SettingsData& a, const SettingsData& b)
{
    if (a.anchors.size() != b.anchors.size() || a.tags.size() != b.tags.size())
        return false;
    for (int i = 0; i < a.anchors.size(); ++i)
        if (!sameAnchor(a.anchors[i], b.anchors[i]))
            return false;
    for (int i = 0; i < a.tags.size(); ++i)
        if (!sameTagSetup(a.tags[i], b.tags[i]))
            return false;
    return a.gridX == b.gridX && a.gridY == b.gridY && a.gridW == b.gridW && a.gridH == b.gridH
           && a.imageGridX == b.imageGridX && a.imageGridY == b.imageGridY
           && a.imageGridW == b.imageGridW && a.imageGridH == b.imageGridH
           && a.average == b.average && a.bgImageFile == b.bgImageFile
           && a.bgImageFactor == b.bgImageFactor && a.bgImageOffsetX == b.bgImageOffsetX
           && a.bgImageOffsetY == b.bgImageOffsetY && a.drawGrid == b.drawGrid
           && a.drawBGImage == b.drawBGImage;
}

bool isEmptyAnchor(const Anchor& a)
{
    return a.id.isEmpty() && a.name.isEmpty() && !a.color.isValid() && a.x == 0 && a.y == 0
           && a.z == 0 && a.offset == 0 && !a.master;
}

bool isEmptyTag(const Tag& t)
{
    return t.id.isEmpty() && t.name.isEmpty() && !t.color.isValid() && !t.showPosRaw
           && !t.showPosAvg && !t.showDistRaw && !t.showDistAvg && !t.showSpeed
           && !t.showCoordinates && !t.showRate && freshMeasurement(t);
}

bool isAllDefaults(const SettingsData& d)
{
    return sameData(d, SettingsData()) && d.anchors.isEmpty() && d.tags.isEmpty();
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// Whether this process can create files in a folder without write permission (root can).
bool ignoresFolderPermissions(const QString& dir)
{
    QFile probe(dir + "/probe");
    const bool created = probe.open(QIODevice::WriteOnly);
    probe.close();
    QFile::remove(dir + "/probe");
    return created;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void keysAndFormat();
    void recordCounts();
    void colours();
    void failedWrite();
    void unreadableOrInvalid();
    void truncatedFiles();
};

void TestSettingsFile::roundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("setup.cfg");
    const SettingsData saved = sampleData();
    QVERIFY(writeSettingsFile(path, saved));
    QCOMPARE(filesIn(dir.path()), QStringList{"setup.cfg"});   // no temp or lock file left

    SettingsData loaded = sentinelData();
    QVERIFY(readSettingsFile(path, loaded));
    QVERIFY(sameData(saved, loaded));
    QCOMPARE(loaded.anchors[1].name, QString("Küche, Nord"));
    QCOMPARE(loaded.anchors[2].name, QString("@Invalid()"));
    QCOMPARE(loaded.anchors[2].x, -2147483647 - 1);
    QCOMPARE(loaded.tags[1].id, QString(" ab "));
    QCOMPARE(loaded.tags[1].name, QString("  spaced  "));
    QCOMPARE(loaded.bgImageFile, QString("/home/user/Plan 100%1 ä.png"));
    for (const Tag& t : loaded.tags) {
        QVERIFY(freshMeasurement(t));
        QCOMPARE(t.rawX, int(0xABCDFFFF));
    }

    // Overwriting keeps no key of the older, larger setup and keeps the file's permissions.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    SettingsData smaller;
    smaller.anchors.append(Anchor("99", "only", QColor(1, 1, 1), 1, 2, 3, false, 0));
    QVERIFY(writeSettingsFile(path, smaller));
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                              | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    {
        QSettings plain(path, QSettings::IniFormat);
        QVERIFY(!plain.contains("Anchor1-X"));
        QVERIFY(!plain.contains("Tag0-ID"));
    }
    QVERIFY(readSettingsFile(path, loaded));
    QVERIFY(sameData(smaller, loaded));
    QCOMPARE(filesIn(dir.path()), QStringList{"setup.cfg"});

    // A link is written through, not replaced by a file.
    const QString link = dir.filePath("link.cfg");
    QVERIFY(QFile::link(path, link));
    QVERIFY(writeSettingsFile(link, saved));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(readSettingsFile(path, loaded));
    QVERIFY(sameData(saved, loaded));
}

void TestSettingsFile::keysAndFormat()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("keys.cfg");
    SettingsData d = sampleData();
    d.anchors.removeLast();
    d.tags.removeLast();
    QVERIFY(writeSettingsFile(path, d));

    QStringList expected = {"AnchorCount", "TagCount", "Grid-X", "Grid-Y", "Grid-W", "Grid-H",
                            "Grid-Xb", "Grid-Yb", "Grid-Wb", "Grid-Hb", "Average", "BGImage-File",
                            "BGImage-Factor", "BGImage-OffsetX", "BGImage-OffsetY", "DrawGrid",
                            "DrawBGImage"};
    for (int i = 0; i < 2; ++i)
        for (const char* f : {"X", "Y", "Z", "ID", "Name", "Color", "Master", "Offset"})
            expected << QString("Anchor%1-%2").arg(i).arg(f);
    for (const char* f : {"Rate", "Speed", "Coordinates", "PosRaw", "PosAvg", "DistRaw", "DistAvg",
                          "Name", "Color", "ID"})
        expected << QString("Tag0-%1").arg(f);
    {
        QSettings plain(path, QSettings::IniFormat);
        QCOMPARE(plain.status(), QSettings::NoError);
        QStringList keys = plain.allKeys();
        keys.sort();
        expected.sort();
        QCOMPARE(keys, expected);
        // Integers and doubles as decimal text, booleans as true/false, strings as typed.
        QCOMPARE(plain.value("AnchorCount").toString(), QString("2"));
        QCOMPARE(plain.value("Anchor0-Offset").toString(), QString("7"));
        QCOMPARE(plain.value("Anchor1-Master").toString(), QString("false"));
        QCOMPARE(plain.value("Anchor1-Name").toString(), QString("Küche, Nord"));
        QCOMPARE(plain.value("Tag0-Coordinates").toString(), QString("true"));
        QCOMPARE(plain.value("Tag0-Speed").toString(), QString("false"));
        QCOMPARE(plain.value("BGImage-Factor").toString(), QString("0.5"));
        QCOMPARE(plain.value("Grid-W").toString(), QString("abc"));
    }

    const QByteArray text = readBytes(path);
    QVERIFY(text.startsWith("[General]\n"));
    for (const char* line : {"Anchor0-Color=#ff9922", "Anchor1-Color=#0000ff", "Tag0-Color=#ff0000",
                             "DrawGrid=true", "DrawBGImage=false", "Anchor0-X=120", "Anchor0-Y=-40",
                             "Anchor0-Master=true", "Anchor0-ID=1A2B", "Tag0-Rate=true",
                             "Tag0-PosRaw=true", "Tag0-PosAvg=false", "Grid-X=-100", "Grid-Xb=-20",
                             "Grid-Hb=480", "Average=10", "BGImage-Factor=0.5",
                             "BGImage-OffsetX=-300", "BGImage-OffsetY=150", "AnchorCount=2",
                             "TagCount=1"})
        QVERIFY2(text.contains(QByteArray(line) + '\n'), line);

    // No records: both counts 0 and nothing per record.
    QVERIFY(writeSettingsFile(path, SettingsData()));
    QSettings empty(path, QSettings::IniFormat);
    QCOMPARE(empty.value("AnchorCount").toString(), QString("0"));
    QCOMPARE(empty.value("TagCount").toString(), QString("0"));
    for (const QString& key : empty.allKeys())
        QVERIFY2(!key.startsWith("Anchor") || key == "AnchorCount", qPrintable(key));
    for (const QString& key : empty.allKeys())
        QVERIFY2(!key.startsWith("Tag") || key == "TagCount", qPrintable(key));
    QCOMPARE(empty.allKeys().size(), 17);
    QVERIFY(readBytes(path).contains("AnchorCount=0\n"));
}

void TestSettingsFile::recordCounts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("counts.cfg");

    // More records announced than stored: the extra ones are empty.
    QVERIFY(writeBytes(path, "[General]\nAnchorCount=3\nAnchor0-ID=A0\nAnchor0-Color=#123456\n"
                             "Anchor0-Master=true\nTagCount=2\nTag0-ID=T0\nTag0-Rate=true\n"));
    SettingsData d;
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.anchors.size(), 3);
    QCOMPARE(d.anchors[0].id, QString("A0"));
    QVERIFY(d.anchors[0].master);
    QCOMPARE(d.anchors[0].color, QColor(0x12, 0x34, 0x56));
    QVERIFY(isEmptyAnchor(d.anchors[1]));
    QVERIFY(isEmptyAnchor(d.anchors[2]));
    QCOMPARE(d.tags.size(), 2);
    QVERIFY(d.tags[0].showRate);
    QVERIFY(isEmptyTag(d.tags[1]));

    // Negative and unreadable counts give no records.
    QVERIFY(writeBytes(path, "[General]\nAnchorCount=-1\nAnchor0-ID=A0\nTagCount=-2147483648\n"
                             "Tag0-ID=T0\n"));
    d = sentinelData();
    QVERIFY(readSettingsFile(path, d));
    QVERIFY(d.anchors.isEmpty());
    QVERIFY(d.tags.isEmpty());
    QVERIFY(writeBytes(path, "[General]\nAnchorCount=two\nTagCount=1.5\nTag0-ID=T0\n"));
    d = sentinelData();
    QVERIFY(readSettingsFile(path, d));
    QVERIFY(d.anchors.isEmpty());
    QVERIFY(d.tags.isEmpty());

    // Numbers beyond the int range do not wrap around: a count is cut to the bound,
    // any other integer reads as 0; a factor that is no finite number reads as 0 too.
    QVERIFY(writeBytes(path, "[General]\nAnchorCount=4294967297\nAnchor0-X=4294967396\n"
                             "Anchor0-Y=-2147483649\nAnchor0-Z=2147483647\nTagCount=99999999999\n"
                             "Grid-Xb=4294967396\nBGImage-OffsetX=-4294967196\nBGImage-Factor=nan\n"));
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.anchors.size(), MaxSettingsRecords);
    QCOMPARE(d.tags.size(), MaxSettingsRecords);
    QCOMPARE(d.anchors[0].x, 0);
    QCOMPARE(d.anchors[0].y, 0);
    QCOMPARE(d.anchors[0].z, 2147483647);
    QCOMPARE(d.imageGridX, 0);
    QCOMPARE(d.bgImageOffsetX, 0);
    QCOMPARE(d.bgImageFactor, 0.0);
    for (const char* factor : {"inf", "-inf", "1e400"}) {
        QVERIFY(writeBytes(path, QByteArray("[General]\nBGImage-Factor=") + factor + "\n"));
        QVERIFY(readSettingsFile(path, d));
        QCOMPARE(d.bgImageFactor, 0.0);
    }
    QVERIFY(writeBytes(path, "[General]\nBGImage-Factor=1e-3\n"));
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.bgImageFactor, 0.001);

    // Hostile counts are cut to the bound, quickly.
    for (const char* count : {"2000000000", "2147483647"}) {
        QVERIFY(writeBytes(path, QByteArray("[General]\nAnchorCount=") + count
                                     + "\nAnchor0-ID=A0\nTagCount=" + count + "\nTag1-ID=T1\n"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(readSettingsFile(path, d));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(d.anchors.size(), MaxSettingsRecords);
        QCOMPARE(d.tags.size(), MaxSettingsRecords);
        QCOMPARE(d.anchors[0].id, QString("A0"));
        QCOMPARE(d.tags[1].id, QString("T1"));
        QVERIFY(isEmptyAnchor(d.anchors.last()));
        QVERIFY(isEmptyTag(d.tags.last()));
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

void TestSettingsFile::colours()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("colours.cfg");
    QVERIFY(writeBytes(path, "[General]\nAnchorCount=5\nAnchor0-Color=#FF9922\n"
                             "Anchor1-Color=#zzzzzz\nAnchor2-Color=nocolour\nAnchor3-Color=\n"
                             "TagCount=1\nTag0-Color=#ff992\n"));
    SettingsData d;
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.anchors[0].color, QColor(255, 153, 34));   // letter case does not matter
    QVERIFY(!d.anchors[1].color.isValid());
    QVERIFY(!d.anchors[2].color.isValid());
    QVERIFY(!d.anchors[3].color.isValid());
    QVERIFY(!d.anchors[4].color.isValid());                // key missing
    QVERIFY(!d.tags[0].color.isValid());

    // A saved colour reads back equal to the one from the colour list.
    SettingsData one;
    one.tags.append(Tag("1", "n", QColor(255, 153, 34), false, false, false, false, false, false, false));
    QVERIFY(writeSettingsFile(path, one));
    QVERIFY(readSettingsFile(path, d));
    QCOMPARE(d.tags[0].color, QColor(255, 153, 34));
    QCOMPARE(d.tags[0].color.spec(), QColor::Rgb);
}

void TestSettingsFile::failedWrite()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SettingsData d = sampleData();

    // Folder missing.
    const QString missing = dir.filePath("nofolder/x.cfg");
    QVERIFY(!writeSettingsFile(missing, d));
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(!QFileInfo::exists(dir.filePath("nofolder")));

    // Folder is a file.
    const QString plainFile = dir.filePath("plain");
    QVERIFY(writeBytes(plainFile, "keep"));
    QVERIFY(!writeSettingsFile(plainFile + "/x.cfg", d));
    QCOMPARE(readBytes(plainFile), QByteArray("keep"));

    // Target is a folder.
    const QString folder = dir.filePath("folder.cfg");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(!writeSettingsFile(folder, d));
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(filesIn(folder).isEmpty());

    QVERIFY(!writeSettingsFile(QString(), d));
    QCOMPARE(filesIn(dir.path()), (QStringList{"folder.cfg", "plain"}));

    // The write itself fails (file size limit) over an existing file: the old file stays.
    const QString target = dir.filePath("existing.cfg");
    QVERIFY(writeSettingsFile(target, SettingsData()));
    const QByteArray before = readBytes(target);
    QVERIFY(!before.isEmpty());
    SettingsData large = d;
    for (int i = 0; i < 200; ++i)
        large.anchors.append(Anchor(QString::number(i), "some name", QColor(1, 2, 3), i, i, i, false, i));
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 512;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeSettingsFile(target, large);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QCOMPARE(readBytes(target), before);
    QCOMPARE(filesIn(dir.path()), (QStringList{"existing.cfg", "folder.cfg", "plain"}));
    // With the limit lifted the same save succeeds.
    QVERIFY(writeSettingsFile(target, large));
    SettingsData back;
    QVERIFY(readSettingsFile(target, back));
    QVERIFY(sameData(large, back));

    // Read-only folder: a real failure only where permissions apply (not as root).
    const QString roDir = dir.filePath("readonly");
    QVERIFY(QDir().mkdir(roDir));
    const QString roTarget = roDir + "/x.cfg";
    QVERIFY(writeSettingsFile(roTarget, SettingsData()));
    const QByteArray roBefore = readBytes(roTarget);
    QVERIFY(QFile::setPermissions(roDir, QFile::ReadOwner | QFile::ExeOwner));
    if (ignoresFolderPermissions(roDir)) {
        qInfo("folder permissions do not apply to this user; read-only folder case not checked");
    } else {
        QVERIFY(!writeSettingsFile(roTarget, d));
        QCOMPARE(readBytes(roTarget), roBefore);
        QCOMPARE(filesIn(roDir), QStringList{"x.cfg"});
    }
    QVERIFY(QFile::setPermissions(roDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestSettingsFile::unreadableOrInvalid()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SettingsData sentinel = sentinelData();
    SettingsData d = sentinel;

    QVERIFY(!readSettingsFile(dir.filePath("missing.cfg"), d));
    QVERIFY(sameData(d, sentinel));
    QVERIFY(!readSettingsFile(dir.path(), d));
    QVERIFY(sameData(d, sentinel));
    QVERIFY(!readSettingsFile(QString(), d));
    QVERIFY(sameData(d, sentinel));

    const QString locked = dir.filePath("locked.cfg");
    QVERIFY(writeSettingsFile(locked, sampleData()));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    QFile probe(locked);
    if (probe.open(QIODevice::ReadOnly)) {
        qInfo("file permissions do not apply to this user; unreadable file case not checked");
    } else {
        QVERIFY(!readSettingsFile(locked, d));
        QVERIFY(sameData(d, sentinel));
    }

    // Garbage that the INI reader rejects.
    const QString garbage = dir.filePath("garbage.cfg");
    const QList<QByteArray> rejected = {
        QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20),
        readBytes(QCoreApplication::applicationFilePath()).left(4096),
        "hello world\n",
        "[General]\nAnchorCount=2\nthis line has no equals sign\n",
        "[General\nAnchorCount=2\n",
        "[General]\nAnchorCount=1\n[Other]\nbroken line\n",   // an error in any section counts
    };
    for (const QByteArray& bytes : rejected) {
        QVERIFY(writeBytes(garbage, bytes));
        QVERIFY2(!readSettingsFile(garbage, d), bytes.left(40).toHex().constData());
        QVERIFY(sameData(d, sentinel));
    }

    // What the reader accepts: binary bytes arranged as key=value lines, NUL bytes in a value,
    // an empty file, a file without any of the keys. All load with the missing-key defaults.
    const QList<QByteArray> accepted = {
        QByteArray("\x01\x02=\xff\xfe\n\x7f=\x80\x81\n", 10),
        QByteArray("[General]\nGrid-X=12\0\x01zz\n", 24),
        "",
        "[Other]\nfoo=1\n; comment\n",
    };
    for (const QByteArray& bytes : accepted) {
        QVERIFY(writeBytes(garbage, bytes));
        d = sentinel;
        QVERIFY2(readSettingsFile(garbage, d), bytes.toHex().constData());
        if (bytes.contains("Grid-X"))
            d.gridX.clear();   // whatever QSettings made of the NUL byte
        QVERIFY2(isAllDefaults(d), bytes.toHex().constData());
    }
}

void TestSettingsFile::truncatedFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("full.cfg");
    SettingsData saved;
    saved.anchors.append(Anchor("A0", "Alpha", QColor(255, 0, 0), 1, 2, 3, true, 4));
    saved.tags.append(Tag("T0", "Tango", QColor(0, 255, 0), true, true, true, true, true, true, true));
    saved.gridX = "100";
    saved.drawGrid = true;
    saved.drawBGImage = true;
    QVERIFY(writeSettingsFile(path, saved));
    const QByteArray full = readBytes(path);
    const QString cut = dir.filePath("cut.cfg");

    // Cut after a whole line: the keys up to there load, the rest take their defaults.
    const int afterAnchors = full.indexOf("\nAverage=");
    QVERIFY(afterAnchors > 0);
    QVERIFY(writeBytes(cut, full.left(afterAnchors + 1)));
    SettingsData d;
    QVERIFY(readSettingsFile(cut, d));
    QCOMPARE(d.anchors.size(), 1);
    QVERIFY(sameAnchor(d.anchors[0], saved.anchors[0]));
    QVERIFY(d.tags.isEmpty());            // "TagCount" sorts after the cut
    QVERIFY(!d.drawGrid);
    QVERIFY(!d.drawBGImage);

    // Cut inside a value: the partial value loads.
    const int inValue = full.indexOf("Grid-X=10") + int(strlen("Grid-X=10"));
    QVERIFY(writeBytes(cut, full.left(inValue)));
    QVERIFY(readSettingsFile(cut, d));
    QCOMPARE(d.gridX, QString("10"));
    QCOMPARE(d.anchors.size(), 1);
    QCOMPARE(d.anchors[0].name, QString("Alpha"));
    QVERIFY(d.drawGrid);                  // "DrawGrid" sorts before "Grid-X"
    QVERIFY(d.tags.isEmpty());

    // Cut inside a key: the last line has no "=", which the INI reader reports as a
    // format error, so the file counts as invalid and nothing is loaded.
    const int inKey = full.indexOf("Anchor0-Name=") + int(strlen("Anchor0-Na"));
    QVERIFY(writeBytes(cut, full.left(inKey)));
    d = sentinelData();
    QVERIFY(!readSettingsFile(cut, d));
    QVERIFY(sameData(d, sentinelData()));
}

QTEST_GUILESS_MAIN(TestSettingsFile)   // no window needed; spares the platform plugin
#include "tst_settingsfile.moc"
