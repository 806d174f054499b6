#include "calibration.h"
#include "chartdrawing.h"
#include "cominterface.h"
#include "configcommand.h"
#include "coveragemap.h"
#include "dilution.h"
#include "errorellipse.h"
#include "errorstatistics.h"
#include "knownpointcollector.h"
#include "linkquality.h"
#include "framing.h"
#include "qflatcombobox.h"
#include "rangingsample.h"
#include "solver.h"
#include "tagmeasurement.h"
#include "testsupport.h"

#include <QtTest>

#include <climits>
#include <cmath>

// The window-free functions: wire formats, positioning, chart geometry and drawing.
class TestUnits : public QObject
{
    Q_OBJECT
private slots:
    void framing_data();
    void framing();
    void rangingLine_data();
    void rangingLine();
    void replyMatching();
    void moduleList_data();
    void moduleList();
    void configCommand_data();
    void configCommand();
    void solver_data();
    void solver();
    void dilution_data();
    void dilution();
    void distances_data();
    void distances();
    void rateExpiryAndSpeed();
    void geometry_data();
    void geometry();
    void calibration_data();
    void calibration();
    void drawing();
    void offsetProposal_data();
    void offsetProposal();
    void errorStatistics_data();
    void errorStatistics();
    void coverage_data();
    void coverage();
    void linkQuality_data();
    void linkQuality();
    void roomsKeepTheirWays();
};

using Lines = QList<QByteArray>;
using Numbers = QList<double>;

void TestUnits::framing_data()
{
    QTest::addColumn<Lines>("batches");
    QTest::addColumn<Lines>("packets");   // the packet lines handed on
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("split") << Lines{"$PX,1A", "2B,1.0\r\n"} << Lines{"$PX,1A2B,1.0\r\n"} << QByteArray();
    QTest::newRow("junk, line, tail") << Lines{"abc$PX,1,2\r\n$PD,1A"} << Lines{"$PX,1,2\r\n"} << QByteArray("$PD,1A");
    QTest::newRow("$ inside a line") << Lines{"$PD,1\r\nxx$PK,1$2\r\n"} << Lines{"$PD,1\r\n", "$PK,1$2\r\n"} << QByteArray();
    QTest::newRow("feed before any $") << Lines{"zz\n", "$PR,5\r\n"} << Lines{"$PR,5\r\n"} << QByteArray();
    QTest::newRow("no packet letter") << Lines{"$\n$QD,1\n$PD\n"} << Lines{"$PD\n"} << QByteArray();
    QTest::newRow("megabyte without feed") << Lines{QByteArray(1 << 20, 'a'), "$PD,2\r\n"} << Lines{"$PD,2\r\n"} << QByteArray();
    // The flood's last "$" starts a junk line that the next feed ends.
    QTest::newRow("flood of $") << Lines{QByteArray(5000, '$'), "$PD,1\r\n", "$PD,2\r\n"} << Lines{"$PD,2\r\n"} << QByteArray();
    QTest::newRow("run-on line") << Lines{"$PD,1," + QByteArray(8000, '1'), ",1F4\r\n$PD,2\r\n"} << Lines{"$PD,2\r\n"} << QByteArray();
    const QByteArray longest = "$PD," + QByteArray(Framing::MaxLineBytes - 5, '1') + "\n";
    QTest::newRow("longest line") << Lines{longest, "$PD,1" + longest.mid(4)} << Lines{longest} << QByteArray();
}

void TestUnits::framing()
{
    QFETCH(Lines, batches);
    QByteArray buffer;
    Lines packets;
    for (const QByteArray& b : batches) {
        Framing::forEachLine(Framing::takeCompleteLines(buffer, b), [&](const QByteArray& l) {
            if (Framing::isPacketLine(l))
                packets << l;
        });
        QVERIFY(buffer.size() <= Framing::MaxPendingBytes);
    }
    QTEST(packets, "packets");
    QTEST(buffer, "rest");
}

void TestUnits::rangingLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QList<int>>("cm");
    QTest::newRow("plain") << QByteArray("$PD,1A2B,1F4,0,3E8\r\n") << true << "1A2B" << QList<int>{500, 0, 1000};
    QTest::newRow("bad fields") << QByteArray("$PD,1A2B,1F4,zz,\r\n") << false << "1A2B" << QList<int>{500, 0, 0};
    // Up to 1 km; signs, blanks and "0x" are read, negative values are no distance.
    QTest::newRow("range and forms") << QByteArray("$PD,1A2B,186A0,186A1,-1F4, 1f4 ,+1F4,0x1F4,-0\r\n") << true << "1A2B"
                                     << QList<int>{100000, 0, 0, 500, 500, 500, 0};
    QTest::newRow("too short") << QByteArray("$PD,1A2B\r\n") << false << QString() << QList<int>{};
    QTest::newRow("NUL in id") << QByteArray("$PD, 1a\0zz,FFFFFFFFFF,,7FFFFFFF\r\n", 33) << false << " 1a" << QList<int>{0, 0, 0};
    QTest::newRow("Latin-1 id") << QByteArray("$PD,\xe4\xf6,1\n") << true << QString::fromLatin1("\xe4\xf6") << QList<int>{1};
}

void TestUnits::rangingLine()
{
    QFETCH(QByteArray, line);
    RangingSample s(line);
    QTEST(s.parse(), "ok");
    QTEST(s.tagId, "tag");
    QTEST(s.distances, "cm");
    QCOMPARE(s.distanceAt(s.distances.size()) + s.distanceAt(-1), 0);
}

