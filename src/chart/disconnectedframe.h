#ifndef DISCONNECTEDFRAME_H
#define DISCONNECTEDFRAME_H

#include <QPixmap>
#include <QString>

// The last chart frame of a connection or replay that ended, greyed out with
// the caption ("getrennt" when none is given) over it, so old positions are
// not taken for live ones.
QPixmap disconnectedFrame(const QPixmap& lastFrame, const QString& caption = QString());

#endif
