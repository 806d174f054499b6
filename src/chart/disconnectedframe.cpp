#include "disconnectedframe.h"

#include <QCoreApplication>
#include <QFont>
#include <QPainter>

QPixmap disconnectedFrame(const QPixmap& lastFrame, const QString& caption)
{
    if (lastFrame.isNull() || lastFrame.width() < 2)
        return lastFrame;
    QImage grey = lastFrame.toImage().convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    QPainter p(&grey);
    p.fillRect(grey.rect(), QColor(255, 255, 255, 150));
    QFont font = p.font();
    font.setPixelSize(qBound(14, grey.height() / 12, 48));
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(90, 90, 90));
    p.drawText(grey.rect(), Qt::AlignCenter, caption.isEmpty() ? QCoreApplication::translate("MainWin", "getrennt") : caption);
    p.end();
    return QPixmap::fromImage(grey);
}
