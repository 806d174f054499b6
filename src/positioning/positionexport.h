#ifndef POSITIONEXPORT_H
#define POSITIONEXPORT_H

#include <QFileDevice>
#include <QString>

#include <memory>

struct Tag;
struct TagResult;

// Tag positions as CSV, one row per chart pass and tag that computed a raw or
// averaged position from samples that changed since the tag's previous row.
// Comma-separated, one header row, UTF-8, decimal points, text fields quoted
// when they need it, so spreadsheets and pandas read it as is. Times are local
// ISO 8601 with milliseconds; positions in whole cm, empty where none was
// computed; speed (m/s) and rate (Hz) as the chart's label shows them; rec_ms
// is the time on the recording's own clock (ms since it started).
class PositionExport
{
public:
    static const char* const HeaderRow;

    ~PositionExport();
    // atomic: the rows go to a file beside `path` that replaces it only on
    // close(), so a run that fails leaves no partial file (discard() drops it).
    bool open(const QString& path, bool atomic = false);
    bool isOpen() const { return file && file->isOpen(); }
    void append(qint64 epochMs, qint64 recMs, const Tag& tag, const TagResult& result);
    void flush();
    // False when something could not be written (atomic: the file is not replaced).
    bool close();
    void discard();

    static QString csvField(const QString& text);

private:
    std::unique_ptr<QFileDevice> file;
};

#endif
