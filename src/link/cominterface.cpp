#include "cominterface.h"

#include "porterror.h"

#include <QMutexLocker>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>

ComInterface::ComInterface(QObject* parent)
    : QObject(parent)
{
    replyTimer = new QTimer;
    replyTimer->setSingleShot(false);
    connect(replyTimer, &QTimer::timeout, this, &ComInterface::replyTimeout);
}

ComInterface::~ComInterface()
{
    close();
    replyTimer->stop();
    delete replyTimer;
    replyTimer = nullptr;
    delete port;
    port = nullptr;
}

bool ComInterface::open(const QString& portName, int baudRate)
{
    if (port)
        close();
    lastErrorText.clear();
    if (portName.isEmpty())
        return false;
    if (!port)
        port = new QSerialPort(this);
    port->setPortName(portName);
    port->setBaudRate(baudRate, QSerialPort::AllDirections);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setDataBits(QSerialPort::Data8);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (port->open(QIODevice::ReadWrite)) {
        connect(port, &QSerialPort::readyRead, this, &ComInterface::handleReadyRead);
        connect(port, &QSerialPort::errorOccurred, this, &ComInterface::handleError);
        return true;
    }
    lastErrorText = portErrorText(port->error(), port->errorString());
    delete port;
    port = nullptr;
    return false;
}

void ComInterface::close()
{
    if (!port)
        return;
    replyTimer->stop();
    disconnect(port, &QSerialPort::readyRead, this, &ComInterface::handleReadyRead);
    disconnect(port, &QSerialPort::errorOccurred, this, &ComInterface::handleError);
    forwardData = false;
    if (port->isOpen()) {
        port->flush();
        port->close();
    }
}

bool ComInterface::isOpen() const
{
    return port && port->isOpen();
}

bool ComInterface::write(const QByteArray& command)
{
    QMutexLocker lock(&writeMutex);
    if (!commandPending) {
        retriesLeft = Retransmissions;
        pendingCommand = command;
        commandPending = true;
    }
    bool allWritten = false;
    if (port && port->isOpen() && !command.isEmpty()) {
        allWritten = true;
        for (int i = 0; i < command.size(); ++i) {
            QThread::msleep(ByteDelayMs);
            if (allWritten)
                allWritten = port->write(command.constData() + i, 1) == 1;
            port->waitForBytesWritten(100);
        }
    }
    if (allWritten) {
        replyTimer->start(ReplyTimeoutMs);
        return true;
    }
    // A command that never left must not stay pending: the next command starts
    // with fresh retries and no reply is matched against this one.
    commandPending = false;
    pendingCommand.clear();
    replyTimer->stop();
    return false;
}

void ComInterface::replyTimeout()
{
    replyTimer->stop();
    --retriesLeft;
    if (commandPending) {
        if (retriesLeft >= 0 && !pendingCommand.isEmpty() && write(pendingCommand))
            return;
        commandPending = false;
    }
}

bool replyMatches(const QByteArray& command, const QByteArray& line, bool loose)
{
    const QList<QByteArray> expected = command.split(',');
    const QList<QByteArray> got = line.split(',');
    if (!loose && expected.size() != got.size())
        return false;
    for (int i = 0; i < expected.size(); ++i) {
        if (i >= got.size())
            return false;
        const QByteArray& want = expected.at(i);
        const QByteArray& have = got.at(i);
        if (want.size() != have.size())
            return false;
        if (loose)
            return want.isEmpty() || want.at(0) == have.at(0);
        if (want != have)
            return false;
    }
    return true;
}

bool ComInterface::checkReply(const QByteArray& line, bool loose)
{
    if (!replyMatches(pendingCommand, line, loose))
        return false;
    pendingCommand.clear();
    commandPending = false;
    return true;
}

void ComInterface::handleReadyRead()
{
    if (!port || !port->isOpen())
        return;
    const QByteArray data = port->readAll();
    if (forwardData && !data.isEmpty())
        emit dataReceived(data);
}

void ComInterface::handleError(QSerialPort::SerialPortError error)
{
    // A pulled adapter or a pty whose other end closed reports these over and
    // over; stop listening at once so the event loop does not spin on it.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!port || !port->isOpen())
        return;
    lastErrorText = portErrorText(port->error(), port->errorString());
    replyTimer->stop();
    disconnect(port, &QSerialPort::readyRead, this, &ComInterface::handleReadyRead);
    disconnect(port, &QSerialPort::errorOccurred, this, &ComInterface::handleError);
    port->close();
    commandPending = false;
    pendingCommand.clear();
    emit portLost();
}

QStringList ComInterface::availablePortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names << info.portName();
    std::sort(names.begin(), names.end());
    return names;
}
