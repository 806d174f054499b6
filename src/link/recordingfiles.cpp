#include "recordingfiles.h"

#include "recording.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace RecordingFiles {

quint32 durationMs(const QString& path)
{
    // Only the record heads are read; the batches are skipped.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(Recording::Header.size()) != Recording::Header)
        return 0;
    quint32 last = 0;
    char head[Recording::RecordHeadBytes];
    while (file.read(head, Recording::RecordHeadBytes) == Recording::RecordHeadBytes) {
        const quint32 length = qFromLittleEndian<quint32>(head + 4);
        if (length == 0 || length > Recording::MaxBatchBytes || qint64(length) > file.bytesAvailable())
            break;
        last = qFromLittleEndian<quint32>(head);
        if (!file.seek(file.pos() + length))
            break;
    }
    return last;
}

QString clockText(qint64 ms)
{
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MB").arg(double(bytes) / (1024.0 * 1024.0), 0, 'f', 1);
    if (bytes >= 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    return QStringLiteral("%1 B").arg(bytes);
}

QString replayExportName(const QString& recordingPath, const QString& setting)
{
    const QFileInfo info(recordingPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".replay-%1.csv").arg(setting));
}

QString partialName(const QString& csvPath)
{
    QString name = csvPath;
    if (name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        name.chop(4);
    return name + QStringLiteral(".partial.csv");
}

} // namespace RecordingFiles
