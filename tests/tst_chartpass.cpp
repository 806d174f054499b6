#include "mainwin.h"
#include "masterinfo.h"
#include "testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QtTest>

// Whole chart passes of the main window: ranging lines in, pixels and
// positions out.
class TestChartPass : public QObject
{
    Q_OBJECT
private slots:
    void tagsFromRangingLines();
    void labelsAndMasterDistance();
    void expiryAcrossMidnight();
    void geometryFailuresKeepLastGood();

private:
    // A window whose chart container is 700 x 500: grid -500..500 gives 2 cm per pixel.
    static void prepare(MainWin& w)
    {
        w.resize(989, 755);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.findChild<QWidget*>("chart")->setFixedSize(700, 500);
        QCoreApplication::processEvents();
        w.redrawChart();
        w.redrawTimer->stop();
    }
    static QColor at(MainWin& w, int wx, int wy)
    {
        const QImage img = w.chartPixmap->toImage();
        const int px = int((w.chartGeo.originX + wx) / w.chartGeo.cmPerPixel);
        const int py = int((w.chartGeo.originY - wy) / w.chartGeo.cmPerPixel);
        return img.pixelColor(px, py);
    }
    static QByteArray dLine(const QByteArray& id, QList<int> cm)
    {
        QByteArray l = "$PD," + id;
        for (int d : cm)
            l += "," + QByteArray::number(d, 16).toUpper();
        return l + "\r\n";
    }
    static void fourAnchors(MainWin& w)
    {
        w.modules.anchors = {Anchor("1A2B", "M", QColor(255, 0, 0), -400, -400, 0, true, 0),
                             Anchor("3C4D", "A1", QColor(0, 0, 255), 400, -400, 0, false, 0),
                             Anchor("5E6F", "A2", QColor(0, 170, 170), 400, 400, 0, false, 0),
                             Anchor("7A80", "A3", QColor(170, 0, 170), -400, 400, 0, false, 0)};
    }
    static QList<int> distancesTo(const MainWin& w, double x, double y)
    {
        QList<int> out;
        for (const Anchor& a : w.modules.anchors)
            out << int(std::hypot(a.x - x, a.y - y));
        return out;
    }
};

void TestChartPass::tagsFromRangingLines()
{
    MainWin w;
    prepare(w);
    fourAnchors(w);
    const QColor green(0, 255, 0), orange(255, 153, 34);
    w.modules.tags = {Tag("2B01", "Walker", green, true, true, false, false, true, true, true),
                      Tag("2B02", "Circles", orange, false, false, false, true, false, false, false)};
    // Lower-case identifiers on the wire still find their tag.
    for (int i = 0; i < 12; ++i) {
        w.dataReceived(dLine("2b01", distancesTo(w, 100, -50)));
        w.dataReceived(dLine("2B02", distancesTo(w, -200, 150)));
    }
    w.redrawChart();
    w.redrawTimer->stop();
    const Tag& walker = w.modules.tags.at(0);
    QVERIFY(qAbs(walker.avgX - 100) <= 2 && qAbs(walker.avgY + 50) <= 2);
    QVERIFY(qAbs(walker.rawX - 100) <= 2 && qAbs(walker.rawY + 50) <= 2);
    QCOMPARE(at(w, walker.avgX, walker.avgY), green);
    // First pass: no earlier position, so no speed.
    QCOMPARE(walker.speed(), 0.0);

    // A tag with only averaged circles: no position, but the circle around the
    // first anchor passes through the tag's true place.
    QCOMPARE(w.modules.tags.at(1).avgX, Tag::NoPosition);
    const int r = distancesTo(w, -200, 150).at(0);
    bool onCircle = false;
    for (int d = -6; d <= 6 && !onCircle; d += 2)
        onCircle = at(w, -400 + r + d, -400) == orange;
    QVERIFY(onCircle);

    // Samples of a tag without a record update nothing and do not disturb others.
    w.dataReceived(dLine("FFFF", {100, 100, 100, 100}));
    w.redrawChart();
    w.redrawTimer->stop();
    QCOMPARE(w.modules.tags.size(), 2);
}

