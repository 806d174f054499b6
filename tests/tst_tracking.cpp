#include "batchreplay.h"
#include "errorellipse.h"
#include "knownpointdialog.h"
#include "mainwin.h"
#include "positioningstep.h"
#include "settingsfile.h"
#include "tagmeasurement.h"
#include "testsupport.h"
#include "trackfilter.h"

#ifdef ORVANE_HAVE_SIM
#include "masterstandin.h"
#include "scenario.h"
#endif

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <random>

// The tracking filter, speed and rate of the positioning step, and the batch
// mode that replays recordings through it.
class TestTracking : public QObject
{
    Q_OBJECT
private slots:
    void filter_data();
    void filter();
    void speedAndRate();
    void realRunAtWalkingSpeed();
    void realEllipsesAfterCalibration();
    void tagHeight_data();
    void tagHeight();
    void batchErrors_data();
    void batchErrors();
    void batchEqualsWindowReplay();
    void filteredOnStandIn();
    void knownPointFlows();
    void guardedCalibration();
    void calibrateOnRealData();
    void calibrateOnStandIn_data();
    void calibrateOnStandIn();
};

namespace {

const QList<Anchor> room = {Anchor("1A2B", "M", Qt::red, 0, 0, 0, true, 0), Anchor("3C4D", "A1", Qt::red, 1000, 0, 0, false, 0),
                            Anchor("5E6F", "A2", Qt::red, 1000, 800, 0, false, 0),
                            Anchor("7A80", "A3", Qt::red, 0, 800, 0, false, 0)};

// Where a test tag is at ms: standing, walking straight, or turning a corner at 6 s.
QPointF truthAt(int path, int ms)
{
    const double s = ms / 10.0;   // cm walked at 1 m/s
    if (path == 0)
        return QPointF(300, 400);
    if (path == 1 || s <= 600)
        return QPointF(200 + s, 200);
    return QPointF(800, 200 + (s - 600));
}

QByteArray dLine(const QString& id, const QPointF& p, const QList<Anchor>& anchors, double noise = 0,
                 std::mt19937* rng = nullptr, int outlierAnchor = -1)
{
    std::normal_distribution<double> gauss(0, noise);
    QByteArray line = "$PD," + id.toLatin1();
    for (int a = 0; a < anchors.size(); ++a) {
        double d = std::hypot(p.x() - anchors[a].x, p.y() - anchors[a].y) + (rng ? gauss(*rng) : 0);
        if (a == outlierAnchor || outlierAnchor == anchors.size())
            d += 150 + 100 * a;   // a reflection: always too long
        line += ',' + QByteArray::number(qRound(d), 16).toUpper();
    }
    return line + "\r\n";
}

QString binary() { return qEnvironmentVariable("ORVANE_BINARY_DIR") + "/orvane"; }
QString demoCfg() { return qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/sim/demo.cfg"; }

} // namespace

void TestTracking::filter_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<int>("outliersFrom");   // every sample in [from, from + 2 s) has a bad distance
    QTest::addColumn<int>("silentFrom");     // no samples in [from, from + 3 s)
    QTest::addColumn<int>("checkFrom");
    QTest::addColumn<double>("maxError");
    QTest::addColumn<double>("minSpeed");
    QTest::addColumn<double>("maxSpeed");
    QTest::addColumn<int>("anchorCount");   // of the room's four
    QTest::newRow("standing") << 0 << -1 << -1 << 1500 << 8.0 << 0.0 << 0.1 << 4;
    QTest::newRow("straight walk") << 1 << -1 << -1 << 1500 << 8.0 << 0.9 << 1.1 << 4;
    QTest::newRow("corner") << 2 << -1 << -1 << 1500 << 25.0 << 0.0 << 1.6 << 4;
    QTest::newRow("after a corner") << 2 << -1 << -1 << 8000 << 8.0 << 0.9 << 1.1 << 4;
    QTest::newRow("burst of outliers") << 1 << 3000 << -1 << 1500 << 8.0 << 0.9 << 1.1 << 4;
    // With three distances no fix can betray a long one: the track must.
    QTest::newRow("outliers, three anchors") << 1 << 3000 << -1 << 1500 << 8.0 << 0.9 << 1.1 << 3;
    QTest::newRow("outliers from the first sample") << 0 << 0 << -1 << 0 << 20.0 << 0.0 << 0.3 << 4;
    QTest::newRow("silent and back") << 1 << -1 << 3000 << 6000 << 10.0 << 0.0 << 1.6 << 4;
}

