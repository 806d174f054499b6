#include "positionexport.h"

#include "durablefile.h"
#include "modulesetup.h"
#include "positioningstep.h"
#include "tag.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

const char* const PositionExport::HeaderRow = "time,tag_id,tag_name,raw_x_cm,raw_y_cm,avg_x_cm,avg_y_cm,speed_mps,rate_hz,rec_ms\n";
const char* const PositionExport::UncertaintyColumns = ",sigma_x_cm,sigma_y_cm,r95_cm,rho_xy";

PositionExport::~PositionExport()
{
    // An atomic export replaces its target only when closed on purpose.
    if (qobject_cast<QSaveFile*>(file.get()))
        discard();
    else
        close();
}

QByteArray PositionExport::header(const QStringList& distanceAnchors)
{
    QByteArray row(HeaderRow);
    row.chop(1);
    for (const QString& id : distanceAnchors)
        row += ',' + csvField(QStringLiteral("d_%1_cm").arg(id.trimmed())).toUtf8();
    return row + UncertaintyColumns + '\n';
}

QStringList PositionExport::anchorIds(const QList<Anchor>& anchors)
{
    QStringList ids;
    for (const Anchor& a : anchors)
        ids << a.id;
    return ids;
}

bool PositionExport::open(const QString& path, bool atomic, const QStringList& distanceAnchors)
{
    close();
    if (atomic)
        file.reset(new QSaveFile(path));
    else
        file.reset(new QFile(path));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.reset();
        return false;
    }
    distanceIds = distanceAnchors;
    file->write(header(distanceIds));
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

void PositionExport::append(qint64 epochMs, qint64 recMs, const Tag& tag, const TagResult& result,
                            const QList<Anchor>& anchors)
{
    const bool rawValid = result.rawValid, avgValid = result.avgValid;
    if (!isOpen() || (!rawValid && !avgValid))
        return;
    const QString time = QDateTime::fromMSecsSinceEpoch(epochMs).toString(Qt::ISODateWithMs);
    QString row = time + QLatin1Char(',') + csvField(tag.id) + QLatin1Char(',') + csvField(tag.name) + QLatin1Char(',');
    row += rawValid ? QString::number(tag.rawX) + QLatin1Char(',') + QString::number(tag.rawY) : QStringLiteral(",");
    row += QLatin1Char(',');
    row += avgValid ? QString::number(tag.avgX) + QLatin1Char(',') + QString::number(tag.avgY) : QStringLiteral(",");
    row += QLatin1Char(',') + QString::number(result.speed, 'f', 3) + QLatin1Char(',')
         + QString::number(result.rate, 'f', 3) + QLatin1Char(',') + QString::number(recMs);
    // Anchors are matched by id: the records may have changed since the header.
    for (const QString& id : qAsConst(distanceIds)) {
        row += QLatin1Char(',');
        for (int a = 0; a < anchors.size(); ++a)
            if (ModuleSetup::sameId(anchors.at(a).id, id) && result.rawDist.contains(a)) {
                row += QString::number(result.rawDist.value(a));
                break;
            }
    }
    if (avgValid && result.covValid)
        row += QLatin1Char(',') + QString::number(result.sigmaX(), 'f', 1) + QLatin1Char(',')
             + QString::number(result.sigmaY(), 'f', 1) + QLatin1Char(',') + QString::number(result.r95(), 'f', 1)
             + QLatin1Char(',') + QString::number(result.rhoXY(), 'f', 3);
    else
        row += QStringLiteral(",,,,");
    row += QLatin1Char('\n');
    file->write(row.toUtf8());
}

void PositionExport::flush()
{
    if (isOpen())
        file->flush();
}

bool PositionExport::close()
{
    if (!file)
        return true;
    // The rows reach the disk, and so does the file's name in its folder,
    // before the export counts as saved.
    const QString name = file->fileName();
    bool ok = file->error() == QFileDevice::NoError;
    if (auto* save = qobject_cast<QSaveFile*>(file.get())) {
        ok = save->commit() && ok;
    } else if (file->isOpen()) {
        ok = Durable::syncFile(*file) && ok;
        file->close();
    }
    file.reset();
    return Durable::syncFolderOf(name) && ok;
}

void PositionExport::discard()
{
    if (auto* save = qobject_cast<QSaveFile*>(file.get()))
        save->cancelWriting();
    file.reset();   // a QSaveFile not committed removes its temporary file
}
