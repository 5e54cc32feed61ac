#pragma once

#include <cstdint>

// How far a running firmware update has got, for the taskbar button and the
// shell: the update task moves it on (and posts a refresh) as it goes, the
// window reads it on WM_APP_REFRESH and WM_APP_TASK_DONE and takes it back to
// None when it has seen the update's end. Other tasks leave it at None.
enum class UpdateStage : uint8_t {
    None,         // no update runs
    Checking,     // the versions and the manifest: no download yet
    Downloading,  // the image's download (in percent when the server sent its length) and its checks
    Waiting,      // the reboot, the waits for the drive and for the device
    Copying,      // the copy onto the drive, in percent
    Succeeded,    // the device is back with the new firmware
};

// The update task's side (any thread).
void SetUpdateStage(UpdateStage stage);

// The window's side: the stage now, and the stage an update ended in, which
// puts it back to None (None: the task that ended was no update).
UpdateStage UpdateStageNow();
UpdateStage TakeUpdateStage();
