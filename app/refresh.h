#pragma once

#include <windows.h>

#include <string>

#include "serial/port_list.h"

// What the window shows of the program's state, and letting go of the
// device: called by the window procedure, the commands and the device watch
// alike, on the window thread.

// Derives what every control shows from what the program knows (the view),
// shows it and keeps it for the painters; the port list shows the open port.
void RefreshControls();

// Refills the port list with the ports present now, keeping the user's choice
// when that port is still there; returns the ports it listed.
PortNames RefreshPortList();

// The port the user has chosen in the list; empty when none is.
std::wstring ChosenPortName();

// Refills the drop-down list with the given port names in order and selects
// the previously chosen name (compared ignoring case), else the first name,
// else nothing.
void FillPortCombo(HWND combo, const PortNames& ports);

// Closes the port and forgets the versions and the progress, as "断开连接"
// does, and shows `statusText`.
void DisconnectDevice(const wchar_t* statusText);
