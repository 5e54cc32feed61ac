#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "device/records.h"

namespace {

// What the reply reader does with a line: its telemetry record, if it is one,
// read once and applied.
bool ApplyTelemetryLine(const std::string& line, DeviceStatus& status) {
    TelemetryRecord record;
    if (!ReadTelemetryRecord(line, record)) return false;
    ApplyTelemetryRecord(record, status);
    return true;
}

// A status with every field set to something no record in these tables writes
// by accident, so that "left unchanged" is visible.
DeviceStatus Untouched() {
    DeviceStatus status;
    status.currentVersion = "old";
    status.telemetryValid = false;
    status.macroModeOn = true;
    status.hidCtrlCfg = -1;
    status.hidCtrlLive = -1;
    status.hidCtrlPending = -1;
    return status;
}

struct TelemetryCase {
    const char* line;
    bool isRecord;
    const char* version;
    bool telemetryValid;
    bool macroModeOn;
    int32_t cfg, live, pending;
};

const TelemetryCase kTelemetryCases[] = {
    {"TEL|fw=1.2.0;app=1", true, "1.2.0", true, true, -1, -1, -1},
    {"TEL| FW = 1.2.0 ; APP : 0", true, "1.2.0", true, false, -1, -1, -1},
    {"TEL|fw=1.2.0|app=1", true, "1.2.0|app=1", false, true, -1, -1, -1},
    {"TEL|app=yes", true, "old", false, true, -1, -1, -1},
    {"TEL|hid_ctrl_cfg=7", true, "old", false, true, 1, -1, -1},
    {"TEL|hid_ctrl_cfg=-3", true, "old", false, true, 1, -1, -1},
    {"TEL|hid_ctrl_cfg=0;hid_ctrl_live=1;hid_ctrl_pending=0", true, "old", false, true, 0, 1, 0},
    {"TEL|hid_ctrl_live=on;hid_ctrl_pending=1.0", true, "old", false, true, -1, -1, -1},
    {"TEL|fw=", true, "old", false, true, -1, -1, -1},
    {"TEL|fw=;app=0", true, "old", true, false, -1, -1, -1},
    {"TEL|app=1;app=0", true, "old", true, false, -1, -1, -1},
    {"  TEL|fw=2.0 \r\n", true, "2.0", false, true, -1, -1, -1},
    {"TEL|", true, "old", false, true, -1, -1, -1},
    {"TEL|;;=5;novalue;fw:3.1", true, "3.1", false, true, -1, -1, -1},
    {"TEL|fw=1.0=rc:2", true, "1.0=rc:2", false, true, -1, -1, -1},
    {"tel|fw=1", false, "old", false, true, -1, -1, -1},
    {"xTEL|fw=1", false, "old", false, true, -1, -1, -1},
    {"TEL", false, "old", false, true, -1, -1, -1},
    {"HID|op=control;enabled=1", false, "old", false, true, -1, -1, -1},
    {"", false, "old", false, true, -1, -1, -1},
};

TEST(TelemetryRecord, AppliesFieldsAsTheTableSays) {
    for (const TelemetryCase& c : kTelemetryCases) {
        SCOPED_TRACE(c.line);
        DeviceStatus status = Untouched();
        EXPECT_EQ(ApplyTelemetryLine(c.line, status), c.isRecord);
        EXPECT_EQ(status.currentVersion, c.version);
        EXPECT_EQ(status.telemetryValid, c.telemetryValid);
        EXPECT_EQ(status.macroModeOn, c.macroModeOn);
        EXPECT_EQ(status.hidCtrlCfg, c.cfg);
        EXPECT_EQ(status.hidCtrlLive, c.live);
        EXPECT_EQ(status.hidCtrlPending, c.pending);
    }
}

TEST(TelemetryRecord, RecordOmittingAFieldKeepsItsValue) {
    DeviceStatus status = Untouched();
    ASSERT_TRUE(ApplyTelemetryLine("TEL|fw=1.0;app=1;hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=1", status));
    ASSERT_TRUE(ApplyTelemetryLine("TEL|hid_ctrl_live=0", status));
    EXPECT_EQ(status.currentVersion, "1.0");
    EXPECT_TRUE(status.telemetryValid);
    EXPECT_TRUE(status.macroModeOn);
    EXPECT_EQ(status.hidCtrlCfg, 1);
    EXPECT_EQ(status.hidCtrlLive, 0);
    EXPECT_EQ(status.hidCtrlPending, 1);
}

struct HidCase {
    const char* line;
    bool isRecord;
    bool isControlReply;
    bool ok;
    int32_t cfg, live, pending;
};

const HidCase kHidCases[] = {
    {"HID|op=Control;ok=1;enabled=1;live=0;pending_reboot=1", true, true, true, 1, 0, 1},
    {"HID|op=control;ok=2", true, true, false, -1, -1, -1},
    {"HID|op=control;ok=-1;enabled=5", true, true, false, 1, -1, -1},
    {"HID|op=control;ok=yes;live=0", true, true, false, -1, 0, -1},
    {"HID|OP : CONTROL ; OK = 1", true, true, true, -1, -1, -1},
    {"HID|op=status;enabled=1", true, false, false, -1, -1, -1},
    {"HID|enabled=1;ok=1", true, false, false, -1, -1, -1},
    {"HID|op=controls;ok=1", true, false, false, -1, -1, -1},
    {"hid|op=control;ok=1", false, false, false, -1, -1, -1},
    {"TEL|op=control;ok=1;enabled=1", false, false, false, -1, -1, -1},
};

TEST(ParseHidRecord, SetsFlagsAndFieldsAsTheTableSays) {
    for (const HidCase& c : kHidCases) {
        SCOPED_TRACE(c.line);
        DeviceStatus status = Untouched();
        bool isControlReply = false;
        bool ok = false;
        EXPECT_EQ(ParseHidRecord(c.line, isControlReply, ok, status), c.isRecord);
        EXPECT_EQ(isControlReply, c.isControlReply);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(status.hidCtrlCfg, c.cfg);
        EXPECT_EQ(status.hidCtrlLive, c.live);
        EXPECT_EQ(status.hidCtrlPending, c.pending);
        EXPECT_EQ(status.currentVersion, "old");
        EXPECT_FALSE(status.telemetryValid);
    }
}

TEST(ParseHidRecord, AbsentOkLeavesTheCallersValue) {
    DeviceStatus status = Untouched();
    bool isControlReply = false;
    bool ok = true;
    ASSERT_TRUE(ParseHidRecord("HID|op=control;enabled=0", isControlReply, ok, status));
    EXPECT_TRUE(isControlReply);
    EXPECT_TRUE(ok);
    EXPECT_EQ(status.hidCtrlCfg, 0);
}

struct FirmwareCase {
    const char* line;
    const char* version;  // the version the record carries; nullptr: none
};

// One reader of the version: the record parser's rules (any key case, '=' or
// ':', the last of two fw items), whether the version is read on its own or
// applied to the device status.
const FirmwareCase kFirmwareCases[] = {
    {"TEL|app=1;fw= 2.0 ;x=1", "2.0"},
    {"TEL|fw=1.2.0", "1.2.0"},
    {"TEL|xfw=9;fw=1.2.0", "1.2.0"},
    {"TEL|xfw=9", nullptr},
    {"TEL|app=1; fw=2.0", "2.0"},
    {"TEL|\tfw=2.0", "2.0"},
    {"TEL|FW=2.0", "2.0"},
    {"TEL|fw:2.0", "2.0"},
    {"TEL|fw =2.0", "2.0"},
    {"TEL|app=fw=3;x=1", nullptr},
    {"TEL|fw=1.2.0|app=1", "1.2.0|app=1"},
    {"TEL|fw=1.0;fw=2.0", "2.0"},
    {"TEL|fw=1.0;FW:2.0", "2.0"},
    {"TEL|fw=1.0;fw=", nullptr},
    {"TEL|fw=", nullptr},
    {"TEL|fw=  ;app=1", nullptr},
    {"TEL|", nullptr},
    {" TEL|fw=4.0 ", "4.0"},
    {"tel|fw=1", nullptr},
    {"xTEL|fw=1", nullptr},
    {"HID|fw=1", nullptr},
};

TEST(FirmwareVersionOfLine, IsTheRecordsFwFieldAsTheTableSays) {
    for (const FirmwareCase& c : kFirmwareCases) {
        SCOPED_TRACE(c.line);
        TelemetryRecord record;
        ReadTelemetryRecord(c.line, record);
        EXPECT_EQ(record.firmwareVersion, c.version != nullptr ? c.version : "");
        DeviceStatus status;
        status.currentVersion = "untouched";
        ApplyTelemetryLine(c.line, status);
        EXPECT_EQ(status.currentVersion, c.version != nullptr ? c.version : "untouched");
    }
}

// A version of 64 bytes is a version; a longer fw value is none.
TEST(FirmwareVersionOfLine, AValuePast64BytesIsNoVersion) {
    for (size_t length : {size_t{64}, size_t{65}}) {
        SCOPED_TRACE(length);
        const std::string value(length, '7');
        const bool taken = length <= 64;
        TelemetryRecord record;
        ASSERT_TRUE(ReadTelemetryRecord("TEL|FW:" + value, record));
        EXPECT_EQ(record.firmwareVersion, taken ? value : "");
        DeviceStatus status;
        status.currentVersion = "1.0.0";
        EXPECT_TRUE(ApplyTelemetryLine("TEL|fw=" + value + ";app=1", status));
        EXPECT_EQ(status.currentVersion, taken ? value : "1.0.0");
        EXPECT_TRUE(status.macroModeOn);  // the rest of the record still counts
    }
}

TEST(SplitRecordFields, CutsAtSemicolonsAndPrefersEqualsToColon) {
    const RecordFields fields = SplitRecordFields(" A = 1 ;b:2;c=x=y:z; ;d;E:=;=5;b=3;");
    const RecordFields expected = {{"a", "1"}, {"b", "3"}, {"c", "x=y:z"}, {"e:", ""}, {"", "5"}};
    EXPECT_EQ(fields, expected);
    EXPECT_TRUE(SplitRecordFields("").empty());
}

TEST(SplitRecordFields, FoldsOnlyAsciiLettersInKeys) {
    // "\xc3\x84" is UTF-8 for an upper-case A-umlaut: it is not an ASCII letter and stays as it is.
    const RecordFields fields = SplitRecordFields("K\xc3\x84Y=V\xc3\x84L");
    ASSERT_EQ(fields.count("k\xc3\x84y"), 1u);
    EXPECT_EQ(fields.at("k\xc3\x84y"), "V\xc3\x84L");
}

struct IntCase {
    const char* text;
    bool ok;
    int32_t value;
};

const IntCase kIntCases[] = {
    {"0", true, 0},
    {"42", true, 42},
    {"+5", true, 5},
    {"-3", true, -3},
    {" 7\t", true, 7},
    {"007", true, 7},
    {"-0", true, 0},
    {"2147483647", true, 2147483647},
    {"2147483648", true, 2147483647},
    {"99999999999999999999999", true, 2147483647},
    {"-2147483648", true, INT32_MIN},
    {"-2147483649", true, INT32_MIN},
    {"-99999999999999999999999", true, INT32_MIN},
    {"4294967297", true, 2147483647},
    {"1.0", false, 0},
    {"0x1", false, 0},
    {"on", false, 0},
    {"true", false, 0},
    {"", false, 0},
    {"   ", false, 0},
    {"+", false, 0},
    {"-", false, 0},
    {"+-1", false, 0},
    {"- 1", false, 0},
    {"1 2", false, 0},
    {"12abc", false, 0},
    {"\xd9\xa3", false, 0},  // ARABIC-INDIC DIGIT THREE: a digit only outside the "C" locale
};

TEST(TryParseInt, ReadsWholeDecimalTextAndSaturatesAt32Bits) {
    for (const IntCase& c : kIntCases) {
        SCOPED_TRACE(c.text);
        int32_t value = 12345;
        EXPECT_EQ(TryParseInt(c.text, value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 12345);
    }
}

}  // namespace
