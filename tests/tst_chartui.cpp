// Events go through the window, as a real pointer's would: the press hits
// lblChart only where the label lies, and the moves carry the held buttons.
#define QTEST_QPA_MOUSE_HANDLING

#include "mainwin.h"
#include "testsupport.h"

#include "chartgeometry.h"
#include "discoverwin.h"
#include "qlabelex.h"
#include "settingsfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

// Chart mouse handling, the background image with its calibration, and the
// settings save and load, all driven through the main window's own widgets.
class TestChartUi : public QObject
{
    Q_OBJECT
private slots:
    void mouseReadoutsAndDragging();
    void mouseToleranceAndModes();
    void backgroundImageAndCalibration();
    void calibrationRefusals();
    void backgroundPlacementOnChart();
    void settingsRoundTrip();
    void settingsFailures();
    void settingsReminder();

private:
    static QLineEdit* edit(MainWin& w, const char* name) { return w.findChild<QLineEdit*>(name); }
    static QLabel* label(MainWin& w, const char* name) { return w.findChild<QLabel*>(name); }
    static QPushButton* button(MainWin& w, const char* name) { return w.findChild<QPushButton*>(name); }
    static QCheckBox* check(MainWin& w, const char* name) { return w.findChild<QCheckBox*>(name); }
    static QLabelEx* chartLabel(MainWin& w) { return w.findChild<QLabelEx*>("lblChart"); }

    static void setGrid(MainWin& w, const QString& x, const QString& y, const QString& wd, const QString& h)
    {
        edit(w, "edtGridX")->setText(x);
        edit(w, "edtGridY")->setText(y);
        edit(w, "edtGridW")->setText(wd);
        edit(w, "edtGridH")->setText(h);
    }
    static QStringList gridTexts(MainWin& w)
    {
        return {edit(w, "edtGridX")->text(), edit(w, "edtGridY")->text(), edit(w, "edtGridW")->text(),
                edit(w, "edtGridH")->text()};
    }

    // A window whose chart container is 700 x 500 pixels, so a grid of
    // 1000 x 1000 cm is drawn at 2 cm per pixel.
    static bool prepareWindow(MainWin& w)
    {
        w.findChild<QWidget*>("chart")->setFixedSize(700, 500);
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            return false;
        QCoreApplication::processEvents();
        return true;
    }

    // One chart pass, then let the layout give lblChart the pixmap's size so
    // that label pixels are chart pixels.
    static bool redraw(MainWin& w)
    {
        w.redrawChart();
        w.redrawTimer->stop();   // no passes of their own while disconnected
        QLabelEx* l = chartLabel(w);
        return waitUntil([&] { return l->size() == QSize(w.chartGeo.pixmapW, w.chartGeo.pixmapH); }, 2000);
    }

    // A label pixel that the main window reads as the given world point.
    static QPoint pixelFor(MainWin& w, int x, int y)
    {
        QLabelEx* l = chartLabel(w);
        for (int py = 0; py < l->height(); ++py)
            for (int px = 0; px < l->width(); ++px)
                if (pixelToWorld(w.chartGeo, QPointF(px, py)) == QPoint(x, y))
                    return QPoint(px, py);
        return QPoint(-1, -1);
    }

    static void press(MainWin& w, QPoint p, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mousePress(chartLabel(w), b, Qt::NoModifier, p);
    }
    static void move(MainWin& w, QPoint p) { QTest::mouseMove(chartLabel(w), p); }
    static void release(MainWin& w, QPoint p, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseRelease(chartLabel(w), b, Qt::NoModifier, p);
    }

    static QStringList readouts(MainWin& w)
    {
        return {label(w, "lblMouseX")->text(), label(w, "lblMouseY")->text(), label(w, "lblMouseXD")->text(),
                label(w, "lblMouseYD")->text(), label(w, "lblMouseD")->text()};
    }

    static bool writePicture(const QString& path, int width, int height, QColor top, QColor bottom)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(bottom);
        QPainter p(&image);
        p.fillRect(0, 0, width, height / 2, top);
        p.end();
        return image.save(path, "PNG");
    }
    static bool writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    static QByteArray readBytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    static void selectBackground(MainWin& w, const QString& path)
    {
        w.chooseOpenFile = [path](const QString&, const QString&) { return path; };
        button(w, "btnSelectBackground")->click();
    }

    // Picks a calibration point with a real click on the chart.
    static bool pickAt(MainWin& w, int x, int y)
    {
        const QPoint p = pixelFor(w, x, y);
        if (p.x() < 0)
            return false;
        press(w, p);
        release(w, p);
        return true;
    }

    static void checkBox(const ModalAnswerer::Seen& s, const QString& title, const QString& text,
                         QMessageBox::Icon icon)
    {
        QCOMPARE(s.title, title);
        QCOMPARE(s.text, text);
        QCOMPARE(s.icon, icon);
    }

    static long rssKb()
    {
        QFile f("/proc/self/status");
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        return 0;
    }
};

