#ifndef CALIBRATIONFLOW_H
#define CALIBRATIONFLOW_H

#include "filechoice.h"

#include <QObject>
#include <QPoint>
#include <QString>

struct ChartBackground;
class ToolsPanel;
class ViewPanel;

// The floor plan behind the chart: choosing and clearing it, and measuring
// it in (origin, a second point, their distance in cm) so that its pixels
// land on centimetres. Spans several buttons of the side panel and the
// chart's mouse, and keeps its results in the background record.
class CalibrationFlow : public QObject
{
    Q_OBJECT
public:
    CalibrationFlow(QWidget* window, ChartBackground& background, ToolsPanel* tools, ViewPanel* view,
                    QWidget* chartLabel, const FileChoice& files);

    void loadImage(const QString& path);
    void chooseImage();
    void clearImage();
    void begin();
    void pickOrigin();
    void pickPoint();
    void distanceEdited(const QString& text);
    void accept();
    void cancel();
    // A left click on the chart while the origin or the point is being
    // picked; false when no pick is under way.
    bool pick(const QPoint& world);
    void updateButtons();

signals:
    // The picture or its placement changed: the grid layer is out of date.
    void backgroundChanged();

private:
    void finish();
    QWidget* window;
    ChartBackground& bg;
    ToolsPanel* tools;
    ViewPanel* view;
    QWidget* chartLabel;
    const FileChoice& files;
};

#endif
