#ifndef MODULESETUP_H
#define MODULESETUP_H

#include "anchor.h"
#include "tag.h"

#include <QByteArray>
#include <QColor>
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
    // A new tag gets the colour of tagColors that no module has yet (the
    // least used one once all are taken), so it never looks like an anchor
    // or another tag; without tagColors it is black.
    bool applyModuleList(const QByteArray& line, const QList<QColor>& tagColors = QList<QColor>());

    // The colours of all anchors, then of all tags.
    QList<QColor> colors() const;

    // Most anchors, and most tags, a module list may announce. The kit has a
    // handful; a list naming thousands would take minutes of table building
    // and quadratic matching against the records, so it is refused as corrupt.
    static constexpr int MaxListedModules = 256;

    static bool sameId(const QString& a, const QString& b);
};

#endif
