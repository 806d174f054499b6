// Recording of serial sessions, the position export beside it and the replay,
// against the in-process stand-in for the master and hand-made files.
#include "chartdrawing.h"
#include "mainwin.h"
#include "masterinfo.h"
#include "positionexport.h"
#include "rangingsample.h"
#include "recording.h"
#include "tagmeasurement.h"
#include "testsupport.h"

#ifdef ORVANE_HAVE_SIM
#include "masterstandin.h"
#include "scenario.h"
#endif

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

struct Record {
    quint32 ms;
    QByteArray bytes;
};

QList<Record> readRecording(const QString& path, bool* opened = nullptr)
{
    QList<Record> out;
    RecordingReader reader;
    const bool ok = reader.open(path);
    if (opened)
        *opened = ok;
    if (!ok)
        return out;
    Record r;
    while (reader.next(r.ms, r.bytes))
        out.append(r);
    return out;
}

QByteArray concatenated(const QList<Record>& records)
{
    QByteArray all;
    for (const Record& r : records)
        all += r.bytes;
    return all;
}

QByteArray rawRecord(quint32 ms, quint32 length, const QByteArray& bytes)
{
    uchar head[8];
    qToLittleEndian<quint32>(ms, head);
    qToLittleEndian<quint32>(length, head + 4);
    return QByteArray(reinterpret_cast<const char*>(head), 8) + bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Minimal RFC 4180 reader for the comparisons done in C++.
QList<QStringList> readCsv(const QString& path)
{
    QList<QStringList> rows;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    const QString text = QString::fromUtf8(f.readAll());
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            row << field;
            field.clear();
            rows << row;
            row.clear();
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    return rows;
}

using PositionSeq = QList<QPoint>;

// Per tag id, the averaged positions of the export with consecutive repeats
// collapsed: what the chart showed, independent of how often it was drawn.
QMap<QString, PositionSeq> averagedSequences(const QList<QStringList>& rows)
{
    QMap<QString, PositionSeq> out;
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList& r = rows.at(i);
        if (r.size() != 10 || r.at(5).isEmpty())
            continue;
        const QPoint p(r.at(5).toInt(), r.at(6).toInt());
        PositionSeq& seq = out[r.at(1)];
        if (seq.isEmpty() || seq.last() != p)
            seq << p;
    }
    return out;
}

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

QList<Anchor> roomAnchors()
{
    // The stand-in's built-in room, master first as the module list orders them.
    return {Anchor("1A2B", "Master", QColor(255, 0, 0), 0, 0, 0, true, 0),
            Anchor("3C4D", "A1", QColor(0, 0, 255), 1000, 0, 0, false, 0),
            Anchor("5E6F", "A2", QColor(0, 170, 170), 1000, 800, 0, false, 0),
            Anchor("7A80", "A3", QColor(170, 0, 170), 0, 800, 0, false, 0)};
}

Tag positionTag(const QString& id, const QString& name)
{
    return Tag(id, name, QColor(34, 153, 255), true, true, false, false, true, true, true);
}

void setUpRoom(MainWin& w)
{
    w.modules.anchors = roomAnchors();
    w.modules.tags = {positionTag("2B01", "Läufer"), positionTag("2B02", "Steher")};
    w.fillAnchorTable();
    w.fillTagTable();
}

QByteArray rangingLine(const QString& tag, double x, double y, const QList<Anchor>& anchors)
{
    QByteArray line = "$PD," + tag.toLatin1();
    for (const Anchor& a : anchors)
        line += ',' + QByteArray::number(qRound(std::hypot(a.x - x, a.y - y)), 16).toUpper();
    return line + "\r\n";
}

QPushButton* button(MainWin& w, const char* name)
{
    return w.findChild<QPushButton*>(name);
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT
private slots:
    void writerAndTruncation();
    void fullRateRecording();
    void replayMatchesLive();
    void csvFormat();
    void badRecordings();
    void controlsAndPace();
};

