#include "recording.h"

#include "durablefile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QtEndian>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

const QByteArray Recording::Header("ORVANE-RECORDING 1\n");

struct RecordingWriter::Shared {
    std::mutex mutex;
    std::condition_variable wake;    // to the writer thread
    std::condition_variable done;    // from the writer thread
    QByteArray backlog;              // complete records not yet written
    quint64 flushWanted = 0;
    quint64 flushDone = 0;
    bool stopping = false;
    bool lost = false;
    std::thread thread;
};

RecordingWriter::RecordingWriter() = default;

RecordingWriter::~RecordingWriter()
{
    close();
}

bool RecordingWriter::open(const QString& filePath)
{
    close();
    path = filePath;
    file.setFileName(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(Recording::Header) != Recording::Header.size() || !file.flush()) {
        file.close();
        return false;
    }
    d.reset(new Shared);
    d->thread = std::thread([this] { run(); });
    opened = true;
    return true;
}

void RecordingWriter::append(quint32 ms, const QByteArray& batch)
{
    if (!opened || batch.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->lost)
        return;
    for (int at = 0; at < batch.size(); at += int(Recording::MaxBatchBytes)) {
        const int n = qMin(batch.size() - at, int(Recording::MaxBatchBytes));
        if (d->backlog.size() > MaxBacklogBytes - Recording::RecordHeadBytes - n) {
            // The disk has not kept up for many minutes: stop here rather than
            // hold the session in memory. What is on disk stays readable.
            d->lost = true;
            break;
        }
        uchar head[Recording::RecordHeadBytes];
        qToLittleEndian<quint32>(ms, head);
        qToLittleEndian<quint32>(quint32(n), head + 4);
        d->backlog.append(reinterpret_cast<const char*>(head), Recording::RecordHeadBytes);
        d->backlog.append(batch.constData() + at, n);
    }
    if (d->backlog.size() >= WriteChunkBytes)
        d->wake.notify_one();
}

void RecordingWriter::run()
{
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(d->mutex);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(FlushIntervalMs);
    for (;;) {
        d->wake.wait_until(lock, deadline, [this] {
            return d->stopping || d->flushWanted != d->flushDone || d->backlog.size() >= WriteChunkBytes;
        });
        QByteArray chunk;
        chunk.swap(d->backlog);
        const quint64 wanted = d->flushWanted;
        const bool last = d->stopping;
        lock.unlock();
        // Whole records only, so the file is always a readable recording up to
        // the point the disk has taken.
        bool good = true;
        if (!chunk.isEmpty())
            good = file.write(chunk) == chunk.size() && file.flush();
        lock.lock();
        if (!good)
            d->lost = true;
        d->flushDone = wanted;
        d->done.notify_all();
        deadline = Clock::now() + std::chrono::milliseconds(FlushIntervalMs);
        if (last && d->backlog.isEmpty())
            return;
    }
}

bool RecordingWriter::flush()
{
    if (!opened)
        return false;
    std::unique_lock<std::mutex> lock(d->mutex);
    const quint64 ticket = ++d->flushWanted;
    d->wake.notify_one();
    d->done.wait(lock, [&] { return d->flushDone >= ticket; });
    return !d->lost;
}

bool RecordingWriter::isIntact() const
{
    if (!d)
        return true;
    std::lock_guard<std::mutex> lock(d->mutex);
    return !d->lost;
}

bool RecordingWriter::close()
{
    if (!opened)
        return false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
    }
    d->wake.notify_one();
    d->thread.join();
    const bool synced = Durable::syncFile(file);
    file.close();
    opened = false;
    return synced && Durable::syncFolderOf(path) && !d->lost;
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
    char head[Recording::RecordHeadBytes];
    if (file.read(head, Recording::RecordHeadBytes) != Recording::RecordHeadBytes)
        return false;
    const quint32 length = qFromLittleEndian<quint32>(head + 4);
    // A length beyond what the file still holds is a cut-off or corrupt record:
    // stop there rather than allocate what the field claims.
    if (length == 0 || length > Recording::MaxBatchBytes || qint64(length) > file.bytesAvailable())
        return false;
    QByteArray bytes = file.read(qint64(length));
    if (bytes.size() != int(length))
        return false;
    ms = qFromLittleEndian<quint32>(head);
    batch = bytes;
    return true;
}

qint64 RecordingReader::startEpochMs(const QString& path)
{
    const QFileInfo info(path);
    const QDateTime born = info.birthTime();
    if (born.isValid())
        return born.toMSecsSinceEpoch();
    QFile f(path);
    quint32 lastMs = 0;
    if (f.open(QIODevice::ReadOnly) && f.read(Recording::Header.size()) == Recording::Header) {
        char head[Recording::RecordHeadBytes];
        while (f.read(head, Recording::RecordHeadBytes) == Recording::RecordHeadBytes) {
            const quint32 length = qFromLittleEndian<quint32>(head + 4);
            if (length == 0 || qint64(length) > f.bytesAvailable() || !f.seek(f.pos() + length))
                break;
            lastMs = qFromLittleEndian<quint32>(head);
        }
    }
    return info.lastModified().toMSecsSinceEpoch() - qint64(lastMs);
}
