#include <cstddef>
#include <cstdint>
#include <string>

#include "device/records.h"
#include "fuzz_require.h"

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

bool IsTrimmed(const std::string& text) {
    return text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back()));
}

// What the reply reader does with a line: its telemetry record, if it is one,
// read once and applied.
bool ApplyTelemetryLine(const std::string& line, DeviceStatus& status) {
    TelemetryRecord record;
    if (!ReadTelemetryRecord(line, record)) return false;
    ApplyTelemetryRecord(record, status);
    return true;
}

bool IsFlag(int32_t value) { return value == -1 || value == 0 || value == 1; }

void CheckOneLine(const std::string& line) {
    const std::string sentinel = "\x01unset";
    DeviceStatus telemetry;
    telemetry.currentVersion = sentinel;
    const bool isTelemetry = ApplyTelemetryLine(line, telemetry);
    Require(IsFlag(telemetry.hidCtrlCfg) && IsFlag(telemetry.hidCtrlLive) && IsFlag(telemetry.hidCtrlPending),
            "telemetry HID fields are -1, 0 or 1");
    Require(!telemetry.macroModeOn || telemetry.telemetryValid, "macro mode is set only with telemetryValid");

    TelemetryRecord record;
    Require(ReadTelemetryRecord(line, record) == isTelemetry, "both readers agree on what a telemetry record is");
    const std::string& parsed = record.firmwareVersion;
    if (!parsed.empty()) {
        Require(isTelemetry, "a firmware version only from telemetry records");
        Require(IsTrimmed(parsed) && parsed.find(';') == std::string::npos, "fw value trimmed, one item");
        Require(telemetry.currentVersion == parsed, "the status takes the version the record carries");
    } else {
        Require(telemetry.currentVersion == sentinel, "no fw value leaves the version alone");
    }

    DeviceStatus hid;
    bool isControlReply = false;
    bool ok = false;
    const bool isHid = ParseHidRecord(line, isControlReply, ok, hid);
    Require(!(isHid && isTelemetry), "a line is at most one kind of record");
    Require(isControlReply || !ok, "ok only on a control reply");
    if (!isControlReply) {
        Require(hid.hidCtrlCfg == -1 && hid.hidCtrlLive == -1 && hid.hidCtrlPending == -1,
                "only a control reply changes the HID fields");
    }
    Require(IsFlag(hid.hidCtrlCfg) && IsFlag(hid.hidCtrlLive) && IsFlag(hid.hidCtrlPending),
            "HID record fields are -1, 0 or 1");

    for (const auto& field : SplitRecordFields(line)) {
        Require(IsTrimmed(field.first) && IsTrimmed(field.second), "keys and values trimmed");
        Require(field.first.find(';') == std::string::npos && field.second.find(';') == std::string::npos,
                "fields split at every ';'");
        for (char c : field.first) Require(!(c >= 'A' && c <= 'Z'), "keys lower-cased");
    }

    int32_t value = 0;
    if (TryParseInt(line, value)) {
        int32_t again = 0;
        Require(TryParseInt(std::to_string(value), again) && again == value, "a parsed number reads back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    CheckOneLine(input);

    // As the read loop feeds them: line after line into one status.
    DeviceStatus status;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string line = input.substr(start, end - start);
        bool isControlReply = false;
        bool ok = false;
        ApplyTelemetryLine(line, status);
        ParseHidRecord(line, isControlReply, ok, status);
        Require(IsFlag(status.hidCtrlCfg) && IsFlag(status.hidCtrlLive) && IsFlag(status.hidCtrlPending),
                "HID fields stay -1, 0 or 1 across records");
        Require(!status.macroModeOn || status.telemetryValid, "macro mode is set only with telemetryValid");
        start = end + 1;
    }
    return 0;
}
