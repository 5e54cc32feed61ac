#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "update/image/bootloader_drive.h"
#include "update/workflow/update_stage.h"
#include "view/control_view.h"
#include "view/layout.h"

struct ITaskbarList3;

// What the taskbar button shows of an update.
enum class TaskbarProgress { None, Indeterminate, Normal, Error };
struct TaskbarShows {
    TaskbarProgress progress = TaskbarProgress::None;
    int32_t percent = 0;
};

// The taskbar button as the window keeps it (app/shell_signals.h).
struct TaskbarButton {
    ITaskbarList3* list = nullptr;          // the shell's object, once the button exists
    TaskbarShows shown;                     // what the button was last told
    UpdateStage stage = UpdateStage::None;  // the update's stage as last read
    bool moving = false;                    // a percentage came during this stage
    bool failed = false;                    // the last update failed after its download began
};

// The window's record: what the window thread keeps about its own face, and
// only the window thread touches. What the program knows lives with its
// owners below: the running task and where workers post (task/task_state.h),
// the device and its port (device/device_state.h), the newest release
// (update/release/release_state.h) and the update's stage (update/workflow/update_stage.h).
//
// Lifetime: the instance is created before the entry point runs and is never
// destroyed.
struct AppState {
    HINSTANCE instance = nullptr;

    // The child controls; each is made from its row of the control table
    // (app/controls.cpp).
    HWND portCombo = nullptr;
    HWND refreshButton = nullptr;
    HWND connectButton = nullptr;
    HWND readVersionButton = nullptr;
    HWND checkLatestButton = nullptr;
    HWND updateButton = nullptr;
    HWND connStateLabel = nullptr;
    HWND portLabel = nullptr;
    HWND titleLabel = nullptr;
    HWND subtitleLabel = nullptr;
    HWND currentCaption = nullptr;
    HWND latestCaption = nullptr;
    HWND verdictCaption = nullptr;
    HWND currentVersionLabel = nullptr;
    HWND latestVersionLabel = nullptr;
    HWND verdictLabel = nullptr;
    HWND macroLabel = nullptr;
    HWND macroToggle = nullptr;
    HWND hidLabel = nullptr;
    HWND hidStateLabel = nullptr;
    HWND hidToggle = nullptr;
    HWND statusLabel = nullptr;
    HWND progressBar = nullptr;

    // Made with the controls from the font table (app/controls.cpp), deleted on WM_DESTROY.
    HFONT titleFont = nullptr;
    HFONT statusFont = nullptr;
    HFONT bodyFont = nullptr;
    HFONT versionFont = nullptr;
    HFONT verdictFont = nullptr;

    // The progress bar's 0..100.
    int32_t progressPercent = 0;

    // The cards as last laid out.
    CardLayout cards;
    // The view the controls last showed; the painters draw from it.
    ControlView view;
    // The RPI-RP2 drives last found while no port was open and no task ran,
    // and the one of them the window offers for flashing (empty: none), which
    // is the drive the update command flashes.
    std::vector<std::wstring> bootloaderDrives;
    std::wstring offeredDrive;
    // The drives there when the running (or the last) task began, and whether a port was open then.
    DriveRootSet drivesAtTaskStart;
    bool portOpenAtTaskStart = false;
    TaskbarButton taskbar;
};

extern AppState& g_app;
