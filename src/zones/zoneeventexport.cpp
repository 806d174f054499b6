#include "zoneeventexport.h"

#include "durablefile.h"

#include <QDateTime>

#include <cmath>

const char* const ZoneEventExport::HeaderRow =
    "time,rec_ms,tag_id,tag_name,zone,event,x_cm,y_cm,entry_rec_ms,dwell_s,reason\n";

namespace {

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

bool ZoneEventExport::open(const QString& path)
{
    discard();
    file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        file.reset();
        return false;
    }
    file->write(HeaderRow);
    return true;
}

QByteArray ZoneEventExport::row(const ZoneEvent& e, qint64 recOffsetMs)
{
    const bool entry = e.kind != ZoneEvent::Enter && e.entryMs >= 0;
    const QStringList fields = {
        QDateTime::fromMSecsSinceEpoch(e.ms).toString(Qt::ISODateWithMs),
        QString::number(e.ms + recOffsetMs),
        csvField(e.tagId),
        csvField(e.tagName),
        csvField(e.zone),
        QLatin1String(ZoneEvent::kindName(e.kind)),
        QString::number(std::lround(e.position.x())),
        QString::number(std::lround(e.position.y())),
        entry ? QString::number(e.entryMs + recOffsetMs) : QString(),
        entry ? QString::number(e.dwellSeconds, 'f', 1) : QString(),
        QLatin1String(ZoneEvent::reasonName(e.reason)),
    };
    return fields.join(QLatin1Char(',')).toUtf8() + '\n';
}

void ZoneEventExport::append(const ZoneEvent& event, qint64 recOffsetMs)
{
    if (file)
        file->write(row(event, recOffsetMs));
}

bool ZoneEventExport::close()
{
    if (!file)
        return true;
    const QString name = file->fileName();
    const bool ok = file->error() == QFileDevice::NoError && file->commit();
    file.reset();
    return ok && Durable::syncFolderOf(name);
}

void ZoneEventExport::discard()
{
    if (file)
        file->cancelWriting();
    file.reset();   // an uncommitted QSaveFile removes its temporary file
}