void TestTracking::filter()
{
    QFETCH(int, path);
    QFETCH(int, outliersFrom);
    QFETCH(int, silentFrom);
    QFETCH(int, checkFrom);
    QFETCH(double, maxError);
    QFETCH(double, minSpeed);
    QFETCH(double, maxSpeed);
    QFETCH(int, anchorCount);
    const QList<Anchor> anchors = room.mid(0, anchorCount);
    std::mt19937 rng(5);
    TrackFilter f;
    const QTime start(10, 0);
    double worst = 0;
    QVector<double> speeds;
    for (int ms = 0; ms <= 10000; ms += 100) {
        if (silentFrom >= 0 && ms >= silentFrom && ms < silentFrom + 3000)
            continue;
        // During the burst one distance in every sample is bad, and every
        // fifth sample all of them.
        const bool burst = outliersFrom >= 0 && ms >= outliersFrom && ms < outliersFrom + 2000;
        const int bad = !burst ? -1 : (ms / 100) % 5 == 4 ? anchors.size() : (ms / 100) % anchors.size();
        RangingSample s(dLine("2B01", truthAt(path, ms), anchors, 5, &rng, bad));
        s.parse();
        f.addSample(usableDistances(&s, anchors), anchors, start.addMSecs(ms));
        QPointF p, v;
        QVERIFY(f.estimate(start.addMSecs(ms), &p, &v));
        if (ms < checkFrom)
            continue;
        const QPointF e = p - truthAt(path, ms);
        worst = qMax(worst, std::hypot(e.x(), e.y()));
        speeds << std::hypot(v.x(), v.y()) / 100;
    }
    // What the label shows nearly always; one noisy sample may flick it.
    std::sort(speeds.begin(), speeds.end());
    const double slowest = speeds.at(speeds.size() / 10), fastest = speeds.at(speeds.size() * 9 / 10);
    QVERIFY2(worst <= maxError, qPrintable(QString("error up to %1 cm").arg(worst)));
    QVERIFY2(slowest >= minSpeed && fastest <= maxSpeed, qPrintable(QString("speed %1..%2").arg(slowest).arg(fastest)));
    QCOMPARE(f.rejectedDistances() > 0, outliersFrom >= 0);
    QCOMPARE(f.starts(), silentFrom >= 0 ? 2 : 1);
    QVERIFY2(qAbs(f.distanceNoise() - 5) < 1.5, qPrintable(QString::number(f.distanceNoise())));   // as simulated
}

// The real moving run, made k times faster as scripts/speedup.py does (every
// k-th line of each tag, every time divided by k), through the positioning
// step as the batch mode runs it: up to 1.4 m/s the filter never does worse
// than the raw fix, for any tag; and its 95 % ellipses hold the truth most of
// the time, though much of the error is the carrier's body blocking anchors
// by heading, which the distances' white noise does not show.
namespace {

// One real set: its ranging lines at their recording times, and each tag's
// true track.
struct RealSet {
    QList<QPair<qint64, QByteArray>> lines;
    QMap<QString, QVector<QPair<qint64, QPointF>>> truth;

    QPointF truthAt(const QString& tag, double ms) const
    {
        const auto& t = truth[tag];
        auto it = std::lower_bound(t.begin(), t.end(), ms, [](const QPair<qint64, QPointF>& p, double v) { return p.first < v; });
        if (it == t.begin() || it == t.end())
            return (it == t.end() ? t.last() : t.first()).second;
        const auto& a = *(it - 1);
        const double f = (ms - a.first) / double(it->first - a.first);
        return a.second + (it->second - a.second) * f;
    }
};

RealSet readRealSet(const QString& name)
{
    RealSet set;
    const QString dir = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/data/realdata/" + name + "/";
    const QByteArray bytes = readFileBytes(dir + "rec.orec");
    if (!bytes.startsWith("ORVANE-RECORDING 1\n"))
        return set;
    for (int pos = 19; pos + 8 <= bytes.size();) {
        auto u32 = [&](int at) { return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData() + at)); };
        const qint64 ms = u32(pos);
        const int length = int(u32(pos + 4));
        for (const QByteArray& line : bytes.mid(pos + 8, length).split('\n'))
            if (line.startsWith("$PD,"))
                set.lines.append({ms, line.trimmed()});
        pos += 8 + length;
    }
    for (const QByteArray& row : readFileBytes(dir + "truth.csv").split('\n').mid(1)) {
        const QList<QByteArray> f = row.trimmed().split(',');
        if (f.size() >= 4)
            set.truth[f.at(1)].append({f.at(0).toLongLong(), QPointF(f.at(2).toDouble(), f.at(3).toDouble())});
    }
    return set;
}

// The lab of the real sets, with the given offsets (cm) per anchor.
ModuleSetup realLab(const std::array<int, 4>& offsets)
{
    ModuleSetup modules;
    modules.anchors = {Anchor("0A01", "M", Qt::red, -342, 301, 104, true, offsets[0]),
                       Anchor("0A02", "A1", Qt::red, 361, 298, 105, false, offsets[1]),
                       Anchor("0A03", "A2", Qt::red, 357, -301, 104, false, offsets[2]),
                       Anchor("0A04", "A3", Qt::red, -347, -296, 104, false, offsets[3])};
    for (const char* id : {"2E00", "2E01", "2E02"})
        modules.tags << Tag(id, id, Qt::red, false, false, true, true, false, false, false);
    return modules;
}

} // namespace

