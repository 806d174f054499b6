#ifndef RECORDINGFILES_H
#define RECORDINGFILES_H

#include <QString>
#include <QtGlobal>

// Small helpers around recording files for what the window tells the user.
namespace RecordingFiles {

// Recorded time of the last complete record, in ms; 0 for no record or no recording.
quint32 durationMs(const QString& path);

// "m:ss", or "h:mm:ss" from an hour on.
QString clockText(qint64 ms);

// "1.3 MB", "420 KB", "12 B".
QString sizeText(qint64 bytes);

// NAME.replay.csv beside the recording, or NAME.replay-2.csv, -3 … when
// earlier replays left theirs: a replay never overwrites an earlier export.
QString freeReplayExportName(const QString& recordingPath);

} // namespace RecordingFiles

#endif
