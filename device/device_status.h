#pragma once

#include <cstdint>
#include <string>

// What the program knows about the device on the other end of the open port.
// The reply records fill it in; opening and closing the port resets it. The
// version survives both: it goes only with the device, on the user's
// disconnect, an unplug, or a HID switch the device does not come back from.
struct DeviceStatus {
    // Firmware version text as the device reports it (UTF-8); empty: unknown.
    std::string currentVersion;
    // The device's application mode is known (an `app` value arrived, or a macro-mode switch succeeded).
    bool telemetryValid = false;
    // Macro mode on; meaningful only while telemetryValid.
    bool macroModeOn = false;
    // Experimental HID control interface: -1 unknown, else 0 or 1.
    int32_t hidCtrlCfg = -1;      // switched on in the device's configuration
    int32_t hidCtrlLive = -1;     // the interface is active now
    int32_t hidCtrlPending = -1;  // a change waits for the device to re-enumerate
};

// Forgets everything but the version: what opening or closing the port does.
inline void ResetLinkStatus(DeviceStatus& status) {
    status.telemetryValid = false;
    status.macroModeOn = false;
    status.hidCtrlCfg = -1;
    status.hidCtrlLive = -1;
    status.hidCtrlPending = -1;
}
