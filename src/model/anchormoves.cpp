#include "anchormoves.h"

#include "anchor.h"
#include "modulesetup.h"

#include <QStringList>

void AnchorMoves::recordMove(const QString& anchorId, const QPoint& from)
{
    moves.append({anchorId, from, {}, {}});
    while (moves.size() > MaxMoves)
        moves.removeFirst();
}

void AnchorMoves::recordOffsets(const QList<QPair<QString, int>>& before)
{
    if (before.isEmpty())
        return;
    moves.append({QString(), QPoint(), before, {}});
    while (moves.size() > MaxMoves)
        moves.removeFirst();
}

void AnchorMoves::recordPositions(const QList<QPair<QString, QPoint>>& before)
{
    if (before.isEmpty())
        return;
    moves.append({QString(), QPoint(), {}, before});
    while (moves.size() > MaxMoves)
        moves.removeFirst();
}

QString AnchorMoves::undo(QList<Anchor>& anchors)
{
    // The records may have been rebuilt (a module list, a settings file) since
    // the drag: find the anchor by id, and skip moves of anchors now gone.
    while (!moves.isEmpty()) {
        const Move m = moves.takeLast();
        if (!m.positions.isEmpty()) {
            QStringList ids;
            for (const auto& before : m.positions)
                for (Anchor& a : anchors)
                    if (ModuleSetup::sameId(a.id, before.first)) {
                        a.x = before.second.x();
                        a.y = before.second.y();
                        ids << a.id;
                    }
            if (!ids.isEmpty())
                return ids.join(QStringLiteral(", "));
            continue;
        }
        if (!m.offsets.isEmpty()) {
            QStringList ids;
            for (const auto& before : m.offsets)
                for (Anchor& a : anchors)
                    if (ModuleSetup::sameId(a.id, before.first)) {
                        a.offset = before.second;
                        ids << a.id;
                    }
            if (!ids.isEmpty())
                return ids.join(QStringLiteral(", "));
            continue;
        }
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
