#pragma once

// The device-side tasks. Each runs to its end on a worker thread started by
// StartWorker and reports only through PostStatus, PostProgress and PostRefresh.

void DoReadCurrentVersion();
void DoSyncDeviceState();
void DoSetMacroMode(bool on);
// After a switch the device re-enumerates: its port goes away and comes back,
// and the task follows it there. A device that does not come back is let go
// of as after an unplug: its port closed, its version forgotten.
void DoToggleHidControl(bool enable);
