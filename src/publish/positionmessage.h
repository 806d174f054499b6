#ifndef POSITIONMESSAGE_H
#define POSITIONMESSAGE_H

#include <QString>

#include <optional>

struct Tag;
struct TagResult;

// One tag's position as a chart pass computed it, in plain values: what is
// published for the tag. A value the pass did not compute stays empty.
struct PositionMessage
{
    QString master;                 // the master anchor's id
    QString tag;
    QString name;
    qint64 epochMs = 0;             // when the pass computed it
    std::optional<int> x, y;        // averaged position, cm
    std::optional<int> rawX, rawY;  // position from the newest distances, cm
    std::optional<double> speed;    // m/s
    std::optional<double> rate;     // Hz
    // Uncertainty of the averaged position (cm): standard deviations along x
    // and y, and the larger half-axis of its 95 % ellipse.
    std::optional<double> sigmaX, sigmaY, r95;
    std::optional<double> rhoXY;    // correlation of x and y

    // What a pass computed for a tag; the master is left to the publisher.
    static PositionMessage of(const Tag& tag, const TagResult& result);
};

#endif
