#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "serial/comm_calls.h"
#include "serial/serial_link.h"
#include "tests/support/device_helpers.h"
#include "tests/support/sim_client.h"

// The serial link against a simulated device on a real pseudo-terminal mapped
// as a Wine COM port.

namespace {

using Lines = std::vector<std::string>;

bool IsOpen() { return TakeSharedSnapshot().connected(); }

// Collects every line the read loop hands over until `last` arrives.
bool CollectUntil(const std::string& last, Lines& lines, std::wstring& error, int timeoutMs = 3000) {
    return ReadLinesUntil(timeoutMs, [&](const std::string& line) {
        lines.push_back(line);
        return line == last;
    }, error);
}

class SerialLink : public ::testing::Test {
protected:
    void Open(SimDevice& device) {
        std::wstring error;
        ASSERT_TRUE(device.plugged());
        ASSERT_TRUE(OpenSerialPort(device.port(), error)) << std::string(error.begin(), error.end());
    }
    void TearDown() override { CloseSerialPort(); }
    CallsOverride<CommCalls> comm;
};

}  // namespace

TEST_F(SerialLink, OpensWithTheDeviceSettingsAndRemembersThePort) {
    SimDevice device("mute=1");
    Open(device);
    const SharedSnapshot shared = TakeSharedSnapshot();
    ASSERT_TRUE(shared.connected());
    EXPECT_EQ(shared.portName, device.port());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(shared.portHandle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(shared.portHandle, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 20u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 20u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 800u);
}

TEST_F(SerialLink, OpenAndCloseForgetTheDeviceStatusButNotTheVersion) {
    SimDevice device("mute=1");
    {
        SharedGuard guard(g_app.sharedLock);
        g_app.currentVersion = "1.2.0";
        g_app.telemetryValid = true;
        g_app.macroModeOn = true;
        g_app.hidCtrlCfg = g_app.hidCtrlLive = g_app.hidCtrlPending = 1;
    }
    Open(device);
    SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.2.0");
    EXPECT_FALSE(shared.device.telemetryValid);
    EXPECT_FALSE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, -1);
    EXPECT_EQ(shared.device.hidCtrlLive, -1);
    EXPECT_EQ(shared.device.hidCtrlPending, -1);

    {
        SharedGuard guard(g_app.sharedLock);
        g_app.telemetryValid = true;
        g_app.hidCtrlCfg = 0;
    }
    CloseSerialPort();
    shared = TakeSharedSnapshot();
    EXPECT_FALSE(shared.connected());
    EXPECT_TRUE(shared.portName.empty());
    EXPECT_EQ(shared.device.currentVersion, "1.2.0");
    EXPECT_FALSE(shared.device.telemetryValid);
    EXPECT_EQ(shared.device.hidCtrlCfg, -1);
}

TEST_F(SerialLink, APortThatDoesNotExistFailsToOpen) {
    std::wstring error;
    EXPECT_FALSE(OpenSerialPort(L"COM249", error));
    EXPECT_EQ(error, L"打开串口失败");
    EXPECT_FALSE(IsOpen());
}

TEST_F(SerialLink, ASecondOpenClosesTheFirstEvenWhenItFails) {
    SimDevice device("mute=1");
    Open(device);
    const HANDLE first = TakeSharedSnapshot().portHandle;

    static std::vector<HANDLE> closed;
    closed.clear();
    comm->closeHandle = [](HANDLE handle) -> BOOL {
        closed.push_back(handle);
        return CloseHandle(handle);
    };
    std::wstring error;
    EXPECT_FALSE(OpenSerialPort(L"COM249", error));
    EXPECT_EQ(error, L"打开串口失败");
    EXPECT_EQ(closed, std::vector<HANDLE>{first});
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_FALSE(shared.connected());
    EXPECT_TRUE(shared.portName.empty());
    // The device's port is free again.
    Open(device);
}

