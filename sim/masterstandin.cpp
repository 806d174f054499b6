#include "masterstandin.h"

#include "recording.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hex(qint64 value)
{
    return QByteArray::number(value, 16).toUpper();
}

} // namespace

MasterStandIn::MasterStandIn(const Scenario& scenario, QObject* parent)
    : QObject(parent), sc(scenario), config(scenario.initialConfiguration()), lines(scenario.seed)
{
    peerTimer.setInterval(20);
    pumpTimer.setInterval(5);
    pumpTimer.setTimerType(Qt::PreciseTimer);
    identityTimer.setInterval(IdentityIntervalMs);
    discoveryTimer.setInterval(DiscoveryIntervalMs);
    rangingTimer.setInterval(5);
    rangingTimer.setTimerType(Qt::PreciseTimer);
    reportTimer.setInterval(ReportIntervalMs);
    connect(&peerTimer, &QTimer::timeout, this, &MasterStandIn::checkPeer);
    connect(&pumpTimer, &QTimer::timeout, this, &MasterStandIn::pump);
    connect(&identityTimer, &QTimer::timeout, this, &MasterStandIn::sendIdentity);
    connect(&discoveryTimer, &QTimer::timeout, this, &MasterStandIn::sendDiscovery);
    connect(&rangingTimer, &QTimer::timeout, this, &MasterStandIn::rangingTick);
    connect(&reportTimer, &QTimer::timeout, this, &MasterStandIn::sendReport);
}

MasterStandIn::~MasterStandIn()
{
    stop();
    delete truthFile;
    delete recorder;
}

bool MasterStandIn::setTruthFile(const QString& path, QString* error)
{
    auto* file = new QFile(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file->errorString());
        delete file;
        return false;
    }
    file->write("time_ms,tag_id,x_cm,y_cm,z_cm\n");
    delete truthFile;
    truthFile = file;
    return true;
}

void MasterStandIn::flushTruth()
{
    if (truthFile)
        truthFile->flush();
}

bool MasterStandIn::flushRecord()
{
    // The writer hands its backlog to the disk once a second by itself.
    return recorder && recorder->flush();
}

bool MasterStandIn::setRecordFile(const QString& path, QString* error)
{
    auto* writer = new RecordingWriter;
    if (!writer->open(path)) {
        if (error)
            *error = QStringLiteral("%1: cannot be written").arg(path);
        delete writer;
        return false;
    }
    delete recorder;
    recorder = writer;
    return true;
}

bool MasterStandIn::start(QString* error)
{
    if (masterFd >= 0)
        return true;
    const QString problem = sc.check();
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    struct termios raw;
    ::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    int m = -1;
    int s = -1;
    char name[256] = {0};
    if (::openpty(&m, &s, name, &raw, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(::strerror(errno)));
        return false;
    }
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    ::fcntl(m, F_SETFD, FD_CLOEXEC);
    // The slave is not kept open here: a closed slave is what tells us that
    // nobody listens, so nothing is written into a buffer that the next
    // reader would find stale.
    ::close(s);
    masterFd = m;
    slaveName = QString::fromLocal8Bit(name);
    if (!link.isEmpty() && !publishLink(error)) {
        ::close(masterFd);
        masterFd = -1;
        slaveName.clear();
        return false;
    }
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    readNotifier->setEnabled(false);
    connect(readNotifier, &QSocketNotifier::activated, this, &MasterStandIn::readable);
    clock.start();
    lastBudgetNs = clock.nsecsElapsed();
    budget = 0;
    peer = false;
    peerTimer.start();
    identityTimer.start();
    return true;
}

void MasterStandIn::stop()
{
    peerTimer.stop();
    pumpTimer.stop();
    identityTimer.stop();
    discoveryTimer.stop();
    rangingTimer.stop();
    reportTimer.stop();
    delete readNotifier;
    readNotifier = nullptr;
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
    removeLink();
    flushTruth();
    flushRecord();
    peer = false;
    ranging = false;
    discovering = false;
    queue.clear();
    wire.clear();
    rx.clear();
}

void MasterStandIn::setConfiguration(const MasterConfig& c)
{
    config = c;
    // Lines measured for the old list must not follow the new one's echo.
    for (int i = queue.size() - 1; i >= 0; --i)
        if (queue.at(i).kind == 'D')
            queue.removeAt(i);
    restartSchedule();
}