void TestChartPass::labelsAndMasterDistance()
{
    MainWin w;
    prepare(w);
    fourAnchors(w);
    w.modules.tags = {Tag("2B01", "T1", Qt::black, false, true, false, false, true, true, true),
                      Tag("2B02", "T2", Qt::black, false, true, false, false, false, false, false)};
    w.dataReceived(dLine("2B02", {321, 0, 0, 0}));
    w.dataReceived(dLine("2B01", {500, 0, 0, 0}));
    w.redrawChart();
    w.redrawTimer->stop();
    // Only the tag whose key sorts first writes the master distance.
    QCOMPARE(w.findChild<QLabel*>("labAbstandMaster")->text(), QString("Abstand Tag \"T1\" -> Master: 500 cm"));
    // Without a master anchor the label is never written.
    w.findChild<QLabel*>("labAbstandMaster")->clear();
    for (Anchor& a : w.modules.anchors)
        a.master = false;
    w.redrawChart();
    w.redrawTimer->stop();
    QVERIFY(w.findChild<QLabel*>("labAbstandMaster")->text().isEmpty());
}

void TestChartPass::expiryAcrossMidnight()
{
    MainWin w;
    prepare(w);
    fourAnchors(w);
    w.modules.tags = {Tag("2B01", "T1", Qt::black, false, true, false, false, false, false, false)};
    QTime now(23, 59, 59, 0);
    w.timeOfDay = [&] { return now; };
    qint64 ms = 1000000;
    w.epochMs = [&] { return ms; };
    w.dataReceived(dLine("2B01", distancesTo(w, 0, 0)));
    now = QTime(23, 59, 59, 500);
    w.dataReceived(dLine("2B01", distancesTo(w, 0, 0)));
    now = QTime(0, 0, 1, 0);
    w.redrawChart();
    w.redrawTimer->stop();
    QCOMPARE(w.rangingHistory.value("2B01").size(), 2);   // 2 s old: kept
    QCOMPARE(w.modules.tags.at(0).lastUpdateMs, ms);
    now = QTime(0, 0, 2, 0);
    ms += 20;
    w.redrawChart();
    w.redrawTimer->stop();
    QVERIFY(w.rangingHistory.value("2B01").isEmpty());     // 3 s old: gone, not frozen

    // Identifiers that fall silent are forgotten: garbled ids cannot pile up.
    for (int i = 0; i < 5000; ++i)
        w.dataReceived("$PD,X" + QByteArray::number(i) + ",1F4\r\n");
    QCOMPARE(w.rangingHistory.size(), 5000);
    now = QTime(0, 0, 5, 0);
    w.redrawChart();
    w.redrawTimer->stop();
    QVERIFY(w.rangingHistory.isEmpty());
}

void TestChartPass::geometryFailuresKeepLastGood()
{
    MainWin w;
    prepare(w);
    const ChartGeometry good = w.chartGeo;
    for (const char* bad : {"0", "-100", "abc", ""}) {
        w.findChild<QLineEdit*>("edtGridW")->setText(bad);
        w.redrawChart();
        w.redrawTimer->stop();
        QVERIFY(w.gridDirty);
        QCOMPARE(w.chartGeo.cmPerPixel, good.cmPerPixel);
        QCOMPARE(w.chartGeo.pixmapW, good.pixmapW);
    }
    w.findChild<QLineEdit*>("edtGridW")->setText("2000");
    w.redrawChart();
    w.redrawTimer->stop();
    QVERIFY(!w.gridDirty);
    QCOMPARE(w.chartGeo.gridW, 2000);
}

QTEST_MAIN(TestChartPass)
#include "tst_chartpass.moc"
