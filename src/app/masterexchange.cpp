#include "masterexchange.h"

#include "cominterface.h"
#include "exchangefailure.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

MasterExchange::MasterExchange(QWidget* window, ComInterface& com)
    : portPath([] { return QString(); }), baud([] { return 0; }), window(window), com(com)
{
}

bool MasterExchange::send(const QByteArray& command, bool loose)
{
    const auto fail = [&](ExchangeFailure why) {
        error = exchangeFailureText(why, command, portPath(), baud(), com.lastError());
        return false;
    };
    // Reached again from the event loop this exchange spins (a queued handler,
    // a timer), a blocking lock would deadlock the GUI thread: refuse instead.
    if (!mutex.tryLock())
        return fail(ExchangeFailure::Busy);
    if (!com.isOpen()) {
        mutex.unlock();
        return fail(ExchangeFailure::NotConnected);
    }
    error.clear();
    replyOk = false;
    awaitingReply = true;
    looseReply = loose;
    // Disabling takes the keyboard focus away (also from an open dialog, which is a
    // child of this window); it goes back where the user left it afterwards.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    window->setEnabled(false);
    bool result = false;
    ExchangeFailure failure = ExchangeFailure::NotSent;
    if (com.write(command)) {
        while (awaitingReply && com.commandPending) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
        }
        result = replyOk;
        failure = ExchangeFailure::Unanswered;
    }
    awaitingReply = false;
    window->setEnabled(true);
    if (focus && !QApplication::focusWidget() && focus->isVisible() && focus->isEnabled())
        focus->setFocus();
    mutex.unlock();
    if (!result)
        fail(failure);
    return result;
}

void MasterExchange::lineReceived(const QByteArray& line)
{
    if (!awaitingReply)
        return;
    if (com.checkReply(line, looseReply)) {
        com.commandPending = false;
        awaitingReply = false;
        replyOk = true;
    }
    if (!com.commandPending)
        awaitingReply = false;
}
