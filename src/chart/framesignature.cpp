#include "framesignature.h"

#include "calibration.h"
#include "chartdrawing.h"

#include <QDataStream>
#include <QIODevice>

QByteArray frameSignature(const ChartGeometry& geo, qint64 gridLayerKey, const ModuleSetup& modules,
                          const QVector<TagResult>& results, const Calibration* calibration,
                          int scaleBarCorner)
{
    QByteArray sig;
    QDataStream out(&sig, QIODevice::WriteOnly);
    out << geo.gridX << geo.gridY << geo.gridW << geo.gridH << geo.originX << geo.originY << geo.cmPerPixel
        << geo.pixmapW << geo.pixmapH << geo.gridStepX << geo.gridStepY << gridLayerKey;
    for (const Anchor& a : modules.anchors)
        out << a.id << a.name << a.color.rgba() << a.x << a.y << a.master;
    for (const Tag& t : modules.tags)
        out << t.id << t.name << t.color.rgba() << t.showPosRaw << t.showPosAvg << t.showDistRaw << t.showDistAvg
            << t.showCoordinates << t.showSpeed << t.showRate;
    for (const TagResult& r : results) {
        out << r.tag << r.rawValid << r.raw << r.avgValid << r.avg << r.rawDist << r.avgDist;
        if (r.avgValid && r.tag >= 0 && r.tag < modules.tags.size())
            out << averagedLabel(modules.tags.at(r.tag), r.rate);
    }
    out << scaleBarCorner << bool(calibration);
    if (calibration)
        out << calibration->originX << calibration->originY << calibration->pointX << calibration->pointY
            << calibration->originSet << calibration->pointSet;
    return sig;
}
