#ifndef SITECHART_H
#define SITECHART_H

#include "chartgeometry.h"
#include "sitemodel.h"

#include <QImage>
#include <QPixmap>
#include <QHash>
#include <QPointF>
#include <QStaticText>
#include <QWidget>

#include <functional>

// The site view's chart: the grid, scale bar and floor plan of the main
// chart, and over them every kit in site coordinates with its outline,
// anchors, name and tags. Wheel zooms about the pointer, dragging the empty
// floor pans; dragging a kit's outline moves the kit, its round handle (beside its
// lower right corner) turns it.
class SiteChart : public QWidget
{
    Q_OBJECT
public:
    explicit SiteChart(SiteModel& model, QWidget* parent = nullptr);

    void setBackground(const QImage* image, int offsetX, int offsetY, double factor, bool show);
    void setDrawGrid(bool on);
    // Shows every kit (or the floor plan, without kits) with a margin.
    void fitAll();
    QString selectedKit() const { return selected; }
    void setSelectedKit(const QString& id);
    // While on, a left click picks a point (cm) for the floor plan's calibration instead.
    void setPicking(bool on);
    const ChartGeometry& geometry() const { return geo; }
    // Site centimetres under a widget pixel, and back.
    QPointF toSite(const QPointF& pixel) const;
    QPointF toPixel(const QPointF& site) const;

    // How long the last paint took, ms.
    double lastPaintMs() const { return paintMs; }
    // Called after each paint with the time it ended (ms since the epoch).
    std::function<void(qint64)> onPainted;

signals:
    void kitPlaced(const QString& id);   // moved or turned by the user
    void kitSelected(const QString& id);
    void pointPicked(const QPointF& site);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateGeometry();
    QPointF handleOf(const SiteModel::Kit& kit) const;
    void drawKit(QPainter& p, const SiteModel::Kit& kit, qint64 nowMs);
    // Laid-out text, kept between paints: a site's labels change seldom.
    void drawText(QPainter& p, const QPointF& baseline, const QString& text);

    SiteModel& model;
    ChartGeometry geo;
    double viewX = -500, viewY = -500, viewW = 3000, viewH = 2000;   // the shown site rectangle, cm
    bool geometryDirty = true;
    QPixmap gridLayer;
    const QImage* background = nullptr;
    int bgOffsetX = 0, bgOffsetY = 0;
    double bgFactor = 1.0;
    bool showBackground = false;
    bool drawGridLines = true;
    bool picking = false;
    QString selected;
    double paintMs = 0;
    QHash<QString, QStaticText> texts;
    enum class Drag { None, Pan, Move, Turn } drag = Drag::None;
    QPointF pressPixel;
    QPointF pressSite;
    KitPlacement pressPlacement;
    double viewXAtPress = 0, viewYAtPress = 0;
};

#endif
