#ifndef PORTERROR_H
#define PORTERROR_H

#include <QSerialPort>
#include <QString>

// What went wrong with a serial port, in German: the system's own text where
// it is a known one (the C library speaks English), else what the port's
// error kind means.
QString portErrorText(QSerialPort::SerialPortError error, const QString& systemText);

#endif
