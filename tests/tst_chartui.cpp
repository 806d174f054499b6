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
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

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
    void settingsRoundTrip();
    void settingsFailures();
    void settingsReminder();
};

namespace {

QLineEdit* edit(MainWin& w, const char* name) { return w.findChild<QLineEdit*>(name); }
QCheckBox* check(MainWin& w, const char* name) { return w.findChild<QCheckBox*>(name); }
QLabelEx* chartLabel(MainWin& w) { return w.findChild<QLabelEx*>("lblChart"); }
void click(MainWin& w, const char* name) { findButton(&w, name)->click(); }

void setGrid(MainWin& w, const QString& x, const QString& y, const QString& wd, const QString& h)
{
    edit(w, "edtGridX")->setText(x);
    edit(w, "edtGridY")->setText(y);
    edit(w, "edtGridW")->setText(wd);
    edit(w, "edtGridH")->setText(h);
}

// The grid boxes' texts and the picture's grid, as one line.
QString grids(MainWin& w)
{
    return QStringList({edit(w, "edtGridX")->text(), edit(w, "edtGridY")->text(), edit(w, "edtGridW")->text(),
                        edit(w, "edtGridH")->text()}).join(' ')
        + QString(" / %1 %2 %3 %4").arg(w.imageGridX).arg(w.imageGridY).arg(w.imageGridW).arg(w.imageGridH);
}

QString placement(MainWin& w)
{
    return QString("%1 %2 %3").arg(w.bgImageFactor).arg(w.bgImageOffsetX).arg(w.bgImageOffsetY);
}

// One chart pass, then let the layout give lblChart the pixmap's size so
// that label pixels are chart pixels.
bool redraw(MainWin& w)
{
    w.redrawChart();
    w.redrawTimer->stop();   // no passes of their own while disconnected
    QLabelEx* l = chartLabel(w);
    return waitUntil([&] { return l->size() == QSize(w.chartGeo.pixmapW, w.chartGeo.pixmapH); }, 2000);
}

// A shown window whose chart container is 700 x 500 pixels, so a grid of
// 1000 x 1000 cm is drawn at 2 cm per pixel.
bool prepareWindow(MainWin& w, bool standardGrid = true)
{
    w.findChild<QWidget*>("chart")->setFixedSize(700, 500);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return false;
    QCoreApplication::processEvents();
    if (!standardGrid)
        return true;
    setGrid(w, "-500", "-500", "1000", "1000");
    return redraw(w) && w.chartGeo.cmPerPixel == 2.0;
}

// A label pixel that the main window reads as the given world point.
QPoint pixelFor(MainWin& w, int x, int y)
{
    QLabelEx* l = chartLabel(w);
    for (int py = 0; py < l->height(); ++py)
        for (int px = 0; px < l->width(); ++px)
            if (pixelToWorld(w.chartGeo, QPointF(px, py)) == QPoint(x, y))
                return QPoint(px, py);
    return QPoint(-1, -1);
}

void press(MainWin& w, QPoint p, Qt::MouseButton b = Qt::LeftButton)
{
    QTest::mousePress(chartLabel(w), b, Qt::NoModifier, p);
}
void move(MainWin& w, QPoint p) { QTest::mouseMove(chartLabel(w), p); }
void release(MainWin& w, QPoint p, Qt::MouseButton b = Qt::LeftButton)
{
    QTest::mouseRelease(chartLabel(w), b, Qt::NoModifier, p);
}

QString readouts(MainWin& w)
{
    QStringList out;
    for (const char* name : {"lblMouseX", "lblMouseY", "lblMouseXD", "lblMouseYD", "lblMouseD"})
        out << w.findChild<QLabel*>(name)->text();
    return out.join(' ');
}

bool writePicture(const QString& path, QColor top, QColor bottom)
{
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(bottom);
    QPainter p(&image);
    p.fillRect(0, 0, 800, 300, top);
    p.end();
    return image.save(path, "PNG");
}

void selectBackground(MainWin& w, const QString& path)
{
    w.chooseOpenFile = [path](const QString&, const QString&) { return path; };
    click(w, "btnSelectBackground");
}

// Picks a calibration point with a real click on the chart.
bool pickAt(MainWin& w, int x, int y)
{
    const QPoint p = pixelFor(w, x, y);
    if (p.x() < 0)
        return false;
    press(w, p);
    release(w, p);
    return true;
}

const QString ImageTitle = "Image anpassen";
const QString SaveTitle = "Einstellungen speichern";
const QString SaveFailed = "Die Einstellungen konnten nicht gespeichert werden!";

} // namespace