TEST_F(SerialLink, FailingToReadOrWriteTheLineSettingsClosesTheNewHandle) {
    SimDevice device("mute=1");
    static int closes;
    closes = 0;
    comm->closeHandle = [](HANDLE handle) -> BOOL {
        ++closes;
        return CloseHandle(handle);
    };
    std::wstring error;

    comm->getCommState = [](HANDLE, LPDCB) -> BOOL { return FALSE; };
    EXPECT_FALSE(OpenSerialPort(device.port(), error));
    EXPECT_EQ(error, L"读取串口参数失败");
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(IsOpen());

    comm->getCommState = CommCalls::System().getCommState;
    comm->setCommState = [](HANDLE, LPDCB) -> BOOL { return FALSE; };
    EXPECT_FALSE(OpenSerialPort(device.port(), error));
    EXPECT_EQ(error, L"设置串口参数失败");
    EXPECT_EQ(closes, 2);
    EXPECT_FALSE(IsOpen());
}

TEST_F(SerialLink, ACommandGoesOutAsItsBytesAndOneLineFeed) {
    SimDevice device("mute=1");
    Open(device);
    ASSERT_TRUE(WriteCommandLine("telemetry.once"));
    ASSERT_TRUE(WaitUntilReceived(device, "telemetry.once\n"));
    EXPECT_EQ(device.Received(), "telemetry.once\n");  // 15 bytes, no CR
}

TEST_F(SerialLink, WritingWithoutAPortOrWithAShortWriteFails) {
    EXPECT_FALSE(WriteCommandLine("telemetry.once"));

    SimDevice device("mute=1");
    Open(device);
    comm->writeFile = [](HANDLE port, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
        // What the 800 ms write time-out leaves when the device stops reading.
        return WriteFile(port, data, size - 1, written, nullptr);
    };
    EXPECT_FALSE(WriteCommandLine("app.mode(1)"));
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    EXPECT_FALSE(WriteCommandLine("app.mode(1)"));
}

TEST_F(SerialLink, LinesEndAtLineFeedsWithOrWithoutCarriageReturn) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("one\r\ntwo\nthree\rstill three\n  \t\r\nlast\n");
    Lines lines;
    std::wstring error;
    ASSERT_TRUE(CollectUntil("last", lines, error));
    EXPECT_EQ(lines, (Lines{"one", "two", "three\rstill three", "", "last"}));
}

TEST_F(SerialLink, TrimsBlanksAndControlBytesButKeepsUtf8) {
    SimDevice device("mute=1");
    Open(device);
    device.Send(std::string("\x01\x02 \t\xe7\x89\x88\xe6\x9c\xac v1 \xe2\x9c\x93\x00\x1f\r\nend\n", 26));
    Lines lines;
    std::wstring error;
    ASSERT_TRUE(CollectUntil("end", lines, error));
    EXPECT_EQ(lines, (Lines{"\xe7\x89\x88\xe6\x9c\xac v1 \xe2\x9c\x93", "end"}));
}

TEST_F(SerialLink, TheFirstAcceptedLineEndsTheCallAndDropsTheLinesBehindIt) {
    SimDevice device("mute=1");
    Open(device);
    // One write, so the lines arrive in one chunk.
    device.Send("a\nwanted\nbehind-1\nbehind-2\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(CollectUntil("wanted", seen, error));
    EXPECT_EQ(seen, (Lines{"a", "wanted"}));

    // A later call does not see the dropped lines, only what comes next.
    device.Send("later\n");
    seen.clear();
    ASSERT_TRUE(CollectUntil("later", seen, error));
    EXPECT_EQ(seen, Lines{"later"});
}

TEST_F(SerialLink, ALineSplitAcrossReadsIsJoined) {
    SimDevice device("split_ms=150");
    Open(device);
    ASSERT_TRUE(WriteCommandLine("telemetry.once"));
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(ReadLinesUntil(3000, [&](const std::string& line) {
        seen.push_back(line);
        return line.rfind("TEL|", 0) == 0;
    }, error));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "TEL|fw=1.0.0;app=0;hid_ctrl_cfg=0;hid_ctrl_live=0;hid_ctrl_pending=0");
}