void TestTracking::realRunAtWalkingSpeed()
{
    const RealSet set = readRealSet("dynamic-mid");
    QCOMPARE(set.truth.size(), 3);
    QVERIFY(set.lines.size() > 3000);
    ModuleSetup modules = realLab({0, 0, 0, 0});
    int inside = 0, fixes = 0;
    for (const int k : {1, 2, 4, 6}) {
        PositioningStep step;
        QMap<QString, int> seen;
        QMap<QString, std::array<double, 3>> squares;   // filter, raw fix, count
        for (const auto& l : set.lines) {
            const QString tag = QString::fromLatin1(l.second.split(',').value(1));
            if (seen[tag]++ % k)
                continue;
            const QTime at = QTime(10, 0).addMSecs(int(l.first / k));
            step.addRangingLine(l.second, at);
            const PositioningPass pass = step.run(modules, {10, Smoothing::Kalman, {}}, at, l.first / k);
            for (const TagResult& r : pass.tags) {
                if (r.key != tag || !r.avgValid || !r.rawValid)
                    continue;
                const QPointF t = set.truthAt(tag, double(l.first));
                const QPointF e = r.avg - t, w = r.raw - t;
                std::array<double, 3>& sq = squares[tag];
                sq[0] += e.x() * e.x() + e.y() * e.y();
                sq[1] += w.x() * w.x() + w.y() * w.y();
                sq[2] += 1;
                ++fixes;
                inside += r.ellipse95().contains(Eigen::Vector2d(-e.x(), -e.y())) ? 1 : 0;
            }
        }
        QCOMPARE(squares.size(), 3);
        for (auto it = squares.constBegin(); it != squares.constEnd(); ++it) {
            const double filtered = std::sqrt(it.value()[0] / it.value()[2]), raw = std::sqrt(it.value()[1] / it.value()[2]);
            QVERIFY2(filtered <= raw, qPrintable(QString("x%1 %2: filter %3 cm, raw fix %4 cm").arg(k).arg(it.key())
                                                 .arg(filtered).arg(raw)));
        }
    }
    // 95 % promised; what the heading's blockage leaves, at least 80 %.
    QVERIFY2(inside * 100 >= fixes * 80, qPrintable(QString("%1 % inside").arg(inside * 100.0 / fixes)));
}