void TestUnits::replyMatching()
{
    // Exact: the identical line, field by field. Loose: any packet line.
    QVERIFY(replyMatches("$PW,1,\r\n", "$PW,1,\r\n", false));
    for (const char* other : {"$PW,1,\n", "$PW,0,\r\n", "$PW,1,,\r\n", "$Pw,1,\r\n"})
        QVERIFY2(!replyMatches("$PW,1,\r\n", other, false), other);
    QVERIFY(replyMatches("$PS,\r\n", "$PD,1A2B,1F4\r\n", true) && replyMatches("$PS,\r\n", "$PX,1A2B,1.0\r\n", true));
    for (const char* other : {"$PDX,1\r\n", "$P\r\n", ""})
        QVERIFY2(!replyMatches("$PS,\r\n", other, true), other);
}

// Records as "id" (new ones are named after it), "id=name" otherwise, '*' for the master.
static QString describe(const ModuleSetup& m)
{
    QStringList out;
    for (const Anchor& a : m.anchors)
        out << a.id + (a.master ? "*" : "") + (a.name != a.id ? "=" + a.name : QString());
    out << "/";
    for (const Tag& t : m.tags)
        out << t.id + (t.name != t.id ? "=" + t.name : QString());
    return out.join(' ');
}

void TestUnits::moduleList_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("records");   // empty: refused, nothing changes
    QTest::newRow("same list") << QByteArray("$PK,1A2B,2,1,3C4D,5E6F,7A8B,\r\n") << "1A2B*=Haupt 3C4D=Ost 5E6F / 7A8B=Wagen";
    QTest::newRow("drop and add") << QByteArray("$PK,1A2B,1,2,5E6F,7A8B,ABCD\r\n") << "1A2B*=Haupt 5E6F / 7A8B=Wagen ABCD";
    QTest::newRow("case and blanks") << QByteArray("$PK, 1a2b ,1,1, 3c4d ,7a8b\r\n") << "1A2B*=Haupt 3C4D=Ost / 7A8B=Wagen";
    QTest::newRow("new master") << QByteArray("$PK,3C4D,1,0,1A2B\r\n") << "1A2B=Haupt 3C4D*=Ost /";
    QTest::newRow("too few fields") << QByteArray("$PK,1A2B,2\r\n") << "/";
    for (const char* line : {"$PK,1A2B,3,0,3C4D,5E6F\r\n", "$PK,1A2B,2,2,3C4D,5E6F,7A8B\r\n", "$PK,0,0,0\r\n",
                             "$PK,XYZ,2,1,3C4D,5E6F,7A8B\r\n", "$PK,1A2B,Z,1,3C4D,5E6F,7A8B\r\n", "$PK,1A2B,-1,1,3C4D\r\n",
                             "$PK,1A2B,FFFFFFFF,1,3C4D,2B01\r\n", "$PK,1A2B,1FFFFFFFFFFFFFFFF,0,3C4D\r\n"})
        QTest::newRow(QByteArray(line).trimmed()) << QByteArray(line) << "";
    // At most 256 anchors, and 256 tags, in one list.
    for (int n : {ModuleSetup::MaxListedModules, ModuleSetup::MaxListedModules + 1}) {
        QByteArray line = "$PK,1A2B,0," + QByteArray::number(n, 16);
        QString records = "1A2B*=Haupt /";
        for (int i = 0; i < n; ++i)
            line += "," + QByteArray::number(0x1000 + i, 16).toUpper(), records += QString(" %1").arg(0x1000 + i, 0, 16).toUpper();
        QTest::newRow(qPrintable(QString("%1 tags").arg(n))) << line + "\r\n" << (n <= ModuleSetup::MaxListedModules ? records : "");
    }
}

void TestUnits::moduleList()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, records);
    ModuleSetup m = setupOf("1A2B* 3C4D 5E6F", "7A8B");
    m.anchors[0].name = "Haupt";
    m.anchors[1].name = "Ost";
    m.tags[0].name = "Wagen";
    const QString before = describe(m);
    QCOMPARE(m.applyModuleList(line, colorList), !records.isEmpty());
    QCOMPARE(describe(m), records.isEmpty() ? before : records);
    QCOMPARE(m.findTag(" 7a8b "), records.contains("7A8B") || records.isEmpty() ? 0 : -1);
    // A new tag takes a colour no module has, and once all are taken one of the
    // least used: no colour is held more often than an even share.
    const QList<QColor> colours = m.colors();
    for (const Tag& t : qAsConst(m.tags))
        if (t.id != "7A8B")
            QVERIFY2(colours.count(t.color) <= 1 + (colours.size() - 1) / (colorList.size() - 1) && t.color != QColor(Qt::black),
                     qPrintable(t.id));
}

void TestUnits::configCommand_data()
{
    QTest::addColumn<QString>("anchors");
    QTest::addColumn<QString>("tags");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("no anchors") << "" << "7A8B" << QByteArray();
    QTest::newRow("master alone") << "1A2B*" << "" << QByteArray("$PK,1A2B,0,0,\r\n");
    QTest::newRow("upper case") << "ab12* cd34 5e6f" << "ef56" << QByteArray("$PK,AB12,2,1,CD34,5E6F,EF56,\r\n");
    QTest::newRow("last master") << "1111* 3C4D 2222*" << "" << QByteArray("$PK,2222,2,0,3C4D,\r\n");
    QString anchors = "1A2B*", tags, ids;
    for (int i = 0; i < 11; ++i)
        anchors += QString(" %1").arg(0x100 + i, 0, 16), ids += QString("%1,").arg(0x100 + i, 0, 16);
    for (int i = 0; i < 26; ++i)
        tags += QString(" %1").arg(0x200 + i, 0, 16), ids += QString("%1,").arg(0x200 + i, 0, 16);
    QTest::newRow("hex counts") << anchors << tags << ("$PK,1A2B,B,1A," + ids.toUpper() + "\r\n").toLatin1();
}

