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

QString trCoverage(const char* text)
{
    return QCoreApplication::translate("MainWin", text);
}

} // namespace

namespace {

// HDOP at p from the anchors within reach (all with limit 0), and how many
// those are; no allocation, as it runs for every cell of the chart.
double dopInRange(const QPointF& p, const QPointF* anchors, int n, int rangeLimit, int* inRange)
{
    // Normal matrix of the unit directions from the anchors: its inverse's
    // trace is the squared HDOP.
    double a = 0, b = 0, c = 0;
    const double limit2 = double(rangeLimit) * rangeLimit;
    *inRange = 0;
    for (int i = 0; i < n; ++i) {
        const double dx = p.x() - anchors[i].x(), dy = p.y() - anchors[i].y();
        const double r2 = dx * dx + dy * dy;
        if (rangeLimit > 0 && r2 > limit2)
            continue;
        ++*inRange;
        if (r2 < 1.0)
            continue;   // on the anchor: no direction
        a += dx * dx / r2;
        b += dx * dy / r2;
        c += dy * dy / r2;
    }
    const double det = a * c - b * b;
    if (det < 1e-9)
        return std::numeric_limits<double>::infinity();
    return std::sqrt((a + c) / det);
}

} // namespace

double CoverageMap::horizontalDop(const QPointF& p, const QVector<QPointF>& anchors)
{
    int n = 0;
    return dopInRange(p, anchors.constData(), anchors.size(), 0, &n);
}

CoverageMap::Grade CoverageMap::gradeAt(const QPointF& p, const QVector<QPointF>& anchors, int rangeLimit)
{
    int inRange = 0;
    const double hdop = dopInRange(p, anchors.constData(), anchors.size(), rangeLimit, &inRange);
    // The solver needs three distances, whatever two would say about the geometry.
    if (inRange < 3)
        return OutOfRange;
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
    const QStringList texts = {trCoverage("HDOP ≤ 1,5"), trCoverage("HDOP ≤ 3"), trCoverage("HDOP > 3"), trCoverage("< 3 Anker")};
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
