#ifndef DISCONNECTEDFRAME_H
#define DISCONNECTEDFRAME_H

#include <QPixmap>

// The last chart frame of a connection that ended, greyed out with "getrennt"
// over it, so old positions are not taken for live ones.
QPixmap disconnectedFrame(const QPixmap& lastFrame);

#endif
