#ifndef RANGINGSAMPLE_H
#define RANGINGSAMPLE_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QTime>

// One received 'D' line: a tag's distances (cm) to the anchors, in anchor order.
class RangingSample
{
public:
    QByteArray line;
    QList<int> distances;   // 0 = no valid distance to that anchor
    QString tagId;          // null until parse() found at least three fields
    QTime received;

    explicit RangingSample(const QByteArray& line);
    RangingSample(const QByteArray& line, const QTime& received);

    bool parse();
    int distanceAt(int index) const
    {
        return (index >= 0 && index < distances.size()) ? distances.at(index) : 0;
    }

    static constexpr int MaxDistance = 100000;   // 1 km
};

using RangingHistory = QMap<QString, QList<RangingSample*>>;

#endif
