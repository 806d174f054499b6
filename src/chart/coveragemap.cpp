#include "coveragemap.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFont>
#include <QFontMetrics>
#include <QIODevice>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {

QString trMain(const char* text)
{
    return QCoreApplication::translate("MainWin", text);
}

} // namespace

double CoverageMap::horizontalDop(const QPointF& p, const QVector<QPointF>& anchors)
{
    // Normal matrix of the unit directions from the anchors: its inverse's
    // trace is the squared HDOP.
    double a = 0, b = 0, c = 0;
    for (const QPointF& q : anchors) {
        const double dx = p.x() - q.x(), dy = p.y() - q.y();
        const double r = std::hypot(dx, dy);
        if (r < 1.0)
            continue;   // on the anchor: no direction
        const double ux = dx / r, uy = dy / r;
        a += ux * ux;
        b += ux * uy;
        c += uy * uy;
    }
    const double det = a * c - b * b;
    if (det < 1e-9)
        return std::numeric_limits<double>::infinity();
    return std::sqrt((a + c) / det);
}

CoverageMap::Grade CoverageMap::gradeAt(const QPointF& p, const QVector<QPointF>& anchors, int rangeLimit)
{
    QVector<QPointF> inRange;
    for (const QPointF& q : anchors)
        if (rangeLimit <= 0 || std::hypot(p.x() - q.x(), p.y() - q.y()) <= rangeLimit)
            inRange.append(q);
    // The solver needs three distances, whatever two would say about the geometry.
    if (inRange.size() < 3)
        return OutOfRange;
    const double hdop = horizontalDop(p, inRange);
    return hdop <= GoodHdop ? Good : hdop <= FairHdop ? Fair : Poor;
}

QColor CoverageMap::gradeColor(Grade g)
{
    // Translucent, so the floor plan shows through.
    switch (g) {
    case Good: return QColor(0, 170, 0, 70);
    case Fair: return QColor(235, 200, 0, 80);
    case Poor: return QColor(220, 0, 0, 70);
    case OutOfRange: break;
    }
    return QColor(120, 120, 120, 90);
}

bool CoverageMap::update(const ChartGeometry& geo, const QList<Anchor>& anchors, int rangeLimit)
{
    QByteArray k;
    {
        QDataStream out(&k, QIODevice::WriteOnly);
        out << geo.gridW << geo.gridH << geo.originX << geo.originY << geo.cmPerPixel << geo.pixmapW << geo.pixmapH
            << rangeLimit;
        // Offsets change no direction, but they belong to the layout the shading shows.
        for (const Anchor& a : anchors)
            out << a.x << a.y << a.z << a.offset;
    }
    if (k == key)
        return false;
    key = k;

    const int cols = (qMax(geo.pixmapW, 0) + CellPx - 1) / CellPx;
    const int rows = (qMax(geo.pixmapH, 0) + CellPx - 1) / CellPx;
    const double cell = CellPx * geo.cmPerPixel;   // chart units per cell
    rect = QRectF(0, 0, cols * cell, rows * cell);
    image = QImage(cols, rows, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return true;
    QVector<QPointF> points;
    for (const Anchor& a : anchors)
        points.append(QPointF(a.x, a.y));
    QRgb colors[4];
    for (int g = Good; g <= OutOfRange; ++g)
        colors[g] = qPremultiply(gradeColor(Grade(g)).rgba());
    for (int r = 0; r < rows; ++r) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(r));
        const double y = double(geo.originY) - (r + 0.5) * cell;
        for (int c = 0; c < cols; ++c)
            line[c] = colors[gradeAt(QPointF((c + 0.5) * cell - double(geo.originX), y), points, rangeLimit)];
    }
    return true;
}

QPixmap CoverageMap::legend(const QFont& font, bool withOutOfRange)
{
    QByteArray k;
    {
        QDataStream out(&k, QIODevice::WriteOnly);
        out << font.toString() << withOutOfRange;
    }
    if (k == legendKey && !legendBox.isNull())
        return legendBox;
    legendKey = k;
    const QStringList texts = {trMain("HDOP ≤ 1,5"), trMain("HDOP ≤ 3"), trMain("HDOP > 3"), trMain("unter 3 Anker in Reichweite")};
    const int lines = withOutOfRange ? 4 : 3;
    const QFontMetrics fm(font);
    const int pad = 4, swatch = fm.height() - 2, lineH = fm.height();
    int textW = 0;
    for (int i = 0; i < lines; ++i)
        textW = qMax(textW, fm.horizontalAdvance(texts.at(i)));
    legendBox = QPixmap(2 * pad + swatch + 5 + textW, 2 * pad + lines * lineH);
    legendBox.fill(Qt::white);
    QPainter p(&legendBox);
    p.setFont(font);
    p.setPen(Qt::black);
    for (int i = 0; i < lines; ++i) {
        const QRect sw(pad, pad + i * lineH + 1, swatch, swatch);
        // The swatch as it looks on white, a touch stronger to read at this size.
        QColor c = gradeColor(Grade(i));
        c.setAlpha(qMin(255, c.alpha() * 2));
        p.fillRect(sw, c);
        p.drawRect(sw.adjusted(0, 0, -1, -1));
        p.drawText(QPoint(pad + swatch + 5, pad + i * lineH + fm.ascent()), texts.at(i));
    }
    p.drawRect(legendBox.rect().adjusted(0, 0, -1, -1));
    return legendBox;
}
