#ifndef CHARTFRAME_H
#define CHARTFRAME_H

#include "chartdrawing.h"
#include "chartgeometry.h"
#include "chartpens.h"
#include "chartzone.h"
#include "coveragemap.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QVector>

struct ChartBackground;
struct TagResult;
class ModuleSetup;
class QPainter;

// The picture of one chart pass: the cached grid layer (floor plan, coverage
// shading, grid and labels) and the frame drawn over a copy of it (scale
// bar, coverage legend, anchors, tags, calibration marks). A frame is painted only when something visible
// changed, and no more often than asked.
class ChartFrame
{
public:
    // What a pass shows.
    struct Scene
    {
        const ChartGeometry& geo;
        ChartPens& pens;
        const ModuleSetup& modules;
        const QVector<TagResult>& tags;
        const ChartBackground& background;
        bool drawGridLines;
        bool drawBackground;
        bool drawCoverage;           // the HDOP shading over the floor plan, and its legend
        int rangeLimit;              // cm an anchor reaches, for the shading; 0: no limit
        const QVector<ChartZone>* zones = nullptr;   // over the floor plan and shading, in the grid layer
    };

    ChartFrame() = default;
    ChartFrame(const ChartFrame&) = delete;
    ChartFrame& operator=(const ChartFrame&) = delete;
    ~ChartFrame();

    // Redraws the grid layer when the geometry changed, its size is off, the
    // anchors (whose dots and names the labels keep off) moved, or the
    // coverage shading is new.
    void updateGrid(const Scene& scene, bool geometryChanged);
    // Places the pass's items and the scale bar, then paints a new frame when
    // it differs from the shown one and minFrameMs have passed (0: at once);
    // true when it did.
    bool paintIfChanged(const Scene& scene, int minFrameMs);
    // The frame as it would be painted from nothing but the scene: a new grid
    // layer and a new layout, nothing kept from earlier passes.
    static QImage fromScratch(const Scene& scene);
    // The next pass paints whatever changed.
    void invalidate() { drawnSignature.clear(); }

    void drawGrid(const Scene& scene);
    void drawScaleBar(QPainter* painter, const Scene& scene);
    void drawAnchors(QPainter* painter, const Scene& scene);
    // The distance circles of all tags, the grid labels put back over them
    // (those not given way), then the tags' positions and labels.
    void drawTags(QPainter* painter, const Scene& scene);
    void drawCalibrationMarks(QPainter* painter, const Scene& scene);

    QPixmap* chartPixmap = nullptr;
    QPixmap* gridPixmap = nullptr;
    QPixmap* plainGridPixmap = nullptr;   // the grid layer without its labels; null when it has none
    quint64 paintedFrames = 0;
    bool paintEveryPass = false;     // for comparison and measurement

private:
    void layOut(const Scene& scene);
    void render(const Scene& scene, QPixmap& frame);
    // The grid labels of the layer in use (none while the grid is off).
    QVector<QRectF> labelUnits(const Scene& scene) const;
    void restoreGridLabels(QPainter* painter, const Scene& scene);

    bool legendWithOutOfRange(const Scene& scene) const;

    ScaleBarCorner scaleBarCorner = ScaleBarCorner::BottomLeft;
    ScaleBarCorner legendCorner = ScaleBarCorner::TopRight;   // of the coverage legend, when shown
    CoverageMap coverage;
    QVector<ChartZone> drawnZones;   // of the grid layer
    QVector<QRectF> gridKeepClear;   // the anchors' dots and names the grid labels keep off
    QVector<GridLabelBox> gridLabels;   // the grid labels' boxes, which the scale bar and tag labels keep off
    QVector<bool> labelGivesWay;        // per grid label: a tag's dot or label of this pass meets its box
    QVector<QRectF> circleSquares;   // this pass's distance circles by their bounding squares
    QVector<QRectF> tagLabelRects;   // per entry of the scene's tags: where layOut put its label (chart units)
    QByteArray drawnSignature;       // of the frame shown; empty: paint at the next pass
    QElapsedTimer lastPaint;
};

#endif
