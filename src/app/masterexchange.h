#ifndef MASTEREXCHANGE_H
#define MASTEREXCHANGE_H

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <functional>

class ComInterface;
class QWidget;

// One command to the master and the wait for its reply. The event loop keeps
// running meanwhile (the reply arrives through it), the window is disabled so
// nothing else is asked of it, and a failure says why.
class MasterExchange
{
public:
    MasterExchange(QWidget* window, ComInterface& com);

    // True when the master confirmed; loose: any reply of the command's kind counts.
    bool send(const QByteArray& command, bool loose);
    // Why the last exchange failed, for the user; empty after one that succeeded.
    QString lastError() const { return error; }
    // Waits for a reply as if the pending command had just been sent, without
    // sending it: for feeding the master's side from outside (fuzzing).
    void expectReply(bool loose)
    {
        awaitingReply = true;
        looseReply = loose;
        replyOk = false;
    }
    // Every packet line from the master, which may be the reply waited for.
    void lineReceived(const QByteArray& line);

    // Named in the failure texts.
    std::function<QString()> portPath;
    std::function<int()> baud;

private:
    QWidget* window;
    ComInterface& com;
    QMutex mutex;
    bool awaitingReply = false;
    bool looseReply = false;
    bool replyOk = false;
    QString error;
};

#endif
