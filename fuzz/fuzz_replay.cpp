// The recording reader and the replay: arbitrary bytes as a recording file,
// replayed as fast as possible with records loaded, then a chart pass.
#include "fuzzsupport.h"

#include "mainwin.h"
#include "modulesetup.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {
MainWin* w = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initFuzzApplication(argc, argv);
    w = createFuzzWindow();
    w->modules.anchors = fuzzAnchors();
    w->modules.tags = fuzzTags();
    w->fillAnchorTable();
    w->fillTagTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = writeFuzzFile(QStringLiteral("input.orec"), data, size);
    if (w->startReplay(path, 0.0)) {
        // Each round of events works at least one batch; a recording of n
        // bytes holds at most n / 9 batches, so a replay that runs on longer is stuck.
        const size_t maxSteps = size / 9 + 2;
        size_t steps = 0;
        while (w->isReplaying()) {
            QCoreApplication::processEvents();
            if (++steps > maxSteps) {
                std::fprintf(stderr, "replay did not end after %zu steps\n", steps);
                std::abort();
            }
        }
    }
    chartPass(w);
    abortOnLongHistory(w);
    // The tables may have been rebuilt by a module list in the recording.
    w->modules.anchors = fuzzAnchors();
    w->modules.tags = fuzzTags();
    settle();
    return 0;
}
