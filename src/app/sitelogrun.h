#ifndef SITELOGRUN_H
#define SITELOGRUN_H

#include <QString>

// What the headless site log is asked to do (the command line's --site-log road).
struct SiteLogOptions
{
    QString host;
    int port = 0;              // 0: the site file's, else 1883
    QString siteFile;          // may be empty: every kit placed side by side
    QString output;
    int durationS = 0;
};

// Listens to the broker for the given time without a window and writes the
// site log. Returns false with a one-line reason when the site file cannot be
// read, the log cannot be written or the broker cannot be reached; warnings
// (a broken kit entry) go to *warnings and the run goes on.
class SiteLogRun
{
public:
    // How long the broker may take to answer at the start.
    static constexpr int ConnectTimeoutMs = 15000;

    bool run(const SiteLogOptions& options, QString* error, QStringList* warnings);
    quint64 rows() const { return rowCount; }
    quint64 received() const { return receivedCount; }
    quint64 refused() const { return refusedCount; }
    int kits() const { return kitCount; }

private:
    quint64 rowCount = 0;
    quint64 receivedCount = 0;
    quint64 refusedCount = 0;
    int kitCount = 0;
};

#endif
