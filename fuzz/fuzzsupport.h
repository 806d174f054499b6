#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

struct Anchor;
struct Tag;
class MainWin;

// Creates the one QApplication of a fuzz process (offscreen platform) and a
// repeating zero timer that closes every modal widget as soon as it shows, so
// no message box can stop a run. Call once, from LLVMFuzzerInitialize.
void initFuzzApplication(int* argc, char*** argv);

// A main window shown at a fixed, small chart size, with its clocks frozen so
// that runs are repeatable. Never deleted: the process ends with the run.
MainWin* createFuzzWindow();

// One chart pass as the redraw timer would run it, with the timer stopped
// again afterwards so nothing runs between inputs.
void chartPass(MainWin* w);

// Stops the run when a tag's history holds more than its 200 samples.
void abortOnLongHistory(MainWin* w);

// Runs what the event loop would between two inputs: deferred deletes (table
// rows drop their cell widgets that way) and other posted events.
void settle();

// Four anchors (the first one the master) and two tags with every display flag on.
QList<Anchor> fuzzAnchors();
QList<Tag> fuzzTags();

// Writes bytes to a file of the given name in a private temporary folder that
// lives as long as the process; returns its path.
QString writeFuzzFile(const QString& name, const uint8_t* data, size_t size);

#endif
