#ifndef PORTNAMES_H
#define PORTNAMES_H

#include <QList>
#include <QString>

// One entry of the port list: the text shown and the device path to open.
struct PortChoice {
    QString text;
    QString path;
};

// The folder of stable port names: $ORVANE_BY_ID_DIR when set, else
// /dev/serial/by-id.
QString serialByIdDir();

// The links in dir whose target exists, sorted by name. Each is shown as
// "<link path> (<device>)", the device being the target below /dev (ttyUSB0,
// pts/3) or its full path elsewhere; the link path is what to open.
QList<PortChoice> byIdPortChoices(const QString& dir);
QList<PortChoice> byIdPortChoices();

#endif
