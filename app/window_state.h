#pragma once

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/control_view.h"
#include "app/layout.h"

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

// What the window thread alone keeps about its own face: the cards as last
// laid out, the view the controls last showed (the painters draw from it), and
// the RPI-RP2 drives it last found while no port was open and no task ran,
// and its taskbar button.
struct WindowState {
    CardLayout cards;
    ControlView view;
    std::vector<std::wstring> bootloaderDrives;
    TaskbarButton taskbar;
};

// Never destroyed, like the program's state (app/app_state.h).
extern WindowState& g_window;