void TestChartUi::mouseReadoutsAndDragging()
{
    MainWin w;
    QVERIFY(prepareWindow(w));
    setGrid(w, "-500", "-500", "1000", "1000");
    QVERIFY(redraw(w));
    QCOMPARE(w.chartGeo.cmPerPixel, 2.0);
    QCOMPARE(w.chartGeo.originX, 500);
    QCOMPARE(w.chartGeo.originY, 500);
    QCOMPARE(chartLabel(w)->size(), QSize(500, 500));

    // Label pixels to centimetres, truncated toward zero.
    press(w, QPoint(250, 250));
    QCOMPARE(readouts(w), QStringList({"0 cm", "0 cm", "0 cm", "0 cm", "0 cm"}));
    QCOMPARE(w.pressPos, QVector2D(0, 0));
    release(w, QPoint(250, 250));
    press(w, QPoint(251, 249));
    QCOMPARE(label(w, "lblMouseX")->text(), QString("2 cm"));
    QCOMPARE(label(w, "lblMouseY")->text(), QString("2 cm"));
    release(w, QPoint(251, 249));
    press(w, QPoint(249, 251));
    QCOMPARE(label(w, "lblMouseX")->text(), QString("-2 cm"));
    QCOMPARE(label(w, "lblMouseY")->text(), QString("-2 cm"));
    release(w, QPoint(249, 251));
    QCOMPARE(w.dragAnchor, -1);

    // A drag over empty floor from (0, 0) to (30, 40): only the read-outs change.
    press(w, QPoint(250, 250));
    move(w, QPoint(258, 240));
    move(w, QPoint(265, 230));
    QCOMPARE(readouts(w), QStringList({"30 cm", "40 cm", "30 cm", "40 cm", "50 cm"}));
    release(w, QPoint(265, 230));
    QCOMPARE(readouts(w), QStringList({"30 cm", "40 cm", "30 cm", "40 cm", "50 cm"}));

    // Dragging an anchor: where two lie on each other, the later one moves,
    // and the table follows once the button is released.
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 0, 0, 0, true, 0),
                         Anchor("A2", "Zwei", Qt::blue, 0, 0, 0, false, 0),
                         Anchor("A3", "Drei", Qt::green, 300, -200, 0, false, 0)};
    w.fillAnchorTable();
    auto* table = w.findChild<QTableWidget*>("tblAnker");
    press(w, QPoint(251, 251));   // (2, -2): inside both tolerance squares
    QCOMPARE(w.dragAnchor, 1);
    move(w, QPoint(258, 240));
    QCOMPARE(w.modules.anchors[1].x, 16);
    QCOMPARE(w.modules.anchors[1].y, 20);
    move(w, QPoint(265, 230));
    QCOMPARE(w.modules.anchors[1].x, 30);
    QCOMPARE(w.modules.anchors[1].y, 40);
    QCOMPARE(w.modules.anchors[0].x, 0);
    QCOMPARE(w.modules.anchors[0].y, 0);
    QCOMPARE(table->item(1, 3)->text(), QString("0"));   // not yet: the drag is still going
    QVERIFY(redraw(w));                                  // a pass in the middle of a drag
    release(w, QPoint(265, 230));
    QCOMPARE(readouts(w), QStringList({"30 cm", "40 cm", "28 cm", "42 cm", "50 cm"}));
    QCOMPARE(table->item(1, 3)->text(), QString("30"));
    QCOMPARE(table->item(1, 4)->text(), QString("40"));
    QCOMPARE(table->item(0, 3)->text(), QString("0"));
    QCOMPARE(w.dragAnchor, 1);   // kept until the next press

    // A right-button drag over the anchor just dragged: read-outs only.
    press(w, QPoint(265, 230), Qt::RightButton);
    QCOMPARE(w.pressPos, QVector2D(2, -2));   // the press did not reach the window
    move(w, QPoint(300, 300));
    QCOMPARE(readouts(w), QStringList({"100 cm", "-100 cm", "98 cm", "-98 cm", "138 cm"}));
    release(w, QPoint(300, 300), Qt::RightButton);
    QCOMPARE(w.modules.anchors[1].x, 30);
    QCOMPARE(w.modules.anchors[1].y, 40);

    // Off the shown area the anchor follows all the same: the label keeps
    // the pointer while the button is held.
    press(w, QPoint(400, 350));   // anchor 3 at (300, -200)
    QCOMPARE(w.dragAnchor, 2);
    move(w, QPoint(499, 499));
    QCOMPARE(w.modules.anchors[2].x, 498);
    move(w, QPoint(520, 530));
    release(w, QPoint(520, 530));
    QCOMPARE(w.modules.anchors[2].x, 540);
    QCOMPARE(w.modules.anchors[2].y, -560);
    QCOMPARE(table->item(2, 3)->text(), QString("540"));
    QCOMPARE(table->item(2, 4)->text(), QString("-560"));
}

