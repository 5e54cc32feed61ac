#pragma once

#include <string>

// Asks the device for one telemetry record ("telemetry.once", awaited
// kSnapshotTimeoutMs, device/waits.h) and so refreshes the device status
// (device/device_state.h).
bool RequestTelemetrySnapshot(std::wstring& error);

// Reads the firmware version the device reports now ("box.info", then
// "telemetry.once", with the waits of device/waits.h). On true `version` is
// non-empty.
bool ReadFirmwareVersion(std::string& version, std::wstring& error);
