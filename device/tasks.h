#pragma once

// The device-side tasks. Each runs to its end on a worker thread started by
// StartWorker and reports only through PostStatus, PostProgress and PostRefresh.

void DoReadCurrentVersion();
void DoSyncDeviceState();
void DoSetMacroMode(bool on);
void DoToggleHidControl(bool enable);
