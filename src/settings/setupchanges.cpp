#include "setupchanges.h"

#include <tuple>

namespace {

auto anchorFields(const Anchor& a)
{
    return std::make_tuple(a.id, a.name, a.color.rgba(), a.x, a.y, a.z, a.offset, a.master);
}

auto tagFields(const Tag& t)
{
    return std::make_tuple(t.id, t.name, t.color.rgba(), t.showPosRaw, t.showPosAvg, t.showDistRaw, t.showDistAvg,
                           t.showSpeed, t.showCoordinates, t.showRate, t.showUncertainty, t.showTrail);
}

auto zoneFields(const Zone& z)
{
    return std::make_tuple(z.name, z.color.rgba(), z.corners, z.dwellSeconds, z.shown);
}

template <class T, class F>
bool sameLists(const T& a, const T& b, F fields)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (fields(a.at(i)) != fields(b.at(i)))
            return false;
    return true;
}

} // namespace

bool sameSetup(const SettingsData& a, const SettingsData& b)
{
    return sameLists(a.anchors, b.anchors, anchorFields) && sameLists(a.tags, b.tags, tagFields)
           && std::tie(a.gridX, a.gridY, a.gridW, a.gridH) == std::tie(b.gridX, b.gridY, b.gridW, b.gridH)
           && std::tie(a.imageGridX, a.imageGridY, a.imageGridW, a.imageGridH)
                  == std::tie(b.imageGridX, b.imageGridY, b.imageGridW, b.imageGridH)
           && std::tie(a.bgImageFile, a.bgImageFactor, a.bgImageOffsetX, a.bgImageOffsetY)
                  == std::tie(b.bgImageFile, b.bgImageFactor, b.bgImageOffsetX, b.bgImageOffsetY)
           && sameLists(a.zones, b.zones, zoneFields) && a.zoneRules == b.zoneRules;
}

void SetupChanges::setSaved(const SettingsData& data)
{
    saved = data;
    marked = false;
}

bool SetupChanges::isChanged(const SettingsData& now) const
{
    return marked || !sameSetup(saved, now);
}
