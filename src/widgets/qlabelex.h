#ifndef QLABELEX_H
#define QLABELEX_H

#include <QLabel>
#include <QLineF>
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

signals:
    void mousePressed(QMouseEvent* event, QPointF point);
    void mouseMoved(QMouseEvent* event, QPointF point, bool pointmoving);
    void mouseReleased(QMouseEvent* event, QPointF point);
    // angleDelta: eighths of a degree, positive away from the user.
    void wheelTurned(QPointF point, int angleDelta);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintMeasureLine();
    bool pointmoving = false;
    QLineF measure;
    QString measureText;
};

#endif