TEST_F(SerialLink, ALongBurstWithoutLineFeedsDoesNotHideTheLineAfterIt) {
    SimDevice device("mute=1");
    Open(device);
    device.Send(std::string(20000, 'x'));
    device.Send("\nTEL|fw=2.0.0\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(ReadLinesUntil(5000, [&](const std::string& line) {
        seen.push_back(line);
        return line.rfind("TEL|", 0) == 0;
    }, error));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::string(20000, 'x'));
    EXPECT_EQ(TakeSharedSnapshot().device.currentVersion, "2.0.0");
}

TEST_F(SerialLink, EveryLineUpdatesTheDeviceStatusEvenWhenNotAccepted) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("TEL|fw=1.4.0;app=1;hid_ctrl_cfg=1\r\nHID|op=control;ok=1;enabled=1;live=0;pending_reboot=1\r\nend\r\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(CollectUntil("end", seen, error));
    const SharedSnapshot shared = TakeSharedSnapshot();
    EXPECT_EQ(shared.device.currentVersion, "1.4.0");
    EXPECT_TRUE(shared.device.telemetryValid);
    EXPECT_TRUE(shared.device.macroModeOn);
    EXPECT_EQ(shared.device.hidCtrlCfg, 1);
    EXPECT_EQ(shared.device.hidCtrlLive, 0);
    EXPECT_EQ(shared.device.hidCtrlPending, 1);
}

TEST_F(SerialLink, NothingAcceptedWithinTheTimeOutLeavesThePortOpen) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("noise\n");
    std::wstring error;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ReadLinesUntil(3500, [](const std::string&) { return false; }, error));
    const ULONGLONG elapsed = ElapsedMs(start);
    EXPECT_EQ(error, L"等待设备响应超时");
    EXPECT_GE(elapsed, 3500u);
    EXPECT_LT(elapsed, 4500u);
    EXPECT_TRUE(IsOpen());
}

TEST_F(SerialLink, ReadingWithoutAPortSaysSo) {
    std::wstring error;
    EXPECT_FALSE(ReadLinesUntil(1000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口未连接");
}

TEST_F(SerialLink, AFailingStatusQueryOrReadEndsTheReadWithItsText) {
    SimDevice device("mute=1");
    Open(device);
    std::wstring error;
    comm->clearCommError = [](HANDLE, LPDWORD, LPCOMSTAT) -> BOOL { return FALSE; };
    EXPECT_FALSE(ReadLinesUntil(3000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口状态读取失败");
    EXPECT_TRUE(IsOpen());

    comm->clearCommError = CommCalls::System().clearCommError;
    comm->readFile = [](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL { return FALSE; };
    device.Send("x\n");
    EXPECT_FALSE(ReadLinesUntil(3000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口读取失败");
    EXPECT_TRUE(IsOpen());
}

TEST_F(SerialLink, AnEmptyReadIsRetriedUntilBytesCome) {
    SimDevice device("mute=1");
    Open(device);
    static int emptyReads;
    emptyReads = 0;
    comm->readFile = [](HANDLE port, LPVOID data, DWORD size, LPDWORD got, LPOVERLAPPED) -> BOOL {
        if (emptyReads < 3) {
            ++emptyReads;
            *got = 0;
            return TRUE;
        }
        return ReadFile(port, data, size, got, nullptr);
    };
    device.Send("hello\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(CollectUntil("hello", seen, error));
    EXPECT_EQ(emptyReads, 3);
}

TEST_F(SerialLink, ADeviceUnpluggedWhileOpenEndsTheReadInsteadOfHanging) {
    SimDevice device("mute=1");
    Open(device);
    device.Unplug();
    std::wstring error;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ReadLinesUntil(3000, [](const std::string&) { return true; }, error));
    EXPECT_TRUE(error == L"串口状态读取失败" || error == L"串口读取失败" || error == L"等待设备响应超时")
        << std::string(error.begin(), error.end());
    EXPECT_LT(ElapsedMs(start), 4000u);
    EXPECT_FALSE(WriteCommandLine("telemetry.once"));
}
