#include "device/records.h"

#include <cstddef>
#include <cstdint>

#include "base/ascii.h"
#include "base/trim.h"

namespace {

const char kTelemetryPrefix[] = "TEL|";
const char kHidPrefix[] = "HID|";
const size_t kPrefixLength = 4;

// The body of a record of the given kind: the trimmed line must begin with the
// exact, case-sensitive prefix.
bool RecordBody(const std::string& line, const char* prefix, std::string& body) {
    const std::string trimmed = TrimBytes(line);
    if (trimmed.size() < kPrefixLength || trimmed.compare(0, kPrefixLength, prefix) != 0) return false;
    body = trimmed.substr(kPrefixLength);
    return true;
}

// A flag field stores 1 for any non-zero number and 0 for zero; a missing or
// unreadable field leaves the target as it was.
void ApplyFlagField(const RecordFields& fields, const char* key, int32_t& target) {
    const auto it = fields.find(key);
    if (it == fields.end()) return;
    int32_t value = 0;
    if (TryParseInt(it->second, value)) target = value != 0 ? 1 : 0;
}

// A flag the record carried (0 or 1) replaces the status's; -1 leaves it.
void ApplyCarriedFlag(int32_t carried, int32_t& target) {
    if (carried != -1) target = carried;
}

// A version text the device may report: not empty, and no longer than the
// limit (a longer `fw` value is noise on the line, not a version).
bool IsDeviceVersionText(const std::string& value) { return !value.empty() && value.size() <= kDeviceVersionLimit; }

// The record's `fw` value when it is a version text, else empty.
std::string FirmwareVersionOf(const RecordFields& fields) {
    const auto it = fields.find("fw");
    if (it == fields.end()) return std::string();
    const std::string value = TrimBytes(it->second);
    return IsDeviceVersionText(value) ? value : std::string();
}

}  // namespace

RecordFields SplitRecordFields(const std::string& body) {
    RecordFields fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find(';', start);
        if (end == std::string::npos) end = body.size();
        const std::string item = TrimBytes(body.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;
        size_t separator = item.find('=');
        if (separator == std::string::npos) separator = item.find(':');
        if (separator == std::string::npos) continue;
        const std::string key = AsciiLower(TrimBytes(item.substr(0, separator)));
        fields[key] = TrimBytes(item.substr(separator + 1));
    }
    return fields;
}

bool TryParseInt(const std::string& text, int32_t& value) {
    // strtol's syntax (optional sign, then decimal digits) read by hand, so that
    // the 32-bit saturation does not depend on how wide long is (64 bits on
    // Linux, 32 on Windows).
    const std::string trimmed = TrimBytes(text);
    size_t pos = 0;
    bool negative = false;
    if (pos < trimmed.size() && (trimmed[pos] == '+' || trimmed[pos] == '-')) {
        negative = trimmed[pos] == '-';
        ++pos;
    }
    if (pos == trimmed.size()) return false;
    // Magnitude capped just past the largest one that fits, so it never overflows.
    const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
    int64_t magnitude = 0;
    for (; pos < trimmed.size(); ++pos) {
        if (!IsAsciiDigit(trimmed[pos])) return false;
        if (magnitude < limit) magnitude = magnitude * 10 + (trimmed[pos] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool ReadTelemetryRecord(const std::string& line, TelemetryRecord& record) {
    std::string body;
    if (!RecordBody(line, kTelemetryPrefix, body)) return false;
    const RecordFields fields = SplitRecordFields(body);
    record = TelemetryRecord();
    record.firmwareVersion = FirmwareVersionOf(fields);
    const auto app = fields.find("app");
    int32_t appValue = 0;
    if (app != fields.end() && TryParseInt(app->second, appValue)) {
        record.appKnown = true;
        record.macroModeOn = appValue != 0;
    }
    ApplyFlagField(fields, "hid_ctrl_cfg", record.hidCtrlCfg);
    ApplyFlagField(fields, "hid_ctrl_live", record.hidCtrlLive);
    ApplyFlagField(fields, "hid_ctrl_pending", record.hidCtrlPending);
    return true;
}

void ApplyTelemetryRecord(const TelemetryRecord& record, DeviceStatus& status) {
    if (!record.firmwareVersion.empty()) status.currentVersion = record.firmwareVersion;
    if (record.appKnown) {
        status.telemetryValid = true;
        status.macroModeOn = record.macroModeOn;
    }
    ApplyCarriedFlag(record.hidCtrlCfg, status.hidCtrlCfg);
    ApplyCarriedFlag(record.hidCtrlLive, status.hidCtrlLive);
    ApplyCarriedFlag(record.hidCtrlPending, status.hidCtrlPending);
}

bool ParseHidRecord(const std::string& line, bool& isControlReply, bool& ok, DeviceStatus& status) {
    std::string body;
    if (!RecordBody(line, kHidPrefix, body)) return false;
    const RecordFields fields = SplitRecordFields(body);
    const auto op = fields.find("op");
    // Other operations (status and the like) are replies to commands this program never sends.
    if (op == fields.end() || AsciiLower(op->second) != "control") return true;
    isControlReply = true;
    const auto okField = fields.find("ok");
    int32_t okValue = 0;
    // Only ok=1 is success: the device uses other values for its error codes.
    if (okField != fields.end() && TryParseInt(okField->second, okValue)) ok = okValue == 1;
    ApplyFlagField(fields, "enabled", status.hidCtrlCfg);
    ApplyFlagField(fields, "live", status.hidCtrlLive);
    ApplyFlagField(fields, "pending_reboot", status.hidCtrlPending);
    return true;
}
