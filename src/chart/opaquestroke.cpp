#include "opaquestroke.h"

#include <QImage>
#include <QPaintDevice>
#include <QPixmap>

bool OpaqueStroke::opaqueTarget(const QPainter* painter)
{
    const QPaintDevice* device = painter->device();
    if (!device)
        return false;
    switch (device->devType()) {
    case QInternal::Image:
        return !static_cast<const QImage*>(device)->hasAlphaChannel();
    case QInternal::Pixmap:
        return !static_cast<const QPixmap*>(device)->hasAlphaChannel();
    default:
        return false;   // widgets, pictures, printers: left as they are
    }
}

OpaqueStroke::OpaqueStroke(QPainter* painter, const QColor& color)
    : painter(painter),
      switched(color.alpha() == 255 && painter->compositionMode() == QPainter::CompositionMode_SourceOver
               && !painter->testRenderHint(QPainter::Antialiasing) && opaqueTarget(painter))
{
    if (switched)
        painter->setCompositionMode(QPainter::CompositionMode_SourceIn);
}

OpaqueStroke::~OpaqueStroke()
{
    if (switched)
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}
