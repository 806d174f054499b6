#include "testsupport.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QCoreApplication>
#include <QThread>

#include <QFile>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <cerrno>
#include <mutex>
#include <poll.h>
#include <thread>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {0};
    struct termios raw;
    ::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    if (::openpty(&masterFd, &slaveFd, name, &raw, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    closeMaster();
    closeSlave();
}

bool PtyPair::send(const QByteArray& bytes)
{
    if (masterFd < 0)
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            // The program has not read yet: let it.
            QCoreApplication::processEvents();
            QThread::usleep(200);
        } else {
            return false;
        }
    }
    return true;
}

QByteArray PtyPair::readAvailable()
{
    QByteArray out;
    if (masterFd < 0)
        return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
    }
    return out;
}

void PtyPair::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}

void PtyPair::closeSlave()
{
    if (slaveFd >= 0)
        ::close(slaveFd);
    slaveFd = -1;
}

struct PtyRecorder::State {
    int fd;
    std::atomic<bool> stop{false};
    std::thread thread;
    mutable std::mutex lock;
    QByteArray bytes;
    QList<qint64> times;
    QElapsedTimer clock;
};

PtyRecorder::PtyRecorder(int masterFd)
    : d(new State)
{
    d->fd = masterFd;
    d->clock.start();
    d->thread = std::thread([s = d] {
        while (!s->stop) {
            struct pollfd p = {s->fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(s->fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            const qint64 now = s->clock.elapsed();
            std::lock_guard<std::mutex> g(s->lock);
            for (ssize_t i = 0; i < n; ++i) {
                s->bytes.append(buf[i]);
                s->times.append(now);
            }
        }
    });
}

PtyRecorder::~PtyRecorder()
{
    d->stop = true;
    d->thread.join();
    delete d;
}

QByteArray PtyRecorder::bytes() const
{
    std::lock_guard<std::mutex> g(d->lock);
    return d->bytes;
}

QList<qint64> PtyRecorder::timesMs() const
{
    std::lock_guard<std::mutex> g(d->lock);
    return d->times;
}

FakeMaster::FakeMaster(PtyPair* pty, QObject* parent)
    : QObject(parent), pty(pty)
{
    clock.start();
    notifier = new QSocketNotifier(pty->master(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &FakeMaster::readable);
}

void FakeMaster::clear()
{
    received.clear();
    byteTimesMs.clear();
    lines.clear();
    partial.clear();
}

void FakeMaster::readable()
{
    const QByteArray bytes = pty->readAvailable();
    if (bytes.isEmpty()) {
        // Nobody holds the slave open any more: stop listening.
        notifier->setEnabled(false);
        return;
    }
    const qint64 now = clock.elapsed();
    for (char c : bytes) {
        received.append(c);
        byteTimesMs.append(now);
        partial.append(c);
        if (c == '\n') {
            const QByteArray line = partial;
            partial.clear();
            lines.append(line);
            QByteArray reply;
            if (responder)
                reply = responder(line);
            else if (policy == Echo)
                reply = line;
            if (!reply.isEmpty())
                pty->send(reply);
        }
    }
}

ModalAnswerer::ModalAnswerer(QObject* parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(20);
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == lastHandled)
        return;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) {
        if (onOtherModal) {
            lastHandled = modal;
            onOtherModal(modal);
        }
        return;
    }
    Seen s;
    s.title = box->windowTitle();
    s.text = box->text();
    s.informativeText = box->informativeText();
    s.icon = box->icon();
    for (QAbstractButton* b : box->buttons())
        s.buttonTexts << b->text();
    seen.append(s);
    lastHandled = box;
    QAbstractButton* button = nullptr;
    if (!queue.isEmpty())
        button = box->button(queue.takeFirst());
    if (!button)
        button = box->escapeButton() ? box->escapeButton() : static_cast<QAbstractButton*>(box->defaultButton());
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    if (button)
        button->click();
    else
        box->close();
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return pred();
}

QPushButton* findButton(QObject* parent, const char* name)
{
    auto* b = parent->findChild<QPushButton*>(QLatin1String(name));
    if (!b)
        qFatal("button %s missing", name);
    return b;
}

QStringList boxOf(const ModalAnswerer::Seen& s)
{
    static const char* const icons[] = {"NoIcon", "Information", "Warning", "Critical", "Question"};
    const int i = int(s.icon);
    return {s.title, s.text, QLatin1String(i >= 0 && i <= 4 ? icons[i] : "?")};
}

QStringList boxTexts(const ModalAnswerer& answerer, int from)
{
    QStringList out;
    for (int i = from; i < answerer.seen.size(); ++i)
        out << answerer.seen.at(i).text;
    return out;
}

QByteArray readFileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool withFileSizeLimit(qint64 bytes, const std::function<void()>& fn)
{
    struct rlimit saved;
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0)
        return false;
    struct rlimit small = saved;
    small.rlim_cur = rlim_t(bytes);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    const bool limited = setrlimit(RLIMIT_FSIZE, &small) == 0;
    if (limited)
        fn();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return limited;
}

static QString colourText(const QColor& c)
{
    return c.isValid() ? c.name(QColor::HexArgb) : QStringLiteral("invalid");
}

QStringList recordsOf(const QList<Anchor>& anchors)
{
    QStringList out;
    for (const Anchor& a : anchors)
        out << QStringLiteral("%1|%2|%3|%4,%5,%6|%7|%8")
                   .arg(a.id, a.name, colourText(a.color))
                   .arg(a.x).arg(a.y).arg(a.z)
                   .arg(a.master ? "M" : "-")
                   .arg(a.offset);
    return out;
}

QStringList recordsOf(const QList<Tag>& tags)
{
    QStringList out;
    for (const Tag& t : tags)
        out << QStringLiteral("%1|%2|%3|%4%5%6%7%8%9%10")
                   .arg(t.id, t.name, colourText(t.color))
                   .arg(int(t.showPosRaw)).arg(int(t.showPosAvg)).arg(int(t.showDistRaw))
                   .arg(int(t.showDistAvg)).arg(int(t.showCoordinates)).arg(int(t.showSpeed))
                   .arg(int(t.showRate));
    return out;
}

bool hasNoMeasurement(const Tag& t)
{
    const int n = Tag::NoPosition;
    return t.prevRawX == n && t.prevRawY == n && t.prevAvgX == n && t.prevAvgY == n && t.rawX == n
        && t.rawY == n && t.avgX == n && t.avgY == n && t.lastUpdateMs == 0 && t.prevUpdateMs == 0
        && t.lastStep == 0.0;
}

ModuleSetup setupOf(const QString& anchorIds, const QString& tagIds)
{
    ModuleSetup m;
    for (QString id : anchorIds.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const bool master = id.endsWith(QLatin1Char('*'));
        if (master)
            id.chop(1);
        m.anchors << Anchor(id, id, Qt::black, 0, 0, 0, master, 0);
    }
    for (const QString& id : tagIds.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        m.tags << Tag(id, id, Qt::black, false, true, false, false, false, false, false);
    return m;
}