// The writer's file is a recording at every moment: records appear within a
// second without being asked, and a file cut at any byte reads back exactly
// its complete records.
void TestRecording::writerAndTruncation()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("small.orec");
    QList<Record> written;
    {
        RecordingWriter w;
        QVERIFY(w.open(path));
        QVERIFY(w.isOpen());
        QCOMPARE(QFileInfo(path).size(), qint64(Recording::Header.size()));
        w.append(3, QByteArray());   // nothing to record
        for (int i = 0; i < 7; ++i) {
            Record r{quint32(i * 37 + (i == 6 ? 0xFFFF0000u : 0)), QByteArray(1 + i * 9, char('a' + i))};
            r.bytes[0] = '$';
            written << r;
            w.append(r.ms, r.bytes);
        }
        // Handed to the file system within a second, without a flush from outside.
        qint64 expected = Recording::Header.size();
        for (const Record& r : written)
            expected += 8 + r.bytes.size();
        QVERIFY(waitUntil([&] { return QFileInfo(path).size() == expected; }, 2500));
        QVERIFY(w.flush());
        QVERIFY(w.isIntact());
        w.close();
        QVERIFY(!w.isOpen());
        QCOMPARE(QFileInfo(path).size(), expected);
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray full = f.readAll();
    f.close();

    QList<int> ends;   // file offset at which each record is complete
    int offset = Recording::Header.size();
    for (const Record& r : written)
        ends << (offset += 8 + r.bytes.size());

    const QString cutPath = dir.filePath("cut.orec");
    for (int cut = 0; cut <= full.size(); ++cut) {
        QVERIFY(writeFile(cutPath, full.left(cut)));
        bool opened = false;
        const QList<Record> got = readRecording(cutPath, &opened);
        QCOMPARE(opened, cut >= Recording::Header.size());
        int complete = 0;
        while (complete < ends.size() && ends.at(complete) <= cut)
            ++complete;
        QCOMPARE(got.size(), complete);
        for (int i = 0; i < complete; ++i) {
            QCOMPARE(got.at(i).ms, written.at(i).ms);
            QCOMPARE(got.at(i).bytes, written.at(i).bytes);
        }
    }

    // A file that cannot be created is reported, and nothing is left open.
    RecordingWriter bad;
    QVERIFY(!bad.open(dir.filePath("no/such/dir/x.orec")));
    QVERIFY(!bad.isOpen());
    QVERIFY(!bad.flush());
}

// The program's recording of a session at the full link rate holds every byte
// the stand-in sent, in order, as the batches the port delivered.
void TestRecording::fullRateRecording()
{
#ifndef ORVANE_HAVE_SIM
    QSKIP("stand-in not built");
#else
    QTemporaryDir dir;
    const QString truthRecording = dir.filePath("sent.orec");
    const QString path = dir.filePath("session.orec");

    MasterStandIn master(Scenario::builtIn());
    master.setLinkPath(QString());
    master.setFullRate(true);
    QVERIFY(master.setRecordFile(truthRecording));
    QVERIFY(master.start());

    MainWin w;
    w.resize(1200, 900);
    w.show();
    setUpRoom(w);
    qint64 received = 0;
    int batches = 0;
    connect(&w.com, &ComInterface::dataReceived, this, [&](const QByteArray& b) {
        received += b.size();
        ++batches;
    });
    // Recording from before the connection on, so every byte the port gives is in it.
    QVERIFY(w.startRecording(path));
    w.findChild<QComboBox*>("cmbComPort")->setEditText(master.slavePath());
    w.connectPort();
    QVERIFY(w.com.isOpen());
    QVERIFY(waitUntil([&] { return master.isPeerConnected(); }, 2000));
    button(w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive);

    QElapsedTimer t;
    t.start();
    waitUntil([] { return false; }, 5000);
    const qint64 seconds = t.elapsed() / 1000;
    button(w, "btnStartRanging")->click();   // stop ranging
    QVERIFY(!w.rangingActive);
    QVERIFY(waitUntil([&] { return !master.isRanging(); }, 2000));
    // Only identity lines now; catch a moment when everything sent has arrived
    // and close the recording right there.
    QVERIFY(waitUntil([&] { return received == master.bytesSent(); }, 3000));
    w.stopRecording();
    QVERIFY(master.flushRecord());

    const QList<Record> mine = readRecording(path);
    const QByteArray sent = concatenated(readRecording(truthRecording));
    const QByteArray got = concatenated(mine);
    qInfo("%lld s at full rate: %d D lines, %lld bytes sent, %d batches received, %d records",
          seconds, master.linesSent('D'), qint64(sent.size()), batches, int(mine.size()));
    // Plenty of traffic (the pace itself depends on the machine's load).
    QVERIFY2(got.size() > 100000, QByteArray::number(got.size()).constData());
    QCOMPARE(qint64(sent.size()), master.bytesSent());
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
    QCOMPARE(mine.size(), batches);
    // Arrival times never go back and span the session.
    for (int i = 1; i < mine.size(); ++i)
        QVERIFY(mine.at(i).ms >= mine.at(i - 1).ms);
    QVERIFY(mine.last().ms - mine.first().ms >= 4500);

    // The export beside it is a CSV with the tags' positions.
    const QList<QStringList> rows = readCsv(dir.filePath("session.csv"));
    QVERIFY(rows.size() > 100);
    QCOMPARE(rows.first().join(','), QString(PositionExport::HeaderRow).trimmed());
    w.disconnectPort();
#endif
}

