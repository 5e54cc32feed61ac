#include <gtest/gtest.h>

#include <string>

#include "base/clock_calls.h"
#include "device/device_state.h"
#include "device/queries.h"
#include "device/waits.h"
#include "serial/comm_calls.h"
#include "serial/serial_link.h"
#include "tests/support/device_helpers.h"
#include "tests/support/known_state.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"

// The two queries against a simulated device: the telemetry snapshot and the
// firmware version read, with their time-outs and texts.

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class DeviceQuery : public ::testing::Test {
protected:
    void Open(SimDevice& device) { ASSERT_TRUE(OpenDevice(device)); }
    void StoreVersion(const std::string& version) {
        StoreDeviceVersion(version);
    }
    // Waits until at least `count` received bytes wait in the port's driver queue.
    bool WaitUntilQueued(DWORD count) {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (ClearCommError(DeviceLink().Handle(), &errors, &status) && status.cbInQue >= count) {
                return true;
            }
            if (ElapsedMs(start) > 3000) return false;
            Sleep(5);
        }
    }
    void TearDown() override { CloseDevicePort(); }
    CallsOverride<CommCalls> comm;
};

}  // namespace

TEST_F(DeviceQuery, SnapshotAppliesTheRecordTheDeviceSends) {
    SimDevice device("fw=1.3.0 app=1 hid_cfg=1");
    Open(device);
    std::wstring error;
    ASSERT_TRUE(RequestTelemetrySnapshot(error)) << Narrow(error);
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.3.0");
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_TRUE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
    EXPECT_EQ(shared.device.hidCtrlLive, 1);
    EXPECT_EQ(shared.device.hidCtrlPending, 0);
    EXPECT_EQ(device.Received(), "telemetry.once\n");
}

TEST_F(DeviceQuery, SnapshotAcceptsABareRecordAndReadsPastOtherLines) {
    SimDevice device("mute=1");
    Open(device);
    // Lines before the record: noise, and a HID record, which a snapshot applies.
    Responder answer(device, "telemetry.once\n",
                     "garbage \x01\x02\r\nHID|op=control;ok=1;enabled=1;live=1;pending_reboot=0\r\nTEL|\r\n");
    std::wstring error;
    ASSERT_TRUE(RequestTelemetrySnapshot(error)) << Narrow(error);
    EXPECT_TRUE(answer.answered());
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_FALSE(shared.device.telemetryValid);
    EXPECT_EQ(shared.device.currentVersion, "");
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
}

TEST_F(DeviceQuery, SnapshotIsSatisfiedByARecordAlreadyWaiting) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("TEL|fw=0.9.0;app=0\n");
    std::wstring error;
    ASSERT_TRUE(RequestTelemetrySnapshot(error)) << Narrow(error);
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "0.9.0");
}

TEST_F(DeviceQuery, SnapshotToleratesALateAnswerAndOtherSpellings) {
    SimDevice device("fw=2.1.0 app=1 reply_delay_ms=1500 eol=lf keys=upper garbage=1");
    Open(device);
    std::wstring error;
    ASSERT_TRUE(RequestTelemetrySnapshot(error)) << Narrow(error);
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "2.1.0");
    EXPECT_TRUE(TakeSharedSnapshot().device.macroModeOn);
}

TEST_F(DeviceQuery, SnapshotWithNoAnswerTimesOutAfterThreeAndAHalfSeconds) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    std::wstring error;
    const ULONGLONG start = Clock().tickCount();
    EXPECT_FALSE(RequestTelemetrySnapshot(error));
    const ULONGLONG took = Clock().tickCount() - start;
    EXPECT_EQ(error, L"等待设备响应超时");
    EXPECT_GE(took, kSnapshotTimeoutMs);
    EXPECT_LT(took, kSnapshotTimeoutMs + 1000);
    EXPECT_TRUE(TakeSharedSnapshot().connected);
}

TEST_F(DeviceQuery, QueriesWithoutAPortOrWithAFailedWriteSaySo) {
    std::wstring error;
    std::string version;
    EXPECT_FALSE(RequestTelemetrySnapshot(error));
    EXPECT_EQ(error, L"串口未连接");
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    EXPECT_EQ(error, L"串口未连接");

    SimDevice device;
    Open(device);
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    EXPECT_FALSE(RequestTelemetrySnapshot(error));
    EXPECT_EQ(error, L"发送 telemetry.once 失败");
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    EXPECT_EQ(error, L"发送 box.info 失败");

    // The first write goes through, the second fails.
    static int writes;
    writes = 0;
    comm->writeFile = [](HANDLE port, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
        if (++writes > 1) return FALSE;
        return WriteFile(port, data, size, written, nullptr);
    };
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    EXPECT_EQ(error, L"发送 telemetry.once 失败");
}

TEST_F(DeviceQuery, VersionComesFromTheTelemetryRecordAfterBoxInfo) {
    SimDevice device("fw=1.3.0 app=0");
    Open(device);
    std::string version;
    std::wstring error;
    ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
    EXPECT_EQ(version, "1.3.0");
    EXPECT_EQ(device.Received(), "box.info\ntelemetry.once\n");
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.3.0");
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_FALSE(shared.device.macroModeOn);
}

