#include "positionexport.h"

#include "durablefile.h"
#include "tag.h"

#include <QDateTime>

const char* const PositionExport::HeaderRow = "time,tag_id,tag_name,raw_x_cm,raw_y_cm,avg_x_cm,avg_y_cm,speed_mps,rate_hz\n";

PositionExport::~PositionExport()
{
    close();
}

bool PositionExport::open(const QString& path)
{
    close();
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    writeFailed = file.write(HeaderRow) < 0;
    return true;
}

QString PositionExport::csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void PositionExport::append(qint64 epochMs, const Tag& tag, bool rawValid, bool avgValid, double speed, double rate)
{
    if (!file.isOpen() || (!rawValid && !avgValid))
        return;
    const QString time = QDateTime::fromMSecsSinceEpoch(epochMs).toString(Qt::ISODateWithMs);
    QString row = time + QLatin1Char(',') + csvField(tag.id) + QLatin1Char(',') + csvField(tag.name) + QLatin1Char(',');
    row += rawValid ? QString::number(tag.rawX) + QLatin1Char(',') + QString::number(tag.rawY) : QStringLiteral(",");
    row += QLatin1Char(',');
    row += avgValid ? QString::number(tag.avgX) + QLatin1Char(',') + QString::number(tag.avgY) : QStringLiteral(",");
    row += QLatin1Char(',') + QString::number(speed, 'f', 3) + QLatin1Char(',') + QString::number(rate, 'f', 3)
         + QLatin1Char('\n');
    if (file.write(row.toUtf8()) < 0)
        writeFailed = true;
}

void PositionExport::flush()
{
    if (file.isOpen())
        file.flush();
}

bool PositionExport::close()
{
    if (!file.isOpen())
        return false;
    const bool synced = Durable::syncFile(file);
    file.close();
    return synced && Durable::syncFolderOf(file.fileName()) && !writeFailed;
}