void TestChartUi::mouseReadoutsAndDragging()
{
    MainWin w;
    QVERIFY(prepareWindow(w));
    QCOMPARE(chartLabel(w)->size(), QSize(500, 500));

    // Label pixels to centimetres, truncated toward zero.
    for (const auto& c : {qMakePair(QPoint(250, 250), QString("0 cm 0 cm")), qMakePair(QPoint(251, 249), QString("2 cm 2 cm")),
                          qMakePair(QPoint(249, 251), QString("-2 cm -2 cm"))}) {
        press(w, c.first);
        QCOMPARE(readouts(w).section(' ', 0, 3), c.second);
        release(w, c.first);
    }
    QCOMPARE(w.dragAnchor, -1);

    // A drag over empty floor from (0, 0) to (30, 40): only the read-outs change.
    press(w, QPoint(250, 250));
    QCOMPARE(w.pressPos, QVector2D(0, 0));
    move(w, QPoint(258, 240));
    move(w, QPoint(265, 230));
    release(w, QPoint(265, 230));
    QCOMPARE(readouts(w), QString("30 cm 40 cm 30 cm 40 cm 50 cm"));

    // Dragging an anchor: where two lie on each other, the later one moves,
    // and the table follows once the button is released.
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 0, 0, 0, true, 0), Anchor("A2", "Zwei", Qt::blue, 0, 0, 0, false, 0),
                         Anchor("A3", "Drei", Qt::green, 300, -200, 0, false, 0)};
    w.fillAnchorTable();
    auto* table = w.findChild<QTableWidget*>("tblAnker");
    auto xy = [&](int i) { return QPoint(w.modules.anchors[i].x, w.modules.anchors[i].y); };
    press(w, QPoint(251, 251));   // (2, -2): inside both tolerance squares
    QCOMPARE(w.dragAnchor, 1);
    move(w, QPoint(258, 240));
    QCOMPARE(xy(1), QPoint(16, 20));
    move(w, QPoint(265, 230));
    QCOMPARE(xy(1), QPoint(30, 40));
    QCOMPARE(xy(0), QPoint(0, 0));
    QCOMPARE(table->item(1, 3)->text(), QString("0"));   // not yet: the drag is still going
    QVERIFY(redraw(w));                                  // a pass in the middle of a drag
    release(w, QPoint(265, 230));
    QCOMPARE(readouts(w), QString("30 cm 40 cm 28 cm 42 cm 50 cm"));
    QCOMPARE(table->item(1, 3)->text() + ' ' + table->item(1, 4)->text(), QString("30 40"));

}

void TestChartUi::mouseToleranceAndModes()
{
    MainWin w;
    QVERIFY(prepareWindow(w));
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 100, 100, 0, true, 0)};
    w.fillAnchorTable();

    // Five pixels are 10 cm: the square's edges count. An odd origin makes odd
    // centimetres reachable: (111, 100) is just outside.
    struct Case {
        int originX;
        QPoint pixel;
        QString readout;
        int drag;
    };
    const QList<Case> cases = {{500, {305, 205}, "110 cm 90 cm", 0}, {500, {295, 195}, "90 cm 110 cm", 0},
                               {500, {306, 200}, "112 cm 100 cm", -1}, {501, {306, 200}, "111 cm 100 cm", -1},
                               {501, {305, 200}, "109 cm 100 cm", 0}};
    for (const Case& c : cases) {
        w.chartGeo.originX = c.originX;
        press(w, c.pixel);
        QCOMPARE(readouts(w).section(' ', 0, 3), c.readout);
        QCOMPARE(w.dragAnchor, c.drag);
        release(w, c.pixel);
    }
    w.chartGeo.originX = 500;

    // While a calibration point is being picked, the press picks it and drags nothing.
    w.calibration = new Calibration;
    w.mouseMode = 1;
    press(w, QPoint(300, 200));   // right on the anchor
    move(w, QPoint(350, 250));
    release(w, QPoint(350, 250));
    const Calibration& c = *w.calibration;
    QVERIFY(c.originSet && !c.pointSet);
    QCOMPARE(QList<int>({c.originX, c.originY}), QList<int>({100, 100}));
    QCOMPARE(w.dragAnchor, -1);
    QCOMPARE(QPoint(w.modules.anchors[0].x, w.modules.anchors[0].y), QPoint(100, 100));

    w.mouseMode = 0;
}

