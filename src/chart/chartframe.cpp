#include "chartframe.h"

#include "calibration.h"
#include "chartbackground.h"
#include "framesignature.h"
#include "modulesetup.h"
#include "positioningstep.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QRegion>

ChartFrame::~ChartFrame()
{
    delete gridPixmap;
    delete plainGridPixmap;
    delete chartPixmap;
}

void ChartFrame::updateGrid(const Scene& scene, bool geometryChanged)
{
    const ChartGeometry& chartGeo = scene.geo;
    // Grid labels give way to the anchors' dots and names, so the layer follows them.
    const QVector<QRectF> anchorArea = anchorItemRects(chartGeo, scene.pens, scene.modules.anchors);
    const bool shadingChanged = scene.drawCoverage && coverage.update(chartGeo, scene.modules.anchors, scene.rangeLimit);
    if (!gridPixmap || gridPixmap->width() != chartGeo.pixmapW || gridPixmap->height() != chartGeo.pixmapH
        || geometryChanged || anchorArea != gridKeepClear || shadingChanged
        || (scene.zones ? *scene.zones != drawnZones : !drawnZones.isEmpty())) {
        gridKeepClear = anchorArea;
        drawGrid(scene);
    }
}

bool ChartFrame::paintIfChanged(const Scene& scene, int minFrameMs)
{
    layOut(scene);
    // Nothing visible changed since the last frame: the label keeps showing it.
    const QByteArray signature = frameSignature(scene.geo, gridPixmap ? gridPixmap->cacheKey() : 0, scene.modules,
                                                scene.tags, scene.background.calibration, int(scaleBarCorner),
                                                scene.drawCoverage ? 2 * int(legendCorner) + legendWithOutOfRange(scene) : -1);
    if (paintEveryPass
        || (signature != drawnSignature && (minFrameMs <= 0 || !lastPaint.isValid() || lastPaint.elapsed() >= minFrameMs))) {
        if (!chartPixmap)
            chartPixmap = new QPixmap;
        render(scene, *chartPixmap);
        ++paintedFrames;
        drawnSignature = signature;
        lastPaint.start();
        return true;
    }
    return false;
}

// Places this pass's dots and labels without drawing them, and the scale bar
// clear of them, of the grid labels and of the distance circles: the bar's
// corner then follows from this pass alone, before anything is painted.
void ChartFrame::layOut(const Scene& scene)
{
    const QVector<QRectF> labels = labelUnits(scene);
    scene.pens.placed = gridKeepClear + labels;
    circleSquares.clear();
    tagLabelRects.fill(QRectF(), scene.tags.size());
    drawTags(nullptr, scene);
    QVector<QRectF> obstacles = scene.pens.placed;
    // Where a tag's dot, or a label that found no free place, meets a grid
    // label, the grid label gives way rather than be covered.
    const int firstTagItem = gridKeepClear.size() + labels.size();
    labelGivesWay.fill(false, labels.size());
    for (int i = 0; i < labels.size(); ++i)
        for (int j = firstTagItem; j < obstacles.size() && !labelGivesWay.at(i); ++j)
            labelGivesWay[i] = labels.at(i).intersects(obstacles.at(j));
    const QFontMetrics fm(QFont(), gridPixmap);
    scaleBarCorner = chooseScaleBarCorner(scene.geo, fm, obstacles, circleSquares);
    const double s = scene.geo.cmPerPixel;
    const auto units = [s](const QRectF& px) { return QRectF(px.left() * s, px.top() * s, px.width() * s, px.height() * s); };
    QVector<QRectF> boxes = {units(scaleBarRect(scene.geo, fm, scaleBarCorner))};
    if (scene.drawCoverage) {
        // The legend takes the freest corner the scale bar left.
        obstacles.append(boxes.first());
        const QSize legend = coverage.legend(QFont(), legendWithOutOfRange(scene)).size();
        legendCorner = chooseFreeCorner(scene.geo, legend, obstacles, circleSquares,
                                        {ScaleBarCorner::TopRight, ScaleBarCorner::TopLeft, ScaleBarCorner::BottomRight,
                                         ScaleBarCorner::BottomLeft});
        boxes.append(units(cornerBox(scene.geo, legend, legendCorner)));
    }
    // Where every corner holds something, a grid label under the scale bar
    // or the legend gives way rather than be covered by it.
    for (int i = 0; i < labels.size(); ++i)
        for (const QRectF& box : qAsConst(boxes))
            labelGivesWay[i] = labelGivesWay.at(i) || labels.at(i).intersects(box);
}