TEST_F(DeviceQuery, VersionInUpperCaseOrColonKeysIsAccepted) {
    for (const char* keys : {"keys=upper", "keys=colon"}) {
        SCOPED_TRACE(keys);
        SimDevice device(std::string("fw=1.3.0 ") + keys);
        Open(device);
        std::string version;
        std::wstring error;
        ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
        EXPECT_EQ(version, "1.3.0");
        CloseDevicePort();
    }
}

TEST_F(DeviceQuery, AStoredVersionNeverAnswersForTheDevice) {
    // After a firmware update the old version is still stored; the box.info
    // lines must not end the query with it.
    SimDevice device("fw=2.0.0");
    Open(device);
    StoreVersion("1.2.0");
    std::string version;
    std::wstring error;
    ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
    EXPECT_EQ(version, "2.0.0");
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "2.0.0");
}

TEST_F(DeviceQuery, AStoredVersionDoesNotEndAQueryThatGetsNoVersion) {
    SimDevice device("mute=1");
    Open(device);
    StoreVersion("1.2.0");
    Responder answer(device, "telemetry.once\n", "NORVA1 box\r\nTEL|app=1\r\nTEL|fw=\r\n");
    ShortenedWaits waits(4);
    std::string version;
    std::wstring error;
    const ULONGLONG start = Clock().tickCount();
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    const ULONGLONG took = Clock().tickCount() - start;
    EXPECT_EQ(error, L"读取固件版本超时");
    EXPECT_GE(took, kBoxInfoPauseMs + kVersionTimeoutMs);
    EXPECT_LT(took, kBoxInfoPauseMs + kVersionTimeoutMs + 1000);
    EXPECT_TRUE(answer.answered());
    EXPECT_TRUE(TakeSharedSnapshot().device.macroModeOn);  // the records were still applied
}

// The version is the fw value as the record parser reads it: a key, not the
// end of a longer one, and of two fw items the last (an empty last one: none).
TEST_F(DeviceQuery, VersionIsTheFwValueOfTheRecord) {
    SimDevice device("mute=1");
    Open(device);
    Responder answer(device, "telemetry.once\n", "TEL|fw=1.0;fw=\r\nTEL|xfw=9;fw=1.0;fw=1.2.0\r\n");
    std::string version;
    std::wstring error;
    ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
    EXPECT_EQ(version, "1.2.0");
}

TEST_F(DeviceQuery, VersionReadDropsWhatWasWaitingBeforeIt) {
    SimDevice device("fw=3.0.0");
    Open(device);
    device.Send("TEL|fw=0.0.1\r\n");
    ASSERT_TRUE(WaitUntilQueued(14));  // the stale line waits in the driver
    std::string version;
    std::wstring error;
    ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
    EXPECT_EQ(version, "3.0.0");
}

TEST_F(DeviceQuery, AHidRecordDuringAVersionReadLeavesTheHidStatusAlone) {
    SimDevice device("mute=1");
    Open(device);
    Responder answer(device, "telemetry.once\n",
                     "HID|op=control;ok=1;enabled=1;live=1;pending_reboot=1\r\nTEL|fw=1.0.0\r\n");
    std::string version;
    std::wstring error;
    ASSERT_TRUE(ReadFirmwareVersion(version, error)) << Narrow(error);
    EXPECT_EQ(TakeSharedSnapshot().device.hidCtrlCfg, -1);
}

TEST_F(DeviceQuery, VersionReadWithNoAnswerTimesOut) {
    SimDevice device("mute=1");
    Open(device);
    ShortenedWaits waits(4);
    std::string version = "unchanged";
    std::wstring error;
    const ULONGLONG start = Clock().tickCount();
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    const ULONGLONG took = Clock().tickCount() - start;
    EXPECT_EQ(error, L"读取固件版本超时");
    EXPECT_GE(took, kBoxInfoPauseMs + kVersionTimeoutMs);
    EXPECT_LT(took, kBoxInfoPauseMs + kVersionTimeoutMs + 1000);
    EXPECT_TRUE(TakeSharedSnapshot().connected);
}

TEST_F(DeviceQuery, APortErrorDuringAVersionReadGivesItsText) {
    SimDevice device("mute=1");
    Open(device);
    comm->clearCommError = [](HANDLE, LPDWORD, LPCOMSTAT) -> BOOL { return FALSE; };
    std::string version;
    std::wstring error;
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    EXPECT_EQ(error, L"串口状态读取失败");
    // The answer must wait for the second request, not take the first one's.
    ASSERT_TRUE(WaitUntilReceived(device, "telemetry.once\n"));
    device.ClearReceived();
    comm->clearCommError = CommCalls::System().clearCommError;
    comm->readFile = [](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL { return FALSE; };
    Responder answer(device, "telemetry.once\n", "TEL|fw=1\r\n");
    EXPECT_FALSE(ReadFirmwareVersion(version, error));
    EXPECT_EQ(error, L"串口读取失败");
}
