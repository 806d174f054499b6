#ifndef POSITIONEXPORT_H
#define POSITIONEXPORT_H

#include <QFile>
#include <QString>

struct Tag;

// Tag positions as CSV, one row per chart pass and tag that computed a raw or
// averaged position from samples that changed since the tag's previous row.
// Comma-separated, one header row, UTF-8, decimal points, text fields quoted
// when they need it, so spreadsheets and pandas read it as is. Times are local
// ISO 8601 with milliseconds; positions in whole cm, empty where none was
// computed; speed (m/s) and rate (Hz) as the chart's label shows them.
class PositionExport
{
public:
    static const char* const HeaderRow;

    ~PositionExport();
    bool open(const QString& path);
    bool isOpen() const { return file.isOpen(); }
    // rawValid / avgValid: whether this pass computed that position.
    void append(qint64 epochMs, const Tag& tag, bool rawValid, bool avgValid, double speed, double rate);
    void flush();
    // Forces the file to the disk and closes it; false when a row was not
    // written or the file did not reach the disk.
    bool close();

    static QString csvField(const QString& text);

private:
    QFile file;
    bool writeFailed = false;
};

#endif