void TestChartUi::mouseToleranceAndModes()
{
    MainWin w;
    QVERIFY(prepareWindow(w));
    setGrid(w, "-500", "-500", "1000", "1000");
    QVERIFY(redraw(w));
    QCOMPARE(w.chartGeo.cmPerPixel, 2.0);
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 100, 100, 0, true, 0)};
    w.fillAnchorTable();

    // Five pixels are 10 cm: the square's edges count.
    press(w, QPoint(305, 205));   // (110, 90)
    QCOMPARE(label(w, "lblMouseX")->text(), QString("110 cm"));
    QCOMPARE(label(w, "lblMouseY")->text(), QString("90 cm"));
    QCOMPARE(w.dragAnchor, 0);
    release(w, QPoint(305, 205));
    press(w, QPoint(295, 195));   // (90, 110)
    QCOMPARE(w.dragAnchor, 0);
    release(w, QPoint(295, 195));
    press(w, QPoint(306, 200));   // (112, 100)
    QCOMPARE(w.dragAnchor, -1);
    release(w, QPoint(306, 200));

    // An odd origin makes odd centimetres reachable: (111, 100) is just outside.
    w.chartGeo.originX = 501;
    press(w, QPoint(306, 200));
    QCOMPARE(label(w, "lblMouseX")->text(), QString("111 cm"));
    QCOMPARE(label(w, "lblMouseY")->text(), QString("100 cm"));
    QCOMPARE(w.dragAnchor, -1);
    release(w, QPoint(306, 200));
    press(w, QPoint(305, 200));   // (109, 100)
    QCOMPARE(w.dragAnchor, 0);
    release(w, QPoint(305, 200));
    w.chartGeo.originX = 500;

    // While a calibration point is being picked, presses pick it and drag nothing.
    w.calibration = new Calibration;
    w.mouseMode = 1;
    press(w, QPoint(300, 200));   // right on the anchor
    QCOMPARE(w.dragAnchor, -1);
    QVERIFY(w.calibration->originSet);
    QCOMPARE(w.calibration->originX, 100);
    QCOMPARE(w.calibration->originY, 100);
    QVERIFY(!w.calibration->pointSet);
    move(w, QPoint(350, 250));
    release(w, QPoint(350, 250));
    QCOMPARE(w.modules.anchors[0].x, 100);
    QCOMPARE(w.modules.anchors[0].y, 100);
    QCOMPARE(w.calibration->originX, 100);   // only the press picks

    w.mouseMode = 2;
    press(w, QPoint(200, 300));
    release(w, QPoint(200, 300));
    QVERIFY(w.calibration->pointSet);
    QCOMPARE(w.calibration->pointX, -100);
    QCOMPARE(w.calibration->pointY, -100);
    QCOMPARE(w.calibration->originX, 100);

    // Mode 3: the accept is computing; a press does nothing at all.
    w.mouseMode = 3;
    press(w, QPoint(300, 200));
    move(w, QPoint(320, 220));
    release(w, QPoint(320, 220));
    QCOMPARE(w.dragAnchor, -1);
    QCOMPARE(w.calibration->originX, 100);
    QCOMPARE(w.calibration->pointX, -100);
    QCOMPARE(w.modules.anchors[0].x, 100);

    // A picking mode without a calibration record picks nothing and drags nothing.
    delete w.calibration;
    w.calibration = nullptr;
    w.mouseMode = 1;
    press(w, QPoint(300, 200));
    QCOMPARE(w.dragAnchor, -1);
    release(w, QPoint(300, 200));
    w.mouseMode = 0;
}