bool ChartFrame::legendWithOutOfRange(const Scene& scene) const
{
    return scene.rangeLimit > 0 || scene.modules.anchors.size() < 3;
}

void ChartFrame::render(const Scene& scene, QPixmap& frame)
{
    const ChartGeometry& chartGeo = scene.geo;
    frame = gridPixmap ? gridPixmap->copy() : QPixmap();
    if (!frame.isNull()) {
        QPainter painter(&frame);
        painter.setWindow(0, 0, chartGeo.pixmapW, chartGeo.pixmapH);
        if (plainGridPixmap)
            for (int i = 0; i < labelGivesWay.size(); ++i)
                if (labelGivesWay.at(i))
                    painter.drawPixmap(gridLabels.at(i).pixels, *plainGridPixmap, gridLabels.at(i).pixels);
        drawScaleBar(&painter, scene);
        if (scene.drawCoverage) {
            const QPixmap legend = coverage.legend(QFont(), legendWithOutOfRange(scene));
            painter.drawPixmap(cornerBox(chartGeo, legend.size(), legendCorner).topLeft(), legend);
        }
        painter.setWindow(0, 0, chartGeo.gridW, chartGeo.gridH);
        drawAnchors(&painter, scene);
        scene.pens.placed += labelUnits(scene);   // as layOut placed the tags' labels
        drawTags(&painter, scene);
        if (scene.background.calibration)
            drawCalibrationMarks(&painter, scene);
    }
}

QImage ChartFrame::fromScratch(const Scene& scene)
{
    ChartFrame fresh;
    fresh.gridKeepClear = anchorItemRects(scene.geo, scene.pens, scene.modules.anchors);
    fresh.drawGrid(scene);
    fresh.layOut(scene);
    QPixmap frame;
    fresh.render(scene, frame);
    return frame.toImage();
}

void ChartFrame::drawGrid(const Scene& scene)
{
    const ChartBackground& bg = scene.background;
    const QImage* image = (scene.drawBackground && bg.bgImage) ? bg.bgImage : nullptr;
    if (scene.drawCoverage)
        coverage.update(scene.geo, scene.modules.anchors, scene.rangeLimit);
    // Kept on white, so a frame starts as a plain copy of it instead of a
    // white fill and a blend of a transparent layer at every paint.
    auto onWhite = [](const QPixmap& layer) {
        QPixmap opaque(layer.size());
        opaque.fill(Qt::white);
        if (!opaque.isNull()) {
            QPainter p(&opaque);
            p.drawPixmap(0, 0, layer);
        }
        return new QPixmap(opaque);
    };
    drawnZones = scene.zones ? *scene.zones : QVector<ChartZone>();
    const auto layer = [&](bool labels) {
        QPixmap drawn = renderGridLayer(scene.geo, scene.drawGridLines, image, bg.bgImageOffsetX, bg.bgImageOffsetY,
                                        bg.bgImageFactor, gridKeepClear, &gridLabels, &scene.pens.axisFont, labels,
                                        scene.drawCoverage ? &coverage.shading() : nullptr, coverage.shadingRect());
        // The zones change seldom (an edit, an occupancy): they live in the cached layer.
        if (!drawnZones.isEmpty() && !drawn.isNull()) {
            QPainter p(&drawn);
            drawChartZones(&p, scene.geo, drawnZones, scene.pens.axisFont);
        }
        return drawn;
    };
    delete gridPixmap;
    delete plainGridPixmap;
    gridPixmap = onWhite(layer(true));
    plainGridPixmap = gridLabels.isEmpty() ? nullptr : onWhite(layer(false));
    labelGivesWay.fill(false, gridLabels.size());
}

