#include "recording.h"

#include <QtEndian>

const QByteArray Recording::Header("ORVANE-RECORDING 1\n");

RecordingWriter::~RecordingWriter()
{
    close();
}

bool RecordingWriter::open(const QString& path)
{
    close();
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(Recording::Header) != Recording::Header.size()) {
        file.close();
        return false;
    }
    return true;
}

void RecordingWriter::append(quint32 ms, const QByteArray& batch)
{
    if (!file.isOpen() || batch.isEmpty())
        return;
    uchar head[8];
    qToLittleEndian<quint32>(ms, head);
    qToLittleEndian<quint32>(quint32(batch.size()), head + 4);
    // QFile buffers: this is a memory copy on the receive path, not a system call.
    file.write(reinterpret_cast<const char*>(head), 8);
    file.write(batch);
}

bool RecordingWriter::flush()
{
    return file.isOpen() && file.flush();
}

void RecordingWriter::close()
{
    if (file.isOpen()) {
        file.flush();
        file.close();
    }
}

bool RecordingReader::open(const QString& path)
{
    file.close();
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.read(Recording::Header.size()) != Recording::Header) {
        file.close();
        return false;
    }
    return true;
}

bool RecordingReader::next(quint32& ms, QByteArray& batch)
{
    if (!file.isOpen())
        return false;
    char head[8];
    if (file.read(head, 8) != 8)
        return false;
    ms = qFromLittleEndian<quint32>(head);
    const quint32 length = qFromLittleEndian<quint32>(head + 4);
    // A length beyond what the file still holds is a cut-off or corrupt record:
    // stop there rather than allocate what the field claims.
    if (length == 0 || length > Recording::MaxBatchBytes || qint64(length) > file.bytesAvailable())
        return false;
    batch = file.read(length);
    return batch.size() == int(length);
}
