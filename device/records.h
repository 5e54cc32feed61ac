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

// True when the line is a telemetry record; applies its fw, app and hid_ctrl_* fields to `status`.
bool ParseTelemetryRecord(const std::string& line, DeviceStatus& status);

// True when the line is a HID record. For an op=control reply sets
// isControlReply, ok (ok=1 only) and applies enabled/live/pending_reboot to
// `status`. The caller initialises both flags to false.
bool ParseHidRecord(const std::string& line, bool& isControlReply, bool& ok, DeviceStatus& status);

// The firmware version of a telemetry line read straight from its text: the
// value of a "fw=" key (lower case, '=' only) standing at the start of an item.
bool ExtractFwField(const std::string& line, std::string& version);

// The firmware version a telemetry line carries under the record parser's rules
// (any key case, '=' or ':'): true when the line is a telemetry record with a non-empty fw value.
bool TelemetryFirmwareVersion(const std::string& line, std::string& version);
