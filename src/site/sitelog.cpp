#include "sitelog.h"

#include "mqttpayload.h"
#include "positionexport.h"

#include <cmath>

const char* const SiteLog::HeaderRow = "recv_time,kit,tag_id,tag_name,site_x_cm,site_y_cm,age_ms,kit_state,clock_offset_ms\n";

namespace {

QString offset(const SiteModel::Kit& kit)
{
    return kit.clockKnown ? QString::number(kit.clockOffsetMs) : QString();
}

} // namespace

bool SiteLog::open(const QString& path)
{
    file.setFileName(path);
    failed = false;
    rowCount = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    failed = file.write(HeaderRow) < 0;
    return !failed;
}

void SiteLog::attach(SiteModel& model)
{
    model.onPosition = [this, &model](const SiteModel::Kit& k, const SiteModel::TagState& t) { position(model, k, t); };
    model.onStateChange = [this](const SiteModel::Kit& k, qint64 nowMs) { kitState(k, nowMs); };
}

void SiteLog::position(const SiteModel& model, const SiteModel::Kit& kit, const SiteModel::TagState& tag)
{
    const QPointF site = model.toSite(kit, tag.kitPos);
    write(MqttPayload::isoTime(tag.recvMs) + QLatin1Char(',') + PositionExport::csvField(kit.id) + QLatin1Char(',')
          + PositionExport::csvField(tag.id) + QLatin1Char(',') + PositionExport::csvField(tag.name) + QLatin1Char(',')
          + QString::number(qRound64(site.x())) + QLatin1Char(',') + QString::number(qRound64(site.y())) + QLatin1Char(',')
          + QString::number(tag.ageAtRecvMs) + QLatin1Char(',') + SiteModel::stateName(kit.state) + QLatin1Char(',')
          + offset(kit) + QLatin1Char('\n'));
}

void SiteLog::kitState(const SiteModel::Kit& kit, qint64 nowMs)
{
    // The age of a state row: how long the kit has been silent.
    const QString age = kit.lastLiveMs > 0 ? QString::number(nowMs - kit.lastLiveMs) : QString();
    write(MqttPayload::isoTime(nowMs) + QLatin1Char(',') + PositionExport::csvField(kit.id) + QStringLiteral(",,,,,") + age
          + QLatin1Char(',') + SiteModel::stateName(kit.state) + QLatin1Char(',') + offset(kit) + QLatin1Char('\n'));
}

void SiteLog::write(const QString& row)
{
    if (!file.isOpen())
        return;
    const QByteArray bytes = row.toUtf8();
    if (file.write(bytes) != bytes.size())
        failed = true;
    ++rowCount;
}

bool SiteLog::close()
{
    if (!file.isOpen())
        return !failed;
    if (!file.flush())
        failed = true;
    file.close();
    return !failed;
}
