#pragma once

#include <windows.h>

// The window follows what is plugged in: the port list and the boot loader's
// drives, on the window thread, while no task runs.

// When a change of the drives is worth a status text.
enum class DriveNews {
    Always,    // start-up and "刷新串口": say what was found
    OnChange,  // a device came or went: say so only when the drives changed
    OnOffer,   // after a task: only a drive that was not there when the task began, else the task's last text stays
};

// Looks for removable RPI-RP2 drives while no port is open and no task runs,
// and offers a single one for flashing: the update command then runs from the
// boot loader, on that drive. While a port is open it forgets the drives it
// found and offered, so that a drive on the same letter later is a new one.
// Refreshes the controls.
void LookForBootloaderDrives(DriveNews news);

// Every task's start: the drives there now and whether a port is open, so that
// the task's end can tell a drive that came during the task, and a device the
// task let go of.
void NoteAtTaskStart();

// WM_DEVICECHANGE: on a device arriving or leaving (or the system's device tree
// changing), while no task runs, the port list is refreshed with the choice
// kept; an open port that has gone is disconnected, and the drives are looked
// at again.
void FollowDeviceChange(WPARAM event);

// WM_APP_TASK_DONE: a device the task let go of (lost in its HID switch) takes
// the release it was checked against with it, as an unplug does. The device
// messages that came while the task ran were passed over, so the window looks
// once at what it may have missed: an open port gone is disconnected, and a
// single RPI-RP2 drive that came during the task is offered for flashing.
void CatchUpAfterTask();