int MasterStandIn::linesSentTotal() const
{
    int total = 0;
    for (int n : sent)
        total += n;
    return total;
}

bool MasterStandIn::publishLink(QString* error)
{
    const QByteArray path = QFile::encodeName(link);
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        if (error)
            *error = QStringLiteral("%1 exists and is not a symbolic link").arg(link);
        return false;
    }
    // Build the link aside and move it over an old one in one step.
    const QByteArray tmp = path + ".tmp" + QByteArray::number(qint64(::getpid()));
    ::unlink(tmp.constData());
    if (::symlink(QFile::encodeName(slaveName).constData(), tmp.constData()) != 0
        || ::rename(tmp.constData(), path.constData()) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        if (error)
            *error = QStringLiteral("%1: %2").arg(link, QString::fromLocal8Bit(::strerror(err)));
        return false;
    }
    linkPublished = true;
    return true;
}

void MasterStandIn::removeLink()
{
    if (!linkPublished)
        return;
    linkPublished = false;
    // Only our own link: another instance may have taken the name over.
    const QByteArray path = QFile::encodeName(link);
    char target[4096];
    const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
    if (n > 0 && QByteArray(target, int(n)) == QFile::encodeName(slaveName))
        ::unlink(path.constData());
}

void MasterStandIn::checkPeer()
{
    if (masterFd < 0 || peer)
        return;
    struct pollfd p = {masterFd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return;
    if (p.revents & POLLHUP) {
        // Still nobody on the other side; drop whatever a reader left behind.
        char buf[256];
        while (::read(masterFd, buf, sizeof buf) > 0) {
        }
        return;
    }
    peer = true;
    peerTimer.stop();
    rx.clear();
    lastBudgetNs = clock.nsecsElapsed();
    budget = 0;
    readNotifier->setEnabled(true);
    emit peerChanged(true);
    readable();
    if (ranging)
        pump();   // still ranging from before the pause: carry on at once
}

void MasterStandIn::peerLost()
{
    if (!peer)
        return;
    peer = false;
    readNotifier->setEnabled(false);
    pumpTimer.stop();
    dropped += queue.size() + (wire.isEmpty() ? 0 : 1);
    queue.clear();
    wire.clear();
    rx.clear();
    // A line in flight may sit in the terminal's input buffer; the next reader
    // must not get it.
    const int fd = ::open(QFile::encodeName(slaveName).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::tcflush(fd, TCIOFLUSH);
        ::close(fd);
    }
    peerTimer.start();
    emit peerChanged(false);
}

void MasterStandIn::readable()
{
    if (masterFd < 0 || !peer)
        return;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            feed(QByteArray(buf, int(n)));
            if (!peer || masterFd < 0)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO (or end of file): the last holder of the slave closed it.
        peerLost();
        return;
    }
}

void MasterStandIn::feed(const QByteArray& bytes)
{
    for (char c : bytes) {
        if (c == '$') {
            // A new line begins; an unfinished one before it was cut short.
            rx = QByteArray(1, c);
            continue;
        }
        if (rx.isEmpty())
            continue;   // noise between lines
        rx.append(c);
        if (c == '\n') {
            const QByteArray line = rx;
            rx.clear();
            handleLine(line);
        } else if (rx.size() > MaxInputLine) {
            rx.clear();
        }
    }
}

void MasterStandIn::handleLine(const QByteArray& line)
{
    QByteArray body = line;
    body.chop(1);
    if (body.endsWith('\r'))
        body.chop(1);

    OutLine echo;
    echo.bytes = line;
    echo.kind = 'E';
    echo.urgent = true;
    bool ok = true;

    if (body == "$PS,") {
        enqueue(echo);
        startRanging();
    } else if (body == "$PG,") {
        ranging = false;
        rangingTimer.stop();
        reportTimer.stop();
        // Nothing measured before the stop may follow its echo.
        for (int i = queue.size() - 1; i >= 0; --i)
            if (queue.at(i).kind == 'D' || queue.at(i).kind == 'R')
                queue.removeAt(i);
        enqueue(echo);
    } else if (body == "$PW,1,") {
        enqueue(echo);
        discovering = true;
        discoveryTimer.start();
    } else if (body == "$PW,0,") {
        discovering = false;
        discoveryTimer.stop();
        for (int i = queue.size() - 1; i >= 0; --i)
            if (queue.at(i).kind == 'W')
                queue.removeAt(i);
        enqueue(echo);
    } else if (body == "$PL,") {
        MasterConfig alone;
        alone.master = sc.masterId();
        setConfiguration(alone);
        enqueue(echo);
    } else if (body.startsWith("$PK,")) {
        MasterConfig parsed;
        ok = MasterConfig::parse(line, &parsed);
        if (ok) {
            setConfiguration(parsed);
            enqueue(echo);
        }
    } else if (body.startsWith("$PH,")) {
        ok = ledCommandOk(body);
        if (ok)
            enqueue(echo);
    } else {
        ok = false;
    }

    if (ok) {
        ++accepted;
        emit commandAccepted(line);
    } else {
        ++ignored;
    }
}

