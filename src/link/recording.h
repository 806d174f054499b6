#ifndef RECORDING_H
#define RECORDING_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// Serial session recordings (".orec"): the byte batches exactly as the link
// delivered them, each with its arrival time.
//
// Format, version 1: the header line "ORVANE-RECORDING 1\n", then records of
//   u32 little-endian  milliseconds since the start of the recording
//   u32 little-endian  number of bytes n (1 … MaxBatchBytes)
//   n bytes            the batch
// The file is append-only, so a recording cut short (crash, pulled cable) is
// readable up to its last complete record.
namespace Recording {
extern const QByteArray Header;
constexpr quint32 MaxBatchBytes = 16 * 1024 * 1024;
constexpr int RecordHeadBytes = 8;
}

// Appends records from the receive path without ever waiting for the disk:
// append() only copies into memory, and a thread of the writer's own hands the
// bytes to the file, at the latest one second after they were appended.
class RecordingWriter
{
public:
    // Backlog at which a stalled disk makes the writer give up (about 20 minutes
    // of a full link): the file then ends at its last complete record instead
    // of the memory growing without bound.
    static constexpr int MaxBacklogBytes = 64 * 1024 * 1024;
    // A backlog this large is written without waiting for the second to pass.
    static constexpr int WriteChunkBytes = 64 * 1024;
    static constexpr int FlushIntervalMs = 1000;

    RecordingWriter();
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates (truncates) the file and writes the header; false if that fails.
    bool open(const QString& path);
    bool isOpen() const { return opened; }
    // Empty batches are not recorded. Batches over MaxBatchBytes are split.
    void append(quint32 ms, const QByteArray& batch);
    // Waits until everything appended so far has been handed to the file system.
    // False when the recording lost data (a failed write, an overflowed backlog).
    bool flush();
    // Writes what is left, forces the file to the disk and closes it. False
    // when the recording lost data or did not reach the disk.
    bool close();
    QString fileName() const { return path; }
    // False once data was lost; the file still ends at a complete record.
    bool isIntact() const;

private:
    struct Shared;
    void run();

    QFile file;                      // touched by the writer thread only while open
    QString path;
    bool opened = false;
    std::unique_ptr<Shared> d;
};

class RecordingReader
{
public:
    // False when the file cannot be read or does not start with the header.
    bool open(const QString& path);
    // The next complete record; false at the end or at a truncated/corrupt record
    // (a length of 0, above MaxBatchBytes or beyond the end of the file).
    bool next(quint32& ms, QByteArray& batch);
    void close() { file.close(); }

    // When the recording began, in ms since the epoch: the file's creation time
    // where the file system keeps it, else its last change less the time of
    // its last record. The format itself carries no wall-clock time.
    static qint64 startEpochMs(const QString& path);

private:
    QFile file;
};

#endif
