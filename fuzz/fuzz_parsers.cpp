// The packet parsers on their own. Byte 0 (modulo 6) picks the target:
//   0  RangingSample::parse on the rest
//   1  ModuleSetup::applyModuleList on a copy of a populated setup
//   2  ComInterface::checkReply, exact matching
//   3  ComInterface::checkReply, loose matching
//      (for 2 and 3 the pending command is the rest up to and including its
//       first line feed, the received line what follows)
//   4  DiscoverWin::discoverPacket with a populated table, discovery off
//   5  the same with discovery running
// so the seeds can start with the digits '0'..'5'.
#include "fuzzsupport.h"

#include "cominterface.h"
#include "discoverwin.h"
#include "modulesetup.h"
#include "rangingsample.h"

#include <QMetaObject>
#include <QTableWidget>

#include <cstdio>
#include <cstdlib>

namespace {

ModuleSetup populated;
ComInterface* com = nullptr;
DiscoverWin* idleDialog = nullptr;
DiscoverWin* discoveringDialog = nullptr;

void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool sameRecords(const ModuleSetup& a, const ModuleSetup& b)
{
    if (a.anchors.size() != b.anchors.size() || a.tags.size() != b.tags.size())
        return false;
    for (int i = 0; i < a.anchors.size(); ++i)
        if (a.anchors.at(i).id != b.anchors.at(i).id || a.anchors.at(i).master != b.anchors.at(i).master)
            return false;
    for (int i = 0; i < a.tags.size(); ++i)
        if (a.tags.at(i).id != b.tags.at(i).id)
            return false;
    return true;
}

void parseSample(const QByteArray& line)
{
    RangingSample sample(line);
    const bool ok = sample.parse();
    for (int d : qAsConst(sample.distances))
        if (d < 0 || d > RangingSample::MaxDistance)
            fail("distance out of range");
    if (ok && sample.distances.isEmpty())
        fail("valid line without distances");
    (void)sample.distanceAt(-1);
    (void)sample.distanceAt(sample.distances.size());
}

void moduleList(const QByteArray& line)
{
    ModuleSetup setup = populated;
    if (!setup.applyModuleList(line)) {
        // All or nothing: a refused list changes no record.
        if (!sameRecords(setup, populated))
            fail("refused module list changed the records");
        return;
    }
    // Records that stay keep the user's data.
    for (const Anchor& a : qAsConst(setup.anchors))
        for (const Anchor& old : qAsConst(populated.anchors))
            if (a.id == old.id && a.name != old.name && a.name != a.id)
                fail("module list rewrote a kept anchor");
}

void reply(const QByteArray& rest, bool loose)
{
    const int lf = rest.indexOf('\n');
    const QByteArray command = lf < 0 ? rest : rest.left(lf + 1);
    const QByteArray line = lf < 0 ? QByteArray() : rest.mid(lf + 1);
    com->pendingCommand = command;
    com->commandPending = true;
    const bool matched = com->checkReply(line, loose);
    if (matched != replyMatches(command, line, loose))
        fail("checkReply and replyMatches disagree");
    if (matched && (com->commandPending || !com->pendingCommand.isEmpty()))
        fail("matched reply left the command pending");
    if (!matched && (!com->commandPending || com->pendingCommand != command))
        fail("unmatched reply touched the pending command");
    // Every command answers itself exactly.
    if (!replyMatches(command, command, false))
        fail("command does not match itself");
}

void discover(DiscoverWin* dialog, const QByteArray& packet)
{
    dialog->discoverPacket(packet);
    if (dialog->table()->rowCount() > DiscoverWin::maxDiscoveredRows + populated.anchors.size() + populated.tags.size())
        fail("discovery table grew past its bound");
    // Rebuilding the table is costly; only a packet that added rows needs it
    // (colours of the identifier cells do not steer the next packet).
    if (dialog->table()->rowCount() != populated.anchors.size() + populated.tags.size())
        dialog->setModules(&populated);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    initFuzzApplication(argc, argv);
    populated.anchors = fuzzAnchors();
    populated.tags = fuzzTags();
    com = new ComInterface;

    idleDialog = new DiscoverWin(nullptr);
    idleDialog->setModules(&populated);
    discoveringDialog = new DiscoverWin(nullptr);
    discoveringDialog->setModules(&populated);
    // Start discovery the way the button does, and let the master agree.
    QMetaObject::invokeMethod(discoveringDialog, "on_btnStartDiscovery_clicked");
    discoveringDialog->commandResult(true);
    if (discoveringDialog->currentState() != DiscoveryState::Discovering)
        fail("discovery did not start");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    switch (data[0] % 6) {
    case 0: parseSample(rest); break;
    case 1: moduleList(rest); break;
    case 2: reply(rest, false); break;
    case 3: reply(rest, true); break;
    case 4: discover(idleDialog, rest); break;
    case 5: discover(discoveringDialog, rest); break;
    }
    settle();
    return 0;
}