bool MasterStandIn::ledCommandOk(const QByteArray& body) const
{
    // "$PH,<id>,<code>,<param>," : code 1 = TX LED, 2 = RX LED; param 0/1.
    const QList<QByteArray> f = body.split(',');
    if (f.size() != 5 || !f.at(4).isEmpty())
        return false;
    const QByteArray& id = f.at(1);
    if (!isModuleId(id))
        return false;
    if (id.toUpper() != "FFFF" && !config.contains(QString::fromLatin1(id)))
        return false;
    return (f.at(2) == "1" || f.at(2) == "2") && (f.at(3) == "0" || f.at(3) == "1");
}

void MasterStandIn::startRanging()
{
    OutLine k;
    k.bytes = config.toLine();
    k.kind = 'K';
    k.urgent = true;   // right behind the echo, ahead of anything queued
    enqueue(k);
    ranging = true;
    restartSchedule();
    rangingTimer.start();
    reportTimer.start();
    // At the full rate the pump makes the lines, and the module list above
    // may have left it idle: start it, or nothing flows until the next $PX.
    pump();
}

void MasterStandIn::restartSchedule()
{
    scheduleStartMs = elapsedMs();
    scheduled = 0;
    nextTag = 0;
}

QStringList MasterStandIn::rangingTags() const
{
    // A configured tag that is not on the air is never heard from.
    QStringList out;
    for (const QString& t : config.tags)
        if (sc.find(t))
            out << t;
    return out;
}

void MasterStandIn::rangingTick()
{
    if (!ranging || fullRate)
        return;
    const QStringList tags = rangingTags();
    if (tags.isEmpty())
        return;
    const qint64 now = elapsedMs();
    const double perMs = sc.rateHz * tags.size() / 1000.0;
    const qint64 due = qint64(std::floor(double(now - scheduleStartMs) * perMs)) + 1;
    // After a stall (a blocked event loop) carry on at the rate; do not
    // burst to make up for it.
    const qint64 maxLag = qMax<qint64>(2, qint64(std::ceil(perMs * 200)));
    if (due - scheduled > maxLag)
        scheduled = due - 1;
    while (scheduled < due) {
        enqueue(makeRangingLine(tags.at(nextTag % tags.size()), now));
        nextTag = (nextTag + 1) % tags.size();
        ++scheduled;
    }
}

MasterStandIn::OutLine MasterStandIn::makeRangingLine(const QString& tag, qint64 ms)
{
    return lines.ranging(sc, config.rangingAnchors(), tag, ms);
}

MasterStandIn::OutLine MasterStandIn::makeMalformed()
{
    const QStringList tags = rangingTags();
    return lines.malformed(tags.isEmpty() ? QByteArray("2B01") : tags.first().toLatin1());
}

void MasterStandIn::sendIdentity()
{
    OutLine x;
    x.bytes = "$PX," + sc.masterId().toLatin1() + ',' + sc.firmware.toLatin1() + "\r\n";
    x.kind = 'X';
    enqueue(x);
    flushTruth();
}

void MasterStandIn::sendDiscovery()
{
    if (!discovering)
        return;
    const QStringList ids = sc.onAir();
    // Field 1 is free to choose: the number of modules heard.
    QByteArray line = "$PW," + hex(ids.size()) + ',' + sc.masterId().toLatin1();
    for (const QString& id : ids)
        line += ',' + id.toLatin1();
    OutLine w;
    w.bytes = line + "\r\n";
    w.kind = 'W';
    enqueue(w);
}

