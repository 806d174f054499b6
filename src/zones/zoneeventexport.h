#ifndef ZONEEVENTEXPORT_H
#define ZONEEVENTEXPORT_H

#include "zoneevent.h"

#include <QSaveFile>
#include <QString>

#include <memory>

// Zone events as CSV, one row each, in the columns of HeaderRow. time is
// local ISO 8601 with milliseconds; rec_ms and entry_rec_ms are on the
// recording's own clock, as the position export's rec_ms; positions in whole
// cm; entry_rec_ms and dwell_s (one decimal) only on exit and dwell rows. The
// rows go to a file beside the target that replaces it only on close().
class ZoneEventExport
{
public:
    static const char* const HeaderRow;

    bool open(const QString& path);
    bool isOpen() const { return file != nullptr; }
    // recOffsetMs: added to an event's epoch ms it gives the recording's ms.
    void append(const ZoneEvent& event, qint64 recOffsetMs);
    // False when something could not be written (the target then stays as it was).
    bool close();
    void discard();

    static QByteArray row(const ZoneEvent& event, qint64 recOffsetMs);

private:
    std::unique_ptr<QSaveFile> file;
};

#endif