// Calibrated at one pose, scored at the other, through the batch mode as a
// user replays: where an anchor's error hides in the position of one tag, its
// ellipse must still hold the truth, on every set.
void TestTracking::realEllipsesAfterCalibration()
{
    const QString data = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/data/realdata/";
    QTemporaryDir dir;
    // What the offsets dialog proposes from the six headings at pose 5 (median per anchor).
    QByteArray cfg = readFileBytes(data + "static-pose2-heading0/room.cfg");
    const int offsets[4] = {-19, -14, -20, -28};
    for (int a = 0; a < 4; ++a)
        cfg.replace(QByteArray("Anchor") + QByteArray::number(a) + "-Offset=0",
                    QByteArray("Anchor") + QByteArray::number(a) + "-Offset=" + QByteArray::number(offsets[a]));
    QVERIFY(cfg.contains("Anchor3-Offset=-28"));
    QFile file(dir.filePath("calibrated.cfg"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(cfg) == cfg.size());
    file.close();
    QVector<double> halfAxes, errors;
    for (const QString heading : {"0", "60", "120", "180", "240", "300"}) {
        const QString set = "static-pose2-heading" + heading;
        const RealSet real = readRealSet(set);
        QCOMPARE(real.truth.size(), 3);
        BatchReplayOptions o;
        o.recording = data + set + "/rec.orec";
        o.settings = file.fileName();
        o.output = dir.filePath(set + ".csv");
        o.filter = "kalman";
        QString error;
        QVERIFY2(BatchReplay().run(o, &error), qPrintable(error));
        const QList<QByteArray> rows = readFileBytes(o.output).split('\n');
        const QList<QByteArray> head = rows.value(0).split(',');
        const int tag = head.indexOf("tag_id"), x = head.indexOf("avg_x_cm"), y = head.indexOf("avg_y_cm"),
                  ms = head.indexOf("rec_ms"), sx = head.indexOf("sigma_x_cm"), sy = head.indexOf("sigma_y_cm"),
                  rho = head.indexOf("rho_xy"), r95 = head.indexOf("r95_cm");
        QVERIFY(tag >= 0 && x >= 0 && y >= 0 && ms >= 0 && sx >= 0 && sy >= 0 && rho >= 0 && r95 >= 0);
        int inside = 0, fixes = 0;
        for (const QByteArray& row : rows.mid(1)) {
            const QList<QByteArray> f = row.split(',');
            if (f.size() < head.size() || f.at(sx).isEmpty() || f.at(x).isEmpty())
                continue;
            const QPointF e = QPointF(f.at(x).toDouble(), f.at(y).toDouble())
                              - real.truthAt(QString::fromLatin1(f.at(tag)), f.at(ms).toDouble());
            const double a = f.at(sx).toDouble(), b = f.at(sy).toDouble(), c = f.at(rho).toDouble() * a * b;
            Eigen::Matrix2d cov;
            cov << a * a, c, c, b * b;
            ++fixes;
            inside += ErrorEllipse::of95(cov).contains(Eigen::Vector2d(e.x(), e.y())) ? 1 : 0;
            halfAxes << f.at(r95).toDouble();
            errors << std::hypot(e.x(), e.y());
        }
        QVERIFY(fixes > 1500);
        QVERIFY2(inside * 100 >= fixes * 80, qPrintable(QString("heading %1: %2 % inside").arg(heading)
                                                        .arg(inside * 100.0 / fixes)));
    }
    // Not by ellipses too wide to tell anything.
    std::sort(halfAxes.begin(), halfAxes.end());
    std::sort(errors.begin(), errors.end());
    const double ratio = halfAxes.at(halfAxes.size() / 2) / errors.at(errors.size() / 2);
    QVERIFY2(ratio < 3.0, qPrintable(QString("median half-axis %1 x the median error").arg(ratio)));
}

// Speed from sample arrival times, whatever the passes' cadence; rate from the
// intervals between samples.
void TestTracking::speedAndRate()
{
    for (const Smoothing smoothing : {Smoothing::Average, Smoothing::Kalman}) {
        PositioningStep step;
        ModuleSetup modules;
        modules.anchors = room;
        modules.tags << Tag("2B01", "T", Qt::red, false, true, false, false, false, true, true);
        const QTime start(10, 0);
        QList<double> speeds;
        for (int ms = 0; ms <= 2500; ms += 37) {   // passes every 37 ms, samples every 250 ms
            if (ms % 250 < 37)
                step.addRangingLine(dLine("2B01", QPointF(200 + (ms / 250) * 25, 300), room),
                                    start.addMSecs(ms / 250 * 250));
            const PositioningPass pass = step.run(modules, {1, smoothing, {}}, start.addMSecs(ms), 0);
            QCOMPARE(pass.tags.size(), 1);
            if (ms >= 1500)
                speeds << pass.tags.first().speed;
            if (ms >= 1000)
                QCOMPARE(pass.tags.first().rate, 4.0);
        }
        for (double v : speeds)
            QVERIFY2(v > 0.9 && v < 1.1, qPrintable(QString::number(v)));
        QCOMPARE(modules.tags.first().speed(), speeds.last());
    }
}

void TestTracking::tagHeight_data()
{
    QTest::addColumn<int>("anchorZ");
    QTest::addColumn<int>("height");    // the tag height set; -1: none
    QTest::addColumn<int>("offset");    // of anchor 0
    QTest::addColumn<QPointF>("pos");   // the tag is truly at z 100
    QTest::addColumn<int>("dist0");     // distance to anchor 0 the step uses
    QTest::addColumn<double>("maxError");   // of the raw fix
    QTest::addColumn<int>("below");
    QTest::newRow("flat, no height") << 100 << -1 << 0 << QPointF(100, 100) << 141 << 1.5 << 0;
    QTest::newRow("high anchors, no height: distances as received") << 250 << -1 << 0 << QPointF(100, 100) << 206 << 1.5 << 0;
    QTest::newRow("high anchors, height set") << 250 << 100 << 0 << QPointF(100, 100) << 141 << 1.5 << 0;
    QTest::newRow("3-4-5") << 400 << 100 << 0 << QPointF(400, 0) << 400 << 1.5 << 0;
    // 158 measured, 118 after the offset, under the 150 height difference.
    QTest::newRow("shorter than the height difference") << 250 << 100 << -40 << QPointF(50, 0) << 1 << 60.0 << 3;
}

void TestTracking::tagHeight()
{
    QFETCH(int, anchorZ); QFETCH(int, height); QFETCH(int, offset); QFETCH(QPointF, pos);
    QFETCH(int, dist0); QFETCH(double, maxError); QFETCH(int, below);
    ModuleSetup modules;
    modules.anchors = room;
    for (Anchor& a : modules.anchors)
        a.z = anchorZ;
    modules.anchors[0].offset = offset;
    modules.tags << Tag("2B01", "T", Qt::red, true, true, false, false, false, true, true);
    PositioningOptions options;
    if (height >= 0)
        options.tagHeight = height;
    PositioningStep step;
    const QTime start(10, 0);
    PositioningPass pass;
    for (int ms = 0; ms < 300; ms += 100) {   // three samples, a pass after each
        QByteArray line = "$PD,2B01";
        for (const Anchor& a : room)
            line += ',' + QByteArray::number(qRound(std::sqrt(std::pow(pos.x() - a.x, 2) + std::pow(pos.y() - a.y, 2)
                                                              + std::pow(anchorZ - 100, 2))), 16);
        step.addRangingLine(line + "\r\n", start.addMSecs(ms));
        pass = step.run(modules, options, start.addMSecs(ms), 0);
    }
    QCOMPARE(pass.tags.size(), 1);
    const TagResult r = pass.tags.first();
    QCOMPARE(r.rawDist.value(0), dist0);
    QCOMPARE(r.avgDist.value(0), dist0);
    QCOMPARE(r.belowHeight, quint64(below));   // each sample counted once, not once per pass
    const double error = std::hypot(r.raw.x() - pos.x(), r.raw.y() - pos.y());
    QVERIFY2(error <= maxError, qPrintable(QString("error %1 cm").arg(error)));
}

void TestTracking::batchErrors_data()
{
    QTest::addColumn<QString>("recording");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("extra");
    QTest::newRow("fine") << "rec.orec" << "demo" << "out.csv" << 0 << QStringList{"--distances"};
    QTest::newRow("no recording") << "missing.orec" << "demo" << "out.csv" << 2 << QStringList();
    QTest::newRow("not a recording") << "demo" << "demo" << "out.csv" << 2 << QStringList();
    QTest::newRow("no settings") << "rec.orec" << "missing.cfg" << "out.csv" << 2 << QStringList();
    QTest::newRow("not a settings file") << "rec.orec" << "foreign" << "out.csv" << 2 << QStringList();
    QTest::newRow("unwritable output") << "rec.orec" << "demo" << "nodir/out.csv" << 2 << QStringList();
    QTest::newRow("broker refuses") << "rec.orec" << "demo" << "out.csv" << 2 << QStringList{"--mqtt", "127.0.0.1:1"};
    QTest::newRow("no broker named") << "rec.orec" << "demo" << "out.csv" << 2 << QStringList{"--mqtt", ":1883"};
    QTest::newRow("calibrate, unknown tag") << "rec.orec" << "demo" << "out.csv" << 2 << QStringList{"--calibrate-at", "2B09=300,400"};
    QTest::newRow("calibrate, no ranges") << "rec.orec" << "demo" << "out.csv" << 2 << QStringList{"--calibrate-at", "2B02=300,400"};
    QTest::newRow("point not X,Y") << "rec.orec" << "demo" << "out.csv" << 2 << QStringList{"--accuracy-at", "2B01=300"};
}

// Without a display; a failure says why in one line, exits with 2 and leaves
// whatever was there before.
void TestTracking::batchErrors()
{
    QFETCH(QString, recording);
    QFETCH(QString, settings);
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(QStringList, extra);
    QTemporaryDir dir;
    RecordingWriter rec;
    QVERIFY(rec.open(dir.filePath("rec.orec")));
    rec.append(5, dLine("2B01", QPointF(300, 400), room));
    rec.append(20, dLine("2B01", QPointF(300, 400), room));
    rec.close();
    QVERIFY(writeFileBytes(dir.filePath("out.csv"), "old\n"));
    QTemporaryDir other;   // beside the checked folder
    QVERIFY(writeFileBytes(other.filePath("foreign.cfg"), "[General]\nfoo=1\n"));
    auto path = [&](const QString& name) {
        return name == "demo" ? demoCfg() : name == "foreign" ? other.filePath("foreign.cfg") : dir.filePath(name);
    };
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(var);
    p.setProcessEnvironment(env);
    p.start(binary(), QStringList{"--replay", path(recording), "--settings", path(settings), "--export", path(output)} + extra);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), exitCode);
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);   // no temporary file left
    const QByteArray csv = readFileBytes(dir.filePath("out.csv"));
    // Raw positions although the settings do not show them; the distances used, by anchor.
    const QList<QByteArray> row = csv.split('\n').value(1).split(',');
    if (exitCode == 0)
        QVERIFY2(csv.startsWith(PositionExport::header({"1A2B", "3C4D", "5E6F", "7A80"})) && csv.count('\n') == 3
                     && !row.value(3).isEmpty() && row.value(10) == "500" && row.value(11) == "806", csv.constData());
    else
        QVERIFY2(csv == "old\n" && err.startsWith("orvane: "), err.constData());
}

