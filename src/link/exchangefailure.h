#ifndef EXCHANGEFAILURE_H
#define EXCHANGEFAILURE_H

#include <QByteArray>
#include <QString>

// Why a command exchange with the master failed, in words a user can act on.
enum class ExchangeFailure { None, NotConnected, Busy, NotSent, Unanswered };

// port: the device the command went to; baud: the rate it was opened with;
// detail: the system's own reason, if any (for NotSent).
QString exchangeFailureText(ExchangeFailure failure, const QByteArray& command, const QString& port, int baud,
                            const QString& detail = QString());

#endif