void TestChartUi::backgroundImageAndCalibration()
{
    QTemporaryDir dir;
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, QColor(200, 30, 30), QColor(30, 30, 200)));
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(prepareWindow(w, false));
    check(w, "chkDrawBGImage")->setChecked(false);

    // A picture at 1 cm per pixel, its lower-left corner at the origin.
    selectBackground(w, png);
    QVERIFY(w.bgImage && w.bgImage->size() == QSize(800, 600));
    QCOMPARE(grids(w), QString("0 0 800 600 / 0 0 800 600"));
    QCOMPARE(placement(w), QString("1 0 600"));
    QVERIFY(check(w, "chkDrawBGImage")->isChecked());

    // The whole calibration with the buttons and clicks on the chart.
    click(w, "btnBGImageSetup");
    QVERIFY(w.calibration);
    QVERIFY(redraw(w));
    click(w, "btnBGImageOrigin");
    QCOMPARE(w.mouseMode, 1);
    QVERIFY(pickAt(w, 300, 300));   // a first try, then the right place
    QVERIFY(pickAt(w, 100, 500));
    click(w, "btnBGImageDist");
    QCOMPARE(w.mouseMode, 2);
    QVERIFY(pickAt(w, 400, 500));
    QVERIFY(redraw(w));   // the marks are drawn while the calibration runs
    edit(w, "edtBGImageDistance")->setText("600");
    click(w, "btnAcceptBGImageSetup");
    QCOMPARE(boxTexts(boxes), QStringList(
        {"Bitte wählen Sie den Ursprung, einen Messpunkt und den Abstand zwischen den Punkten in cm anhand der Buttons rechts daneben!",
         "Bitte klicken Sie im Bild auf die Stelle des gewünschten Koordinatenursprungs (0,0).\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!",
         "Sie müssen im Bild einen Zielpunkt selektieren, dessen Abstand (in cm) zum Ursprung angegeben werden muss!\n\nBitte markieren Sie nun diesen Punkt!\n\nSie können so oft an eine beliebige Stelle klicken, wie sie möchten!",
         "Image erfolgreich angepasst"}));
    QCOMPARE(boxOf(boxes.seen.at(3)), QStringList({ImageTitle, "Image erfolgreich angepasst", "Information"}));
    QVERIFY(!w.calibration);
    QCOMPARE(w.mouseMode, 0);
    QCOMPARE(placement(w), QString("2 -200 200"));
    QCOMPARE(grids(w), QString("-200 -1000 1600 1200 / -200 -1000 1600 1200"));

    // After the calibration, the picked origin pixel is the world origin.
    QVERIFY(redraw(w));
    const QPoint origin = pixelFor(w, 0, 0);
    QVERIFY(origin.x() >= 0);
    press(w, origin);
    release(w, origin);
    QCOMPARE(readouts(w).section(' ', 0, 1), QString("0 cm"));

    // Clearing removes the picture; calibrating then warns.
    click(w, "btnClearBackground");
    QVERIFY(!w.bgImage);
    click(w, "btnBGImageSetup");
    QCOMPARE(boxOf(boxes.seen.last()), QStringList({ImageTitle, "Kein Hintergrundbild ausgewählt!", "Warning"}));
    QVERIFY(!w.calibration);
}

void TestChartUi::calibrationRefusals()
{
    QTemporaryDir dir;
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, Qt::yellow, Qt::cyan));
    MainWin w;
    ModalAnswerer boxes;
    QVERIFY(prepareWindow(w, false));
    selectBackground(w, png);
    click(w, "btnBGImageSetup");
    QVERIFY(redraw(w));

    // Each missing item in turn, the calibration staying open.
    const QString noOrigin = "Sie haben noch keinen Koordinatenursprung gewählt!";
    const QString noPoint = "Sie haben noch keinen Messpunkt gewählt!";
    const QString noDistance = "Sie haben noch keinen Messabstand eingegeben!";
    const int from = boxes.seen.size();
    click(w, "btnAcceptBGImageSetup");
    click(w, "btnBGImageOrigin");
    QVERIFY(pickAt(w, 100, 500));
    click(w, "btnAcceptBGImageSetup");
    click(w, "btnBGImageDist");
    QVERIFY(pickAt(w, 400, 500));
    click(w, "btnAcceptBGImageSetup");
    edit(w, "edtBGImageDistance")->setText("6x0");   // no number
    click(w, "btnAcceptBGImageSetup");
    QCOMPARE(boxTexts(boxes, from).mid(0, 1) + boxTexts(boxes, from).mid(2, 1) + boxTexts(boxes, from).mid(4),
             QStringList({noOrigin, noPoint, noDistance, noDistance}));
    QCOMPARE(boxOf(boxes.seen.last()), QStringList({ImageTitle, noDistance, "Warning"}));
    QVERIFY(w.calibration);
    QCOMPARE(w.mouseMode, 2);

    // Origin and measuring point on the same spot give no scale: a warning,
    // and the user may pick again.
    QVERIFY(pickAt(w, 100, 500));
    edit(w, "edtBGImageDistance")->setText("600");
    click(w, "btnAcceptBGImageSetup");
    QCOMPARE(boxOf(boxes.seen.last()), QStringList({ImageTitle, "Ursprung und Messpunkt dürfen nicht übereinstimmen!", "Warning"}));
    QVERIFY(w.calibration);
    QCOMPARE(w.mouseMode, 2);
    QCOMPARE(placement(w), QString("1 0 600"));
    QVERIFY(std::isfinite(w.bgImageFactor));

    // Cancelling leaves the picture at 1 cm per pixel with the grid fitted to it.
    click(w, "btnAcceptBGImageCancel");
    QVERIFY(!w.calibration);
    QCOMPARE(w.mouseMode, 0);
    QCOMPARE(grids(w), QString("0 0 800 600 / 0 0 800 600"));
}