// "Offsets einmessen" cannot wreck the setup: a walking tag proposes nothing,
// and rows that fail the checks are applied only when ticked anyway.
void TestTracking::guardedCalibration()
{
    MainWin w;
    w.modules.anchors = room;
    for (Anchor& a : w.modules.anchors)
        a.offset = 25;
    w.modules.tags = {Tag("2B02", "Stativ", Qt::red, false, true, false, false, false, false, false)};
    findButton(&w, "btnCalibrateOffsets")->click();
    KnownPointDialog* d = w.findChild<KnownPointDialog*>();
    QVERIFY(d && d->isVisible());
    auto* tags = d->findChild<QComboBox*>("cmbTag");
    QVERIFY(tags->currentIndex() == -1 && tags->itemText(0) == "Stativ (2B02)");
    tags->setCurrentIndex(0);
    d->findChild<QLineEdit*>("edtX")->setText("300");
    d->findChild<QLineEdit*>("edtY")->setText("400");
    d->findChild<QSpinBox*>("spnDuration")->setValue(1);
    auto* apply = findButton(d, "btnApply");
    auto* anyway = d->findChild<QCheckBox*>("chkApplyAnyway");
    auto* warning = d->findChild<QLabel*>("lblWarning");
    auto collect = [&](auto at) {
        findButton(d, "btnReset")->click();
        findButton(d, "btnStart")->click();
        for (int i = 0; i < 40; ++i)
            emit w.rangingLineStored(dLine("2B02", at(i), room), QTime::currentTime());
        return waitUntil([&] { return findButton(d, "btnStart")->isEnabled(); }, 3000);
    };
    // Walking 1 m/s past the point: no proposal at all.
    QVERIFY(collect([](int i) { return QPointF(100 + 10 * i, 400); }));
    QVERIFY2(warning->text().startsWith("Der Tag 2B02 bewegt sich"), qPrintable(warning->text()));
    QVERIFY(d->findChild<QTableWidget*>("tblResult")->rowCount() == 0 && !apply->isEnabled() && anyway->isHidden());
    // Standing, but 40 ranges per anchor are fewer than 50: only when ticked anyway.
    QVERIFY(collect([](int) { return QPointF(300, 400); }));
    QVERIFY2(warning->text().contains("weniger als 50 Messungen"), qPrintable(warning->text()));
    QVERIFY(!apply->isEnabled() && !anyway->isHidden());
    apply->click();
    QCOMPARE(w.modules.anchors.at(0).offset, 25);
    anyway->setChecked(true);
    QVERIFY(apply->isEnabled());
    apply->click();
    for (const Anchor& a : w.modules.anchors)
        QCOMPARE(a.offset, 0);
}

