#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "device/device_status.h"

// The device's reply records: "TEL|" telemetry and "HID|" control replies, with
// ';'-separated key=value (or key:value) fields. Every operation trims the line
// itself, so it may be given untrimmed text.

using RecordFields = std::map<std::string, std::string>;

// The longest firmware version text a device may report, in bytes.
constexpr size_t kDeviceVersionLimit = 64;

// Splits a record body (the text after the four prefix bytes) into lower-cased
// keys and trimmed values; a later duplicate key wins.
RecordFields SplitRecordFields(const std::string& body);

// Reads a whole trimmed base-10 integer ("+5", "-3"); text beyond the 32-bit
// range saturates at the nearest bound. On failure `value` is left unchanged.
bool TryParseInt(const std::string& text, int32_t& value);

// What one telemetry record says; a field it does not carry (or carries
// unreadably) stays unknown here and leaves the device status alone.
struct TelemetryRecord {
    std::string firmwareVersion;  // `fw`, trimmed; empty: none, or not a version text
    bool appKnown = false;        // `app` read as a number
    bool macroModeOn = false;     // ... and not 0
    int32_t hidCtrlCfg = -1;      // the hid_ctrl_* flags: 0 or 1, -1 when not carried
    int32_t hidCtrlLive = -1;
    int32_t hidCtrlPending = -1;
};

// True when the line is a telemetry record; `record` then holds its fields.
// This is the one reader of a telemetry record's fields, the firmware version
// included.
bool ReadTelemetryRecord(const std::string& line, TelemetryRecord& record);

// Every field the record carries replaces the device status's.
void ApplyTelemetryRecord(const TelemetryRecord& record, DeviceStatus& status);

// True when the line is a HID record. For an op=control reply sets
// isControlReply, ok (ok=1 only) and applies enabled/live/pending_reboot to
// `status`. The caller initialises both flags to false.
bool ParseHidRecord(const std::string& line, bool& isControlReply, bool& ok, DeviceStatus& status);
