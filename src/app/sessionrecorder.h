#ifndef SESSIONRECORDER_H
#define SESSIONRECORDER_H

#include "positionexport.h"
#include "recording.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class QTimer;

// A live session on disk: the received bytes as a recording, and the
// positions computed from them as a CSV beside it ("name.orec" and
// "name.csv"). A replay uses the position export alone.
class SessionRecorder : public QObject
{
    Q_OBJECT
public:
    explicit SessionRecorder(QObject* parent = nullptr);
    ~SessionRecorder() override;

    // False, with no file left behind, when either file cannot be created or
    // the export's name would be the recording's own.
    // distanceAnchors: the anchors whose distances the export adds as columns.
    bool start(const QString& path, const QStringList& distanceAnchors = {});
    // The position export alone, e.g. for a replay.
    bool startExport(const QString& csvPath, const QStringList& distanceAnchors = {});
    // Closes whatever is open; false when the files did not fully reach the disk.
    bool stop();

    bool isRecording() const { return writer.isOpen(); }
    bool isExporting() const { return positions.isOpen(); }
    QString fileName() const { return writer.fileName(); }
    QString csvName() const { return csvPath; }
    // ms since the recording started; 0 when none runs.
    qint64 elapsedMs() const { return clock.isValid() ? clock.elapsed() : 0; }

    void appendBytes(const QByteArray& data);
    PositionExport& positionExport() { return positions; }

    static QString csvBeside(const QString& recordingPath);

signals:
    // Once a second while recording.
    void progress(qint64 elapsedMs, qint64 bytes);

private:
    RecordingWriter writer;
    PositionExport positions;
    QString csvPath;
    QElapsedTimer clock;
    QTimer* flushTimer = nullptr;
};

#endif