// Real radios: a tag parked at a pose never wanders near the limit, the
// trolley pushed about always goes far beyond it; the batch mode refuses
// that one in one line with exit code 2.
void TestTracking::calibrateOnRealData()
{
    const QString data = qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/data/realdata/";
    auto run = [&](const QString& set, const QString& tag, QString* error) {
        // Each tag's mean true place over the run.
        QPointF sum;
        int n = 0;
        for (const QByteArray& row : readFileBytes(data + set + "/truth.csv").split('\n').mid(1)) {
            const QList<QByteArray> f = row.split(',');
            if (f.size() >= 4 && f.at(1) == tag.toLatin1()) {
                sum += QPointF(f.at(2).toDouble(), f.at(3).toDouble());
                ++n;
            }
        }
        BatchReplayOptions o;
        o.recording = data + set + "/rec.orec";
        o.settings = data + set + "/room.cfg";
        o.calibrateAt = {{tag, sum / qMax(n, 1)}};
        BatchReplay batch;
        return batch.run(o, error);
    };
    QString error;
    for (const char* set : {"static-pose2-heading0", "static-pose5-heading180"})
        for (const char* tag : {"2E00", "2E01", "2E02"})
            QVERIFY2(run(set, tag, &error), qPrintable(QString("%1 %2: %3").arg(set, tag, error)));
    QVERIFY(!run("dynamic-mid", "2E01", &error));
    QVERIFY2(error.startsWith("tag 2E01 moves during the calibration"), qPrintable(error));
    QProcess p;
    p.start(binary(), {"--replay", data + "dynamic-mid/rec.orec", "--settings", data + "dynamic-mid/room.cfg",
                       "--calibrate-at", "2E00=0,0"});
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == 2 && err.count('\n') == 1 && err.startsWith("orvane: tag 2E00 moves"), err.constData());
}

#ifdef ORVANE_HAVE_SIM

