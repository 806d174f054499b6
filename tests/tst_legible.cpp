#include "chartbackground.h"
#include "chartfit.h"
#include "chartframe.h"
#include "labelplacement.h"
#include "aboutwin.h"
#include "commandwin.h"
#include "discoverwin.h"
#include "knownpointdialog.h"
#include "linkqualitydialog.h"
#include "mainwin.h"
#include "mqttdialog.h"
#include "qlabelex.h"
#include "rotatedheaderview.h"
#include "testsupport.h"

#include <QTabWidget>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>

class TestLegible : public QObject
{
    Q_OBJECT
private slots:
    void chartLabels_data();
    void chartLabels();
    void fitView_data();
    void fitView();
    void windowAtMinimumSize();
    void chartFillsItsArea();
    void noStrayWidgetsOverTables();
    void germanOnly();
    void knownPointDialogs();
};

void TestLegible::chartLabels_data()
{
    QTest::addColumn<QRect>("grid");
    QTest::addColumn<QSize>("container");
    QTest::newRow("start grid") << QRect(-500, -500, 1000, 1000) << QSize(700, 500);
    QTest::newRow("demo room, 1400 cm") << QRect(-200, -200, 1400, 1200) << QSize(800, 840);
    QTest::newRow("room in a small chart") << QRect(0, 0, 1400, 1000) << QSize(320, 240);
    QTest::newRow("corridor") << QRect(-100, -100, 3000, 300) << QSize(900, 200);
    QTest::newRow("axes outside") << QRect(100, 100, 800, 600) << QSize(600, 450);
    QTest::newRow("calibrated plan") << QRect(-200, -1000, 1600, 1200) << QSize(500, 375);
}