void TestChartUi::backgroundImageAndCalibration()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, 800, 600, QColor(200, 30, 30), QColor(30, 30, 200)));

    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(prepareWindow(w));
    check(w, "chkDrawBGImage")->setChecked(false);

    // Cancelling the file dialog changes nothing.
    w.chooseOpenFile = [](const QString&, const QString&) { return QString(); };
    button(w, "btnSelectBackground")->click();
    QVERIFY(!w.bgImage);

    QStringList captions;
    w.chooseOpenFile = [&](const QString& caption, const QString& filter) {
        captions << caption << filter;
        return png;
    };
    button(w, "btnSelectBackground")->click();
    QCOMPARE(captions, QStringList({"Hintergrundbild wählen", "Bilder (*.bmp *.png *.jpg);;alle Dateien (*.*)"}));
    QVERIFY(w.bgImage);
    QCOMPARE(w.bgImage->size(), QSize(800, 600));
    QCOMPARE(w.bgImagePath, png);
    QCOMPARE(gridTexts(w), QStringList({"0", "0", "800", "600"}));
    QVERIFY(check(w, "chkDrawBGImage")->isChecked());
    QCOMPARE(w.bgImageFactor, 1.0);
    QCOMPARE(w.bgImageOffsetX, 0);
    QCOMPARE(w.bgImageOffsetY, 600);
    QCOMPARE(QList<int>({w.imageGridX, w.imageGridY, w.imageGridW, w.imageGridH}), QList<int>({0, 0, 800, 600}));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!button(w, "btnBGImageOrigin")->isEnabled());

    // The whole calibration with the buttons and clicks on the chart.
    button(w, "btnBGImageSetup")->click();
    QCOMPARE(boxes.seen.size(), 1);
    checkBox(boxes.seen[0], "Image anpassen",
             "Bitte wählen Sie den Ursprung, einen Messpunkt und den Abstand zwischen den Punkten in cm anhand der Buttons rechts daneben!",
             QMessageBox::Information);
    QVERIFY(w.calibration);
    QVERIFY(button(w, "btnBGImageOrigin")->isEnabled());
    QVERIFY(!button(w, "btnBGImageSetup")->isEnabled());
    QCOMPARE(chartLabel(w)->cursor().shape(), Qt::CrossCursor);
    QVERIFY(redraw(w));
    QCOMPARE(w.chartGeo.gridW, 800);

    button(w, "btnBGImageOrigin")->click();
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen[1].text, QString("Bitte klicken Sie im Bild auf die Stelle des gewünschten Koordinatenursprungs (0,0).\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"));
    QCOMPARE(w.mouseMode, 1);
    QVERIFY(pickAt(w, 300, 300));   // a first try, then the right place
    QVERIFY(pickAt(w, 100, 500));
    button(w, "btnBGImageDist")->click();
    QCOMPARE(boxes.seen.size(), 3);
    QCOMPARE(boxes.seen[2].text, QString("Sie müssen im Bild einen Zielpunkt selektieren, dessen Abstand (in cm) zum Ursprung angegeben werden muss!\n\nBitte markieren Sie nun diesen Punkt!\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!"));
    QCOMPARE(w.mouseMode, 2);
    QVERIFY(pickAt(w, 400, 500));
    QCOMPARE(QList<int>({w.calibration->originX, w.calibration->originY, w.calibration->pointX, w.calibration->pointY}),
             QList<int>({100, 500, 400, 500}));
    QVERIFY(redraw(w));   // the marks are drawn while the calibration runs
    edit(w, "edtBGImageDistance")->setText("600");
    button(w, "btnAcceptBGImageSetup")->click();
    QCOMPARE(boxes.seen.size(), 4);
    checkBox(boxes.seen[3], "Image anpassen", "Image erfolgreich angepasst", QMessageBox::Information);
    QVERIFY(!w.calibration);
    QCOMPARE(w.mouseMode, 0);
    QCOMPARE(w.bgImageFactor, 2.0);
    QCOMPARE(w.bgImageOffsetX, -200);
    QCOMPARE(w.bgImageOffsetY, 200);
    QCOMPARE(gridTexts(w), QStringList({"-200", "-1000", "1600", "1200"}));
    QCOMPARE(QList<int>({w.imageGridX, w.imageGridY, w.imageGridW, w.imageGridH}),
             QList<int>({-200, -1000, 1600, 1200}));
    QVERIFY(edit(w, "edtBGImageDistance")->text().isEmpty());
    QCOMPARE(chartLabel(w)->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(button(w, "btnBGImageSetup")->isEnabled());
    QVERIFY(!button(w, "btnAcceptBGImageSetup")->isEnabled());

    // After the calibration, the picked origin pixel is the world origin.
    QVERIFY(redraw(w));
    const QPoint origin = pixelFor(w, 0, 0);
    QVERIFY(origin.x() >= 0);
    press(w, origin);
    release(w, origin);
    QCOMPARE(label(w, "lblMouseX")->text(), QString("0 cm"));

    // Grid zurücksetzen brings the fitted grid back.
    setGrid(w, "0", "0", "10", "10");
    button(w, "btnResetGrid")->click();
    QCOMPARE(gridTexts(w), QStringList({"-200", "-1000", "1600", "1200"}));

    // Clearing removes the picture but keeps its path for saving.
    button(w, "btnClearBackground")->click();
    QVERIFY(!w.bgImage);
    QCOMPARE(w.bgImagePath, png);
    button(w, "btnBGImageSetup")->click();
    QCOMPARE(boxes.seen.size(), 5);
    checkBox(boxes.seen[4], "Image anpassen", "Kein Hintergrundbild ausgewählt!", QMessageBox::Warning);
    QVERIFY(!w.calibration);

    // A file that is no picture: an empty picture, sizes 0, and nothing breaks.
    const QString bogus = dir.filePath("bogus.png");
    QVERIFY(writeBytes(bogus, QByteArray("\x89PNG but not really, just some garbage bytes\n").repeated(20)));
    selectBackground(w, bogus);
    QVERIFY(w.bgImage);
    QVERIFY(w.bgImage->isNull());
    QCOMPARE(gridTexts(w), QStringList({"0", "0", "0", "0"}));
    QCOMPARE(QList<int>({w.imageGridX, w.imageGridY, w.imageGridW, w.imageGridH}), QList<int>({0, 0, 0, 0}));
    QVERIFY(check(w, "chkDrawBGImage")->isChecked());
    QVERIFY(redraw(w));   // the last good geometry stays
    QCOMPARE(w.chartGeo.gridW, 1600);
    // Calibrating the empty picture runs through without harm.
    const int before = boxes.seen.size();
    button(w, "btnBGImageSetup")->click();
    QVERIFY(w.calibration);
    w.calibration->originSet = w.calibration->pointSet = true;
    w.calibration->pointX = 10;
    edit(w, "edtBGImageDistance")->setText("100");
    button(w, "btnAcceptBGImageSetup")->click();
    QVERIFY(!w.calibration);
    QCOMPARE(boxes.seen.size(), before + 2);
    QCOMPARE(w.bgImageFactor, 10.0);
    QCOMPARE(gridTexts(w), QStringList({"0", "0", "0", "0"}));
    QVERIFY(redraw(w));
    button(w, "btnResetGrid")->click();   // the reset never offers an empty grid
    QCOMPARE(gridTexts(w), QStringList({"0", "0", "100", "100"}));
}

