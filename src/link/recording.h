#ifndef RECORDING_H
#define RECORDING_H

#include <QByteArray>
#include <QFile>
#include <QString>

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
}

class RecordingWriter
{
public:
    ~RecordingWriter();
    bool open(const QString& path);
    bool isOpen() const { return file.isOpen(); }
    void append(quint32 ms, const QByteArray& batch);
    bool flush();
    void close();
    QString fileName() const { return file.fileName(); }

private:
    QFile file;
};

class RecordingReader
{
public:
    // False when the file cannot be read or does not start with the header.
    bool open(const QString& path);
    // The next complete record; false at the end or at a truncated/corrupt record.
    bool next(quint32& ms, QByteArray& batch);
    void close() { file.close(); }

private:
    QFile file;
};

#endif
