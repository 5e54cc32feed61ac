#pragma once

#include <string>

// The device's reboot into its RP2040 boot loader, which then shows itself as
// the RPI-RP2 drive.

// The command as the status line names it while it is sent.
std::wstring RebootCommandText();

// Tells the device on the open port to reboot into its boot loader, gives it a
// moment to act on the command (kActOnRebootMs, device/waits.h) and lets go of
// the port, which is about to vanish. False when the command could not be
// written whole: the port then stays open and nothing else has changed.
bool RebootDeviceIntoBootloader();
