#ifndef CONFIGCOMMAND_H
#define CONFIGCOMMAND_H

#include <QString>

class ModuleSetup;

// The "$PK" line that uploads the whole module configuration to the master:
// master id, further-anchor count, tag count (both hex), then the ids.
// Empty when there are no anchors at all.
QString buildConfigCommand(const ModuleSetup& modules);

#endif
