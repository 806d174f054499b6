// The receive path of the main window: arbitrary bytes, cut into serial-sized
// chunks, through framing, reply matching, dispatch and the chart pass.
//
// Input: byte 0 picks the pending command (bits 1..2) and loose matching
// (bit 0); byte 1 steers where the rest is cut into chunks; the rest is the
// byte stream as the port would deliver it.
#include "fuzzsupport.h"

#include "framing.h"
#include "mainwin.h"
#include "modulesetup.h"

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

MainWin* w = nullptr;
ModuleSetup baseModules;
bool tablesChanged = false;

const char* const commands[] = {"$PS,\r\n", "$PG,\r\n", "$PW,1,\r\n",
                                "$PK,1A2B,3,2,3C4D,5E6F,7A80,2B01,2B02\r\n"};

void reset()
{
    for (QList<RangingSample*>& list : w->rangingHistory)
        qDeleteAll(list);
    w->rangingHistory.clear();
    w->rxBuffer.clear();
    w->modules = baseModules;
    if (tablesChanged) {
        w->fillAnchorTable();
        w->fillTagTable();
        tablesChanged = false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initFuzzApplication(argc, argv);
    w = createFuzzWindow();
    baseModules.anchors = fuzzAnchors();
    baseModules.tags = fuzzTags();
    tablesChanged = true;
    reset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;

    const uint8_t flags = data[0];
    const uint8_t cut = data[1];
    w->com.pendingCommand = commands[(flags >> 1) & 3];
    w->com.commandPending = true;
    w->exchange.expectReply(flags & 1);

    const QByteArray stream = QByteArray::fromRawData(reinterpret_cast<const char*>(data) + 2, int(size - 2));
    tablesChanged = stream.contains("$PK");
    int pos = 0;
    for (int chunk = 0; pos < stream.size(); ++chunk) {
        // Chunk lengths 1..64, varying with the chunk number as the input says.
        const int len = 1 + int((unsigned(cut) * 7u + unsigned(chunk) * (unsigned(cut) | 1u) + unsigned(chunk)) % 64u);
        w->dataReceived(QByteArray(stream.constData() + pos, qMin(len, stream.size() - pos)));
        pos += len;
        if (chunk % 4 == 3)
            chartPass(w);
        // The receive buffer never holds more than one unfinished line.
        if (w->rxBuffer.size() > Framing::MaxPendingBytes + 64) {
            std::fprintf(stderr, "rxBuffer grew to %d bytes\n", int(w->rxBuffer.size()));
            std::abort();
        }
    }
    chartPass(w);
    abortOnLongHistory(w);
    // Release what this input made now rather than at the next one: libFuzzer
    // runs a full leak scan after every input that ends with more allocations
    // than it started with.
    reset();
    settle();
    return 0;
}