void TestChartUi::calibrationRefusals()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, 800, 600, Qt::yellow, Qt::cyan));

    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(prepareWindow(w));
    selectBackground(w, png);
    button(w, "btnBGImageSetup")->click();
    QVERIFY(redraw(w));
    QCOMPARE(boxes.seen.size(), 1);

    // Each missing item in turn, the calibration staying open.
    const QStringList missing = {"Sie haben noch keinen Koordinatenursprung gewählt!",
                                 "Sie haben noch keinen Messpunkt gewählt!",
                                 "Sie haben noch keinen Messabstand eingegeben!"};
    button(w, "btnAcceptBGImageSetup")->click();
    button(w, "btnBGImageOrigin")->click();
    QVERIFY(pickAt(w, 100, 500));
    button(w, "btnAcceptBGImageSetup")->click();
    button(w, "btnBGImageDist")->click();
    QVERIFY(pickAt(w, 400, 500));
    button(w, "btnAcceptBGImageSetup")->click();
    edit(w, "edtBGImageDistance")->setText("6x0");   // no number
    button(w, "btnAcceptBGImageSetup")->click();
    QCOMPARE(boxes.seen.size(), 7);
    checkBox(boxes.seen[1], "Image anpassen", missing[0], QMessageBox::Warning);
    checkBox(boxes.seen[3], "Image anpassen", missing[1], QMessageBox::Warning);
    checkBox(boxes.seen[5], "Image anpassen", missing[2], QMessageBox::Warning);
    checkBox(boxes.seen[6], "Image anpassen", missing[2], QMessageBox::Warning);
    for (int i : {1, 3, 5, 6})
        QCOMPARE(boxes.seen[i].buttonTexts.size(), 1);
    QVERIFY(w.calibration);
    QCOMPARE(w.mouseMode, 2);
    QCOMPARE(w.bgImageFactor, 1.0);

    // Origin and measuring point on the same spot give no scale: a warning,
    // and the user may pick again.
    QVERIFY(pickAt(w, 100, 500));
    edit(w, "edtBGImageDistance")->setText("600");
    button(w, "btnAcceptBGImageSetup")->click();
    QCOMPARE(boxes.seen.size(), 8);
    checkBox(boxes.seen[7], "Image anpassen", "Ursprung und Messpunkt dürfen nicht übereinstimmen!",
             QMessageBox::Warning);
    QVERIFY(w.calibration);
    QCOMPARE(w.mouseMode, 2);
    QCOMPARE(w.bgImageFactor, 1.0);
    QCOMPARE(w.bgImageOffsetY, 600);
    QVERIFY(std::isfinite(w.bgImageFactor));
    QVERIFY(pickAt(w, 400, 500));
    QCOMPARE(w.calibration->pointX, 400);
    QVERIFY(redraw(w));

    // Cancelling leaves the picture at 1 cm per pixel with the grid fitted to it.
    button(w, "btnAcceptBGImageCancel")->click();
    QCOMPARE(boxes.seen.size(), 8);
    QVERIFY(!w.calibration);
    QCOMPARE(w.mouseMode, 0);
    QCOMPARE(w.bgImageFactor, 1.0);
    QCOMPARE(w.bgImageOffsetX, 0);
    QCOMPARE(w.bgImageOffsetY, 600);
    QCOMPARE(gridTexts(w), QStringList({"0", "0", "800", "600"}));
    QVERIFY(edit(w, "edtBGImageDistance")->text().isEmpty());
    QCOMPARE(chartLabel(w)->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!button(w, "btnBGImageOrigin")->isEnabled());

    // A fresh set-up starts from nothing and puts a calibrated picture back to 1 cm per pixel.
    w.bgImageFactor = 3.0;
    w.bgImageOffsetX = 77;
    button(w, "btnBGImageSetup")->click();
    QVERIFY(w.calibration);
    QVERIFY(!w.calibration->originSet && !w.calibration->pointSet && !w.calibration->distanceSet);
    QCOMPARE(w.bgImageFactor, 1.0);
    QCOMPARE(w.bgImageOffsetX, 0);
    // A zero distance counts as given.
    edit(w, "edtBGImageDistance")->setText("0");
    QVERIFY(w.calibration->distanceSet);
    button(w, "btnAcceptBGImageCancel")->click();
}

void TestChartUi::backgroundPlacementOnChart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath("plan.png");
    const QColor top(200, 30, 30), bottom(30, 30, 200);
    QVERIFY(writePicture(png, 800, 600, top, bottom));

    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(prepareWindow(w));
    selectBackground(w, png);
    // The calibrated placement of the 800 x 600 picture: factor 2, top-left at
    // (-200, 200), so it spans x -200 .. 1400 and y -1000 .. 200.
    w.bgImageFactor = 2.0;
    w.bgImageOffsetX = -200;
    w.bgImageOffsetY = 200;
    check(w, "chkDrawGrid")->setChecked(false);
    setGrid(w, "-400", "-1200", "2000", "2000");
    QVERIFY(redraw(w));
    QCOMPARE(w.chartGeo.cmPerPixel, 4.0);
    QCOMPARE(w.chartGeo.originX, 400);
    QCOMPARE(w.chartGeo.originY, 800);
    QVERIFY(w.chartPixmap);
    const QImage img = w.chartPixmap->toImage();
    QCOMPARE(img.size(), QSize(500, 500));
    auto at = [&](int x, int y) {
        const QPoint p((x + w.chartGeo.originX) / 4, (w.chartGeo.originY - y) / 4);
        return QColor(img.pixel(p));
    };
    QCOMPARE(at(600, 100), top);        // upper half of the picture
    QCOMPARE(at(600, -900), bottom);    // lower half
    QCOMPARE(at(-180, 0), top);         // just inside the left edge
    QCOMPARE(at(-220, 0), QColor(Qt::white));
    QCOMPARE(at(1380, 0), top);         // just inside the right edge
    QCOMPARE(at(1420, 0), QColor(Qt::white));
    QCOMPARE(at(600, 180), top);        // just below the top edge
    QCOMPARE(at(600, 220), QColor(Qt::white));
    QCOMPARE(at(600, -980), bottom);    // just above the bottom edge
    QCOMPARE(at(600, -1020), QColor(Qt::white));
    QCOMPARE(at(-300, 600), QColor(Qt::white));

    // Unchecking the switch takes the picture away on the next pass.
    check(w, "chkDrawBGImage")->setChecked(false);
    QVERIFY(redraw(w));
    QCOMPARE(QColor(w.chartPixmap->toImage().pixel(400, 350)), QColor(Qt::white));
    QVERIFY(boxes.seen.isEmpty());
}

