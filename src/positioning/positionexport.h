#ifndef POSITIONEXPORT_H
#define POSITIONEXPORT_H

#include <QFileDevice>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

struct Anchor;
struct Tag;
struct TagResult;

// Tag positions as CSV, one row per chart pass and tag that computed a raw or
// averaged position from samples that changed since the tag's previous row.
// Comma-separated, one header row, UTF-8, decimal points, text fields quoted
// when they need it, so spreadsheets and pandas read it as is. Times are local
// ISO 8601 with milliseconds; positions in whole cm, empty where none was
// computed; speed (m/s) and rate (Hz) as the chart's label shows them; rec_ms
// is the time on the recording's own clock (ms since it started). Raw and
// averaged positions are written whether the chart shows them or not.
// Optionally one column d_<anchor id>_cm per anchor follows: the latest
// distance to it with its offset applied, as the raw position used it.
// The last three columns give the averaged position's uncertainty (cm, one
// decimal, empty without one): sigma_x_cm and sigma_y_cm, the standard
// deviations along x and y, r95_cm, the larger half-axis of the ellipse that
// holds the true position with 95 % probability, and rho_xy, the correlation
// of x and y (three decimals), which with the sigmas gives the whole ellipse.
class PositionExport
{
public:
    static const char* const HeaderRow;
    static const char* const UncertaintyColumns;   // after the distance columns

    ~PositionExport();
    // atomic: the rows go to a file beside `path` that replaces it only on
    // close(), so a run that fails leaves no partial file (discard() drops it).
    // distanceAnchors: the anchor ids that get a distance column, in this order.
    bool open(const QString& path, bool atomic = false, const QStringList& distanceAnchors = {});
    bool isOpen() const { return file && file->isOpen(); }
    // anchors: the records result's distances are indexed by.
    void append(qint64 epochMs, qint64 recMs, const Tag& tag, const TagResult& result,
                const QList<Anchor>& anchors = {});
    // The header with the distance columns for these anchor ids.
    static QByteArray header(const QStringList& distanceAnchors);
    static QStringList anchorIds(const QList<Anchor>& anchors);
    void flush();
    // False when something could not be written (atomic: the file is not replaced).
    bool close();
    void discard();

    static QString csvField(const QString& text);

private:
    std::unique_ptr<QFileDevice> file;
    QStringList distanceIds;
};

#endif
