#ifndef DISCOVERYTYPES_H
#define DISCOVERYTYPES_H

// Role of a module row in the discovery table; carried as the item data of
// every role combo box.
enum ModuleRole {
    RoleNotUsed = 0,
    RoleMaster = 1,
    RoleAnchor = 2,
    RoleTag = 3
};

// Which command the discovery dialog waits for, and whether discovery mode is on.
enum class DiscoveryState {
    Idle,
    StartPending,
    Discovering,
    StopPending,
    ResetPending,
    RestorePending,
    UploadPending
};

#endif