void TestChartUi::settingsRoundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, 800, 600, Qt::gray, Qt::darkGray));
    const QString cfg = dir.filePath("setup.cfg");

    MainWin w;
    ModalAnswerer boxes;
    w.modules.anchors = {Anchor("0A1", "Nord", QColor(255, 0, 0), 10, 20, 30, false, 4),
                         Anchor("0a2", "Süd = \"zwei\"; %1", QColor(0, 0, 255), -100, 250, 0, true, -7),
                         Anchor("0A3", "", QColor(0, 128, 0), 0, -999999, 5, false, 0)};
    w.modules.tags = {Tag("1B", "Stapler", QColor(255, 165, 0), true, false, true, false, true, false, true),
                      Tag("2C", "Tag2", QColor(128, 0, 128), false, true, false, true, false, true, false)};
    w.modules.tags[0].avgX = 55;   // measurement state, not to be stored
    w.modules.tags[0].lastUpdateMs = 1234;
    w.fillAnchorTable();
    w.fillTagTable();
    selectBackground(w, png);
    w.bgImageFactor = 1.0 / 3.0;   // must come back to the last bit
    w.bgImageOffsetX = -200;
    w.bgImageOffsetY = 300;
    w.imageGridX = -200; w.imageGridY = -1200; w.imageGridW = 2000; w.imageGridH = 1500;
    setGrid(w, "-300", " -1200", "2500", "abc");   // stored as typed
    w.findChild<QComboBox*>("cmbLastMeasures")->setCurrentText("5");
    QCOMPARE(w.averageCount, 5);
    check(w, "chkDrawGrid")->setChecked(false);
    check(w, "chkDrawBGImage")->setChecked(true);

    QStringList captions;
    w.chooseSaveFile = [&](const QString& caption, const QString& filter) {
        captions << caption << filter;
        return cfg;
    };
    button(w, "btnSaveSettings")->click();
    QCOMPARE(captions, QStringList({"Zieldatei wählen", "Konfigdateien (*.cfg);;alle Dateien (*.*)"}));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(QFileInfo(cfg).isFile());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);   // no temporary file left

    // Change everything, then load.
    MainWin v;
    v.modules.anchors = {Anchor("FF", "weg", Qt::black, 1, 1, 1, false, 0)};
    v.fillAnchorTable();
    setGrid(v, "1", "2", "3", "4");
    captions.clear();
    v.chooseOpenFile = [&](const QString& caption, const QString& filter) {
        captions << caption << filter;
        return cfg;
    };
    button(v, "btnLoadSettings")->click();
    QCOMPARE(captions, QStringList({"Einstellungsdatei wählen", "Konfigdateien (*.cfg);;alle Dateien (*.*)"}));
    QCOMPARE(boxes.seen.size(), 1);   // the reminder
    QCOMPARE(v.modules.anchors.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const Anchor& a = v.modules.anchors[i];
        const Anchor& b = w.modules.anchors[i];
        QCOMPARE(a.id, b.id);
        QCOMPARE(a.name, b.name);
        QCOMPARE(a.color, b.color);
        QCOMPARE(QList<int>({a.x, a.y, a.z, a.offset}), QList<int>({b.x, b.y, b.z, b.offset}));
        QCOMPARE(a.master, b.master);
    }
    QCOMPARE(v.modules.tags.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const Tag& a = v.modules.tags[i];
        const Tag& b = w.modules.tags[i];
        QCOMPARE(a.id, b.id);
        QCOMPARE(a.name, b.name);
        QCOMPARE(a.color, b.color);
        QCOMPARE(QList<bool>({a.showPosRaw, a.showPosAvg, a.showDistRaw, a.showDistAvg, a.showCoordinates,
                              a.showSpeed, a.showRate}),
                 QList<bool>({b.showPosRaw, b.showPosAvg, b.showDistRaw, b.showDistAvg, b.showCoordinates,
                              b.showSpeed, b.showRate}));
    }
    QCOMPARE(v.modules.tags[0].avgX, Tag::NoPosition);
    QCOMPARE(v.modules.tags[0].lastUpdateMs, qint64(0));
    auto* table = v.findChild<QTableWidget*>("tblAnker");
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(table->item(1, 1)->text(), w.modules.anchors[1].name);
    QCOMPARE(v.findChild<QTableWidget*>("tblTags")->rowCount(), 2);
    QCOMPARE(gridTexts(v), QStringList({"-300", " -1200", "2500", "abc"}));
    QCOMPARE(QList<int>({v.imageGridX, v.imageGridY, v.imageGridW, v.imageGridH}),
             QList<int>({-200, -1200, 2000, 1500}));
    QCOMPARE(v.findChild<QComboBox*>("cmbLastMeasures")->currentText(), QString("5"));
    QCOMPARE(v.averageCount, 5);
    QVERIFY(v.bgImage);
    QCOMPARE(v.bgImage->size(), QSize(800, 600));
    QCOMPARE(v.bgImagePath, png);
    QCOMPARE(v.bgImageFactor, 1.0 / 3.0);
    QCOMPARE(v.bgImageOffsetX, -200);
    QCOMPARE(v.bgImageOffsetY, 300);
    QVERIFY(!check(v, "chkDrawGrid")->isChecked());
    QVERIFY(check(v, "chkDrawBGImage")->isChecked());
    QVERIFY(v.gridDirty);

    // A cleared picture still saves its path; the flags are saved as they are.
    button(w, "btnClearBackground")->click();
    check(w, "chkDrawGrid")->setChecked(true);
    check(w, "chkDrawBGImage")->setChecked(false);
    w.modules.anchors.clear();
    w.modules.tags.clear();
    boxes.answer(QMessageBox::Yes);
    button(w, "btnSaveSettings")->click();
    QCOMPARE(boxes.seen.size(), 2);
    checkBox(boxes.seen[1], "Einstellungen speichern",
             QString("Die Zieldatei '%1' existiert bereits!\n\nWollen Sie diese wirklich überschreiben?").arg(cfg),
             QMessageBox::Information);
    QCOMPARE(boxes.seen[1].buttonTexts.size(), 2);
    const QByteArray text = readBytes(cfg);
    QVERIFY(text.contains("AnchorCount=0"));
    QVERIFY(text.contains("TagCount=0"));
    QVERIFY(!text.contains("Anchor0-"));   // only the new keys
    QVERIFY(!text.contains("Tag0-"));
    button(v, "btnLoadSettings")->click();
    QCOMPARE(boxes.seen.size(), 3);
    QVERIFY(v.modules.anchors.isEmpty());
    QCOMPARE(v.findChild<QTableWidget*>("tblAnker")->rowCount(), 0);
    QCOMPARE(v.bgImagePath, png);
    QVERIFY(v.bgImage);
    QVERIFY(check(v, "chkDrawGrid")->isChecked());
    QVERIFY(!check(v, "chkDrawBGImage")->isChecked());

    // A file without the picture key removes the current picture.
    QVERIFY(writeBytes(cfg, "[General]\nAnchorCount=1\nAnchor0-ID=7\n"));
    button(v, "btnLoadSettings")->click();
    QVERIFY(!v.bgImage);
    QCOMPARE(v.modules.anchors.size(), 1);
    QCOMPARE(v.modules.anchors[0].id, QString("7"));
    QVERIFY(!v.modules.anchors[0].color.isValid());
    QCOMPARE(gridTexts(v), QStringList({"", "", "", ""}));
}

