// The site view's message parser and model. The input is one or more
// messages separated by NUL bytes, each a topic line, a line feed and the
// payload; byte 0 of the topic says whether it came retained ('r'). All go
// through SiteMessage::parse into one SiteModel, which must keep its bounds
// and place every kit it knows at finite coordinates.
#include "sitemessage.h"
#include "sitemodel.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SiteModel model;
    qint64 now = 1796634930000;
    quint64 positions = 0;
    model.onPosition = [&](const SiteModel::Kit& k, const SiteModel::TagState& t) {
        const QPointF p = model.toSite(k, t.kitPos);
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || t.ageAtRecvMs < 0)
            fail("position not finite or of negative age");
        ++positions;
    };
    const QList<QByteArray> messages = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)).split('\0');
    for (const QByteArray& raw : messages) {
        const int cut = raw.indexOf('\n');
        const QByteArray topic = cut < 0 ? raw : raw.left(cut);
        const QByteArray payload = cut < 0 ? QByteArray() : raw.mid(cut + 1);
        const bool retained = topic.startsWith('r');
        const SiteMessage m = SiteMessage::parse(QStringLiteral("orvane"), retained ? topic.mid(1) : topic, payload);
        if (m.kind == SiteMessage::Position && m.hasPosition
            && (!std::isfinite(m.pos.x()) || std::fabs(m.pos.x()) > SiteMessage::MaxCoordinateCm))
            fail("absurd coordinate accepted");
        if (m.kind == SiteMessage::Refused && m.reason.isEmpty())
            fail("refused without a reason");
        model.apply(m, retained, now);
        now += 37;
        model.tick(now);
    }
    if (model.kitOrder().size() > SiteModel::MaxKits)
        fail("more kits than the bound");
    for (const QString& id : model.kitOrder()) {
        const SiteModel::Kit* k = model.kit(id);
        if (!k || k->tags.size() > SiteModel::MaxTagsPerKit || k->zones.size() > SiteModel::MaxZonesPerKit)
            fail("kit beyond its bounds");
        if (!std::isfinite(k->placement.x) || !std::isfinite(k->placement.y) || !std::isfinite(k->placement.rotationDeg))
            fail("kit placed at no finite place");
    }
    if (positions != model.positions())
        fail("positions taken and reported differ");
    return 0;
}