// Replayed as fast as possible, a recording gives the averaged positions the
// live session showed, to the centimetre, in the same order.
void TestRecording::replayMatchesLive()
{
#ifndef ORVANE_HAVE_SIM
    QSKIP("stand-in not built");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("live.orec");
    MasterStandIn master(Scenario::builtIn());   // 10 lines per second and tag
    master.setLinkPath(QString());
    QVERIFY(master.start());

    MainWin w;
    w.resize(1200, 900);
    w.show();
    setUpRoom(w);
    w.findChild<QComboBox*>("cmbComPort")->setEditText(master.slavePath());
    w.connectPort();
    QVERIFY(w.com.isOpen());
    QVERIFY(waitUntil([&] { return master.isPeerConnected(); }, 2000));
    QVERIFY(w.startRecording(path));
    button(w, "btnStartRanging")->click();
    QVERIFY(w.rangingActive);
    waitUntil([] { return false; }, 8000);
    w.disconnectPort();   // ends the recording too
    QVERIFY(!w.recorder.isOpen());
    master.stop();

    // Replay in the same window, as the user would.
    w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
    QCOMPARE(w.findChild<QComboBox*>("cmbReplaySpeed")->currentText(), QString("so schnell wie möglich"));
    w.chooseOpenFile = [&](const QString&, const QString&) { return path; };
    QElapsedTimer t;
    t.start();
    button(w, "btnReplay")->click();
    QVERIFY(w.replaying);
    QVERIFY(waitUntil([&] { return !w.replaying; }, 20000));
    qInfo("8 s replayed in %lld ms", t.elapsed());

    const QMap<QString, PositionSeq> live = averagedSequences(readCsv(dir.filePath("live.csv")));
    const QMap<QString, PositionSeq> replay = averagedSequences(readCsv(dir.filePath("live.replay.csv")));
    QCOMPARE(live.keys(), QStringList({"2B01", "2B02"}));
    QCOMPARE(replay.keys(), live.keys());
    for (const QString& id : live.keys()) {
        const PositionSeq& l = live.value(id);
        const PositionSeq& r = replay.value(id);
        // Every position the live chart showed comes back in order. The replay
        // may add one at the end: the lines that arrived after the last live
        // pass before the recording stopped.
        int j = 0;
        for (int i = 0; i < l.size(); ++i) {
            while (j < r.size() && r.at(j) != l.at(i))
                ++j;
            QVERIFY2(j < r.size(), qPrintable(QString("%1: live position %2 (%3,%4) not replayed")
                                                   .arg(id).arg(i).arg(l.at(i).x()).arg(l.at(i).y())));
            ++j;
        }
        qInfo("%s: %d live positions, %d replayed", qPrintable(id), int(l.size()), int(r.size()));
        QVERIFY(l.size() > 40);
        QVERIFY(r.size() - l.size() <= 2);
        QCOMPARE(r.mid(0, l.size()), l);
    }
#endif
}

