#pragma once

#include <string>
#include <vector>

#include "app/control_view.h"
#include "app/layout.h"

// What the window thread alone keeps about its own face: the cards as last
// laid out, the view the controls last showed (the painters draw from it), and
// the RPI-RP2 drives it last found while no port was open and no task ran.
struct WindowState {
    CardLayout cards;
    ControlView view;
    std::vector<std::wstring> bootloaderDrives;
};

// Never destroyed, like the program's state (app/app_state.h).
extern WindowState& g_window;
