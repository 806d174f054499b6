#ifndef ANCHORMOVES_H
#define ANCHORMOVES_H

#include <QList>
#include <QPair>
#include <QPoint>
#include <QString>

struct Anchor;

// Anchor positions before each drag on the chart, and offsets before each
// change by a measurement, newest last, so either can be taken back.
class AnchorMoves
{
public:
    static constexpr int MaxMoves = 50;

    void recordMove(const QString& anchorId, const QPoint& from);
    // Offsets (anchor id, offset) as they were before a measurement replaced them.
    void recordOffsets(const QList<QPair<QString, int>>& before);
    // Positions (anchor id, X/Y) as they were before a survey replaced them all at once.
    void recordPositions(const QList<QPair<QString, QPoint>>& before);
    bool canUndo() const { return !moves.isEmpty(); }
    // Puts the most recently moved anchor that still exists back where it was,
    // or the offsets or positions of the newest change back as they were; returns the ids
    // (comma-separated), or an empty string when there was nothing to undo.
    QString undo(QList<Anchor>& anchors);
    void clear() { moves.clear(); }

private:
    struct Move {
        QString id;
        QPoint from;
        QList<QPair<QString, int>> offsets;   // non-empty: an offset change, not a drag
        QList<QPair<QString, QPoint>> positions;   // non-empty: several anchors placed at once
    };
    QList<Move> moves;
};

#endif
