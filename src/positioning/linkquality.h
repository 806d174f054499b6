#ifndef LINKQUALITY_H
#define LINKQUALITY_H

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVector>

#include <deque>
#include <map>

// How each tag-anchor link fares over the last seconds (or a whole
// recording): ranging lines per second, distances missing from the lines,
// distances the positioning left out, the spread of the distances about the
// fix, and the last distance; per tag the position update rate and the time
// since its last line. Fed by the positioning step as lines and passes go
// through it, so the live chart, a replay and the batch mode see the same
// figures.
class LinkQuality
{
public:
    static constexpr int DefaultWindowMs = 10000;
    static constexpr int BucketMs = 500;   // the window slides in these steps

    enum Grade { Good, Fair, Bad };

    struct AnchorFigures
    {
        double linesPerSecond = 0;   // lines carrying a distance to this anchor
        double missingShare = 0;     // of the tag's lines, those without one (0..1)
        double leftOutShare = 0;     // of the distances received, those not used (0..1)
        double spread = -1;          // cm, standard deviation of distance minus fix range; -1: under two
        int lastDistance = 0;        // cm as received; 0: none yet
    };
    struct TagFigures
    {
        QString key;                 // the identifier as received
        double linesPerSecond = 0;
        double updateRate = 0;       // lines per second with three usable distances (a fix each)
        qint64 sinceLastMs = 0;
        QVector<AnchorFigures> anchors;   // by anchor index
    };

    // 0: everything since the first line (the batch mode's whole recording).
    void setWindowMs(int ms) { windowMs = ms; }
    void clear();

    // One ranging line of a tag: the distances as received (0: none) and the
    // usable ones (anchor index -> cm) the positioning took from it.
    void addLine(const QString& key, const QTime& at, const QList<int>& received, const QMap<int, int>& usable,
                 int anchorCount);
    // Distances of a line at `at` that the filter rejected after all.
    void addLeftOut(const QString& key, const QTime& at, const QList<int>& anchors);
    // Distance minus the fix's range (cm) per anchor index, for a line at `at`.
    void addResiduals(const QString& key, const QTime& at, const QMap<int, double>& residuals);

    // Every tag heard in the window, by key, at time of day `now`.
    QVector<TagFigures> figures(const QTime& now) const;

    // Traffic-light grades, shared by the dialog and the batch table.
    static Grade missingGrade(double share) { return share <= 0.05 ? Good : share <= 0.2 ? Fair : Bad; }
    static Grade leftOutGrade(double share) { return share <= 0.02 ? Good : share <= 0.1 ? Fair : Bad; }
    static Grade spreadGrade(double cm) { return cm <= 10 ? Good : cm <= 30 ? Fair : Bad; }
    static Grade silenceGrade(qint64 ms) { return ms <= 1000 ? Good : ms <= 3000 ? Fair : Bad; }

    // The figures as a text table, one line per tag and per link.
    static QStringList table(const QVector<TagFigures>& figures, const QStringList& anchorIds);

private:
    struct Counts
    {
        int present = 0, missing = 0, leftOut = 0, residuals = 0;
        double sum = 0, sumSquares = 0;
    };
    struct Bucket
    {
        qint64 start = 0;
        int lines = 0, fixes = 0;
        QVector<Counts> anchors;
    };
    struct TagState
    {
        std::deque<Bucket> buckets;   // oldest first
        qint64 firstMs = 0, lastMs = 0;
        QVector<int> lastDistance;
    };

    qint64 clockMs(const QTime& at);
    Counts& counts(const QString& key, qint64 ms, int anchor);
    Bucket& bucket(TagState& tag, qint64 ms);

    int windowMs = DefaultWindowMs;
    std::map<QString, TagState> tags;
    QTime clockTime;                  // the clock runs on across midnight from here
    qint64 clockAt = 0;
};

#endif
