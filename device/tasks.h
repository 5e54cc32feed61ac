#pragma once

// The device-side tasks. Each runs to its end on a worker thread started by
// StartWorker and reports only through PostStatus, PostProgress and PostRefresh.

void DoReadCurrentVersion();
void DoSyncDeviceState();
void DoSetMacroMode(bool on);
// After a switch the device re-enumerates: its port goes away and comes back,
// and the task follows it there. `forgetWithDevice`, when given, is run when
// the device does not come back, besides forgetting its version: what else the
// program knew only for that device (the release it was checked against).
void DoToggleHidControl(bool enable, void (*forgetWithDevice)() = nullptr);
