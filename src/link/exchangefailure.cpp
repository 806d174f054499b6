#include "exchangefailure.h"

#include "cominterface.h"

#include <QCoreApplication>

namespace {
QString tr(const char* text) { return QCoreApplication::translate("ExchangeFailure", text); }

// "$PS" for "$PS,\r\n": what the user may recognise from the manual.
QString commandName(const QByteArray& command)
{
    QByteArray name = command.trimmed();
    while (name.endsWith(','))
        name.chop(1);
    return QString::fromLatin1(name);
}
} // namespace

QString exchangeFailureText(ExchangeFailure failure, const QByteArray& command, const QString& port, int baud,
                            const QString& detail)
{
    switch (failure) {
    case ExchangeFailure::None:
        return QString();
    case ExchangeFailure::NotConnected:
        return tr("Keine Verbindung zum Master: zuerst „Verbindung herstellen“.");
    case ExchangeFailure::Busy:
        return tr("Ein anderer Befehl an den Master läuft noch; bitte gleich noch einmal versuchen.");
    case ExchangeFailure::NotSent:
        return tr("Der Befehl „%1“ konnte nicht an %2 gesendet werden%3.")
            .arg(commandName(command), port, detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail));
    case ExchangeFailure::Unanswered:
        return tr("Der Master hat den Befehl „%1“ nicht beantwortet (%2 Versuche, je %3 ms gewartet).\n"
                  "Bitte prüfen: Ist %4 der Port des Masters? Ist der Master eingeschaltet? "
                  "Stimmt die Baud-Rate (%5)?")
            .arg(commandName(command))
            .arg(ComInterface::Retransmissions + 1)
            .arg(ComInterface::ReplyTimeoutMs)
            .arg(port)
            .arg(baud);
    }
    return QString();
}
