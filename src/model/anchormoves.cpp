#include "anchormoves.h"

#include "anchor.h"
#include "modulesetup.h"

void AnchorMoves::recordMove(const QString& anchorId, const QPoint& from)
{
    moves.append({anchorId, from});
    while (moves.size() > MaxMoves)
        moves.removeFirst();
}

QString AnchorMoves::undo(QList<Anchor>& anchors)
{
    // The records may have been rebuilt (a module list, a settings file) since
    // the drag: find the anchor by id, and skip moves of anchors now gone.
    while (!moves.isEmpty()) {
        const Move m = moves.takeLast();
        for (Anchor& a : anchors) {
            if (ModuleSetup::sameId(a.id, m.id)) {
                a.x = m.from.x();
                a.y = m.from.y();
                return a.id;
            }
        }
    }
    return QString();
}
