#ifndef MODULESETUP_H
#define MODULESETUP_H

#include "anchor.h"
#include "tag.h"

#include <QByteArray>
#include <QList>

// The anchor and tag records the whole program works on.
class ModuleSetup
{
public:
    QList<Anchor> anchors;
    QList<Tag> tags;

    // Index of the first tag whose id matches (trimmed, any letter case), or -1.
    int findTag(const QString& id) const;

    // Brings the records into line with a 'K' module-list line of the master.
    // All or nothing: a malformed list changes no record and returns false.
    bool applyModuleList(const QByteArray& line);

    // Most anchors, and most tags, a module list may announce. The kit has a
    // handful; a list naming thousands would take minutes of table building
    // and quadratic matching against the records, so it is refused as corrupt.
    static constexpr int MaxListedModules = 256;

    static bool sameId(const QString& a, const QString& b);
};

#endif