void ChartFrame::drawScaleBar(QPainter* painter, const Scene& scene)
{
    ::drawScaleBar(painter, scene.geo, scaleBarCorner);   // in the corner layOut chose
}

void ChartFrame::drawAnchors(QPainter* painter, const Scene& scene)
{
    drawAnchorItems(painter, scene.geo, scene.pens, scene.modules.anchors);
}

void ChartFrame::drawTags(QPainter* painter, const Scene& scene)
{
    const ChartGeometry& chartGeo = scene.geo;
    ChartPens& pens = scene.pens;
    const ModuleSetup& modules = scene.modules;
    const QList<Anchor>& anchors = modules.anchors;
    for (const TagResult& r : scene.tags) {
        if (r.tag < 0 || r.tag >= modules.tags.size())
            continue;
        const Tag& tag = modules.tags.at(r.tag);
        // Trail and ellipse lie under the circles, dots and labels. The trail
        // keeps off the tag's own label, where layOut put it.
        if (tag.showTrail && painter) {
            const int i = int(&r - scene.tags.constData());
            const QRectF label = tagLabelRects.value(i);
            painter->save();
            if (!label.isEmpty())
                painter->setClipRegion(QRegion(painter->window()) - QRegion(label.toAlignedRect()));
            drawTrail(painter, chartGeo, pens, tag.color, r.trail);
            painter->restore();
        }
        if (r.avgValid && tag.showUncertainty)
            drawUncertaintyEllipse(painter, chartGeo, pens, tag, r.ellipse95());
        for (int a = 0; a < anchors.size(); ++a) {
            const Anchor& anchor = anchors.at(a);
            const double cx = double(chartGeo.originX) + anchor.x, cy = double(chartGeo.originY) - anchor.y;
            for (const bool raw : {true, false}) {
                if (!(raw ? tag.showDistRaw && r.rawDist.contains(a) : tag.showDistAvg && r.avgDist.contains(a)))
                    continue;
                const int radius = (raw ? r.rawDist : r.avgDist).value(a);
                if (painter)
                    drawDistanceCircle(painter, chartGeo, raw ? pens.rawCirclePen : pens.avgCirclePen, anchor, radius, tag.color);
                else
                    circleSquares.append(QRectF(cx - radius, cy - radius, 2.0 * radius, 2.0 * radius));
            }
        }
    }
    // No circle crosses a grid label; dots and labels of tags come on top.
    if (painter)
        restoreGridLabels(painter, scene);
    for (const TagResult& r : scene.tags) {
        if (r.tag < 0 || r.tag >= modules.tags.size())
            continue;
        const Tag& tag = modules.tags.at(r.tag);
        if (r.rawValid && tag.showPosRaw)
            drawRawPosition(painter, chartGeo, pens, tag, float(r.raw.x()), float(r.raw.y()));
        if (r.avgValid && tag.showPosAvg) {
            drawAveragedPosition(painter, chartGeo, pens, tag, r.rate, labelPlusMinus(tag, r));
            if (!painter)
                tagLabelRects[int(&r - scene.tags.constData())] = pens.placed.last();
        }
    }
}

void ChartFrame::drawCalibrationMarks(QPainter* painter, const Scene& scene)
{
    if (scene.background.calibration)
        ::drawCalibrationMarks(painter, scene.geo, scene.pens, *scene.background.calibration);
}

QVector<QRectF> ChartFrame::labelUnits(const Scene& scene) const
{
    QVector<QRectF> units;
    if (scene.drawGridLines)
        for (const GridLabelBox& box : gridLabels)
            units.append(box.units);
    return units;
}

void ChartFrame::restoreGridLabels(QPainter* painter, const Scene& scene)
{
    if (!gridPixmap || !scene.drawGridLines || gridLabels.isEmpty())
        return;
    const QRect window = painter->window();
    painter->setWindow(0, 0, scene.geo.pixmapW, scene.geo.pixmapH);
    for (int i = 0; i < gridLabels.size(); ++i)
        if (!labelGivesWay.value(i))
            painter->drawPixmap(gridLabels.at(i).pixels, *gridPixmap, gridLabels.at(i).pixels);
    painter->setWindow(window);
}
