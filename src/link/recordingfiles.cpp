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

QString freeReplayExportName(const QString& recordingPath)
{
    const QFileInfo info(recordingPath);
    const QString base = info.dir().filePath(info.completeBaseName() + QStringLiteral(".replay"));
    QString name = base + QStringLiteral(".csv");
    for (int n = 2; QFileInfo::exists(name) && n < 10000; ++n)
        name = base + QStringLiteral("-%1.csv").arg(n);
    return name;
}

} // namespace RecordingFiles
