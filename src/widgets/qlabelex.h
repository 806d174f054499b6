#ifndef QLABELEX_H
#define QLABELEX_H

#include <QLabel>
#include <QColor>
#include <QLineF>
#include <QPolygonF>
#include <QPointF>

class QMouseEvent;

// A label that reports presses, drags, releases and wheel turns in its own pixels.
class QLabelEx : public QLabel
{
    Q_OBJECT
public:
    explicit QLabelEx(QWidget* parent = nullptr);

    // A measuring line over the picture, in this label's pixels, with its
    // length as text beside its middle; a null line removes it.
    void setMeasureLine(const QLineF& line, const QString& text);
    QLineF measureLine() const { return measure; }
    // A polygon being drawn over the picture (this label's pixels); empty removes it.
    void setSketch(const QPolygonF& polygon, const QColor& color);

signals:
    void mousePressed(QMouseEvent* event, QPointF point);
    void mouseMoved(QMouseEvent* event, QPointF point, bool pointmoving);
    void mouseReleased(QMouseEvent* event, QPointF point);
    void mouseDoubleClicked(QMouseEvent* event, QPointF point);
    // angleDelta: eighths of a degree, positive away from the user.
    void wheelTurned(QPointF point, int angleDelta);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintMeasureLine();
    bool pointmoving = false;
    QLineF measure;
    QString measureText;
    QPolygonF sketch;
    QColor sketchColor;
};

#endif