// The export parses with Python's csv module, its header names the columns,
// and its figures are those the chart pass computed for the same tag state.
void TestRecording::csvFormat()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 not found");
    QTemporaryDir dir;
    MainWin w;
    w.resize(1200, 900);
    w.show();
    w.modules.anchors = roomAnchors();
    w.modules.anchors[1].offset = 7;
    const QString awkward = QString::fromUtf8("Süd, \"Ecke\"");
    w.modules.tags = {positionTag("2B01", awkward),
                      Tag("2B02", "nur Mittel", QColor(0, 0, 0), false, true, false, false, true, true, true)};
    w.averageCount = 5;
    const qint64 baseEpoch = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;
    const QTime baseTime(10, 0, 0);
    qint64 now = 0;
    w.timeOfDay = [&] { return baseTime.addMSecs(int(now)); };
    w.epochMs = [&] { return baseEpoch + now; };
    QVERIFY(w.startRecording(dir.filePath("labels.orec")));

    struct Expected {
        qint64 ms;
        QString id;
        int rawX, rawY, avgX, avgY;
        bool hasRaw;
        double speed, rate;
    };
    QList<Expected> expected;
    for (int step = 0; step < 20; ++step) {   // 2 s: nothing expires
        now += 100;
        const double x = 200 + 13 * step, y = 300 + 7 * step;
        w.dataReceived(rangingLine("2B01", x, y, w.modules.anchors));
        if (step % 2 == 0)
            w.dataReceived(rangingLine("2B02", 600 - 5 * step, 500, w.modules.anchors));
        QMap<QString, Tag> before;
        QMap<QString, double> rates;
        for (const Tag& tag : w.modules.tags) {
            before.insert(tag.id, tag);
            rates.insert(tag.id, historyRate(w.rangingHistory.value(tag.id)));
        }
        w.redrawChart();
        for (const Tag& tag : w.modules.tags) {
            if (tag.id == "2B02" && step % 2 != 0)
                continue;   // no new sample: no row
            // The label as drawn: this pass's step over the previous pass interval.
            Tag shown = tag;
            shown.lastUpdateMs = before.value(tag.id).lastUpdateMs;
            shown.prevUpdateMs = before.value(tag.id).prevUpdateMs;
            expected.append({baseEpoch + now, tag.id, tag.rawX, tag.rawY, tag.avgX, tag.avgY, tag.showPosRaw,
                             shown.speed(), rates.value(tag.id)});
        }
    }
    w.redrawTimer->stop();
    w.redrawChart();   // nothing new: no rows
    w.redrawTimer->stop();
    w.stopRecording();

    const QString script = QStringLiteral(
        "import csv, datetime, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    rows = list(csv.reader(f))\n"
        "num = lambda s: float(s) if s != '' else None\n"
        "out = {'header': rows[0], 'rows': []}\n"
        "for r in rows[1:]:\n"
        "    t = datetime.datetime.fromisoformat(r[0])\n"
        "    out['rows'].append({'fields': len(r), 'ms': round(t.timestamp() * 1000), 'id': r[1], 'name': r[2],\n"
        "        'raw_x': num(r[3]), 'raw_y': num(r[4]), 'avg_x': num(r[5]), 'avg_y': num(r[6]),\n"
        "        'speed': float(r[7]), 'rate': float(r[8])})\n"
        "print(json.dumps(out))\n");
    QProcess p;
    p.start(python, {QStringLiteral("-c"), script, dir.filePath("labels.csv")});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QJsonObject doc = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QStringList header;
    for (const QJsonValue& v : doc.value("header").toArray())
        header << v.toString();
    QCOMPARE(header, QStringList({"time", "tag_id", "tag_name", "raw_x_cm", "raw_y_cm", "avg_x_cm", "avg_y_cm",
                                  "speed_mps", "rate_hz", "rec_ms"}));
    const QJsonArray rows = doc.value("rows").toArray();
    QCOMPARE(rows.size(), expected.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonObject r = rows.at(i).toObject();
        const Expected& e = expected.at(i);
        QCOMPARE(r.value("fields").toInt(), 10);
        QCOMPARE(qint64(r.value("ms").toDouble()), e.ms);
        QCOMPARE(r.value("id").toString(), e.id);
        QCOMPARE(r.value("name").toString(), e.id == "2B01" ? awkward : QString("nur Mittel"));
        if (e.hasRaw) {
            QCOMPARE(r.value("raw_x").toInt(), e.rawX);
            QCOMPARE(r.value("raw_y").toInt(), e.rawY);
        } else {
            QVERIFY(r.value("raw_x").isNull() && r.value("raw_y").isNull());
        }
        QCOMPARE(r.value("avg_x").toInt(), e.avgX);
        QCOMPARE(r.value("avg_y").toInt(), e.avgY);
        QVERIFY(qAbs(r.value("speed").toDouble() - e.speed) <= 0.0005);
        QVERIFY(qAbs(r.value("rate").toDouble() - e.rate) <= 0.0005);
    }
    // Some label showed movement, so the speed column is not trivially zero.
    bool moving = false;
    for (const Expected& e : expected)
        moving = moving || e.speed > 0.01;
    QVERIFY(moving);

    // The export is never the recording itself.
    QVERIFY(!w.startRecording(dir.filePath("same.csv")));
    QVERIFY(!w.recorder.isOpen());
}

