#ifndef MASTERCONFIG_H
#define MASTERCONFIG_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The module list the master keeps: itself, the further anchors and the tags,
// as set by the configuration command "$PK,...".
class MasterConfig
{
public:
    QString master;
    QStringList anchors;   // further anchors, in ranging order after the master
    QStringList tags;

    static constexpr int MaxAnchors = 3;
    static constexpr int MaxTags = 4;

    // "$PK,<master>,<nA hex>,<nT hex>,<anchor>,...,<tag>,...,\r\n"
    QByteArray toLine() const;

    // Reads a configuration command line (ending in "\n" or "\r\n"). Returns
    // false and leaves *out alone for anything malformed: wrong marker, an
    // identifier that is empty, not hexadecimal or zero, counts that are not
    // hexadecimal or above the kit's limits, a field count that does not match
    // the counts, or a missing trailing comma.
    static bool parse(const QByteArray& line, MasterConfig* out);

    // The master first, then the further anchors: the order of the distances
    // in a ranging line.
    QStringList rangingAnchors() const { return QStringList(master) + anchors; }

    // Case-insensitive: the program may keep identifiers in lower case.
    bool contains(const QString& id) const;

    bool operator==(const MasterConfig& other) const
    {
        return master == other.master && anchors == other.anchors && tags == other.tags;
    }
    bool operator!=(const MasterConfig& other) const { return !(*this == other); }
};

// A module identifier as the master accepts it: 1 to 8 hexadecimal digits,
// nothing else, not zero.
bool isModuleId(const QByteArray& text);

#endif
