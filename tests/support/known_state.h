#pragma once

#include <string>

#include "device/device_status.h"

// What the program knows now, read from its owners (the device's link and
// status, the newest release) in one go for a test's checks.
struct SharedSnapshot {
    bool connected = false;
    std::wstring portName;
    DeviceStatus device;
    std::string latestVersion;
};
SharedSnapshot TakeSharedSnapshot();

// Leaves the device status as the device's record `line` (such as
// "TEL|app=1;hid_ctrl_cfg=1") would, without a port.
void ApplyDeviceRecord(const std::string& line);

// What a check left behind: the device's version and the newest release.
void KnowVersions(const std::string& current, const std::string& latest, const std::string& downloadUrl);
