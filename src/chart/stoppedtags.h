#ifndef STOPPEDTAGS_H
#define STOPPEDTAGS_H

#include "positioningstep.h"
#include "tag.h"

#include <QColor>
#include <QList>
#include <QVector>

// Tags after the ranging stopped: each at its last place, greyed, with its
// name and coordinates but no rate, speed, circles, ring, ellipse or trail,
// which would all claim a live measurement.
QVector<TagResult> stoppedResults(const QVector<TagResult>& last);
QList<Tag> stoppedLook(QList<Tag> tags);
// The grey a stopped tag of colour c is drawn in: c faded, still told apart.
QColor stoppedColor(const QColor& c);

#endif
