#ifndef RANGINGLINES_H
#define RANGINGLINES_H

#include "scenario.h"

#include <QByteArray>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <random>

// One line the stand-in sends, with what it says about the truth.
struct OutLine {
    QByteArray bytes;
    char kind = 0;
    bool urgent = false;
    bool hasTruth = false;
    QString tag;
    QPointF truth;
    double truthZ = 0;
    qint64 truthMs = 0;
};

// The stand-in's ranging lines: each tag's true distances with the scenario's
// noise, outliers and dropouts drawn from one seeded sequence, and the
// malformed lines it mixes in.
class RangingLines
{
public:
    explicit RangingLines(unsigned seed) : rng(seed) {}

    OutLine ranging(const Scenario& sc, const QStringList& anchors, const QString& tag, qint64 ms);
    // Six kinds in turn: no valid distance, too short, unknown letter, noise, out of range, no letter.
    OutLine malformed(const QByteArray& tag);

private:
    std::mt19937 rng;
    int variant = 0;
};

#endif
