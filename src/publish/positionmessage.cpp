#include "positionmessage.h"

#include "positioningstep.h"
#include "tag.h"

PositionMessage PositionMessage::of(const Tag& tag, const TagResult& r)
{
    PositionMessage m;
    m.tag = tag.id;
    m.name = tag.name;
    m.epochMs = tag.lastUpdateMs;
    if (r.avgValid) {
        m.x = tag.avgX;
        m.y = tag.avgY;
        if (r.covValid) {
            m.sigmaX = r.sigmaX();
            m.sigmaY = r.sigmaY();
            m.r95 = r.r95();
            m.rhoXY = r.rhoXY();
        }
    }
    if (r.rawValid) {
        m.rawX = tag.rawX;
        m.rawY = tag.rawY;
    }
    m.speed = r.speed;
    m.rate = r.rate;
    return m;
}
