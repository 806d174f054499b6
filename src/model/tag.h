#ifndef TAG_H
#define TAG_H

#include <QColor>
#include <QString>

// One tag module plus its measurement state, which the chart pass keeps
// between passes and which starts afresh whenever the record is rebuilt.
struct Tag
{
    // 0xABCDFFFF as a signed 32-bit value: "no position yet".
    static constexpr int NoPosition = -1412562945;

    QString id;
    QString name;
    QColor color;
    bool showPosRaw = false;
    bool showPosAvg = false;
    bool showDistRaw = false;
    bool showDistAvg = false;
    int prevRawX = NoPosition, prevRawY = NoPosition;
    int prevAvgX = NoPosition, prevAvgY = NoPosition;
    int rawX = NoPosition, rawY = NoPosition;
    int avgX = NoPosition, avgY = NoPosition;
    qint64 lastUpdateMs = 0;
    qint64 prevUpdateMs = 0;
    double lastStep = 0.0;
    double speedMps = 0.0;   // as the positioning step last computed it
    bool showSpeed = false;
    bool showCoordinates = false;
    bool showRate = false;
    bool showUncertainty = false;   // the 95 % ellipse of the averaged position
    bool showTrail = false;         // the averaged position's last seconds as a fading line

    Tag() = default;
    // Argument order (coordinates, speed, rate) differs from the field order on purpose.
    Tag(const QString& id, const QString& name, const QColor& color,
        bool showPosRaw, bool showPosAvg, bool showDistRaw, bool showDistAvg,
        bool showCoordinates, bool showSpeed, bool showRate)
        : id(id), name(name), color(color), showPosRaw(showPosRaw), showPosAvg(showPosAvg),
          showDistRaw(showDistRaw), showDistAvg(showDistAvg), showSpeed(showSpeed),
          showCoordinates(showCoordinates), showRate(showRate) {}

    void updateAveragedPosition(int x, int y);
    // m/s, as the positioning step computed it: the filter's velocity, or the
    // last step of the averaged position over the time between its samples.
    double speed() const { return speedMps; }
};

#endif
