#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

FreshUserConfig::FreshUserConfig()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orvane-test-config-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
}

FakeMaster::FakeMaster()
{
    char name[256] = {0};
    struct termios raw;
    ::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    if (::openpty(&masterFd, &slaveFd, name, &raw, nullptr) != 0)
        qFatal("openpty failed");
    slavePath = QString::fromLocal8Bit(name);
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    notifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &FakeMaster::readable);
}

bool FakeMaster::send(const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        done += qMax<ssize_t>(n, 0);
        if (n <= 0) {   // the program has not read yet
            QCoreApplication::processEvents();
            QThread::usleep(200);
        }
    }
    return true;
}

void FakeMaster::close()
{
    delete notifier;
    notifier = nullptr;
    for (int fd : {masterFd, slaveFd})
        if (fd >= 0)
            ::close(fd);
    masterFd = slaveFd = -1;
}

void FakeMaster::readable()
{
    char buf[4096];
    ssize_t n;
    while ((n = ::read(masterFd, buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            partial.append(buf[i]);
            if (buf[i] != '\n')
                continue;
            lines.append(partial);
            const QByteArray reply = responder ? responder(partial) : policy == Echo ? partial : QByteArray();
            partial.clear();
            if (!reply.isEmpty())
                send(reply);
        }
    }
}

ModalAnswerer::ModalAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer.start(20);
}

QStringList ModalAnswerer::texts(int from) const
{
    QStringList out;
    for (int i = from; i < seen.size(); ++i)
        out << seen.at(i).section('|', 1, 1);
    return out;
}

void ModalAnswerer::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == lastHandled)
        return;
    lastHandled = modal;
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) {
        if (onOtherModal)
            onOtherModal(modal);
        else
            lastHandled = nullptr;
        return;
    }
    static const char* const icons[] = {"NoIcon", "Information", "Warning", "Critical", "Question"};
    seen << box->windowTitle() + '|' + box->text() + '|' + icons[qBound(0, int(box->icon()), 4)]
                + (box->informativeText().isEmpty() ? QString() : '|' + box->informativeText());
    QAbstractButton* button = queue.isEmpty() ? nullptr : box->button(queue.takeFirst());
    for (QAbstractButton* fallback : {box->escapeButton(), static_cast<QAbstractButton*>(box->defaultButton()), box->buttons().value(0)})
        button = button ? button : fallback;
    button->click();
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
    struct rlimit saved, small;
    getrlimit(RLIMIT_FSIZE, &saved);
    small = saved;
    small.rlim_cur = rlim_t(bytes);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);   // a failed write, not a killed test
    const bool limited = setrlimit(RLIMIT_FSIZE, &small) == 0;
    if (limited)
        fn();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return limited;
}

QByteArray dLine(const QByteArray& id, const QList<int>& cm)
{
    QByteArray l = "$PD," + id;
    for (int d : cm)
        l += ',' + QByteArray::number(d, 16).toUpper();
    return l + "\r\n";
}

ModuleSetup setupOf(const QString& anchorIds, const QString& tagIds)
{
    ModuleSetup m;
    for (QString id : anchorIds.split(' ', Qt::SkipEmptyParts)) {
        const bool master = id.endsWith('*');
        id.remove('*');
        m.anchors << Anchor(id, id, Qt::black, 0, 0, 0, master, 0);
    }
    for (const QString& id : tagIds.split(' ', Qt::SkipEmptyParts))
        m.tags << Tag(id, id, Qt::black, false, true, false, false, false, false, false);
    return m;
}

QStringList recordsOf(const ModuleSetup& m)
{
    QStringList out;
    for (const Anchor& a : m.anchors)
        out << QString("%1|%2|%3|%4,%5|%6|%7").arg(a.id, a.name, a.color.name(QColor::HexArgb))
                   .arg(a.x).arg(a.y).arg(a.master ? "M" : "-").arg(a.offset);
    for (const Tag& t : m.tags) {
        QString flags;
        for (bool f : {t.showPosRaw, t.showPosAvg, t.showDistRaw, t.showDistAvg, t.showCoordinates, t.showSpeed, t.showRate})
            flags += f ? '1' : '0';
        out << QString("%1|%2|%3|%4").arg(t.id, t.name, t.color.name(QColor::HexArgb), flags);
    }
    return out;
}

QString tool(const QString& name)
{
    return QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"});
}

int Broker::freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool Broker::start()
{
    for (int attempt = 0; attempt < 5; ++attempt, port = freePort()) {
        writeFileBytes(path("broker.conf"), QString("listener %1 127.0.0.1\npersistence false\nlog_dest stderr\n"
                                                    "max_queued_messages 0\nuser %2\n%3\n")
                                                .arg(port).arg(getpwuid(getuid())->pw_name, options).toUtf8());
        process.start(tool("mosquitto"), {"-c", path("broker.conf")});
        QByteArray log;   // "running" comes once the listener is open
        if (waitUntil([&] { return (log += process.readAllStandardError()).contains(" running"); }, 5000))
            return true;
        kill();
    }
    return false;
}