// Files that are no recording get the warning and change nothing; damaged
// ones play up to their last good record, in bounded memory.
void TestRecording::badRecordings()
{
    QTemporaryDir dir;
    MainWin w;
    w.resize(1200, 900);
    w.show();
    setUpRoom(w);
    w.averageCount = 1;
    w.findChild<QComboBox*>("cmbReplaySpeed")->setCurrentIndex(4);
    const QTime fixed(9, 30, 0);
    w.timeOfDay = [fixed] { return fixed; };

    QByteArray good;
    for (int i = 0; i < 3; ++i) {
        const QByteArray line = rangingLine("2B01", 200 + 50 * i, 300, w.modules.anchors);
        good += rawRecord(quint32(100 * i), quint32(line.size()), line);
    }

    struct Case {
        const char* name;
        QByteArray bytes;
        int rows;   // -1: the warning
    };
    const QList<Case> cases = {
        {"empty", QByteArray(), -1},
        {"other version", QByteArray("ORVANE-RECORDING 2\n") + good, -1},
        {"header only", Recording::Header, 0},
        {"complete", Recording::Header + good, 3},
        {"length beyond file", Recording::Header + good + rawRecord(300, 1000, QByteArray("$PD,2B01,1,2,3\r\n")), 3},
        {"length 4 GiB", Recording::Header + good + rawRecord(300, 0xFFFFFFFFu, QByteArray(64, '$')), 3},
        {"length zero", Recording::Header + good + rawRecord(300, 0, QByteArray()) + good, 3},
        {"missing file", QByteArray(), -1},
    };
    ModalAnswerer boxes;
    for (const Case& c : cases) {
        const QString name = QString::fromLatin1(c.name).replace(' ', '_');
        const QString path = dir.filePath(name + ".orec");
        if (QByteArray(c.name) != "missing file")
            QVERIFY(writeFile(path, c.bytes));
        w.chooseOpenFile = [&](const QString& caption, const QString&) {
            return caption == "Aufzeichnung abspielen" ? path : QString();
        };
        // A sample in the history and a label text that a replay would change.
        w.dataReceived(rangingLine("2B02", 300, 400, w.modules.anchors));
        const int seenBefore = boxes.seen.size();
        const long rssBefore = residentKb();
        button(w, "btnReplay")->click();
        if (c.rows < 0) {
            QVERIFY2(waitUntil([&] { return boxes.seen.size() > seenBefore; }, 3000), c.name);
            QCOMPARE(boxes.seen.last().title, QString("Aufzeichnung abspielen"));
            QCOMPARE(boxes.seen.last().text, QString("Die Aufzeichnung konnte nicht gelesen werden!"));
            QCOMPARE(boxes.seen.last().icon, QMessageBox::Warning);
            QVERIFY(!w.replaying);
            QVERIFY(!QFileInfo::exists(dir.filePath(name + ".replay.csv")));
            QCOMPARE(w.rangingHistory.value("2B02").size(), 1);   // untouched
            QCOMPARE(w.timeOfDay(), fixed);                      // clocks untouched
            QCOMPARE(button(w, "btnReplay")->text(), QString("Aufzeichnung abspielen"));
            QVERIFY(button(w, "btnConnect")->isEnabled());
        } else {
            QVERIFY2(waitUntil([&] { return !w.replaying; }, 5000), c.name);
            QCOMPARE(boxes.seen.size(), seenBefore);
            QCOMPARE(w.timeOfDay(), fixed);   // the clocks in use before come back
            const QList<QStringList> rows = readCsv(dir.filePath(name + ".replay.csv"));
            QVERIFY2(!rows.isEmpty(), c.name);
            QCOMPARE(rows.size() - 1, c.rows * 1);   // one row per good record (one tag)
            QVERIFY2(residentKb() - rssBefore < 32 * 1024, c.name);
        }
        for (QList<RangingSample*>& list : w.rangingHistory)
            qDeleteAll(list);
        w.rangingHistory.clear();
    }
}

