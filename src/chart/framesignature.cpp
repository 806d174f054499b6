#include "framesignature.h"

#include "calibration.h"
#include "chartdrawing.h"

#include <QDataStream>
#include <QIODevice>

#include <cmath>

int labelPlusMinus(const Tag& tag, const TagResult& result)
{
    if (!tag.showUncertainty || !tag.showCoordinates)
        return -1;
    const double r95 = result.r95();
    return r95 >= 0 && r95 < 1e9 ? int(std::lround(r95)) : -1;
}

QByteArray frameSignature(const ChartGeometry& geo, qint64 gridLayerKey, const ModuleSetup& modules,
                          const QVector<TagResult>& results, const Calibration* calibration,
                          int scaleBarCorner, int coverageLegend)
{
    QByteArray sig;
    QDataStream out(&sig, QIODevice::WriteOnly);
    out << geo.gridX << geo.gridY << geo.gridW << geo.gridH << geo.originX << geo.originY << geo.cmPerPixel
        << geo.pixmapW << geo.pixmapH << geo.gridStepX << geo.gridStepY << gridLayerKey;
    for (const Anchor& a : modules.anchors)
        out << a.id << a.name << a.color.rgba() << a.x << a.y << a.master;
    for (const Tag& t : modules.tags)
        out << t.id << t.name << t.color.rgba() << t.showPosRaw << t.showPosAvg << t.showDistRaw << t.showDistAvg
            << t.showCoordinates << t.showSpeed << t.showRate << t.showUncertainty << t.showTrail;
    for (const TagResult& r : results) {
        if (r.tag < 0 || r.tag >= modules.tags.size())
            continue;
        // Only what is drawn: positions computed for the export alone change no frame.
        const Tag& t = modules.tags.at(r.tag);
        const bool raw = r.rawValid && t.showPosRaw, avg = r.avgValid && t.showPosAvg;
        out << r.tag << raw << (raw ? r.raw : QPointF()) << avg << (avg ? r.avg : QPointF()) << r.rawDist << r.avgDist;
        if (avg)
            out << averagedLabel(t, r.rate, labelPlusMinus(t, r));
        // The ellipse and the trail as drawn: the trail's points with their fade.
        const bool ellipse = r.avgValid && t.showUncertainty && r.covValid;
        out << ellipse;
        if (ellipse)
            out << r.covXX << r.covXY << r.covYY << t.avgX << t.avgY;
        out << int(t.showTrail ? r.trail.size() : 0);
        if (t.showTrail)
            for (const TrailPoint& p : r.trail)
                out << p.x << p.y << p.fade;
    }
    out << scaleBarCorner << coverageLegend << bool(calibration);
    if (calibration)
        out << calibration->originX << calibration->originY << calibration->pointX << calibration->pointY
            << calibration->originSet << calibration->pointSet;
    return sig;
}