void TestChartUi::settingsFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cfg = dir.filePath("old.cfg");
    QVERIFY(writeBytes(cfg, "[General]\nAnchorCount=1\nAnchor0-ID=OLD\n"));
    const QByteArray oldBytes = readBytes(cfg);

    MainWin w;
    ModalAnswerer boxes;
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 1, 2, 3, true, 0)};
    w.fillAnchorTable();
    setGrid(w, "-500", "-500", "1000", "1000");
    QString target = cfg;
    w.chooseSaveFile = [&](const QString&, const QString&) { return target; };
    w.chooseOpenFile = [&](const QString&, const QString&) { return target; };

    // Answering No (or closing the question) keeps the old file byte for byte.
    boxes.answer(QMessageBox::No);
    button(w, "btnSaveSettings")->click();
    button(w, "btnSaveSettings")->click();   // unanswered: the default is No
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen[0].title, QString("Einstellungen speichern"));
    QCOMPARE(readBytes(cfg), oldBytes);

    const QString failTitle = "Einstellungen speichern";
    const QString failText = "Die Einstellungen konnten nicht gespeichert werden!";

    // A folder that does not exist.
    target = dir.filePath("missing/sub/new.cfg");
    button(w, "btnSaveSettings")->click();
    QCOMPARE(boxes.seen.size(), 3);
    checkBox(boxes.seen[2], failTitle, failText, QMessageBox::Warning);
    QVERIFY(!QFileInfo::exists(dir.filePath("missing")));

    // A folder in place of a file: the user is asked, agrees, and the write fails.
    target = dir.filePath("afolder");
    QVERIFY(QDir(dir.path()).mkdir("afolder"));
    boxes.answer(QMessageBox::Yes);
    button(w, "btnSaveSettings")->click();
    QCOMPARE(boxes.seen.size(), 5);
    checkBox(boxes.seen[4], failTitle, failText, QMessageBox::Warning);
    QVERIFY(QFileInfo(target).isDir());

    // The disk fills up while the new file is written (a file size limit, which
    // binds root too): the overwrite is agreed, the write fails, the old file
    // stays as it was and no half-written file is left behind.
    {
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = 64;
        void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        target = cfg;
        boxes.answer(QMessageBox::Yes);
        button(w, "btnSaveSettings")->click();
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);
        QCOMPARE(boxes.seen.size(), 7);
        QCOMPARE(boxes.seen[5].title, failTitle);   // the question
        checkBox(boxes.seen[6], failTitle, failText, QMessageBox::Warning);
        QCOMPARE(readBytes(cfg), oldBytes);
        QCOMPARE(QDir(dir.path()).entryList(QStringList("*.tmp"), QDir::Files).size(), 0);
    }
    QCOMPARE(w.modules.anchors.size(), 1);

    // Unreadable files change nothing and say so.
    const QString garbage = dir.filePath("garbage.cfg");
    const QStringList before = gridTexts(w);
    for (const QByteArray& bytes : {QByteArray("[General\nAnchorCount=0\n"),
                                    QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0", 20)}) {
        QVERIFY(writeBytes(garbage, bytes));
        target = garbage;
        const int n = boxes.seen.size();
        button(w, "btnLoadSettings")->click();
        QCOMPARE(boxes.seen.size(), n + 1);
        checkBox(boxes.seen[n], "Einstellungen laden", "Die Einstellungsdatei konnte nicht gelesen werden!",
                 QMessageBox::Warning);
        QCOMPARE(w.modules.anchors.size(), 1);
        QCOMPARE(w.modules.anchors[0].id, QString("A1"));
        QCOMPARE(gridTexts(w), before);
    }
    for (const QString& path : {dir.filePath("does-not-exist.cfg"), dir.filePath("afolder")}) {
        target = path;
        const int n = boxes.seen.size();
        button(w, "btnLoadSettings")->click();
        QCOMPARE(boxes.seen.size(), n + 1);
        QCOMPARE(boxes.seen[n].title, QString("Einstellungen laden"));
        QCOMPARE(w.modules.anchors.size(), 1);
    }

    // A huge count loads at most 1000 records, quickly and in little memory.
    QVERIFY(writeBytes(garbage, "[General]\nAnchorCount=2000000000\nTagCount=2000000000\nAnchor999-ID=LAST\n"
                                "Anchor1000-ID=BEYOND\n"));
    target = garbage;
    const long rssBefore = rssKb();
    QElapsedTimer clock;
    clock.start();
    button(w, "btnLoadSettings")->click();
    const qint64 ms = clock.elapsed();
    const long grownKb = rssKb() - rssBefore;
    qInfo("1000 + 1000 records loaded in %lld ms, resident memory grew by %ld kB", ms, grownKb);
    QCOMPARE(w.modules.anchors.size(), MaxSettingsRecords);
    QCOMPARE(w.modules.tags.size(), MaxSettingsRecords);
    QCOMPARE(w.modules.anchors.last().id, QString("LAST"));
    QCOMPARE(w.findChild<QTableWidget*>("tblAnker")->rowCount(), MaxSettingsRecords);
    QVERIFY2(ms < 60000, QByteArray::number(ms).constData());
    QVERIFY2(grownKb < 512 * 1024, QByteArray::number(qlonglong(grownKb)).constData());

    // An averaging depth that the combo box does not offer changes nothing.
    auto* combo = w.findChild<QComboBox*>("cmbLastMeasures");
    combo->setCurrentText("20");
    QCOMPARE(w.averageCount, 20);
    for (const QByteArray& value : {QByteArray("7"), QByteArray("Messungen2"), QByteArray("")}) {
        QVERIFY(writeBytes(garbage, "[General]\nAverage=" + value + "\n"));
        button(w, "btnLoadSettings")->click();
        QCOMPARE(w.averageCount, 20);
        QCOMPARE(combo->currentText(), QString("20"));
    }
    QVERIFY(writeBytes(garbage, "[General]\nAverage=100\n"));
    button(w, "btnLoadSettings")->click();
    QCOMPARE(w.averageCount, 100);

    // Negative counts give empty lists.
    QVERIFY(writeBytes(garbage, "[General]\nAnchorCount=-5\nTagCount=-1\n"));
    button(w, "btnLoadSettings")->click();
    QVERIFY(w.modules.anchors.isEmpty());
    QVERIFY(w.modules.tags.isEmpty());
}

