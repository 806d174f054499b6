#include "qlabelex.h"
#include "qtcompat.h"

#include <QMouseEvent>
#include <QPainter>

QLabelEx::QLabelEx(QWidget* parent)
    : QLabel(parent, Qt::WindowFlags())
{
}

void QLabelEx::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pointmoving = true;
        emit mousePressed(event, QtCompat::position(event));
    }
    QLabel::mousePressEvent(event);
}

void QLabelEx::mouseReleaseEvent(QMouseEvent* event)
{
    if (pointmoving && event->button() == Qt::LeftButton) {
        emit mouseReleased(event, QtCompat::position(event));
        pointmoving = false;
    }
    QLabel::mouseReleaseEvent(event);
}

void QLabelEx::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(event, QtCompat::position(event), pointmoving);
    QLabel::mouseMoveEvent(event);
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
        return;
    }
    if (testAttribute(Qt::WA_OpaquePaintEvent)) {
        // The background was left to this paint; what follows may not cover it all.
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        QPainter(this).fillRect(rect(), palette().brush(backgroundRole()));
    }
    QLabel::paintEvent(event);
}