// The batch mode writes exactly the rows of a replay in the window at
// "so schnell wie möglich".
void TestTracking::batchEqualsWindowReplay()
{
    QTemporaryDir dir;
    MasterStandIn master(Scenario::builtIn());
    QVERIFY(master.setRecordFile(dir.filePath("s.orec")));
    master.runOffline(20000);
    SettingsData cfg;
    QVERIFY(readSettingsFile(demoCfg(), cfg));
    QCOMPARE(cfg.filter, QString("kalman"));
    SettingsData old;   // files from before the filter: the plain average
    QVERIFY(writeFileBytes(dir.filePath("old.cfg"), "[General]\nAnchorCount=0\nAverage=10\n") && readSettingsFile(dir.filePath("old.cfg"), old));
    QCOMPARE(old.filter, QString("average"));
    BatchReplay batch;
    QString error;
    BatchReplayOptions options{dir.filePath("s.orec"), demoCfg(), dir.filePath("batch.csv"), {}, 0, {}, 0};
    options.linkQuality = true;
    QVERIFY2(batch.run(options, &error), qPrintable(error));
    // The links over the whole recording: a row per tag and per link, the stand-in's outliers left out.
    const QStringList links = batch.report();
    QCOMPARE(links.size(), 1 + cfg.tags.size() * (1 + cfg.anchors.size()));
    int leftOut = 0;
    for (const QString& row : links) {
        const QStringList link = row.simplified().split(' ');   // tag, anchor, lines/s, missing, left out, ...
        leftOut += link.size() == 7 && link.value(4) != "0.0%";
    }
    QVERIFY2(links.value(2).simplified().startsWith("2B01 " + cfg.anchors.value(0).id + " 10.") && leftOut > 0,
             qPrintable(links.join('\n')));

    MainWin w;
    w.resize(1200, 900);
    w.show();
    w.modules.anchors = cfg.anchors;
    w.modules.tags = cfg.tags;
    w.findChild<QComboBox*>("cmbFilter")->setCurrentIndex(1);   // "Kalman"
    QVERIFY(w.startReplay(dir.filePath("s.orec"), 0));
    QVERIFY(waitUntil([&] { return !w.isReplaying(); }, 30000));
    const QByteArray window = readFileBytes(dir.filePath("s.replay-kalman.csv"));
    QVERIFY(window.count('\n') > 300);
    QCOMPARE(readFileBytes(dir.filePath("batch.csv")), window);
}

// The stand-in's room through recording, batch mode and filter: the filtered
// positions stay near the truth, outliers included (raw fixes jump metres,
// the plain average lags half a metre behind the walker).
void TestTracking::filteredOnStandIn()
{
    QTemporaryDir dir;
    MasterStandIn master(Scenario::builtIn());
    QVERIFY(master.setRecordFile(dir.filePath("s.orec")));
    master.runOffline(60000);
    BatchReplay batch;
    QString error;
    QVERIFY(batch.run({dir.filePath("s.orec"), demoCfg(), dir.filePath("k.csv"), "kalman", 10, {}, 0}, &error));
    const QList<QByteArray> rows = readFileBytes(dir.filePath("k.csv")).split('\n').mid(1, -1);
    double sum = 0, worst = 0;
    int n = 0;
    for (const QByteArray& row : rows) {
        const QList<QByteArray> f = row.split(',');
        QPointF truth;
        if (f.size() < 10 || f.at(9).toInt() < 1000 || !master.scenario().positionAt(f.at(1), f.at(9).toInt(), &truth))
            continue;
        const double e = std::hypot(f.at(5).toDouble() - truth.x(), f.at(6).toDouble() - truth.y());
        sum += e * e;
        worst = qMax(worst, e);
        ++n;
    }
    QVERIFY(n > 1000);
    qInfo("filtered: RMS %.1f cm, max %.1f cm over %d rows", std::sqrt(sum / n), worst, n);
    QVERIFY(std::sqrt(sum / n) < 12 && worst < 50);
}

// "Offsets einmessen" and "Genauigkeit prüfen" on the stand-in's standing tag,
// replayed in real time: the unbiased stand-in proposes offsets near 0 in
// place of the 25 cm set before, Ctrl+Z puts those back, and the accuracy
// report names the standing tag's small error and is saved as CSV.
void TestTracking::knownPointFlows()
{
    QTemporaryDir dir;
    MasterStandIn master(Scenario::builtIn());
    QVERIFY(master.setRecordFile(dir.filePath("s.orec")));
    master.runOffline(12000);
    MainWin w;
    w.show();
    QVERIFY(w.loadSettings(demoCfg(), false));
    for (Anchor& a : w.modules.anchors)
        a.offset = 25;
    ModalAnswerer boxes;
    // A name without an ending gets ".csv", and the dialog says where it went.
    w.setFileChoosers(nullptr, [&](const QString&, const QString&) { return dir.filePath("report"); });
    QVERIFY(w.startReplay(dir.filePath("s.orec"), 1.0));
    for (const char* opener : {"btnCalibrateOffsets", "btnCheckAccuracy"}) {
        findButton(&w, opener)->click();
        KnownPointDialog* d = nullptr;
        for (KnownPointDialog* c : w.findChildren<KnownPointDialog*>())
            if (c->isVisible())
                d = c;
        QVERIFY(d);
        auto* tags = d->findChild<QComboBox*>("cmbTag");
        tags->setCurrentIndex(tags->findData("2B02"));
        d->findChild<QLineEdit*>("edtX")->setText("300");
        d->findChild<QLineEdit*>("edtY")->setText("400");
        d->findChild<QSpinBox*>("spnDuration")->setValue(2);
        findButton(d, "btnStart")->click();
        QVERIFY(!findButton(d, "btnStart")->isEnabled());
        QVERIFY(waitUntil([&] { return findButton(d, "btnStart")->isEnabled(); }, 5000));
        auto* table = d->findChild<QTableWidget*>("tblResult");
        if (QByteArray(opener) == "btnCalibrateOffsets")   // 2 s give fewer than 50 ranges
            d->findChild<QCheckBox*>("chkApplyAnyway")->setChecked(true);
        findButton(d, "btnApply")->click();
        if (QByteArray(opener) == "btnCalibrateOffsets") {
            QCOMPARE(table->rowCount(), 4);
            for (int r = 0; r < 4; ++r) {
                QVERIFY2(qAbs(table->item(r, 3)->text().toInt()) <= 3, qPrintable(table->item(r, 3)->text()));
                QVERIFY(table->item(r, 5)->text().toInt() >= 15);
                QCOMPARE(w.modules.anchors.at(r).offset, table->item(r, 3)->text().toInt());
            }
            for (QAction* a : w.actions())
                if (a->shortcut() == QKeySequence(QKeySequence::Undo))
                    a->trigger();
            for (const Anchor& a : w.modules.anchors)
                QCOMPARE(a.offset, 25);
        } else {
            QCOMPARE(table->rowCount(), 2);   // raw fix and shown position
            QVERIFY2(table->item(1, 8)->text().toDouble() < 10, qPrintable(table->item(1, 8)->text()));   // CEP50
            const QList<QByteArray> csv = readFileBytes(dir.filePath("report.csv")).split('\n');
            QVERIFY(csv.value(0).contains("cep50_cm"));
            QVERIFY(csv.value(2).startsWith("2B02,300,400,shown,"));
            QCOMPARE(boxes.texts().last(), "Bericht gespeichert:\n" + QDir::toNativeSeparators(dir.filePath("report.csv")));
        }
        d->close();
    }
    w.stopReplay();
}

