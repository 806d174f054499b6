#ifndef ANCHORMOVES_H
#define ANCHORMOVES_H

#include <QList>
#include <QPoint>
#include <QString>

struct Anchor;

// Anchor positions before each drag on the chart, newest last, so a drag that
// was meant to measure a distance can be taken back.
class AnchorMoves
{
public:
    static constexpr int MaxMoves = 50;

    void recordMove(const QString& anchorId, const QPoint& from);
    bool canUndo() const { return !moves.isEmpty(); }
    // Puts the most recently moved anchor that still exists back where it was;
    // returns its id, or an empty string when there was nothing to undo.
    QString undo(QList<Anchor>& anchors);
    void clear() { moves.clear(); }

private:
    struct Move {
        QString id;
        QPoint from;
    };
    QList<Move> moves;
};

#endif
