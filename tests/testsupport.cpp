#include "testsupport.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QCoreApplication>
#include <QThread>

#include <cerrno>
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
