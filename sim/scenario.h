#ifndef SCENARIO_H
#define SCENARIO_H

#include "masterconfig.h"

#include <QByteArray>
#include <QLineF>
#include <QList>
#include <QMap>
#include <QPointF>
#include <QString>
#include <QVector>

// What the stand-in pretends is on the air: anchors at fixed places (the first
// one is the master itself), tags walking along closed paths, and the error
// model of the measured distances. Positions in cm; each module keeps one
// height (z) along its path.
class Scenario
{
public:
    struct Module {
        QString id;
        QVector<QPointF> path;   // one point: standing still; more: a closed loop
        double speed = 0;        // cm/s along the path
        double stop = 0;         // s standing at every waypoint before walking on
        double z = 0;            // height, cm
        bool configured = true;  // part of the master's configuration at start
        // Tags only, the errors of a real radio:
        QMap<QString, double> bias;   // anchor id -> cm added to every distance to it
        double body = 0;              // degrees of the view behind the tag its carrier blocks
        double heading = 0;           // degrees (0 = +x, counter-clockwise) while standing;
                                      // a moving tag faces where it goes
    };

    QString name;
    QString firmware = QStringLiteral("1.0");
    QList<Module> anchors;       // anchors.first() is the master
    QList<Module> tags;
    double rateHz = 10;          // 'D' lines per second and tag
    double noiseSigma = 5;       // cm, Gaussian
    double dropout = 0.01;       // probability that one distance is missing (0)
    double outliers = 0.002;     // probability that one distance is far too long
    quint32 seed = 1;
    // Non-line-of-sight: a wall segment of the scenario or the tag's own body
    // between tag and anchor delays the signal by an exponentially distributed
    // extra distance with this mean (cm; always positive, 0: off).
    double nlos = 0;
    QVector<QLineF> walls;
    // Heavy tails: this share of the distances gets its noise tailScale times wider.
    double tail = 0;
    double tailScale = 5;

    // Whether a wall or the tag's body lies between tag and anchor at ms.
    bool blocked(const QString& tag, const QString& anchor, qint64 ms) const;
    // The constant bias of one tag-anchor pair (cm).
    double pairBias(const QString& tag, const QString& anchor) const;

    // A room of 10 m x 8 m with an anchor in each corner, a tag walking a
    // rectangle at 1 m/s, one standing still, and one more tag on the air that
    // the master does not know yet.
    static Scenario builtIn();

    // Replaces this scenario by the JSON document; on failure returns false,
    // leaves the scenario unchanged and describes the fault in *error.
    bool loadJson(const QByteArray& json, QString* error = nullptr);
    bool loadFile(const QString& path, QString* error = nullptr);

    // Empty when the scenario can be run, else what is wrong with it.
    QString check() const;

    QString masterId() const { return anchors.isEmpty() ? QString() : anchors.first().id; }
    // Case-insensitive lookup among anchors and tags; null when absent.
    const Module* find(const QString& id) const;
    // True position of a module at ms after the start; false for an unknown id.
    bool positionAt(const QString& id, qint64 ms, QPointF* pos) const;
    static QPointF pathPosition(const Module& module, qint64 ms);
    // Degrees (0 = +x, counter-clockwise) the module faces at ms: its own
    // heading while standing, else the leg it walks (or, stopped at a
    // waypoint, the leg it came along).
    static double headingAt(const Module& module, qint64 ms);
    // Distance in space between two modules at ms; false for an unknown id.
    bool distanceAt(const QString& a, const QString& b, qint64 ms, double* distance) const;

    // Every module but the master, anchors first: what discovery finds.
    QStringList onAir() const;
    // The master, the configured anchors and the configured tags.
    MasterConfig initialConfiguration() const;
};

#endif