void TestChartUi::settingsReminder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cfg = dir.filePath("setup.cfg");
    SettingsData data;
    data.anchors = {Anchor("A1", "Eins", Qt::red, 0, 0, 0, true, 0)};
    QVERIFY(writeSettingsFile(cfg, data));

    const QString title = "Module konfigurieren";
    const QString text = "Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor dem Ranging die Modulkonfiguration vorzunehmen um den Master zu konfigurieren!";

    MainWin w;
    int dialogs = 0;
    ModalAnswerer boxes;
    boxes.onOtherModal = [&](QWidget* modal) {
        if (qobject_cast<DiscoverWin*>(modal))
            ++dialogs;
        // Leave the dialog the way the user would: its cancel button.
        if (auto* cancel = modal->findChild<QPushButton*>("btnCancelDiscovery"))
            cancel->click();
        else
            modal->close();
    };
    w.chooseOpenFile = [&](const QString&, const QString&) { return cfg; };

    // Disconnected: a hint.
    button(w, "btnLoadSettings")->click();
    QCOMPARE(boxes.seen.size(), 1);
    checkBox(boxes.seen[0], title, text, QMessageBox::Information);
    QCOMPARE(boxes.seen[0].buttonTexts.size(), 1);
    QCOMPARE(dialogs, 0);

    // Connected: a question; No leaves it there, Yes opens the module configuration.
    PtyPair pty;
    QVERIFY(pty.isValid());
    FakeMaster master(&pty);
    w.findChild<QComboBox*>("cmbComPort")->setEditText(pty.slavePath());
    w.connectPort();
    QVERIFY(w.com.isOpen());
    boxes.answer(QMessageBox::No);
    button(w, "btnLoadSettings")->click();
    QCOMPARE(boxes.seen.size(), 2);
    checkBox(boxes.seen[1], title, text + "\nMöchten Sie jetzt das Konfigurationsfenster öffnen?",
             QMessageBox::Question);
    QCOMPARE(boxes.seen[1].buttonTexts.size(), 2);
    QCOMPARE(dialogs, 0);

    boxes.answer(QMessageBox::Yes);
    button(w, "btnLoadSettings")->click();
    QCOMPARE(boxes.seen.size(), 3);
    QCOMPARE(boxes.seen[2].icon, QMessageBox::Question);
    QCOMPARE(dialogs, 1);
    QVERIFY(!w.discoverWin);
    QCOMPARE(w.modules.anchors.size(), 1);
    QVERIFY(master.lines.isEmpty());   // loading sends nothing to the master

    // The default answer of the question is No.
    button(w, "btnLoadSettings")->click();
    QCOMPARE(boxes.seen.size(), 4);
    QCOMPARE(dialogs, 1);
    w.disconnectPort();
}

QTEST_MAIN(TestChartUi)
#include "tst_chartui.moc"
