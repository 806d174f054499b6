#ifndef WALKPREVIEW_H
#define WALKPREVIEW_H

#include <QPointF>
#include <QStringList>
#include <QVector>
#include <QWidget>

// A small picture of a walk among the anchors, scaled to fit: the anchors as
// labelled squares, the walk as a line.
class WalkPreview : public QWidget
{
    Q_OBJECT
public:
    explicit WalkPreview(QWidget* parent = nullptr) : QWidget(parent) {}

    void setAnchors(const QVector<QPointF>& positions, const QStringList& ids);
    void setWalk(const QVector<QPointF>& points);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVector<QPointF> anchors;
    QStringList anchorIds;
    QVector<QPointF> walk;
};

#endif
