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

// NAME.replay-SETTING.csv beside the recording: one name per recording and
// filter setting (e.g. "avg10", "kalman").
QString replayExportName(const QString& recordingPath, const QString& setting);

// X.partial.csv for X.csv: an export that does not cover its whole recording.
QString partialName(const QString& csvPath);

} // namespace RecordingFiles

#endif