void TestLegible::chartLabels()
{
    QFETCH(QRect, grid);
    QFETCH(QSize, container);
    ChartGeometry geo;
    QVERIFY(computeChartGeometry(grid.x(), grid.y(), grid.width(), grid.height(), container.width(),
                                 container.height(), geo));
    ChartPens pens;
    const int tablePx = QFontInfo(QTableWidget().font()).pixelSize();
    pens.tableTextPx = tablePx;
    pens.applyScale(geo.cmPerPixel);
    const QRectF chart = QRectF(0, 0, geo.gridW, geo.gridH).adjusted(-1e-6, -1e-6, 1e-6, 1e-6);
    QList<Anchor> anchors;   // in the corners and halfway along the top and bottom edges
    for (double fx : {0.0, 0.5, 1.0})
        for (double fy : {0.0, 1.0})
            anchors << Anchor("5E6F", "Anker 5E6F", Qt::blue, int(grid.x() + fx * grid.width()),
                              int(grid.y() + fy * grid.height()), 0, fx + fy == 0, 0);

    // Names inside the chart and off every dot; a long tag label inside too.
    const QVector<QRectF> items = anchorItemRects(geo, pens, anchors);
    const int n = anchors.size();
    QPixmap pixmap(geo.pixmapW, geo.pixmapH);
    QPainter painter(&pixmap);
    painter.setWindow(0, 0, geo.gridW, geo.gridH);
    Tag tag("2B01", "Läufer", Qt::red, false, true, false, false, true, true, true);
    for (int i = 0; i < n; ++i) {
        QVERIFY(chart.contains(items.at(n + i)));
        for (int d = 0; d < n; ++d)
            QVERIFY(!items.at(n + i).intersects(items.at(d)));
        tag.updateAveragedPosition(anchors.at(i).x, anchors.at(i).y);
        drawAveragedPosition(&painter, geo, pens, tag, 10.4);
        QVERIFY(chart.contains(pens.placed.last()));
    }

    // Grid labels no smaller on screen than the tables' text; inside, apart and off the anchors.
    const QFont& font = pens.axisFont;
    QVERIFY2(font.pixelSize() / geo.cmPerPixel >= tablePx, qPrintable(QString::number(font.pixelSize() / geo.cmPerPixel)));
    const QVector<AxisLabel> labels = axisLabels(geo, QFontMetricsF(font), items);
    QVERIFY(!labels.isEmpty());
    // The axes' crossing carries its "0" where it is in view.
    const bool zero = std::any_of(labels.begin(), labels.end(), [](const AxisLabel& l) { return l.text == "0"; });
    QVERIFY(zero ? grid.contains(0, 0) : (!grid.contains(0, 0) || QTest::currentDataTag() != QString("start grid")));
    for (int i = 0; i < labels.size(); ++i) {
        QVERIFY2(chart.contains(labels.at(i).rect), qPrintable(labels.at(i).text));
        for (int j = i + 1; j < labels.size(); ++j)
            QVERIFY2(!labels.at(i).rect.intersects(labels.at(j).rect), qPrintable(labels.at(j).text));
        for (const QRectF& r : items)
            QVERIFY(!labels.at(i).rect.intersects(r));
    }

    // The scale bar leaves the left corners, where modules stand, and the
    // grid labels and a circle's crossing for a free one.
    QVector<QRectF> left = anchorItemRects(geo, pens, anchors.mid(0, 2));
    for (const AxisLabel& label : labels)
        left << label.rect;
    const QFontMetrics fm(QApplication::font());
    const QRect box = scaleBarRect(geo, fm, chooseScaleBarCorner(geo, fm, left));
    QVERIFY(QRect(0, 0, geo.pixmapW, geo.pixmapH).contains(box));
    // A circle round the top-left corner through the bottom-left box.
    const double r = scaleBarRect(geo, fm, ScaleBarCorner::BottomLeft).center().y() * geo.cmPerPixel;
    QCOMPARE(chooseScaleBarCorner(geo, fm, {}, {QRectF(-r, -r, 2 * r, 2 * r)}), ScaleBarCorner::BottomRight);
    for (const QRectF& o : left)
        QVERIFY(!QRectF(o.topLeft() / geo.cmPerPixel, o.size() / geo.cmPerPixel).intersects(box));

    // Distance circles of every size pass under the grid labels' boxes: a frame
    // shows the same pixels there with the circles as without them.
    ModuleSetup modules;
    modules.anchors = anchors;
    QVector<TagResult> circles;
    for (int k = 0; k < 30; ++k) {
        modules.tags << Tag(QString::number(k), "T", QColor(0, 128, 0), false, false, false, true, false, false, false);
        TagResult result;
        result.tag = k;
        for (int a = 0; a < anchors.size(); ++a)
            result.avgDist.insert(a, (k + 1) * qMax(grid.width(), grid.height()) / 30 + 7 * a);
        circles << result;
    }
    ChartBackground background;
    const QImage with = ChartFrame::fromScratch({geo, pens, modules, circles, background, true, false, false, 0});
    const QImage without = ChartFrame::fromScratch({geo, pens, modules, {}, background, true, false, false, 0});
    QVector<GridLabelBox> boxes;
    renderGridLayer(geo, true, nullptr, 0, 0, 1, items, &boxes, &pens.axisFont);
    QVERIFY(!boxes.isEmpty() && with != without);
    // (A label the scale bar would cover gives way, and the circles pass there.)
    QVector<QRect> bars;
    for (ScaleBarCorner c : {ScaleBarCorner::BottomLeft, ScaleBarCorner::BottomRight, ScaleBarCorner::TopRight, ScaleBarCorner::TopLeft})
        bars << scaleBarRect(geo, fm, c);
    for (const GridLabelBox& b : qAsConst(boxes))
        if (std::none_of(bars.begin(), bars.end(), [&](const QRect& bar) { return bar.intersects(b.pixels); }))
            QCOMPARE(with.copy(b.pixels), without.copy(b.pixels));

    // A tag's trail never crosses its own label: one laid straight through it.
    ModuleSetup walking;
    walking.anchors = anchors;
    walking.tags << Tag("2B01", "Läufer", QColor(200, 0, 0), false, true, false, false, true, true, true);
    walking.tags[0].showTrail = true;
    const QPoint at = grid.center();
    walking.tags[0].updateAveragedPosition(at.x(), at.y());
    TagResult walker;
    walker.tag = 0;
    walker.avgValid = true;
    walker.rate = 10;
    const QImage plain = ChartFrame::fromScratch({geo, pens, walking, {walker}, background, true, false, false, 0});
    const QRectF label = pens.placed.last();
    const double lineY = geo.originY - label.center().y();
    for (double x = label.left() - label.width() / 2; x <= label.right() + label.width() / 2; x += label.width() / 10)
        walker.trail.append({float(x - geo.originX), float(lineY), 0, 0});
    const QImage trailed = ChartFrame::fromScratch({geo, pens, walking, {walker}, background, true, false, false, 0});
    const QRect labelPx = QRectF(label.topLeft() / geo.cmPerPixel, label.size() / geo.cmPerPixel).toAlignedRect().adjusted(1, 1, -1, -1);
    QVERIFY(trailed != plain && label == pens.placed.last());
    QCOMPARE(trailed.copy(labelPx), plain.copy(labelPx));
}

