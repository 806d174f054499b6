#ifndef OPAQUESTROKE_H
#define OPAQUESTROKE_H

#include <QColor>
#include <QPainter>

// While it lives, lines drawn in color go through the painter with the
// composition mode SourceIn instead of SourceOver where the two give the same
// pixels: an opaque colour, no antialiasing (every span fully covered), and a
// target without an alpha channel (every pixel opaque, so SourceIn keeps the
// source as it is). Qt's raster engine fills each span of an opaque
// SourceOver line with a vectorised memfill that returns with the upper
// vector registers dirty, and the SSE code around it then pays a state
// transition per span: on the Intel machine measured, the distance circles
// cost three times as much as their pixels. SourceIn fills the same spans
// with a plain loop.
class OpaqueStroke
{
public:
    OpaqueStroke(QPainter* painter, const QColor& color);
    ~OpaqueStroke();
    OpaqueStroke(const OpaqueStroke&) = delete;
    OpaqueStroke& operator=(const OpaqueStroke&) = delete;

    // Whether the painter draws into a target whose pixels are all opaque.
    static bool opaqueTarget(const QPainter* painter);

private:
    QPainter* painter;
    bool switched;
};

#endif
