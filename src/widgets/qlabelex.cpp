#include "qlabelex.h"

#include <QMouseEvent>

QLabelEx::QLabelEx(QWidget* parent)
    : QLabel(parent, Qt::WindowFlags())
{
}

void QLabelEx::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pointmoving = true;
        emit mousePressed(event, QPointF(event->pos()));
    }
    QLabel::mousePressEvent(event);
}

void QLabelEx::mouseReleaseEvent(QMouseEvent* event)
{
    if (pointmoving && event->button() == Qt::LeftButton) {
        emit mouseReleased(event, QPointF(event->pos()));
        pointmoving = false;
    }
    QLabel::mouseReleaseEvent(event);
}

void QLabelEx::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved(event, QPointF(event->pos()), pointmoving);
    QLabel::mouseMoveEvent(event);
}