void TestLegible::fitView_data()
{
    QTest::addColumn<QVector<QPoint>>("points");
    QTest::addColumn<QSize>("chart");
    QTest::newRow("room") << QVector<QPoint>{{0, 0}, {1000, 0}, {1000, 800}, {0, 800}} << QSize(800, 840);
    QTest::newRow("corridor") << QVector<QPoint>{{0, 0}, {3000, 0}, {3000, 200}} << QSize(900, 600);
    QTest::newRow("one anchor") << QVector<QPoint>{{250, -40}} << QSize(400, 300);
    QTest::newRow("far off") << QVector<QPoint>{{-5000, -5000}, {-4000, -4510}} << QSize(500, 500);
}

void TestLegible::fitView()
{
    QFETCH(QVector<QPoint>, points);
    QFETCH(QSize, chart);
    QList<Anchor> anchors;
    const QRect box = QPolygon(points).boundingRect();   // right() and bottom(): the largest x and y
    for (const QPoint& p : points)
        anchors << Anchor("1", "A", Qt::red, p.x(), p.y(), 0, false, 0);
    const int mx = qMax(100, (box.right() - box.left()) / 10), my = qMax(100, (box.bottom() - box.top()) / 10);
    const GridRect r = fitViewRect(anchors, chart);
    QVERIFY(r.x <= box.left() - mx && r.x + r.w >= box.right() + mx);
    QVERIFY(r.y <= box.top() - my && r.y + r.h >= box.bottom() + my);
    QVERIFY(r.x % 10 == 0 && r.y % 10 == 0 && r.w % 10 == 0 && r.h % 10 == 0);
    // The chart's aspect, to the rounding, and one side no larger than it must be.
    const double aspect = double(chart.width()) / chart.height();
    QVERIFY(qAbs(r.w - r.h * aspect) <= 20 * (1 + aspect));
    QVERIFY(qMin(r.w - (box.right() - box.left() + 2 * mx), r.h - (box.bottom() - box.top() + 2 * my)) <= 22);
    QCOMPARE(anchorsOutside(anchors, r), 0);
    QCOMPARE(anchorsOutside(anchors, GridRect{r.x + r.w + 1, r.y, r.w, r.h}), anchors.size());
}