void MasterStandIn::sendReport()
{
    const QStringList tags = rangingTags();
    if (!ranging || tags.isEmpty())
        return;
    double dist = 0;
    if (!sc.distanceAt(tags.first(), config.master, elapsedMs(), &dist))
        return;
    OutLine r;
    r.bytes = "$PR," + QByteArray::number(qint64(std::llround(dist))) + "\r\n";
    r.kind = 'R';
    enqueue(r);
}

void MasterStandIn::enqueue(const OutLine& line)
{
    if (!offline && (!peer || masterFd < 0)) {
        ++dropped;   // a UART sends into the void when nobody listens
        return;
    }
    if (line.urgent) {
        int at = 0;
        while (at < queue.size() && queue.at(at).urgent)
            ++at;
        queue.insert(at, line);
    } else {
        queue.append(line);
    }
    // A reader that stopped reading must not make us grow without bound.
    while (queue.size() > MaxQueuedLines) {
        int victim = 0;
        while (victim < queue.size() && queue.at(victim).urgent)
            ++victim;
        if (victim >= queue.size())
            break;
        queue.removeAt(victim);
        ++dropped;
    }
    pump();
}

// Moves the next line to send into `wire`, counting it and writing its truth.
bool MasterStandIn::takeNextLine()
{
    if (queue.isEmpty() && fullRate && ranging) {
        const QStringList tags = rangingTags();
        if (!tags.isEmpty()) {
            queue.append(makeRangingLine(tags.at(nextTag % tags.size()), elapsedMs()));
            nextTag = (nextTag + 1) % tags.size();
        }
    }
    if (queue.isEmpty())
        return false;
    OutLine line;
    if (malformedEvery > 0 && sinceMalformed >= malformedEvery) {
        sinceMalformed = 0;
        line = makeMalformed();
    } else {
        line = queue.takeFirst();
        ++sinceMalformed;
    }
    ++sent[line.kind];
    if (line.kind == '!' && line.bytes.size() > 2 && line.bytes.startsWith("$P"))
        ++malformedByLetter[line.bytes.at(2)];
    if (line.hasTruth && truthFile) {
        truthFile->write(QByteArray::number(line.truthMs) + ',' + line.tag.toLatin1() + ','
                         + QByteArray::number(line.truth.x(), 'f', 1) + ','
                         + QByteArray::number(line.truth.y(), 'f', 1) + ','
                         + QByteArray::number(line.truthZ, 'f', 1) + '\n');
    }
    wire = line.bytes;
    return true;
}

void MasterStandIn::runOffline(qint64 durationMs)
{
    offline = true;
    offlineMs = 0;
    OutLine k;
    k.bytes = config.toLine();
    k.kind = 'K';
    enqueue(k);
    ranging = true;
    restartSchedule();
    budget = 0;
    for (qint64 t = 0; t <= durationMs; ++t) {
        offlineMs = t;
        if (t % IdentityIntervalMs == 0)
            sendIdentity();
        if (t > 0 && t % ReportIntervalMs == 0)
            sendReport();
        rangingTick();
        budget = qMin<double>(BurstBytes, budget + PacedBytesPerSecond / 1000.0);
        while (budget > 0 && takeNextLine()) {
            if (recorder)
                recorder->append(quint32(t), wire);
            budget -= double(wire.size());
            bytes += wire.size();
            wire.clear();
        }
    }
    ranging = false;
    flushTruth();
    flushRecord();
}

void MasterStandIn::pump()
{
    if (masterFd < 0 || !peer) {
        pumpTimer.stop();
        return;
    }
    // Byte budget: what the link carries since the last call, at most a short
    // burst's worth; a line may start while the budget is still positive.
    const qint64 nowNs = clock.nsecsElapsed();
    budget = qMin<double>(BurstBytes, budget + double(nowNs - lastBudgetNs) * PacedBytesPerSecond / 1e9);
    lastBudgetNs = nowNs;

    while (budget > 0) {
        if (wire.isEmpty() && !takeNextLine())
            break;
        const ssize_t n = ::write(masterFd, wire.constData(), size_t(wire.size()));
        if (n > 0) {
            if (recorder)
                recorder->append(quint32(elapsedMs()), wire.left(int(n)));
            wire.remove(0, int(n));
            budget -= double(n);
            bytes += n;
        } else {
            break;   // terminal buffer full: try again on the next tick
        }
    }

    const bool more = !wire.isEmpty() || !queue.isEmpty() || (fullRate && ranging);
    if (more && !pumpTimer.isActive())
        pumpTimer.start();
    else if (!more)
        pumpTimer.stop();
}