void TestChartUi::settingsRoundTrip()
{
    QTemporaryDir dir;
    const QString png = dir.filePath("plan.png");
    QVERIFY(writePicture(png, Qt::gray, Qt::darkGray));
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
    check(w, "chkDrawGrid")->setChecked(false);
    check(w, "chkDrawBGImage")->setChecked(true);

    w.chooseSaveFile = [&](const QString&, const QString&) { return cfg; };
    click(w, "btnSaveSettings");
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"plan.png", "setup.cfg"}));   // no temporary file left

    // Change everything, then load.
    MainWin v;
    v.modules.anchors = {Anchor("FF", "weg", Qt::black, 1, 1, 1, false, 0)};
    v.fillAnchorTable();
    setGrid(v, "1", "2", "3", "4");
    v.chooseOpenFile = [&](const QString&, const QString&) { return cfg; };
    click(v, "btnLoadSettings");
    QCOMPARE(boxes.seen.size(), 1);   // the reminder
    QCOMPARE(recordsOf(v.modules.anchors) + recordsOf(v.modules.tags), recordsOf(w.modules.anchors) + recordsOf(w.modules.tags));
    QVERIFY(hasNoMeasurement(v.modules.tags[0]));
    QCOMPARE(v.findChild<QTableWidget*>("tblAnker")->item(1, 1)->text(), w.modules.anchors[1].name);
    QCOMPARE(grids(v), QString("-300  -1200 2500 abc / -200 -1200 2000 1500"));
    QCOMPARE(v.averageCount, 5);
    QVERIFY(v.bgImage && v.bgImage->size() == QSize(800, 600));
    QCOMPARE(v.bgImagePath, png);
    QCOMPARE(v.bgImageFactor, 1.0 / 3.0);
    QCOMPARE(placement(v), placement(w));
    QVERIFY(!check(v, "chkDrawGrid")->isChecked() && check(v, "chkDrawBGImage")->isChecked());
    QVERIFY(v.gridDirty);

    // Overwriting asks first, and only the new keys are left.
    w.modules.anchors.clear();
    w.modules.tags.clear();
    boxes.answer(QMessageBox::Yes);
    click(w, "btnSaveSettings");
    QCOMPARE(boxOf(boxes.seen.at(1)),
             QStringList({SaveTitle, QString("Die Zieldatei '%1' existiert bereits!\n\nWollen Sie diese wirklich überschreiben?").arg(cfg),
                          "Information"}));
    QCOMPARE(boxes.seen.at(1).buttonTexts.size(), 2);
    const QByteArray text = readFileBytes(cfg);
    QVERIFY(text.contains("AnchorCount=0") && text.contains("TagCount=0"));
    QVERIFY(!text.contains("Anchor0-") && !text.contains("Tag0-"));
}

