#include "qlabelex.h"
#include "qtcompat.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

QLabelEx::QLabelEx(QWidget* parent)
    : QLabel(parent, Qt::WindowFlags())
{
}

void QLabelEx::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pointmoving = true;
        emit mousePressed(event, QtCompat::position(event));
    } else if (event->button() == Qt::MiddleButton) {
        emit mousePressed(event, QtCompat::position(event));
    }
    QLabel::mousePressEvent(event);
}

void QLabelEx::mouseReleaseEvent(QMouseEvent* event)
{
    if (pointmoving && event->button() == Qt::LeftButton) {
        emit mouseReleased(event, QtCompat::position(event));
        pointmoving = false;
    } else if (event->button() == Qt::MiddleButton) {
        emit mouseReleased(event, QtCompat::position(event));
    }
    QLabel::mouseReleaseEvent(event);
}

void QLabelEx::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(event, QtCompat::position(event), pointmoving);
    QLabel::mouseMoveEvent(event);
}

void QLabelEx::wheelEvent(QWheelEvent* event)
{
    emit wheelTurned(event->position(), event->angleDelta().y());
    event->accept();
}

void QLabelEx::paintEvent(QPaintEvent* event)
{
    const QPixmap shown = QtCompat::pixmap(this);
    if (hasScaledContents() && contentsRect() == rect() && !shown.isNull() && !shown.hasAlphaChannel()
        && shown.size() == size() && shown.devicePixelRatio() == devicePixelRatioF()) {
        // An opaque picture that fits exactly (the chart's frames) is copied as
        // it is: no scaling, and from the next frame on no background under it.
        setAttribute(Qt::WA_OpaquePaintEvent, true);
        QPainter(this).drawPixmap(0, 0, shown);
        paintMeasureLine();
        return;
    }
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        // The background was left to this paint; what follows may not cover it all.
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        QPainter(this).fillRect(rect(), palette().brush(backgroundRole()));
    }
    QLabel::paintEvent(event);
    paintMeasureLine();
}

void QLabelEx::setMeasureLine(const QLineF& line, const QString& text)
{
    if (line == measure && text == measureText)
        return;
    measure = line;
    measureText = text;
    update();
}

void QLabelEx::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit mouseDoubleClicked(event, QtCompat::position(event));
    QLabel::mouseDoubleClickEvent(event);
}

void QLabelEx::setSketch(const QPolygonF& polygon, const QColor& color)
{
    if (polygon == sketch && color == sketchColor)
        return;
    sketch = polygon;
    sketchColor = color;
    update();
}

void QLabelEx::paintMeasureLine()
{
    if (!sketch.isEmpty()) {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = sketchColor;
        fill.setAlpha(40);
        p.setBrush(fill);
        p.setPen(QPen(sketchColor, 1.5, Qt::DashLine));
        p.drawPolygon(sketch);
        p.setBrush(sketchColor);
        p.setPen(Qt::NoPen);
        for (const QPointF& corner : sketch)
            p.drawEllipse(corner, 3, 3);
    }
    if (measure.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 20, 20), 2, Qt::DashLine, Qt::RoundCap));
    p.drawLine(measure);
    p.setBrush(QColor(20, 20, 20));
    for (const QPointF& end : {measure.p1(), measure.p2()})
        p.drawEllipse(end, 3, 3);
    // The length on a white patch beside the middle, kept inside the label.
    const QRectF box = QRectF(p.fontMetrics().boundingRect(measureText)).adjusted(-4, -2, 4, 2);
    QRectF at = box.translated(measure.center() - box.center() + QPointF(0, -box.height()));
    at.moveLeft(qBound(0.0, at.left(), qMax(0.0, width() - at.width())));
    at.moveTop(qBound(0.0, at.top(), qMax(0.0, height() - at.height())));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRect(at);
    p.setPen(QColor(20, 20, 20));
    p.drawText(at, Qt::AlignCenter, measureText);
}
