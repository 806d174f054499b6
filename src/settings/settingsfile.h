#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include "anchor.h"
#include "mqttsettings.h"
#include "tag.h"
#include "zone.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVector>

// Everything a settings file holds, gathered from and applied to the main
// window by the caller; reading and writing the file needs no widgets.
struct SettingsData
{
    QList<Anchor> anchors;
    QList<Tag> tags;
    QString gridX, gridY, gridW, gridH;                 // the grid edit texts
    int imageGridX = 0, imageGridY = 0, imageGridW = 0, imageGridH = 0;
    QString average;                                     // current text of the averaging combo
    QString filter = QStringLiteral("average");         // "average" or "kalman"; missing: "average"
    QString tagHeight;                                   // tag height edit text in cm; empty or missing: off
    int trailSeconds = 10;                               // length of the trails (0 to 120 s); missing: 10
    QString bgImageFile;
    double bgImageFactor = 0.0;
    int bgImageOffsetX = 0, bgImageOffsetY = 0;
    bool drawGrid = false, drawBGImage = false;
    bool showCoverage = false;                           // missing: off
    QString rangeLimit;                                  // range limit edit text in cm; empty or missing: none
    MqttSettings mqtt;                                   // without the password, which no file holds
    QVector<Zone> zones;                                 // missing: none
    ZoneRules zoneRules;                                 // missing: the defaults
    // What loading left out (a broken zone), one German line each, naming it.
    QStringList warnings;
};

// Upper bound on the anchors and on the tags read from one file, so that a
// damaged or hostile count cannot make loading take unbounded time or memory.
// Every record becomes a table row full of widgets (tens of milliseconds
// each), so the bound stays near what a kit can hold, like the module list's.
constexpr int MaxSettingsRecords = 256;

// Replaces the file at `path` (through a link, with the file it names; never a
// folder, device or pipe) by `content`, whole or not at all, synced to the disk.
bool replaceFile(const QString& path, const QByteArray& content);

// Writes a complete new file beside `path` and only then replaces `path` with
// it, so a failed save leaves any earlier file as it was. False on any failure.
bool writeSettingsFile(const QString& path, const SettingsData& data);

// False, with `data` unchanged, when `path` is no readable file, not a valid
// INI file or holds none of the keys that mark a settings file (AnchorCount,
// TagCount, Grid-...); `why` then says which, in German, with the line of a
// broken file where it can be found. Other keys the file lacks get their
// defaults.
bool readSettingsFile(const QString& path, SettingsData& data, QString* why = nullptr);

// Why a zone cannot join `others` (a bad shape, no name, a name in use, ""
// when it can); names compare without case, as topics would clash.
QString zoneRefusal(const Zone& zone, const QVector<Zone>& others);

// Writes `source` again as `target` with only the anchors' X and Y (AnchorN-X,
// AnchorN-Y, one per anchor in `positions`) replaced; every other line stays
// byte for byte. False, with nothing written, when a key is missing or twice.
bool writeAnchorPositions(const QString& source, const QString& target, const QList<QPoint>& positions);

#endif
