#ifndef CALIBRATIONFLOW_H
#define CALIBRATIONFLOW_H

#include <QPoint>
#include <QString>

class MainWin;

// The floor plan behind the chart: choosing and clearing it, and measuring
// it in (origin, a second point, their distance in cm) so that its pixels
// land on centimetres. Spans several of the window's buttons and the chart's
// mouse, and keeps its results in the window's background-image members.
class CalibrationFlow
{
public:
    explicit CalibrationFlow(MainWin& window) : w(window) {}

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

private:
    void finish();
    MainWin& w;
};

#endif