// The stand-in with a real radio's errors, calibrated by the batch mode at the
// standing tag: a pair's bias comes back as its offset; a wall or the tag's
// body delays only the anchors behind it, by the median of the exponential
// delay (mean x ln 2).
void TestTracking::calibrateOnStandIn_data()
{
    QTest::addColumn<QByteArray>("errors");   // scenario keys
    QTest::addColumn<QByteArray>("tagKeys");
    QTest::addColumn<QList<int>>("offsets");
    QTest::newRow("bias per pair") << QByteArray() << QByteArray(R"("bias": {"1A2B": 18, "3C4D": 25, "5E6F": -7})")
                                   << QList<int>{-18, -25, 7, 0};
    QTest::newRow("wall") << QByteArray(R"("nlos": 40, "walls": [[800, 500, 800, 900]],)") << QByteArray(R"("heading": 0)")
                          << QList<int>{0, 0, -28, 0};
    QTest::newRow("body") << QByteArray(R"("nlos": 40,)") << QByteArray(R"("heading": 45, "body": 60)")
                          << QList<int>{-28, 0, 0, 0};
}

void TestTracking::calibrateOnStandIn()
{
    QFETCH(QByteArray, errors); QFETCH(QByteArray, tagKeys); QFETCH(QList<int>, offsets);
    QTemporaryDir dir;
    Scenario sc;
    const QByteArray json = R"({"noise": 3, "tail": 0.05, "dropout": 0, "outliers": 0, )" + errors + R"(
        "anchors": [{"id": "1A2B", "x": 0, "y": 0}, {"id": "3C4D", "x": 1000, "y": 0},
                    {"id": "5E6F", "x": 1000, "y": 800}, {"id": "7A80", "x": 0, "y": 800}],
        "tags": [{"id": "2B02", "position": [300, 400], )" + tagKeys + "}]}";
    QString error;
    QVERIFY2(sc.loadJson(json, &error), qPrintable(error));
    MasterStandIn master(sc);
    QVERIFY(master.setRecordFile(dir.filePath("s.orec")));
    master.runOffline(30000);
    BatchReplayOptions o;
    o.recording = dir.filePath("s.orec");
    o.settings = demoCfg();
    o.calibrateAt = {{"2B02", QPointF(300, 400)}};
    o.writeSettings = dir.filePath("out.cfg");
    BatchReplay batch;
    QVERIFY2(batch.run(o, &error), qPrintable(error));
    SettingsData written;
    QVERIFY(readSettingsFile(o.writeSettings, written));
    QCOMPARE(batch.report().size(), 5);   // header and four anchors
    for (int a = 0; a < 4; ++a)
        QVERIFY2(qAbs(written.anchors.at(a).offset - offsets.at(a)) <= 4,
                 qPrintable(batch.report().join('\n')));
}

#else
void TestTracking::calibrateOnStandIn() { QSKIP("built without the stand-in"); }
void TestTracking::knownPointFlows() { QSKIP("built without the stand-in"); }
void TestTracking::batchEqualsWindowReplay() { QSKIP("built without the stand-in"); }
void TestTracking::filteredOnStandIn() { QSKIP("built without the stand-in"); }
#endif

QTEST_MAIN(TestTracking)
#include "tst_tracking.moc"