void TestLegible::windowAtMinimumSize()
{
    QTemporaryDir dir;   // the demo settings with a grid that shows none of the anchors
    const QString cfg = dir.filePath("away.cfg");
    QVERIFY(QFile::copy(qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/sim/demo.cfg", cfg));
    QFile::setPermissions(cfg, QFile::ReadOwner | QFile::WriteOwner);
    QSettings(cfg, QSettings::IniFormat).setValue("Grid-X", "3000");
    ModalAnswerer boxes;
    auto* w = new MainWin;
    w->setFileChoosers([&](const QString&, const QString&) { return cfg; }, nullptr);
    w->resize(w->minimumSize());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    findButton(w, "btnLoadSettings")->click();
    QCOMPARE(w->statusBar()->currentMessage(), QString("Anker außerhalb der Ansicht – „Ansicht anpassen“ zeigt alle"));
    w->statusBar()->clearMessage();
    findButton(w, "btnLoadSettings")->click();   // told once, and the grid left alone
    QVERIFY(w->statusBar()->currentMessage().startsWith("Einstellungen geladen: "));
    QCOMPARE(w->findChild<QLineEdit*>("edtGridX")->text(), QString("3000"));
    findButton(w, "btnFitView")->click();
    const auto edit = [w](const char* name) { return w->findChild<QLineEdit*>(name)->text().toInt(); };
    QCOMPARE(anchorsOutside(w->modules.anchors, {edit("edtGridX"), edit("edtGridY"), edit("edtGridW"), edit("edtGridH")}), 0);

    // At the minimum size, tables filled, no control overlaps another or is cut short.
    w->resize(w->minimumSize());
    QTest::qWait(50);
    QCOMPARE(w->findChild<QWidget*>("ConfigWidget")->width(), w->findChild<QScrollArea*>()->viewport()->width());
    for (const char* name : {"ConnectionWidget", "ConfigWidget", "chartArea"}) {
        QWidget* area = w->findChild<QWidget*>(name);
        QList<QRect> seen;   // the form's own controls, not the parts of a table or a combo box
        for (QWidget* c : area->findChildren<QWidget*>(QRegularExpression("^(btn|edt|cmb|chk|lbl|tbl|lab)"))) {
            if (!c->isVisible())
                continue;
            const QRect g(c->mapTo(area, QPoint(0, 0)), c->size());
            const bool combo = qobject_cast<QComboBox*>(c) && area->objectName() == "ConfigWidget";
            QVERIFY2(area->rect().contains(g) && c->width() >= (combo ? c->sizeHint() : c->minimumSizeHint()).width(),
                     qPrintable(c->objectName()));
            for (const QRect& s : qAsConst(seen))
                QVERIFY2(!s.intersects(g), qPrintable(c->objectName()));
            seen << g;
        }
    }
    // Every header word whole, a header that wraps two lines high, every column in view.
    for (auto* t : w->findChildren<QTableWidget*>()) {
        QHeaderView* h = t->horizontalHeader();
        const int margins = 2 * t->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
        const auto* upright = qobject_cast<RotatedHeaderView*>(h);
        for (int c = 0; c < t->columnCount(); ++c) {
            const QString text = t->horizontalHeaderItem(c)->text();
            if (t->isColumnHidden(c))
                continue;
            if (upright && upright->isRotated(c)) {   // turned upright: the header's height holds it
                QVERIFY2(h->fontMetrics().horizontalAdvance(text) + margins <= h->height(), qPrintable(text));
                continue;
            }
            for (const QString& word : text.split(' '))
                QVERIFY2(h->fontMetrics().horizontalAdvance(word) + margins <= h->sectionSize(c), qPrintable(text));
            QVERIFY2(h->fontMetrics().horizontalAdvance(text) + margins <= h->sectionSize(c)
                         || h->height() >= 2 * h->fontMetrics().lineSpacing(), qPrintable(text));   // room to wrap
        }
        QVERIFY2(t->viewport()->width() >= h->length(), qPrintable(t->objectName()));
    }

    // The chart's share of the window: at least 45 % at the minimum size, 60 % at 1600 x 1000;
    // at 1366 x 740 the whole panel is in view without scrolling.
    auto* panel = w->findChild<QScrollArea*>();
    const auto share = [w] {
        const QWidget* c = w->findChild<QWidget*>("chart");
        return double(c->width()) * c->height() / (w->width() * w->height());
    };
    QVERIFY2(share() >= 0.45, qPrintable(QString::number(share())));
    for (const QSize& size : {QSize(1600, 1000), QSize(1366, 740)}) {
        w->resize(size);
        QTest::qWait(50);
        QCOMPARE(w->size(), size);
        QVERIFY2(share() >= (size.width() == 1600 ? 0.60 : 0.5), qPrintable(QString::number(share())));
        QVERIFY(!panel->verticalScrollBar()->isVisible());
    }
    // F9 puts the panel away and brings it back as it was; F11 shows the chart
    // alone, full screen, its labels larger, and Escape returns.
    const int panelWidth = panel->width();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::keyClick(w, Qt::Key_F9);
    QTest::qWait(50);
    QVERIFY2(!panel->isVisible() && share() >= 0.85, qPrintable(QString::number(share())));
    QTest::keyClick(w, Qt::Key_F9);
    QTest::qWait(50);
    QCOMPARE(panel->width(), panelWidth);
    QTest::keyClick(w, Qt::Key_F11);
    QTest::qWait(50);
    QVERIFY2(w->isFullScreen() && share() >= 0.90 && w->pens.labelScale == 1.5, qPrintable(QString::number(share())));
    // The grid labels at least as large as the tables' text, and larger with the other labels.
    const int tablePx = QFontInfo(w->findChild<QTableWidget*>("tblTags")->font()).pixelSize();
    const auto axisPx = [w] { return w->pens.axisFont.pixelSize() / w->chartGeo.cmPerPixel; };
    QVERIFY2(axisPx() >= 1.5 * tablePx, qPrintable(QString("%1 < 1.5 x %2").arg(axisPx()).arg(tablePx)));
    QTest::keyClick(w, Qt::Key_Escape);
    QTest::qWait(50);
    QVERIFY(!w->isFullScreen() && panel->isVisible() && w->pens.labelScale == 1.0);
    QCOMPARE(w->size(), QSize(1366, 740));   // as it was, not at its minimum size
    QVERIFY2(axisPx() >= tablePx && axisPx() < 1.5 * tablePx, qPrintable(QString("%1 < %2").arg(axisPx()).arg(tablePx)));

    QTest::keyClick(w, Qt::Key_F11);
    QTest::keyClick(w, Qt::Key_F11);
    QTest::qWait(50);
    QVERIFY(!w->isFullScreen() && w->size() == QSize(1366, 740));
    // The tools keep their name as a page.
    auto* tabs = w->findChild<QTabWidget*>("tabPanels");
    auto* tools = w->findChild<QWidget*>("groupBox_5");
    QVERIFY(tools && tabs->tabText(tabs->indexOf(tools)) == "Werkzeuge" && tools->findChild<QComboBox*>("cmbLastMeasures"));

    delete w;
}

namespace {

// The demo settings loaded through the button, the window shown at size.
MainWin* demoWindow(QTemporaryDir& dir, const QSize& size)
{
    const QString cfg = dir.filePath("demo.cfg");
    if (!QFile::exists(cfg) && !QFile::copy(qEnvironmentVariable("ORVANE_SOURCE_DIR") + "/sim/demo.cfg", cfg))
        return nullptr;
    auto* w = new MainWin;
    w->setFileChoosers([cfg](const QString&, const QString&) { return cfg; }, nullptr);
    w->resize(size);
    w->show();
    if (!QTest::qWaitForWindowExposed(w))
        return w;
    findButton(w, "btnLoadSettings")->click();
    QTest::qWait(50);
    return w;
}

} // namespace

void TestLegible::chartFillsItsArea()
{
    QTemporaryDir dir;
    ModalAnswerer boxes;
    QScopedPointer<MainWin> w(demoWindow(dir, QSize(1600, 1000)));
    QVERIFY(w && w->isVisible());
    auto* area = w->findChild<QWidget*>("chart");
    auto* chart = w->findChild<QLabelEx*>("lblChart");
    // The picture covers the chart's area whole, with the asked grid in it at
    // the scale that fits it: no bars beside it, however the area is shaped.
    const auto check = [&](const char* step) {
        QTest::qWait(50);
        w->redrawChart();
        w->redrawTimer->stop();
        QTest::qWait(20);
        int x = 0, y = 0, gw = 0, gh = 0;
        QVERIFY(w->viewPanel->gridRect(x, y, gw, gh));
        const double scale = qMax(double(gw) / area->width(), double(gh) / area->height());
        const QRect shown(chart->mapTo(area, QPoint(0, 0)), chart->size());
        QVERIFY2(shown.adjusted(-1, -1, 1, 1).contains(area->rect()),
                 qPrintable(QString("%1: %2 x %3 of %4 x %5").arg(step).arg(shown.width()).arg(shown.height())
                                .arg(area->width()).arg(area->height())));
        QVERIFY2(qAbs(w->chartGeo.cmPerPixel - scale) < 1e-9, step);
        QVERIFY2(w->chartGeo.gridX == x && w->chartGeo.gridY <= y && w->chartGeo.gridW >= gw
                     && w->chartGeo.gridY + w->chartGeo.gridH == y + gh, step);
    };
    check("start");
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.data()));
    QTest::keyClick(w.data(), Qt::Key_F9);
    check("F9");
    QTest::keyClick(w.data(), Qt::Key_F9);
    QTest::keyClick(w.data(), Qt::Key_F11);
    check("F11");
    QTest::keyClick(w.data(), Qt::Key_Escape);
    w->resize(w->minimumSize().width(), 1400);
    check("tall");

    // "Ansicht anpassen" shows the anchors and the tags where they were last seen.
    w->modules.tags[0].updateAveragedPosition(2500, -300);
    findButton(w.data(), "btnFitView")->click();
    check("fitted");
    const ChartGeometry& g = w->chartGeo;
    for (const QPoint& p : {QPoint(2500, -300), QPoint(0, 0), QPoint(1000, 800)})
        QVERIFY(p.x() > g.gridX && p.x() < g.gridX + g.gridW && p.y() > g.gridY && p.y() < g.gridY + g.gridH);

    // The read-outs follow the pointer while it hovers.
    const QPoint hover(int(g.originX / g.cmPerPixel) + 50, int(g.originY / g.cmPerPixel) - 20);
    // Sent to the chart itself: after the tall resize the point may lie beyond the offscreen
    // screen, where a moved cursor would find no widget.
    QVERIFY(chart->hasMouseTracking());
    QMouseEvent move(QEvent::MouseMove, QPointF(hover), QPointF(chart->mapToGlobal(hover)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(chart, &move);
    QTRY_COMPARE(w->findChild<QLabel*>("lblMouseX")->text(), QString("%1 cm").arg(pixelToWorld(g, hover).x()));
}

void TestLegible::noStrayWidgetsOverTables()
{
    // Every widget on a table's cells is the widget of the cell it lies on:
    // after start, after a reconnect's module list and after a restart.
    QTemporaryDir dir;
    ModalAnswerer boxes;
    const auto strays = [](MainWin* w) {
        QStringList out;
        for (auto* t : w->findChildren<QTableWidget*>()) {
            QHash<QWidget*, QRect> cells;
            for (int r = 0; r < t->rowCount(); ++r)
                for (int c = 0; c < t->columnCount(); ++c)
                    if (QWidget* cell = t->cellWidget(r, c))
                        cells.insert(cell, t->visualRect(t->model()->index(r, c)));
            for (QWidget* child : t->viewport()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                if (child->isVisible() && (!cells.contains(child) || cells.value(child) != child->geometry()))
                    out << QString("%1: %2 at %3,%4").arg(t->objectName(), child->metaObject()->className())
                               .arg(child->x()).arg(child->y());
        }
        return out;
    };
    for (int run = 0; run < 2; ++run) {
        QScopedPointer<MainWin> w(demoWindow(dir, QSize(1366, 740)));
        QVERIFY(w && w->isVisible());
        QTest::qWait(100);
        QCOMPARE(strays(w.data()), QStringList());
        // A reconnect's module list with the same modules touches no cell widget.
        const auto cellWidgets = [&w] {
            QList<QWidget*> out;
            for (auto* t : w->findChildren<QTableWidget*>())
                for (int r = 0; r < t->rowCount(); ++r)
                    for (int c = 0; c < t->columnCount(); ++c)
                        out << t->cellWidget(r, c);
            return out;
        };
        const QList<QWidget*> before = cellWidgets();
        QVERIFY(w->findChild<QTableWidget*>("tblAnker")->rowCount() == 4 && before.count(nullptr) < before.size());
        w->dataReceived("$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02,\r\n");
        QTest::qWait(100);
        QCOMPARE(strays(w.data()), QStringList());
        QVERIFY(cellWidgets() == before);
        // Another list rebuilds them: at once, before the event loop lays the
        // views out or deletes the old widgets, nothing lies on a cell but its own.
        w->dataReceived("$PK,1A2B,3,1,3C4D,5E6F,7A80,2B02,\r\n");
        QCOMPARE(w->findChild<QTableWidget*>("tblTags")->rowCount(), 1);
        QCOMPARE(strays(w.data()), QStringList());
        QTest::qWait(100);
        QCOMPARE(strays(w.data()), QStringList());
        w->close();
    }
}

namespace {

// The English words a German window must not show, as whole words.
const QRegularExpression English("\\b(Refresh|About|Cancel|No such|Close|Save|Open|Apply|Error|Failed|Unknown|Permission)\\b");

// Every text and tool tip of the visible widgets under root (root too) that
// holds an English word, as "object: text".
QStringList englishIn(QWidget* root)
{
    QStringList out;
    const auto check = [&](QObject* o, const QString& text) {
        if (English.match(text).hasMatch())
            out << o->objectName() + ": " + text;
    };
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : qAsConst(widgets)) {
        if (!w->isVisible())
            continue;
        check(w, w->toolTip());
        if (w->isWindow())
            check(w, w->windowTitle());
        for (QAction* a : w->actions())
            check(a, a->text() + ' ' + a->toolTip());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            check(b, b->text());
        if (auto* l = qobject_cast<QLabel*>(w))
            check(l, l->text());
        if (auto* g = qobject_cast<QGroupBox*>(w))
            check(g, g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w))
            check(e, e->placeholderText());
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                check(c, c->itemText(i));
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                check(t, t->tabText(i) + ' ' + t->tabToolTip(i));
        if (auto* t = qobject_cast<QTableWidget*>(w))
            for (int c = 0; c < t->columnCount(); ++c)
                if (QTableWidgetItem* h = t->horizontalHeaderItem(c))
                    check(t, h->text() + ' ' + h->toolTip());
    }
    return out;
}

} // namespace

void TestLegible::germanOnly()
{
    QTemporaryDir dir;
    ModalAnswerer boxes;
    QScopedPointer<MainWin> w(demoWindow(dir, QSize(1366, 740)));
    QVERIFY(w && w->isVisible());
    QStringList found = englishIn(w.data());
    for (const char* tab : {"Module", "Ansicht", "Werkzeuge", "Aufzeichnung"}) {
        for (QTabWidget* tabs : w->findChildren<QTabWidget*>())
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->tabText(i) == tab)
                    tabs->setCurrentIndex(i);
        found += englishIn(w.data());
    }
    // The dialogs, each as the window opens it.
    QList<QDialog*> dialogs = {new AboutWin(w.data()), new CommandWin(w.data()), new DiscoverWin(w.data()),
                               new MqttDialog(w.data()), new LinkQualityDialog(&w->modules, w.data())};
    qobject_cast<CommandWin*>(dialogs.at(1))->setModules(&w->modules);
    qobject_cast<DiscoverWin*>(dialogs.at(2))->setModules(&w->modules);
    for (QDialog* d : qAsConst(dialogs)) {
        d->show();
        found += englishIn(d);
        delete d;
    }
    for (const char* opener : {"btnCalibrateOffsets", "btnCheckAccuracy"}) {
        findButton(w.data(), opener)->click();
        for (KnownPointDialog* d : w->findChildren<KnownPointDialog*>())
            if (d->isVisible()) {
                found += englishIn(d);
                d->close();
            }
    }
    // The system's own error in German: a port that is not there.
    QVERIFY(!connectWindow(*w, dir.filePath("no-such-port")));
    QTRY_VERIFY(!boxes.seen.isEmpty());
    QVERIFY2(boxes.seen.last().contains("Datei oder Gerät nicht gefunden"), qPrintable(boxes.seen.last()));
    for (const QString& box : qAsConst(boxes.seen))
        if (English.match(box).hasMatch())
            found << "box: " + box;
    QCOMPARE(found, QStringList());
}

