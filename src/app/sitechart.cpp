#include "sitechart.h"

#include "chartdrawing.h"
#include "qtcompat.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr double HandleRadiusPx = 7.0;
const QColor OfflineGrey(150, 150, 150);

QString ageText(qint64 ms)
{
    return ms < 60000 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 min").arg(ms / 60000);
}

} // namespace

SiteChart::SiteChart(SiteModel& m, QWidget* parent)
    : QWidget(parent), model(m)
{
    setObjectName(QStringLiteral("siteChart"));
    setMouseTracking(false);
    setMinimumSize(300, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SiteChart::setBackground(const QImage* image, int offsetX, int offsetY, double factor, bool show)
{
    background = image;
    bgOffsetX = offsetX, bgOffsetY = offsetY, bgFactor = factor;
    showBackground = show;
    geometryDirty = true;
    update();
}

void SiteChart::setDrawGrid(bool on)
{
    drawGridLines = on;
    geometryDirty = true;
    update();
}

void SiteChart::setPicking(bool on)
{
    picking = on;
    setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
}

void SiteChart::setSelectedKit(const QString& id)
{
    selected = id;
    update();
}

void SiteChart::fitAll()
{
    QRectF all;
    for (const QString& id : model.kitOrder()) {
        const SiteModel::Kit* k = model.kit(id);
        if (k->placed)
            all = all.isNull() ? kitOutlineOnSite(k->placement, k->extent()).boundingRect()
                               : all.united(kitOutlineOnSite(k->placement, k->extent()).boundingRect());
    }
    if (all.isNull() && background && showBackground && !background->isNull())
        all = QRectF(bgOffsetX, bgOffsetY - background->height() * bgFactor, background->width() * bgFactor,
                     background->height() * bgFactor);
    if (all.width() < 100 || all.height() < 100)
        all = all.isNull() ? QRectF(-500, -500, 3000, 2000) : all.adjusted(-500, -500, 500, 500);
    // Room for the names above the outlines and the tags' labels right of them.
    const double margin = 0.08 * qMax(all.width(), all.height());
    all.adjust(-margin, -margin, 2.5 * margin, 1.5 * margin);
    // The widget's own shape, so the chart fills it.
    const double aspect = width() > 0 && height() > 0 ? double(width()) / height() : 1.5;
    if (all.width() / all.height() < aspect)
        all.adjust(-(all.height() * aspect - all.width()) / 2, 0, (all.height() * aspect - all.width()) / 2, 0);
    else
        all.adjust(0, -(all.width() / aspect - all.height()) / 2, 0, (all.width() / aspect - all.height()) / 2);
    viewX = all.left(), viewY = all.top(), viewW = all.width(), viewH = all.height();
    geometryDirty = true;
    update();
}

void SiteChart::updateGeometry()
{
    ChartGeometry g;
    const double aspect = double(qMax(1, width())) / qMax(1, height());
    // The shown rectangle takes the widget's shape about its centre.
    const double cx = viewX + viewW / 2, cy = viewY + viewH / 2;
    double w = viewW, h = viewH;
    if (w / h < aspect)
        w = h * aspect;
    else
        h = w / aspect;
    if (computeChartGeometry(int(std::floor(cx - w / 2)), int(std::floor(cy - h / 2)), qMax(1, int(w)), qMax(1, int(h)),
                             width(), height(), g))
        geo = g;
    gridLayer = renderGridLayer(geo, drawGridLines, showBackground ? background : nullptr, bgOffsetX, bgOffsetY, bgFactor);
    geometryDirty = false;
}

QPointF SiteChart::toSite(const QPointF& pixel) const
{
    return QPointF(pixel.x() * geo.cmPerPixel - geo.originX, geo.originY - pixel.y() * geo.cmPerPixel);
}

QPointF SiteChart::toPixel(const QPointF& site) const
{
    return QPointF((site.x() + geo.originX) / geo.cmPerPixel, (geo.originY - site.y()) / geo.cmPerPixel);
}

QPointF SiteChart::handleOf(const SiteModel::Kit& kit) const
{
    const QRectF r = kit.extent();
    // Beside the corner at the kit's largest x and smallest y, clear of its name.
    return toPixel(kitToSite(kit.placement, QPointF(r.right(), r.top()))) + QPointF(12, 12);
}

void SiteChart::paintEvent(QPaintEvent*)
{
    QElapsedTimer took;
    took.start();
    if (geometryDirty || gridLayer.size() != QSize(geo.pixmapW, geo.pixmapH))
        updateGeometry();
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawPixmap(0, 0, gridLayer);
    p.setRenderHint(QPainter::Antialiasing);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QString& id : model.kitOrder())
        if (const SiteModel::Kit* k = model.kit(id))
            if (k->placed)
                drawKit(p, *k, now);
    p.setRenderHint(QPainter::Antialiasing, false);
    drawScaleBar(&p, geo);
    paintMs = took.nsecsElapsed() / 1e6;
    if (onPainted)
        onPainted(QDateTime::currentMSecsSinceEpoch());
}

void SiteChart::drawKit(QPainter& p, const SiteModel::Kit& k, qint64 now)
{
    const bool offline = k.state == SiteModel::State::Offline;
    const QColor ink = offline ? OfflineGrey : QColor(40, 40, 40);
    QPolygonF outline;
    for (const QPointF& corner : kitOutlineOnSite(k.placement, k.extent()))
        outline << toPixel(corner);
    p.setPen(QPen(ink, k.id == selected ? 2.5 : 1.5, Qt::DashLine));
    p.setBrush(offline ? QColor(200, 200, 200, 60) : QColor(70, 130, 180, 25));
    p.drawPolygon(outline);
    // The turning handle.
    const QPointF handle = handleOf(k);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(handle, HandleRadiusPx, HandleRadiusPx);
    p.drawLine(handle, outline.value(1));
    // Anchors: grey squares, the master ringed.
    for (const SiteMessage::Anchor& a : k.anchors) {
        const QPointF at = toPixel(kitToSite(k.placement, a.pos));
        p.setPen(Qt::NoPen);
        p.setBrush(offline ? OfflineGrey : QColor(90, 90, 90));
        p.drawRect(QRectF(at - QPointF(4, 4), QSizeF(8, 8)));
        if (a.master) {
            p.setPen(QPen(ink, 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(at, 8, 8);
        }
    }
    // Name, then what the view doubts about the kit.
    QPointF textAt = outline.boundingRect().topLeft() + QPointF(4, -6);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(ink);
    QStringList lines = {k.name == k.id ? k.id : k.name + QStringLiteral(" (") + k.id + QLatin1Char(')')};
    if (offline)
        lines << SiteModel::offlineText(k);
    if (k.clockFlagged())
        lines << SiteModel::clockText(k);
    const QFontMetrics fm(bold);
    textAt.ry() -= fm.height() * (lines.size() - 1);
    for (int i = 0; i < lines.size(); ++i) {
        p.setPen(i > 0 && lines[i].startsWith(QStringLiteral("Uhr")) ? QColor(200, 0, 0) : ink);
        drawText(p, textAt + QPointF(0, i * fm.height()), lines[i]);
    }
    p.setFont(font());
    // Tags: a disc in their colour, hollow with its age once old.
    for (const SiteModel::TagState& t : k.tags) {
        const QPointF at = toPixel(kitToSite(k.placement, t.kitPos));
        const qint64 age = t.ageMs(now);
        const bool old = age > SiteModel::OldTagMs;
        const QColor c = offline ? OfflineGrey : t.color;
        p.setPen(QPen(c, 2.5));
        p.setBrush(old ? QBrush(Qt::NoBrush) : QBrush(c));
        p.drawEllipse(at, 6, 6);
        p.setPen(c.darker(130));
        drawText(p, at + QPointF(10, 4), old ? t.name + QStringLiteral(" (") + ageText(age) + QLatin1Char(')') : t.name);
    }
}

void SiteChart::drawText(QPainter& p, const QPointF& baseline, const QString& text)
{
    if (texts.size() > 5000)
        texts.clear();
    const QString key = (p.font().bold() ? QStringLiteral("b:") : QStringLiteral("n:")) + text;
    auto it = texts.find(key);
    if (it == texts.end()) {
        it = texts.insert(key, QStaticText(text));
        it->setTextFormat(Qt::PlainText);
        it->prepare(QTransform(), p.font());
    }
    // QStaticText is placed by its top-left corner.
    p.drawStaticText(baseline - QPointF(0, p.fontMetrics().ascent()), *it);
}

void SiteChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    geometryDirty = true;
}

void SiteChart::wheelEvent(QWheelEvent* event)
{
    const QPointF pixel = event->position();
    const QPointF before = toSite(pixel);
    const double factor = event->angleDelta().y() > 0 ? 1 / 1.25 : 1.25;
    const double w = qBound(100.0, geo.gridW * factor, 1e7), h = w * geo.gridH / qMax(1, geo.gridW);
    // The point under the pointer stays where it is.
    const double fx = pixel.x() / qMax(1, width()), fy = pixel.y() / qMax(1, height());
    viewX = before.x() - fx * w, viewW = w;
    viewY = before.y() - (1 - fy) * h, viewH = h;
    geometryDirty = true;
    update();
}

void SiteChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressPixel = QtCompat::position(event);
    pressSite = toSite(pressPixel);
    if (picking) {
        emit pointPicked(pressSite);
        return;
    }
    drag = Drag::Pan;
    viewXAtPress = geo.gridX, viewYAtPress = geo.gridY;
    // The topmost kit first: the last drawn.
    const QVector<QString>& order = model.kitOrder();
    for (int i = order.size() - 1; i >= 0; --i) {
        const SiteModel::Kit* k = model.kit(order[i]);
        if (!k->placed)
            continue;
        const QPointF h = handleOf(*k);
        const bool onHandle = std::hypot(h.x() - pressPixel.x(), h.y() - pressPixel.y()) <= HandleRadiusPx + 2;
        if (onHandle || kitOutlineOnSite(k->placement, k->extent()).containsPoint(pressSite, Qt::OddEvenFill)) {
            drag = onHandle ? Drag::Turn : Drag::Move;
            pressPlacement = k->placement;
            selected = k->id;
            emit kitSelected(selected);
            break;
        }
    }
    update();
}

void SiteChart::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || drag == Drag::None)
        return;
    if (drag == Drag::Pan) {
        const QPointF d = (QtCompat::position(event) - pressPixel) * geo.cmPerPixel;
        viewX = viewXAtPress - d.x(), viewY = viewYAtPress + d.y();
        viewW = geo.gridW, viewH = geo.gridH;
        geometryDirty = true;
        update();
        return;
    }
    const SiteModel::Kit* k = model.kit(selected);
    if (!k)
        return;
    const QPointF now = toSite(QtCompat::position(event));
    KitPlacement p = pressPlacement;
    if (drag == Drag::Move) {
        p.x = std::round(pressPlacement.x + now.x() - pressSite.x());
        p.y = std::round(pressPlacement.y + now.y() - pressSite.y());
    } else {
        // About the outline's centre, which stays where it is; whole degrees.
        const QPointF centreKit = k->extent().center();
        const QPointF centre = kitToSite(pressPlacement, centreKit);
        const double a0 = std::atan2(pressSite.y() - centre.y(), pressSite.x() - centre.x());
        const double a1 = std::atan2(now.y() - centre.y(), now.x() - centre.x());
        p.rotationDeg = normalizedDegrees(std::round(pressPlacement.rotationDeg + (a1 - a0) * 180.0 / M_PI));
        const QPointF turned = kitToSite(KitPlacement{0, 0, p.rotationDeg}, centreKit);
        p.x = std::round(centre.x() - turned.x());
        p.y = std::round(centre.y() - turned.y());
    }
    model.placeKit(selected, p);
    emit kitPlaced(selected);
    update();
}

void SiteChart::mouseReleaseEvent(QMouseEvent*)
{
    drag = Drag::None;
}