// During a replay nothing can be sent and no connection made; the status label
// and the chart follow the recorded time at the chosen pace; a second press
// stops it and the controls come back.
void TestRecording::controlsAndPace()
{
    QTemporaryDir dir;
    MainWin w;
    w.resize(1200, 900);
    w.show();
    setUpRoom(w);
    const QString path = dir.filePath("quiet.orec");
    // Identity, half a second of one tag, silence, identity at 8 s.
    {
        RecordingWriter rec;
        QVERIFY(rec.open(path));
        rec.append(0, "$PX,1A2B,1.0\r\n");
        for (int i = 0; i <= 10; ++i)
            rec.append(quint32(50 * i), rangingLine("2B01", 300 + 10 * i, 400, w.modules.anchors));
        rec.append(8000, "$PX,1A2B,1.0\r\n");
        rec.close();
    }
    w.chooseOpenFile = [&](const QString&, const QString&) { return path; };
    const char* const senders[] = {"btnConnect", "btnStartRanging", "btnDiscovery", "btnSendCommand", "btnRecord"};

    auto* speed = w.findChild<QComboBox*>("cmbReplaySpeed");
    speed->setCurrentIndex(3);   // 10×
    QElapsedTimer t;
    t.start();
    button(w, "btnReplay")->click();
    QVERIFY(w.replaying);
    for (const char* name : senders)
        QVERIFY2(!button(w, name)->isEnabled(), name);
    QVERIFY(!w.sendCommand("$PG,\r\n", true));
    QVERIFY(waitUntil([&] { return w.masterInfo->text() == "Master ID: 1A2B - Version: 1.0"; }, 1000));
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("2B01").size() == 11; }, 1000));
    // In the silence the recorded time runs on: the samples expire as they did
    // live (at most three seconds after the last), long before the next line.
    QVERIFY(waitUntil([&] { return w.replayNowMs >= 4000; }, 2000));
    QVERIFY(w.replayNowMs < 7500);
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("2B01").isEmpty(); }, 300));
    QVERIFY(waitUntil([&] { return !w.replaying; }, 5000));
    const qint64 took = t.elapsed();
    qInfo("8 s of recording at 10x took %lld ms", took);
    QVERIFY(took >= 780);   // never ahead of the recorded pace
    QVERIFY(took < 4000);
    QVERIFY(button(w, "btnConnect")->isEnabled() && !button(w, "btnRecord")->isEnabled());

    // 1×, stopped by a second press.
    speed->setCurrentIndex(0);
    button(w, "btnReplay")->click();
    QVERIFY(waitUntil([&] { return w.rangingHistory.value("2B01").size() >= 3; }, 2000));
    button(w, "btnReplay")->click();
    QVERIFY(!w.replaying && !w.replayTimer->isActive());
    QVERIFY(w.rangingHistory.isEmpty());
    QVERIFY(button(w, "btnConnect")->isEnabled());
    // The real clocks are back.
    QVERIFY(qAbs(w.epochMs() - QDateTime::currentMSecsSinceEpoch()) < 1000);
    QVERIFY(qAbs(w.masterInfo->now() - QDateTime::currentMSecsSinceEpoch()) < 1000);
    QCOMPARE(w.masterInfo->text(), QString());
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
