#ifndef SETUPCHANGES_H
#define SETUPCHANGES_H

#include "settingsfile.h"

// Whether the setup differs from what was last loaded or saved, so closing
// asks only when something would be lost. The setup is what a user builds by
// hand: the modules with their places, offsets, names, colours and display
// switches, the grid and the floor plan with its calibration. Switches such
// as the averaging or the filter are no setup. An editor whose changes no
// settings record shows (yet) marks them with markChanged().
class SetupChanges
{
public:
    // After a load or a save: `data` is what the file now holds.
    void setSaved(const SettingsData& data);
    void markChanged() { marked = true; }
    bool isChanged(const SettingsData& now) const;

private:
    SettingsData saved;
    bool marked = false;
};

// The setups of the two records are the same (see SetupChanges).
bool sameSetup(const SettingsData& a, const SettingsData& b);

#endif
