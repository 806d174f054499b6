#include "sessionrecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

SessionRecorder::SessionRecorder(QObject* parent)
    : QObject(parent)
{
    flushTimer = new QTimer(this);
    // The recording is written on its own thread; the export is flushed here.
    connect(flushTimer, &QTimer::timeout, this, [this] {
        positions.flush();
        if (writer.isOpen())
            emit progress(clock.elapsed(), QFileInfo(writer.fileName()).size());
    });
}

SessionRecorder::~SessionRecorder()
{
    stop();
}

QString SessionRecorder::csvBeside(const QString& recordingPath)
{
    const QFileInfo info(recordingPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".csv"));
}

bool SessionRecorder::start(const QString& path, const QStringList& distanceAnchors)
{
    if (writer.isOpen() || positions.isOpen())
        return false;
    const QString csv = csvBeside(path);
    if (QFileInfo(csv).absoluteFilePath() == QFileInfo(path).absoluteFilePath())
        return false;
    if (!writer.open(path))
        return false;
    if (!positions.open(csv, false, distanceAnchors)) {
        writer.close();
        QFile::remove(path);
        return false;
    }
    csvPath = csv;
    clock.start();
    flushTimer->start(1000);
    return true;
}

bool SessionRecorder::startExport(const QString& path, const QStringList& distanceAnchors)
{
    if (writer.isOpen() || positions.isOpen() || !positions.open(path, false, distanceAnchors))
        return false;
    csvPath = path;
    flushTimer->start(1000);
    return true;
}

bool SessionRecorder::stop()
{
    if (!writer.isOpen() && !positions.isOpen())
        return true;
    flushTimer->stop();
    clock.invalidate();
    const bool recordingSaved = !writer.isOpen() || writer.close();
    const bool exportSaved = !positions.isOpen() || positions.close();
    return recordingSaved && exportSaved;
}

void SessionRecorder::appendBytes(const QByteArray& data)
{
    if (writer.isOpen())
        writer.append(quint32(clock.elapsed()), data);
}
