// A chart pass paints only when something visible changed; what the user sees
// must be, pixel for pixel, what a window painting every pass shows.
#include "mainwin.h"
#include "qlabelex.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QtTest>

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void lazyFramesEqualEveryPassFrames();
};

namespace {
struct Window {
    MainWin w;
    QTime now{12, 0, 0};
    qint64 epoch = 1700000000000;
    Window(bool everyPass)
    {
        w.setPaintEveryPass(everyPass);
        w.setClocks([this] { return now; }, [this] { return epoch; });
        w.findChild<QWidget*>("chart")->setFixedSize(600, 480);
        w.modules.anchors = {Anchor("1A2B", "Master", Qt::red, 0, 0, 0, true, 0),
                             Anchor("3C4D", "A1", Qt::blue, 1000, 0, 0, false, 0),
                             Anchor("5E6F", "A2", Qt::darkCyan, 1000, 800, 0, false, 0),
                             Anchor("7A80", "A3", Qt::magenta, 0, 800, 0, false, 0)};
        w.modules.tags = {Tag("2B01", "Läufer", Qt::darkGreen, true, true, true, true, true, true, true)};
        w.fillAnchorTable();
        w.fillTagTable();
        w.findChild<QLineEdit*>("edtGridX")->setText("-100");
        w.findChild<QLineEdit*>("edtGridY")->setText("-100");
        w.findChild<QLineEdit*>("edtGridW")->setText("1200");
        w.findChild<QLineEdit*>("edtGridH")->setText("1000");
        w.show();
    }
    void advance(int ms)
    {
        now = now.addMSecs(ms);
        epoch += ms;
    }
    QImage shown() { return QtCompat::pixmap(w.findChild<QLabelEx*>("lblChart")).toImage(); }
};

QByteArray line(int x, int y)
{
    QByteArray l = "$PD,2B01";
    for (const QPoint a : {QPoint(0, 0), QPoint(1000, 0), QPoint(1000, 800), QPoint(0, 800)})
        l += ',' + QByteArray::number(qRound(std::hypot(a.x() - x, a.y() - y)), 16);
    return l + "\r\n";
}
} // namespace

void TestFrames::lazyFramesEqualEveryPassFrames()
{
    Window lazy(false), every(true);
    QVERIFY(QTest::qWaitForWindowExposed(&lazy.w) && QTest::qWaitForWindowExposed(&every.w));
    int passes = 0;
    auto pass = [&](const std::function<void(Window&)>& change) {
        for (Window* win : {&lazy, &every}) {
            change(*win);
            win->w.redrawChart();
            win->w.redrawTimer->stop();
        }
        ++passes;
        return lazy.shown() == every.shown();
    };
    auto nothing = [](Window&) {};

    QVERIFY(pass(nothing));
    const quint64 first = lazy.w.framesPainted();
    for (int i = 0; i < 20; ++i)   // idle: nothing to paint again
        QVERIFY(pass([](Window& win) { win.advance(10); }));
    QCOMPARE(lazy.w.framesPainted(), first);

    // A walking tag: new lines, then silence until the samples expire.
    for (int i = 0; i < 30; ++i)
        QVERIFY2(pass([i](Window& win) {
                     win.advance(100);
                     win.w.dataReceived(line(200 + 10 * i, 300));
                 }), qPrintable(QString("walk %1").arg(i)));
    for (int i = 0; i < 40; ++i)
        QVERIFY2(pass([](Window& win) { win.advance(100); }), qPrintable(QString("expiry %1").arg(i)));

    // What the user changes: a display flag, the grid, an anchor, the window size.
    QVERIFY(pass([](Window& win) { win.w.dataReceived(line(500, 400)); }));
    QVERIFY(pass([](Window& win) { win.w.modules.tags[0].showCoordinates = false; }));
    QVERIFY(pass([](Window& win) { win.w.findChild<QLineEdit*>("edtGridW")->setText("1400"); }));
    QVERIFY(pass([](Window& win) { win.w.modules.anchors[2].x = 900; }));
    QVERIFY(pass([](Window& win) { win.w.findChild<QCheckBox*>("chkDrawGrid")->toggle(); }));
    QVERIFY(pass([](Window& win) { win.w.findChild<QWidget*>("chart")->setFixedSize(500, 400); QTest::qWait(20); }));
    QVERIFY(pass(nothing));
    QCOMPARE(every.w.framesPainted(), quint64(passes));
    QVERIFY2(lazy.w.framesPainted() < quint64(passes) / 2, qPrintable(QString::number(lazy.w.framesPainted())));
    // And the label puts the frame on the screen as it is.
    const QImage frame = lazy.shown();
    QCOMPARE(lazy.w.findChild<QLabelEx*>("lblChart")->grab().toImage().convertToFormat(frame.format()), frame);
}

QTEST_MAIN(TestFrames)
#include "tst_frames.moc"
