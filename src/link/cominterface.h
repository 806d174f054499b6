#ifndef COMINTERFACE_H
#define COMINTERFACE_H

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QSerialPort>
#include <QStringList>

class QTimer;

// The only code that touches the serial port to the master module: fixed line
// settings, paced transmission with reply time-out and retransmission, and
// forwarding of every received batch of bytes.
class ComInterface : public QObject
{
    Q_OBJECT
public:
    explicit ComInterface(QObject* parent = nullptr);
    ~ComInterface() override;

    bool open(const QString& portName, int baudRate);
    void close();
    bool isOpen() const;
    bool write(const QByteArray& command);
    bool checkReply(const QByteArray& line, bool loose);
    void setForwarding(bool on) { forwardData = on; }
    QString lastError() const { return lastErrorText; }

    static QStringList availablePortNames();

    bool commandPending = false;
    QByteArray pendingCommand;

    static constexpr int ReplyTimeoutMs = 100;
    static constexpr int ByteDelayMs = 5;
    static constexpr int Retransmissions = 5;

signals:
    void dataReceived(QByteArray data);
    // The port vanished or failed for good (adapter pulled, pty closed).
    void portLost();

private slots:
    void handleReadyRead();
    void replyTimeout();
    void handleError(QSerialPort::SerialPortError error);

private:
    QSerialPort* port = nullptr;
    bool forwardData = false;
    QTimer* replyTimer = nullptr;
    int retriesLeft = 0;
    QMutex writeMutex;
    QString lastErrorText;
};

// Whether a received line answers a command: exact (field by field) or loose
// (first field's length and first byte only).
bool replyMatches(const QByteArray& command, const QByteArray& line, bool loose);

#endif
