#include "chartframe.h"

#include "calibration.h"
#include "chartbackground.h"
#include "framesignature.h"
#include "modulesetup.h"
#include "positioningstep.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

ChartFrame::~ChartFrame()
{
    delete gridPixmap;
    delete chartPixmap;
}

void ChartFrame::updateGrid(const Scene& scene, bool geometryChanged)
{
    const ChartGeometry& chartGeo = scene.geo;
    // Grid labels give way to the anchors' dots and names, so the layer follows them.
    const QVector<QRectF> anchorArea = anchorItemRects(chartGeo, scene.pens, scene.modules.anchors);
    if (!gridPixmap || gridPixmap->width() != chartGeo.pixmapW || gridPixmap->height() != chartGeo.pixmapH
        || geometryChanged || anchorArea != gridKeepClear) {
        gridKeepClear = anchorArea;
        drawGrid(scene);
    }
}

bool ChartFrame::paintIfChanged(const Scene& scene, int minFrameMs)
{
    layOut(scene);
    // Nothing visible changed since the last frame: the label keeps showing it.
    const QByteArray signature = frameSignature(scene.geo, gridPixmap ? gridPixmap->cacheKey() : 0, scene.modules,
                                                scene.tags, scene.background.calibration, int(scaleBarCorner));
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
    scene.pens.placed = gridKeepClear;
    circleSquares.clear();
    drawTags(nullptr, scene);
    QVector<QRectF> obstacles = scene.pens.placed;
    if (scene.drawGridLines)
        obstacles += gridLabelRects;
    scaleBarCorner = chooseScaleBarCorner(scene.geo, QFontMetrics(QFont(), gridPixmap), obstacles, circleSquares);
}

void ChartFrame::render(const Scene& scene, QPixmap& frame)
{
    const ChartGeometry& chartGeo = scene.geo;
    frame = gridPixmap ? gridPixmap->copy() : QPixmap();
    if (!frame.isNull()) {
        QPainter painter(&frame);
        painter.setWindow(0, 0, chartGeo.pixmapW, chartGeo.pixmapH);
        drawScaleBar(&painter, scene);
        painter.setWindow(0, 0, chartGeo.gridW, chartGeo.gridH);
        drawAnchors(&painter, scene);
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
    const QPixmap layer = renderGridLayer(scene.geo, scene.drawGridLines, image,
                                          bg.bgImageOffsetX, bg.bgImageOffsetY, bg.bgImageFactor, gridKeepClear, &gridLabelRects);
    // Kept on white, so a frame starts as a plain copy of it instead of a
    // white fill and a blend of a transparent layer at every paint.
    QPixmap opaque(layer.size());
    opaque.fill(Qt::white);
    if (!opaque.isNull()) {
        QPainter p(&opaque);
        p.drawPixmap(0, 0, layer);
    }
    delete gridPixmap;
    gridPixmap = new QPixmap(opaque);
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
        // Trail and ellipse lie under the circles, dots and labels.
        if (tag.showTrail)
            drawTrail(painter, chartGeo, pens, tag.color, r.trail);
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
        if (r.rawValid && tag.showPosRaw)
            drawRawPosition(painter, chartGeo, pens, tag, float(r.raw.x()), float(r.raw.y()));
        if (r.avgValid && tag.showPosAvg)
            drawAveragedPosition(painter, chartGeo, pens, tag, r.rate, labelPlusMinus(tag, r));
    }
}

void ChartFrame::drawCalibrationMarks(QPainter* painter, const Scene& scene)
{
    if (scene.background.calibration)
        ::drawCalibrationMarks(painter, scene.geo, scene.pens, *scene.background.calibration);
}