void TestLegible::knownPointDialogs()
{
    // Both open beside the chart at a small size; the point typed in one comes
    // along to the other; picking says what the click does.
    QTemporaryDir dir;
    ModalAnswerer boxes;
    QScopedPointer<MainWin> w(demoWindow(dir, QSize(1366, 740)));
    QVERIFY(w && w->isVisible());
    const QWidget* area = w->findChild<QWidget*>("chart");
    const QRect chart(area->mapToGlobal(QPoint(0, 0)), area->size());
    const auto open = [&](const char* opener) -> KnownPointDialog* {
        findButton(w.data(), opener)->click();
        for (KnownPointDialog* d : w->findChildren<KnownPointDialog*>())
            if (d->isVisible())
                return d;
        return nullptr;
    };
    KnownPointDialog* offsets = open("btnCalibrateOffsets");
    QVERIFY(offsets);
    const QRect over = offsets->frameGeometry() & chart;
    QVERIFY2(offsets->width() <= 640 && offsets->height() <= 560 && over.width() * over.height() < chart.width() * chart.height() / 4,
             qPrintable(QString("%1 x %2, over the chart %3 x %4").arg(offsets->width()).arg(offsets->height())
                            .arg(over.width()).arg(over.height())));
    findButton(offsets, "btnPickPoint")->click();
    QVERIFY(offsets->findChild<QLabel*>("lblCollected")->text().startsWith("Klicken Sie in das Diagramm"));
    findButton(offsets, "btnPickPoint")->click();
    QVERIFY(offsets->findChild<QLabel*>("lblCollected")->text().isEmpty());
    offsets->findChild<QLineEdit*>("edtX")->setText("300");
    offsets->findChild<QLineEdit*>("edtY")->setText("-40");
    offsets->close();
    KnownPointDialog* accuracy = open("btnCheckAccuracy");
    QVERIFY(accuracy && accuracy != offsets);
    QPointF at;
    QVERIFY(accuracy->point(&at) && at == QPointF(300, -40));
    accuracy->close();
}

QTEST_MAIN(TestLegible)
#include "tst_legible.moc"