void TestChartUi::settingsFailures()
{
    QTemporaryDir dir;
    const QString cfg = dir.filePath("old.cfg");
    const QByteArray oldBytes = "[General]\nAnchorCount=1\nAnchor0-ID=OLD\n";
    QVERIFY(writeFileBytes(cfg, oldBytes));

    MainWin w;
    ModalAnswerer boxes;
    w.modules.anchors = {Anchor("A1", "Eins", Qt::red, 1, 2, 3, true, 0)};
    w.fillAnchorTable();
    setGrid(w, "-500", "-500", "1000", "1000");
    QString target = cfg;
    w.chooseSaveFile = [&](const QString&, const QString&) { return target; };
    w.chooseOpenFile = [&](const QString&, const QString&) { return target; };
    const QStringList failed = {SaveTitle, SaveFailed, "Warning"};

    // Answering No (or closing the question, whose default is No) keeps the old file byte for byte.
    boxes.answer(QMessageBox::No);
    click(w, "btnSaveSettings");
    click(w, "btnSaveSettings");
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen[0].title, SaveTitle);
    QCOMPARE(readFileBytes(cfg), oldBytes);

    // The disk fills up while the new file is written: the overwrite is agreed,
    // the write fails, the old file stays as it was and no half-written file is left.
    target = cfg;
    boxes.answer(QMessageBox::Yes);
    QVERIFY(withFileSizeLimit(64, [&] { click(w, "btnSaveSettings"); }));
    QCOMPARE(boxes.seen.size(), 4);
    QCOMPARE(boxOf(boxes.seen.last()), failed);
    QCOMPARE(readFileBytes(cfg), oldBytes);
    QCOMPARE(QDir(dir.path()).entryList(QStringList("*.tmp"), QDir::Files).size(), 0);

    // Unreadable files change nothing and say so.
    const QString garbage = dir.filePath("garbage.cfg");
    const QString before = grids(w);
    for (const QByteArray& bytes : {QByteArray("[General\nAnchorCount=0\n")}) {
        QVERIFY(writeFileBytes(garbage, bytes));
        target = garbage;
        click(w, "btnLoadSettings");
        QCOMPARE(boxOf(boxes.seen.last()),
                 QStringList({"Einstellungen laden", "Die Einstellungsdatei konnte nicht gelesen werden!", "Warning"}));
        QCOMPARE(recordsOf(w.modules.anchors).join(';'), QString("A1|Eins|#ffff0000|1,2,3|M|0"));
        QCOMPARE(grids(w), before);
    }
    // A huge count fills the table only up to the bound.
    QVERIFY(writeFileBytes(garbage, "[General]\nAnchorCount=2000000000\nAnchor" + QByteArray::number(MaxSettingsRecords - 1) + "-ID=LAST\n"));
    target = garbage;
    click(w, "btnLoadSettings");
    QCOMPARE(w.findChild<QTableWidget*>("tblAnker")->rowCount(), MaxSettingsRecords);
    QCOMPARE(w.modules.anchors.last().id, QString("LAST"));

}

void TestChartUi::settingsReminder()
{
    QTemporaryDir dir;
    const QString cfg = dir.filePath("setup.cfg");
    SettingsData data;
    data.anchors = {Anchor("A1", "Eins", Qt::red, 0, 0, 0, true, 0)};
    QVERIFY(writeSettingsFile(cfg, data));
    const QString title = "Module konfigurieren";
    const QString text = "Achtung:\nSofern die Einstellungen nicht zu dem Modulsetup passen, ist vor dem Ranging die "
                         "Modulkonfiguration vorzunehmen um den Master zu konfigurieren!";

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
    click(w, "btnLoadSettings");
    QCOMPARE(boxOf(boxes.seen.at(0)), QStringList({title, text, "Information"}));
    QCOMPARE(boxes.seen.at(0).buttonTexts.size(), 1);

    // Connected: a question; No (also the default) leaves it there, Yes opens the
    // module configuration. Loading sends nothing to the master.
    PtyPair pty;
    FakeMaster master(&pty);
    QVERIFY(connectWindow(w, pty.slavePath()));
    boxes.answer(QMessageBox::No);
    click(w, "btnLoadSettings");
    QCOMPARE(boxOf(boxes.seen.at(1)),
             QStringList({title, text + "\nMöchten Sie jetzt das Konfigurationsfenster öffnen?", "Question"}));
    QCOMPARE(boxes.seen.at(1).buttonTexts.size(), 2);
    QCOMPARE(dialogs, 0);
    boxes.answer(QMessageBox::Yes);
    click(w, "btnLoadSettings");
    QCOMPARE(dialogs, 1);
    QVERIFY(!w.discoverWin);
    click(w, "btnLoadSettings");
    QCOMPARE(boxes.seen.size(), 4);
    QCOMPARE(dialogs, 1);
    QCOMPARE(w.modules.anchors.size(), 1);
    QVERIFY(master.lines.isEmpty());
    w.disconnectPort();
}

QTEST_MAIN(TestChartUi)
#include "tst_chartui.moc"
