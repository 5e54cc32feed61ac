#include "app/app_state.h"

// Created during static initialisation, before the entry point, and deliberately
// never destroyed: worker threads are detached and may still run while the
// process ends and static objects are torn down.
AppState& g_app = *new AppState();

SharedSnapshot TakeSharedSnapshot() {
    SharedGuard guard(g_app.sharedLock);
    SharedSnapshot snapshot;
    snapshot.portHandle = g_app.portHandle;
    snapshot.portName = g_app.portName;
    snapshot.device = static_cast<const DeviceStatus&>(g_app);
    snapshot.latestVersion = g_app.latestVersion;
    snapshot.downloadUrl = g_app.downloadUrl;
    return snapshot;
}
