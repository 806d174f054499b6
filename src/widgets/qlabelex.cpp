#include "qlabelex.h"

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
        emit mousePressed(event, QPointF(event->pos()));
    } else if (event->button() == Qt::MiddleButton) {
        emit mousePressed(event, QPointF(event->pos()));
    }
    QLabel::mousePressEvent(event);
}

void QLabelEx::mouseReleaseEvent(QMouseEvent* event)
{
    if (pointmoving && event->button() == Qt::LeftButton) {
        emit mouseReleased(event, QPointF(event->pos()));
        pointmoving = false;
    } else if (event->button() == Qt::MiddleButton) {
        emit mouseReleased(event, QPointF(event->pos()));
    }
    QLabel::mouseReleaseEvent(event);
}

void QLabelEx::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(event, QPointF(event->pos()), pointmoving);
    QLabel::mouseMoveEvent(event);
}

void QLabelEx::wheelEvent(QWheelEvent* event)
{
    emit wheelTurned(event->position(), event->angleDelta().y());
    event->accept();
}

void QLabelEx::paintEvent(QPaintEvent* event)
{
    const QPixmap shown = pixmap(Qt::ReturnByValue);
    if (hasScaledContents() && contentsRect() == rect() && !shown.isNull() && !shown.hasAlphaChannel()
        && shown.size() == size() && shown.devicePixelRatio() == devicePixelRatioF()) {
        // An opaque picture that fits exactly (the chart's frames) is copied as
        // it is: no scaling, and from the next frame on no background under it.
        setAttribute(Qt::WA_OpaquePaintEvent, true);
        QPainter(this).drawPixmap(0, 0, shown);
        return;
    }
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        // The background was left to this paint; what follows may not cover it all.
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        QPainter(this).fillRect(rect(), palette().brush(backgroundRole()));
    }
    QLabel::paintEvent(event);
}
