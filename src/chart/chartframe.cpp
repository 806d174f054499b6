#include "chartframe.h"

#include "calibration.h"
#include "chartbackground.h"
#include "framesignature.h"
#include "modulesetup.h"
#include "positioningstep.h"

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
    // Nothing visible changed since the last frame: the label keeps showing it.
    const QByteArray signature = frameSignature(scene.geo, gridPixmap ? gridPixmap->cacheKey() : 0, scene.modules,
                                                scene.tags, scene.background.calibration);
    if (paintEveryPass
        || (signature != drawnSignature && (minFrameMs <= 0 || !lastPaint.isValid() || lastPaint.elapsed() >= minFrameMs))) {
        paint(scene);
        ++paintedFrames;
        drawnSignature = signature;
        lastPaint.start();
        return true;
    }
    return false;
}

void ChartFrame::paint(const Scene& scene)
{
    const ChartGeometry& chartGeo = scene.geo;
    if (!chartPixmap)
        chartPixmap = new QPixmap;
    *chartPixmap = gridPixmap ? gridPixmap->copy() : QPixmap();
    if (!chartPixmap->isNull()) {
        QPainter painter(chartPixmap);
        painter.setWindow(0, 0, chartGeo.pixmapW, chartGeo.pixmapH);
        drawScaleBar(&painter, scene);
        painter.setWindow(0, 0, chartGeo.gridW, chartGeo.gridH);
        drawAnchors(&painter, scene);
        drawTags(&painter, scene);
        if (scene.background.calibration)
            drawCalibrationMarks(&painter, scene);
    }
}

void ChartFrame::drawGrid(const Scene& scene)
{
    const ChartBackground& bg = scene.background;
    const QImage* image = (scene.drawBackground && bg.bgImage) ? bg.bgImage : nullptr;
    const QPixmap layer = renderGridLayer(scene.geo, scene.drawGridLines, image,
                                          bg.bgImageOffsetX, bg.bgImageOffsetY, bg.bgImageFactor, gridKeepClear);
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
    // Clear of the dots and labels of the last pass.
    scaleBarCorner = chooseScaleBarCorner(scene.geo, painter->fontMetrics(), scene.pens.placed, scaleBarCorner);
    ::drawScaleBar(painter, scene.geo, scaleBarCorner);
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
        for (int a = 0; a < anchors.size(); ++a) {
            if (tag.showDistRaw && r.rawDist.contains(a))
                drawDistanceCircle(painter, chartGeo, pens.rawCirclePen, anchors.at(a), r.rawDist.value(a), tag.color);
            if (tag.showDistAvg && r.avgDist.contains(a))
                drawDistanceCircle(painter, chartGeo, pens.avgCirclePen, anchors.at(a), r.avgDist.value(a), tag.color);
        }
        if (r.rawValid)
            drawRawPosition(painter, chartGeo, pens, tag, float(r.raw.x()), float(r.raw.y()));
        if (r.avgValid)
            drawAveragedPosition(painter, chartGeo, pens, tag, r.rate);
    }
}

void ChartFrame::drawCalibrationMarks(QPainter* painter, const Scene& scene)
{
    if (scene.background.calibration)
        ::drawCalibrationMarks(painter, scene.geo, scene.pens, *scene.background.calibration);
}