void TestUnits::configCommand()
{
    QFETCH(QString, anchors);
    QFETCH(QString, tags);
    QTEST(buildConfigCommand(setupOf(anchors, tags)).toLatin1(), "line");
}

using Points = QList<QPointF>;

void TestUnits::solver_data()
{
    QTest::addColumn<Points>("anchors");
    QTest::addColumn<QList<float>>("cm");
    QTest::addColumn<QPointF>("expected");
    const Points room = {{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    QTest::newRow("three") << Points{{0, 0}, {1000, 0}, {0, 1000}} << QList<float>{707.1068f, 707.1068f, 707.1068f} << QPointF(500, 500);
    QTest::newRow("off centre") << room << QList<float>{360.5551f, 728.011f, 921.9545f, 670.8204f} << QPointF(300, 200);
    // One distance 3 m too long: the least-squares answer over all six pairs,
    // not over the three pairs with the first anchor (382, -5).
    QTest::newRow("all pairs") << room << QList<float>{360.5551f, 728.011f, 921.9545f, 970.8204f} << QPointF(423.123, 46.096);
    // Anchors on one line: the minimum-norm answer instead of a failure.
    QTest::newRow("collinear") << Points{{0, 0}, {100, 0}, {200, 0}} << QList<float>{58.3095f, 58.3095f, 152.9706f} << QPointF(50, 0);
    QTest::newRow("two anchors") << Points{{0, 0}, {400, 0}} << QList<float>{0, 400} << QPointF(0, 0);
    QTest::newRow("lists differ") << Points{{0, 0}, {400, 0}, {0, 300}} << QList<float>{0, 400} << QPointF(0, 0);
}

void TestUnits::solver()
{
    QFETCH(Points, anchors);
    QFETCH(QList<float>, cm);
    QFETCH(QPointF, expected);
    const QPointF p = solvePosition(anchors, cm);
    QVERIFY2(std::hypot(p.x() - expected.x(), p.y() - expected.y()) < 0.01, qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
    // Stored coordinates are truncated toward zero, never rounded, and clamped.
    const QList<QPair<double, int>> cases = {{99.7, 99}, {-99.7, -99}, {NAN, 0}, {1e20, INT_MAX}, {-1e20, INT_MIN}};
    for (const auto& c : cases)
        QCOMPARE(truncCm(c.first), c.second);
}

void TestUnits::dilution_data()
{
    QTest::addColumn<Points>("anchors");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<double>("hdop");     // 0: no geometry
    QTest::addColumn<double>("major");    // 95 % half-axes for 10 cm distance noise
    QTest::addColumn<double>("minor");
    QTest::addColumn<double>("angle");    // of the major axis; NaN: a circle
    const Points square = {{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
    QTest::newRow("square centre") << square << QPointF(500, 500) << 1.0 << 17.308 << 17.308 << double(NAN);
    QTest::newRow("square edge") << square << QPointF(500, 0) << 1.0206 << 19.350 << 15.800 << 90.0;
    QTest::newRow("outside the hull") << square << QPointF(3000, 500) << 2.4668 << 59.069 << 12.510 << 90.0;
    QTest::newRow("outside, three") << Points{{0, 0}, {1000, 0}, {0, 1000}} << QPointF(2000, 2000) << 2.3146 << 54.731 << 14.628 << -45.0;
    QTest::newRow("on the anchors' line") << Points{{0, 0}, {500, 0}, {1000, 0}} << QPointF(250, 0) << 0.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("one anchor left") << Points{{0, 0}, {500, 500}} << QPointF(500, 500) << 0.0 << 0.0 << 0.0 << 0.0;
}

void TestUnits::dilution()
{
    QFETCH(Points, anchors);
    QFETCH(QPointF, point);
    QFETCH(double, hdop);
    QFETCH(double, major);
    QFETCH(double, minor);
    QFETCH(double, angle);
    std::vector<Eigen::Vector2d> at;
    for (const QPointF& a : anchors)
        at.emplace_back(a.x(), a.y());
    const Dilution d = horizontalDilution(Eigen::Vector2d(point.x(), point.y()), at);
    QCOMPARE(d.valid, hdop > 0);
    if (!d.valid) {
        QVERIFY(std::isinf(d.hdop));
        return;
    }
    QVERIFY2(std::fabs(d.hdop - hdop) < 1e-3, qPrintable(QString::number(d.hdop)));
    const ErrorEllipse e = ErrorEllipse::of95(d.geometry * 100.0);
    QVERIFY(e.valid);
    QVERIFY2(std::fabs(e.major - major) < 1e-2 && std::fabs(e.minor - minor) < 1e-2,
             qPrintable(QString("%1 %2").arg(e.major).arg(e.minor)));
    if (!std::isnan(angle))
        QVERIFY2(std::fabs(e.angleDeg - angle) < 1e-3, qPrintable(QString::number(e.angleDeg)));
    // Inside up to the rim along either axis, outside beyond it.
    const double a = e.angleDeg * M_PI / 180.0;
    const Eigen::Vector2d along(std::cos(a), std::sin(a)), across(-std::sin(a), std::cos(a));
    QVERIFY(e.contains(0.99 * major * along) && !e.contains(1.01 * major * along));
    QVERIFY(e.contains(-0.99 * minor * across) && !e.contains(-1.01 * minor * across));
}

// A history as "d,d;d,d;...": one sample per ';', one distance per anchor and ','.
static QList<RangingSample*> history(const QString& text, const QList<QTime>& times = {})
{
    QList<RangingSample*> out;
    for (const QString& s : text.split(';')) {
        QByteArray line = "$PD,1";
        for (const QString& d : s.split(','))
            line += ',' + QByteArray::number(d.toInt(), 16);
        out << new RangingSample(line + "\n", times.value(out.size(), QTime(12, 0)));
        out.last()->parse();
    }
    return out;
}

static QString mapText(const QMap<int, int>& m)
{
    QStringList out;
    for (auto it = m.begin(); it != m.end(); ++it)
        out << QString("%1:%2").arg(it.key()).arg(it.value());
    return out.join(' ');
}

void TestUnits::distances_data()
{
    QTest::addColumn<QString>("samples");
    QTest::addColumn<QList<int>>("offsets");
    QTest::addColumn<int>("master");   // index of the master anchor, -1 none
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("result");   // raw / averaged / the master's average
    QTest::newRow("zeros are no readings") << "500;0;520;540" << QList<int>{10} << 0 << 10 << "0:550 / 0:530 / 530";
    QTest::newRow("truncated mean") << "100;101;101" << QList<int>{0} << -1 << 10 << "0:101 / 0:100 / 0";
    QTest::newRow("newest is none") << "777;0;0;0;0;0;0;0;0;0" << QList<int>{0} << -1 << 10 << " / 0:777 / 0";
    QTest::newRow("window drops it") << "777;0;0;0;0;0;0;0;0;0" << QList<int>{0} << -1 << 9 << " /  / 0";
    QTest::newRow("newest two") << "100;200;300;400" << QList<int>{0} << -1 << 2 << "0:400 / 0:350 / 0";
    QTest::newRow("no window") << "100;200" << QList<int>{0} << 0 << 0 << "0:200 /  / 0";
    QTest::newRow("offset below zero") << "900,700;500,700" << QList<int>{-600, -600} << -1 << 10 << "1:100 / 0:300 1:100 / 0";
    QTest::newRow("huge offset clamps") << "100000;100000" << QList<int>{INT_MAX} << -1 << 10
                                        << QString("0:%1 / 0:%1 / 0").arg(INT_MAX);
    QTest::newRow("silent master") << "300,0,500;310,0,520" << QList<int>{0, 0, 5} << 1 << 10 << "0:310 2:525 / 0:305 2:515 / 0";
    QTest::newRow("master with offset") << "300,0,500;310,0,520" << QList<int>{0, 0, 5} << 2 << 10 << "0:310 2:525 / 0:305 2:515 / 515";
}

void TestUnits::distances()
{
    QFETCH(QString, samples);
    QFETCH(QList<int>, offsets);
    QFETCH(int, master);
    QFETCH(int, window);
    QList<Anchor> anchors;
    for (int i = 0; i < offsets.size(); ++i)
        anchors << Anchor(QString::number(i), "", Qt::red, 0, 0, 0, i == master, offsets.at(i));
    QList<RangingSample*> h = history(samples);
    const TagDistances d = measureDistances(h, anchors, window);
    qDeleteAll(h);
    QTEST(mapText(d.rawDist) + " / " + mapText(d.avgDist) + " / " + QString::number(d.masterAvg), "result");
    QCOMPARE(d.hasMaster, master >= 0);
}

void TestUnits::rateExpiryAndSpeed()
{
    // Intervals over the span: eleven samples over one second are 10 Hz.
    QList<QTime> ticks;
    for (int i = 0; i <= 10; ++i)
        ticks << QTime(12, 0).addMSecs(100 * i);
    QList<RangingSample*> h = history("1;1;1;1;1;1;1;1;1;1;1", ticks);
    QCOMPARE(historyRate(h), 10.0);
    // Samples older than two whole seconds go, oldest first.
    expireSamples(h, QTime(12, 0, 2, 999));
    QCOMPARE(h.size(), 11);
    expireSamples(h, QTime(12, 0, 3));
    QCOMPARE(h.size(), 1);
    qDeleteAll(h);
    // Across midnight neither rate nor expiry breaks; a sample without a time holds nothing back.
    h = history("1;1;1;1", {QTime(23, 59, 58, 500), QTime(23, 59, 59, 900), QTime(0, 0, 0, 100), QTime()});
    h.prepend(h.takeLast());
    QCOMPARE(historyRate(h.mid(1)), 2 * 1000.0 / 1600);
    expireSamples(h, QTime(0, 0, 1, 999));
    QCOMPARE(h.size(), 2);
    expireSamples(h, QTime(0, 0, 3));
    QVERIFY(h.isEmpty() && historyRate(h) == 0.0);
}

static Numbers fieldsOf(const ChartGeometry& g)
{
    return {double(g.gridX), double(g.gridY), double(g.gridW), double(g.gridH), double(g.originX), double(g.originY),
            g.cmPerPixel, double(g.pixmapW), double(g.pixmapH), double(g.gridStepX), double(g.gridStepY)};
}

// World -500..500 both ways in a 700 x 500 container: 2 cm per pixel, 500 x 500 pixels.
static ChartGeometry standard()
{
    ChartGeometry g;
    computeChartGeometry(-500, -500, 1000, 1000, 700, 500, g);
    return g;
}

void TestUnits::geometry_data()
{
    QTest::addColumn<QList<int>>("input");   // x, y, w, h, container w, h
    QTest::addColumn<Numbers>("fields");     // empty: refused, the last geometry kept
    QTest::newRow("standard") << QList<int>{-500, -500, 1000, 1000, 700, 500}
                              << Numbers{-500, -500, 1000, 1000, 500, 500, 2, 500, 500, 100, 100};
    QTest::newRow("wide in tall") << QList<int>{0, 0, 2000, 500, 500, 800} << Numbers{0, 0, 2000, 500, 0, 500, 4, 500, 125, 100, 100};
    // Steps: a tenth of the size, to a power of ten, up when above a seventh; the finer one both ways.
    QTest::newRow("finer step") << QList<int>{0, 0, 1430, 1420, 715, 1000} << Numbers{0, 0, 1430, 1420, 0, 1420, 2, 715, 710, 100, 100};
    QTest::newRow("step up") << QList<int>{0, 0, 1430, 1430, 715, 715} << Numbers{0, 0, 1430, 1430, 0, 1430, 2, 715, 715, 1000, 1000};
    QTest::newRow("extremes") << QList<int>{INT_MIN + 1, INT_MIN, INT_MAX, INT_MAX, 700, 500}
                              << Numbers{INT_MIN + 1., INT_MIN, INT_MAX, INT_MAX, INT_MAX, -1, 1 / (500. / INT_MAX), 500, 500,
                                         INT_MAX / 10, INT_MAX / 10};
    for (const auto& bad : {QList<int>{0, 0, 0, 1000, 700, 500}, QList<int>{0, 0, -10, 1000, 700, 500},
                            QList<int>{0, 0, 1000, 1000, 0, 500}, QList<int>{INT_MIN, 0, 1000, 1000, 700, 500},
                            QList<int>{0, INT_MAX - 10, 1000, 1000, 700, 500}, QList<int>{0, 0, 1000000, 10, 700, 500}})
        QTest::newRow(qPrintable(QString("refused %1 %2 %3 %4 %5").arg(bad[0]).arg(bad[1]).arg(bad[2]).arg(bad[3]).arg(bad[4])))
            << bad << Numbers{};
}

void TestUnits::geometry()
{
    QFETCH(QList<int>, input);
    QFETCH(Numbers, fields);
    ChartGeometry g = standard();
    QCOMPARE(computeChartGeometry(input[0], input[1], input[2], input[3], input[4], input[5], g), !fields.isEmpty());
    QCOMPARE(fieldsOf(g), fields.isEmpty() ? fieldsOf(standard()) : fields);
}

void TestUnits::calibration_data()
{
    QTest::addColumn<QList<int>>("picks");   // origin x, y, point x, y, distance, image w, h
    QTest::addColumn<Numbers>("result");     // factor, offset x, y, grid x, y, w, h; empty: refused
    QTest::newRow("horizontal") << QList<int>{100, 500, 400, 500, 600, 800, 600} << Numbers{2, -200, 200, -200, -1000, 1600, 1200};
    QTest::newRow("diagonal") << QList<int>{0, 0, 3, 4, 250, 100, 80} << Numbers{50, 0, 4000, 0, 0, 5000, 4000};
    QTest::newRow("same point") << QList<int>{100, 500, 100, 500, 600, 800, 600} << Numbers{};
    // Picks 200 apart at the end of the int range are 256 apart in float.
    QTest::newRow("huge") << QList<int>{INT_MAX, INT_MIN, INT_MAX - 200, INT_MIN, INT_MAX, INT_MAX, INT_MAX}
                          << Numbers{INT_MAX / 256., INT_MIN, INT_MAX, INT_MIN, INT_MIN, INT_MAX, INT_MAX};
}

void TestUnits::calibration()
{
    QFETCH(QList<int>, picks);
    QFETCH(Numbers, result);
    Calibration c;
    c.originX = picks[0], c.originY = picks[1], c.pointX = picks[2], c.pointY = picks[3], c.distance = picks[4];
    CalibrationResult r;
    QCOMPARE(computeCalibration(c, picks[5], picks[6], r), !result.isEmpty());
    if (!result.isEmpty())
        QCOMPARE(Numbers({r.factor, double(r.offsetX), double(r.offsetY), double(r.gridX), double(r.gridY), double(r.gridW),
                          double(r.gridH)}), result);
}

static int count(const QImage& img, const QRect& r, const QColor& c)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += img.valid(x, y) && (c.isValid() ? img.pixel(x, y) == c.rgba() : qAlpha(img.pixel(x, y)) != 0);
    return n;
}

void TestUnits::drawing()
{
    // Pixels to world centimetres: truncated toward zero, clamped far out.
    const ChartGeometry g = standard();
    const QList<QPair<QPointF, QPoint>> pixels = {{{250, 250}, {0, 0}}, {{251, 249}, {2, 2}}, {{249, 251}, {-2, -2}},
                                                  {{0, 0}, {-500, 500}}, {{249.8, 250.2}, {0, 0}}};
    for (const auto& c : pixels)
        QCOMPARE(pixelToWorld(g, c.first), c.second);
    ChartGeometry far;
    QVERIFY(computeChartGeometry(INT_MIN + 1, INT_MIN, INT_MAX, INT_MAX, 700, 500, far));
    QCOMPARE(pixelToWorld(far, QPointF(1e6, 1e6)), QPoint(INT_MAX, INT_MIN));

    auto layer = [](const ChartGeometry& geo, bool lines) {
        return renderGridLayer(geo, lines, nullptr, 0, 0, 1).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    const QColor ink;   // any opaque pixel
    QCOMPARE(count(layer(g, false), QRect(0, 0, 500, 500), ink), 0);
    // Solid axes through pixel 250; dotted dark lines every 100 cm (column 200),
    // light ones half-way (column 175); nothing inside a half cell.
    const QImage grid = layer(g, true);
    QVERIFY(count(grid, QRect(249, 0, 3, 500), Qt::darkGray) > 450 && count(grid, QRect(0, 249, 500, 3), Qt::darkGray) > 450);
    QVERIFY(count(grid, QRect(199, 20, 2, 100), Qt::darkGray) > 10 && count(grid, QRect(174, 20, 2, 100), Qt::lightGray) > 10);
    QCOMPARE(count(grid, QRect(130, 130, 15, 15), ink), 0);
    // Far from the origin and over the whole int range the grid still draws.
    for (const QRect& r : {QRect(1000000000, 0, 1000, 1000), QRect(-2147483647, -2147483647, 2147483647, 2147483647)}) {
        QVERIFY(computeChartGeometry(r.x(), r.y(), r.width(), r.height(), 700, 500, far));
        QVERIFY(count(layer(far, true), QRect(0, 0, 500, 500), ink) > 1000);
    }

    // Pens and fonts keep their pixel size, within what Qt can draw.
    ChartPens pens;
    for (const auto& s : QList<QList<double>>{{0.3, 3, 10}, {1e7, 32767, 65535}, {2, 20, 40}}) {
        pens.applyScale(s[0]);
        QCOMPARE(QList<double>({pens.anchorPen.widthF(), double(pens.labelFont.pixelSize())}), s.mid(1));
    }
    // Anchors: a square 10 px across, the name to its right, a ring only round the
    // master; distance circles; a raw position truncated toward zero, a ring 8 px
    // across without a name.
    QPixmap pixmap(500, 500);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setWindow(0, 0, g.gridW, g.gridH);
    const QColor red(200, 0, 0), blue(0, 0, 200), orange(255, 128, 0), teal(0, 128, 128);
    drawAnchorItems(&p, g, pens, {Anchor("1", "A1", red, 100, 200, 0, false, 0), Anchor("2", "M", blue, -300, -100, 0, true, 0)});
    const Anchor centre("3", "C", Qt::black, 0, 0, 0, false, 0);
    drawDistanceCircle(&p, g, pens.rawCirclePen, centre, 300, orange);
    drawDistanceCircle(&p, g, pens.avgCirclePen, centre, 400, teal);
    drawRawPosition(&p, g, pens, Tag("1A2B", "T", orange, true, true, true, true, false, false, false), 200.7f, -120.9f);
    p.end();
    const QImage img = pixmap.toImage();
    auto px = [&](int x, int y) { return QColor(img.pixel(250 + x / 2, 250 - y / 2)); };
    QVERIFY(px(100, 200) == red && px(106, 200) == red && px(114, 200) == Qt::white && px(80, 200) == Qt::white);
    QVERIFY(px(108, 208) == red && px(92, 192) == red);   // corners a disc would not reach
    QVERIFY(px(-300, -100) == blue && px(-320, -100) == blue && px(-314, -100) == Qt::white);
    QVERIFY(count(img, QRect(310, 134, 25, 16), red) > 5);
    QVERIFY(px(300, 0) == orange && px(0, 300) == orange && px(-400, 0) == teal && px(0, -400) == teal);
    QVERIFY(px(340, 0) == Qt::white && px(2, 2) == Qt::white && px(200, -120) == Qt::white && px(208, -120) == orange);
    QCOMPARE(count(img, QRect(358, 296, 20, 14), orange), 0);

    // The averaged position's label: the name as it is, then what the tag's flags ask for.
    Tag tag("1", "T%1", Qt::red, false, true, false, false, false, false, false);
    tag.updateAveragedPosition(120, -35);
    tag.speedMps = 0.4;   // as the positioning step stored it
    QStringList labels = {averagedLabel(tag, 9.8)};
    tag.showSpeed = true;
    labels << averagedLabel(tag, 9.8);
    tag.showCoordinates = tag.showRate = true;
    labels << averagedLabel(tag, 9.96);
    QCOMPARE(labels, QStringList({"T%1", "T%1 [0.4 m/s]", "T%1 [X: 120 cm Y: -35 cm 0.4 m/s 10.0 Hz]"}));
}

// The rooms below the windows include no window header, and the records
// nothing that draws: a table helper or a widget belongs with the tables.
void TestUnits::roomsKeepTheirWays()
{
    const QDir src(qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/src");
    if (!src.exists("model"))
        QSKIP("ORVANE_SOURCE_DIR is not set (run through ctest)");
    const QRegularExpression window(R"(#include\s*[<"](mainwin\.h|ui_\w+\.h)[>"])");
    const QRegularExpression drawing(R"(#include\s*[<"](Q\w*(Widget|Box|Button|Label|View|Edit|Dialog|Painter|Pixmap)\w*|qflatcombobox\.h|rotatedheaderview\.h|tablecells\.h|qlabelex\.h)[>"])");
    QStringList found;
    for (const char* room : {"model", "positioning", "protocol", "link", "settings", "chart", "publish", "zones", "site"}) {
        for (const QFileInfo& f : QDir(src.filePath(room)).entryInfoList({"*.h", "*.cpp"}, QDir::Files)) {
            const QString text = QString::fromUtf8(readFileBytes(f.filePath()));
            const bool plain = QStringList{"model", "positioning", "protocol"}.contains(room);
            if (window.match(text).hasMatch() || (plain && drawing.match(text).hasMatch()))
                found << QString(room) + "/" + f.fileName();
        }
    }
    QCOMPARE(found, QStringList());
}

QTEST_MAIN(TestUnits)
#include "tst_units.moc"

// A tag at known points, one after the other; every range is the true
// distance plus its anchor's bias plus an even spread over ±jitter.
void TestUnits::offsetProposal_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<QList<int>>("bias");      // per anchor, cm
    QTest::addColumn<int>("jitter");
    QTest::addColumn<int>("count");            // ranges per anchor and point
    QTest::addColumn<int>("height");           // tag height, -1: none
    QTest::addColumn<QList<int>>("doubtful");  // anchors warned about
    QTest::newRow("one point") << Points{{300, 200}} << QList<int>{18, 25, 10, -5} << 2 << 101 << -1 << QList<int>{};
    QTest::newRow("two points pooled") << Points{{300, 200}, {700, 650}} << QList<int>{18, 25, 10, -5} << 6 << 30
                                       << -1 << QList<int>{};
    QTest::newRow("wide spread") << Points{{500, 400}} << QList<int>{30, 30, 30, 30} << 20 << 60 << -1
                                 << QList<int>{0, 1, 2, 3};
    QTest::newRow("few ranges") << Points{{500, 400}} << QList<int>{12, 12, 12, 12} << 1 << 49 << -1
                                << QList<int>{0, 1, 2, 3};
    QTest::newRow("tag height") << Points{{300, 200}} << QList<int>{18, 25, 10, -5} << 2 << 100 << 100 << QList<int>{};
}

void TestUnits::offsetProposal()
{
    QFETCH(Points, points); QFETCH(QList<int>, bias); QFETCH(int, jitter); QFETCH(int, count);
    QFETCH(int, height); QFETCH(QList<int>, doubtful);
    ModuleSetup m = setupOf("*0A01 0A02 0A03 0A04", "2E00 2E01");
    const QList<QPoint> at = {{0, 0}, {1000, 0}, {1000, 800}, {0, 800}};
    for (int a = 0; a < 4; ++a) {
        m.anchors[a].x = at[a].x();
        m.anchors[a].y = at[a].y();
        m.anchors[a].z = 250;
        m.anchors[a].offset = 40;   // replaced, not added to: the ranges are raw
    }
    const std::optional<int> tagHeight = height < 0 ? std::nullopt : std::optional<int>(height);
    KnownPointCollector c;
    for (const QPointF& p : points) {
        c.begin(QStringLiteral("2e00 "), p);
        for (int i = 0; i < count; ++i) {
            const double j = count > 1 ? -jitter + 2.0 * jitter * i / (count - 1) : 0.0;
            QList<int> cm;
            for (int a = 0; a < 4; ++a)
                cm << int(std::lround(trueDistance(m.anchors[a], p, tagHeight) + bias[a] + j));
            for (const QByteArray& line : {dLine("2E00", cm), dLine("2E01", {1, 1, 1, 1})}) {   // 2E01 is not collected
                RangingSample sample(line);
                sample.parse();
                c.addSample(sample, m.anchors, tagHeight);
            }
        }
    }
    QCOMPARE(c.ranges().size(), points.size());
    QCOMPARE(c.positions().last().raw.size(), count);
    const QVector<OffsetProposal> got = proposeOffsets(c.ranges(), m.anchors, tagHeight);
    QCOMPARE(got.size(), 4);
    for (const OffsetProposal& p : got) {
        QCOMPARE(p.offset, -bias[p.anchor]);
        QCOMPARE(p.count, count * points.size());
        QVERIFY2(std::fabs(p.spread - jitter) <= 1.0, qPrintable(QString::number(p.spread)));
        QCOMPARE(p.doubtful(), doubtful.contains(p.anchor));
        QVERIFY(std::fabs(p.measuredMedian - p.trueDistance - bias[p.anchor]) <= 0.5);
    }
}

void TestUnits::errorStatistics_data()
{
    QTest::addColumn<Points>("errors");   // positions minus the truth
    QTest::addColumn<QList<double>>("expected");   // n, mean dx, dy, sigma x, y, CEP50, R95, max
    Points line;
    for (int i = 1; i <= 100; ++i)
        line << QPointF(i, 0) << QPointF(-i, 0);
    // Radial errors 1,1,2,2,...,100,100: the median between 50 and 51, the 95th
    // percentile 5 % of the way from 95 to 96.
    QTest::newRow("spread on a line") << line << QList<double>{200, 0, 0, std::sqrt(2.0 * 338350 / 199), 0, 50.5, 95.05, 100};
    QTest::newRow("bias only") << QVector<QPointF>(10, QPointF(3, -4)).toList() << QList<double>{10, 3, -4, 0, 0, 5, 5, 5};
    QTest::newRow("none") << Points{} << QList<double>{0, 0, 0, 0, 0, 0, 0, 0};
}

void TestUnits::errorStatistics()
{
    QFETCH(Points, errors); QFETCH(QList<double>, expected);
    const QPointF truth(250, -120);
    QVector<QPointF> positions;
    for (const QPointF& e : errors)
        positions << truth + e;
    const ErrorStatistics s = ::errorStatistics(positions, truth);
    const QList<double> got = {double(s.n), s.meanDx, s.meanDy, s.sigmaX, s.sigmaY, s.cep50, s.r95, s.max};
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(std::fabs(got[i] - expected[i]) < 1e-6, qPrintable(QString("%1: %2").arg(i).arg(got[i])));
}

using PointList = QVector<QPointF>;

void TestUnits::coverage_data()
{
    QTest::addColumn<PointList>("anchors");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<int>("rangeLimit");
    QTest::addColumn<double>("hdop");   // of all anchors; -1: none (no fix)
    QTest::addColumn<int>("grade");
    const PointList square{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
    QTest::newRow("square's centre") << square << QPointF(500, 500) << 0 << 1.0 << int(CoverageMap::Good);
    QTest::newRow("just outside") << square << QPointF(500, -400) << 0 << 1.04 << int(CoverageMap::Good);
    QTest::newRow("a side's length outside") << square << QPointF(500, -1500) << 0 << 1.97 << int(CoverageMap::Fair);
    QTest::newRow("far outside") << square << QPointF(5000, 5000) << 0 << 6.42 << int(CoverageMap::Poor);
    QTest::newRow("on the anchors' line") << PointList{{0, 0}, {500, 0}, {1000, 0}} << QPointF(700, 0) << 0 << -1.0
                                          << int(CoverageMap::Poor);
    QTest::newRow("two in range") << square << QPointF(100, 100) << 500 << 1.09 << int(CoverageMap::OutOfRange);
    QTest::newRow("three in range") << square << QPointF(100, 100) << 1000 << 1.09 << int(CoverageMap::Good);
    QTest::newRow("two anchors") << PointList{{0, 0}, {1000, 0}} << QPointF(500, 500) << 0 << 1.41
                                 << int(CoverageMap::OutOfRange);
}

void TestUnits::coverage()
{
    QFETCH(PointList, anchors); QFETCH(QPointF, point); QFETCH(int, rangeLimit); QFETCH(double, hdop); QFETCH(int, grade);
    const double h = CoverageMap::horizontalDop(point, anchors);
    if (hdop < 0)
        QVERIFY2(!std::isfinite(h), qPrintable(QString::number(h)));
    else
        QVERIFY2(std::abs(h - hdop) < 0.01, qPrintable(QString::number(h)));
    QCOMPARE(int(CoverageMap::gradeAt(point, anchors, rangeLimit)), grade);

    // The shading follows the layout, and is kept while nothing changed.
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(-500, -500, 2000, 2000, 400, 400, geo));
    QList<Anchor> modules;
    for (const QPointF& p : anchors)
        modules << Anchor("1", "A", Qt::red, int(p.x()), int(p.y()), 0, false, 0);
    CoverageMap map;
    QVERIFY(map.update(geo, modules, rangeLimit));
    QVERIFY(!map.update(geo, modules, rangeLimit));
    const QPointF cell = (QPointF(geo.originX + point.x(), geo.originY - point.y()) - map.shadingRect().topLeft())
                         / (CoverageMap::CellPx * geo.cmPerPixel);
    if (map.shadingRect().contains(QPointF(geo.originX + point.x(), geo.originY - point.y())))   // its cell grades alike
        QCOMPARE(map.shading().pixel(int(cell.x()), int(cell.y())),
                 qPremultiply(CoverageMap::gradeColor(CoverageMap::Grade(grade)).rgba()));
    modules[0].offset = 5;
    QVERIFY(map.update(geo, modules, rangeLimit));
}

void TestUnits::linkQuality_data()
{
    QTest::addColumn<int>("lines");          // one every 100 ms to anchors 0..3
    QTest::addColumn<int>("windowMs");
    QTest::addColumn<int>("missingUntil");   // anchor 3 has no distance in the lines before
    QTest::addColumn<int>("leftOutEvery");   // the filter leaves out anchor 1 in every n-th line
    QTest::addColumn<bool>("unusable2");     // anchor 2's distance received but unusable
    // lines/s, fixes/s, missing 3, left out 1, left out 2, spread 0, since last (ms)
    QTest::addColumn<QList<double>>("expected");
    QTest::newRow("steady") << 20 << 10000 << 0 << 0 << false << QList<double>{10, 10, 0, 0, 0, 5.13, 100};
    QTest::newRow("half missing, one in four left out") << 20 << 10000 << 10 << 4 << false
                                                       << QList<double>{10, 10, 0.5, 0.25, 0, 5.13, 100};
    QTest::newRow("window slides past the gap") << 150 << 10000 << 50 << 0 << true
                                                << QList<double>{10, 10, 0, 0, 1, 5.03, 100};
    QTest::newRow("whole recording") << 150 << 0 << 50 << 0 << true
                                     << QList<double>{150 / 14.9, 100 / 14.9, 1 / 3.0, 0, 1, 5.02, 100};
    QTest::newRow("two usable: no fix") << 20 << 10000 << 20 << 0 << true << QList<double>{10, 0, 1, 0, 1, 5.13, 100};
}

void TestUnits::linkQuality()
{
    QFETCH(int, lines); QFETCH(int, windowMs); QFETCH(int, missingUntil); QFETCH(int, leftOutEvery);
    QFETCH(bool, unusable2); QFETCH(QList<double>, expected);
    LinkQuality q;
    q.setWindowMs(windowMs);
    const QTime start(23, 59, 55);   // across midnight
    QTime at;
    for (int i = 0; i < lines; ++i) {
        at = start.addMSecs(100 * i);
        const QList<int> received{100, 200, 300, i < missingUntil ? 0 : 400};
        QMap<int, int> usable;
        for (int a = 0; a < 4; ++a)
            if (received.at(a) > 0 && !(a == 2 && unusable2))
                usable.insert(a, received.at(a));
        q.addLine("2B01", at, received, usable, 4);
        if (leftOutEvery > 0 && i % leftOutEvery == 0)
            q.addLeftOut("2B01", at, {1});
        q.addResiduals("2B01", at, {{0, i % 2 ? 5.0 : -5.0}});
    }
    const QVector<LinkQuality::TagFigures> f = q.figures(at.addMSecs(100));
    QCOMPARE(f.size(), 1);
    const QList<double> got{f[0].linesPerSecond, f[0].updateRate, f[0].anchors.value(3).missingShare,
                            f[0].anchors.value(1).leftOutShare, f[0].anchors.value(2).leftOutShare,
                            f[0].anchors.value(0).spread, double(f[0].sinceLastMs)};
    for (int i = 0; i < got.size(); ++i)
        QVERIFY2(std::abs(got[i] - expected[i]) < 0.01,
                 qPrintable(QString("figure %1: %2, not %3").arg(i).arg(got[i]).arg(expected[i])));
    QCOMPARE(f[0].anchors.value(3).lastDistance, missingUntil < lines ? 400 : 0);
    // Silence longer than the window forgets the tag; the whole recording keeps it.
    QCOMPARE(q.figures(at.addSecs(30)).size(), windowMs > 0 ? 0 : 1);
}
