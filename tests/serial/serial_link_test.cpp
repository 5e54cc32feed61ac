#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock_calls.h"
#include "base/trace.h"
#include "serial/comm_calls.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"
#include "tests/support/device_helpers.h"
#include "tests/support/shortened_waits.h"
#include "tests/support/sim_client.h"

// The serial link against a simulated device on a real pseudo-terminal mapped
// as a Wine COM port.

namespace {

using Lines = std::vector<std::string>;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Collects every line the read loop hands over until `last` arrives.
bool CollectUntil(const SerialLink& link, const std::string& last, Lines& lines, std::wstring& error,
                  int timeoutMs = 3000) {
    return ReadLinesUntil(link, timeoutMs, [&](const std::string& line) {
        lines.push_back(line);
        return line == last;
    }, error);
}

class SerialLinkTest : public ::testing::Test {
protected:
    void Open(SimDevice& device) {
        std::wstring error;
        ASSERT_TRUE(device.plugged());
        ASSERT_TRUE(OpenSerialPort(link, device.port(), error)) << std::string(error.begin(), error.end());
    }
    bool IsOpen() const { return link.IsOpen(); }
    void TearDown() override { CloseSerialPort(link); }
    SerialLink link;
    CallsOverride<CommCalls> comm;
};

}  // namespace

TEST_F(SerialLinkTest, OpensWithTheDeviceSettingsAndRemembersThePort) {
    SimDevice device("mute=1");
    Open(device);
    ASSERT_TRUE(link.IsOpen());
    EXPECT_EQ(link.Name(), device.port());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(link.Handle(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(link.Handle(), &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 20u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 20u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 800u);
}

TEST_F(SerialLinkTest, APortThatDoesNotExistFailsToOpen) {
    std::wstring error;
    EXPECT_FALSE(OpenSerialPort(link, L"COM249", error));
    EXPECT_EQ(error, L"打开串口失败");
    EXPECT_FALSE(IsOpen());
}

// A port another program holds says so; any other failure is "打开串口失败". Whoever
// debugs sees the system's code and text in both cases.
TEST_F(SerialLinkTest, AFailedOpenSaysWhenThePortIsHeldAndTracesTheSystemsReason) {
    static std::vector<std::wstring> traced;
    traced.clear();
    CallsOverride<DebugCalls> debug;
    debug->outputDebugString = [](LPCWSTR text) { traced.emplace_back(text); };
    // What Windows answers when another program holds the port (the driver's choice of the two).
    static DWORD refusal;
    comm->createFile = [](LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
        SetLastError(refusal);
        return INVALID_HANDLE_VALUE;
    };
    std::wstring error;
    refusal = ERROR_SHARING_VIOLATION;
    EXPECT_FALSE(OpenSerialPort(link, L"COM7", error));
    EXPECT_EQ(error, L"打开串口失败（串口被其他程序占用）");
    traced.clear();
    refusal = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(OpenSerialPort(link, L"COM7", error));
    EXPECT_EQ(error, L"打开串口失败（串口被其他程序占用）");
    comm.Restore();
    EXPECT_FALSE(OpenSerialPort(link, L"COM249", error));
    EXPECT_EQ(error, L"打开串口失败");
    ASSERT_EQ(traced.size(), 2u);
    const std::wstring busy = L"NORVA1: CreateFileW \\\\.\\COM7: error 5: ";
    const std::wstring missing = L"NORVA1: CreateFileW \\\\.\\COM249: error 2: ";
    EXPECT_EQ(traced[0].compare(0, busy.size(), busy), 0) << Narrow(traced[0]);
    EXPECT_EQ(traced[1].compare(0, missing.size(), missing), 0) << Narrow(traced[1]);
    // The system's own words follow the code.
    EXPECT_GT(traced[1].size(), missing.size() + 1);
}

TEST_F(SerialLinkTest, ASecondOpenClosesTheFirstEvenWhenItFails) {
    SimDevice device("mute=1");
    Open(device);
    const HANDLE first = link.Handle();

    static std::vector<HANDLE> closed;
    closed.clear();
    comm->closeHandle = [](HANDLE handle) -> BOOL {
        closed.push_back(handle);
        return CloseHandle(handle);
    };
    std::wstring error;
    EXPECT_FALSE(OpenSerialPort(link, L"COM249", error));
    EXPECT_EQ(error, L"打开串口失败");
    EXPECT_EQ(closed, std::vector<HANDLE>{first});
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(link.Name().empty());
    // The device's port is free again.
    Open(device);
}

// A port keeps what the last program set on it. Whatever the driver reports,
// the settings that reach it are the device's, with nothing that could change
// the bytes or hold up a write.
TEST_F(SerialLinkTest, EveryLineSettingThatCouldChangeBytesOrStallWritesIsSet) {
    SimDevice device("mute=1");
    static DCB applied;
    applied = DCB{};
    comm->getCommState = [](HANDLE, LPDCB dcb) -> BOOL {
        // What a terminal program with hardware and software flow control might leave.
        *dcb = DCB{};
        dcb->DCBlength = sizeof *dcb;
        dcb->BaudRate = 9600;
        dcb->ByteSize = 7;
        dcb->Parity = EVENPARITY;
        dcb->StopBits = TWOSTOPBITS;
        dcb->fParity = 1;
        dcb->fOutxCtsFlow = 1;
        dcb->fOutxDsrFlow = 1;
        dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
        dcb->fDsrSensitivity = 1;
        dcb->fTXContinueOnXoff = 0;
        dcb->fOutX = 1;
        dcb->fInX = 1;
        dcb->fErrorChar = 1;
        dcb->fNull = 1;
        dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
        dcb->fAbortOnError = 1;
        dcb->XonChar = 0x11;
        dcb->XoffChar = 0x13;
        return TRUE;
    };
    comm->setCommState = [](HANDLE port, LPDCB dcb) -> BOOL {
        applied = *dcb;
        return SetCommState(port, dcb);
    };
    Open(device);
    EXPECT_EQ(applied.BaudRate, 115200u);
    EXPECT_EQ(applied.ByteSize, 8);
    EXPECT_EQ(applied.Parity, NOPARITY);
    EXPECT_EQ(applied.StopBits, ONESTOPBIT);
    EXPECT_EQ(applied.fBinary, 1u);
    EXPECT_EQ(applied.fParity, 0u);
    EXPECT_EQ(applied.fOutxCtsFlow, 0u);
    EXPECT_EQ(applied.fOutxDsrFlow, 0u);
    EXPECT_EQ(applied.fDsrSensitivity, 0u);
    EXPECT_EQ(applied.fOutX, 0u);
    EXPECT_EQ(applied.fInX, 0u);
    EXPECT_EQ(applied.fErrorChar, 0u);
    EXPECT_EQ(applied.fNull, 0u);
    EXPECT_EQ(applied.fAbortOnError, 0u);
    EXPECT_EQ(applied.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(applied.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

TEST_F(SerialLinkTest, FailingToReadOrWriteTheLineSettingsClosesTheNewHandle) {
    SimDevice device("mute=1");
    static int closes;
    closes = 0;
    comm->closeHandle = [](HANDLE handle) -> BOOL {
        ++closes;
        return CloseHandle(handle);
    };
    std::wstring error;

    comm->getCommState = [](HANDLE, LPDCB) -> BOOL { return FALSE; };
    EXPECT_FALSE(OpenSerialPort(link, device.port(), error));
    EXPECT_EQ(error, L"读取串口参数失败");
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(IsOpen());

    comm->getCommState = CommCalls::System().getCommState;
    comm->setCommState = [](HANDLE, LPDCB) -> BOOL { return FALSE; };
    EXPECT_FALSE(OpenSerialPort(link, device.port(), error));
    EXPECT_EQ(error, L"设置串口参数失败");
    EXPECT_EQ(closes, 2);
    EXPECT_FALSE(IsOpen());
}

TEST_F(SerialLinkTest, ACommandGoesOutAsItsBytesAndOneLineFeed) {
    SimDevice device("mute=1");
    Open(device);
    ASSERT_TRUE(WriteCommandLine(link, "telemetry.once"));
    ASSERT_TRUE(WaitUntilReceived(device, "telemetry.once\n"));
    EXPECT_EQ(device.Received(), "telemetry.once\n");  // 15 bytes, no CR
}

TEST_F(SerialLinkTest, WritingWithoutAPortOrWithAShortWriteFails) {
    EXPECT_FALSE(WriteCommandLine(link, "telemetry.once"));

    SimDevice device("mute=1");
    Open(device);
    comm->writeFile = [](HANDLE port, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
        // What the 800 ms write time-out leaves when the device stops reading.
        return WriteFile(port, data, size - 1, written, nullptr);
    };
    EXPECT_FALSE(WriteCommandLine(link, "app.mode(1)"));
    comm->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    EXPECT_FALSE(WriteCommandLine(link, "app.mode(1)"));
}

TEST_F(SerialLinkTest, LinesEndAtLineFeedsWithOrWithoutCarriageReturn) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("one\r\ntwo\nthree\rstill three\n  \t\r\nlast\n");
    Lines lines;
    std::wstring error;
    ASSERT_TRUE(CollectUntil(link, "last", lines, error));
    EXPECT_EQ(lines, (Lines{"one", "two", "three\rstill three", "", "last"}));
}

TEST_F(SerialLinkTest, TrimsBlanksAndControlBytesButKeepsUtf8) {
    SimDevice device("mute=1");
    Open(device);
    device.Send(std::string("\x01\x02 \t\xe7\x89\x88\xe6\x9c\xac v1 \xe2\x9c\x93\x00\x1f\r\nend\n", 26));
    Lines lines;
    std::wstring error;
    ASSERT_TRUE(CollectUntil(link, "end", lines, error));
    EXPECT_EQ(lines, (Lines{"\xe7\x89\x88\xe6\x9c\xac v1 \xe2\x9c\x93", "end"}));
}

TEST_F(SerialLinkTest, TheFirstAcceptedLineEndsTheCallAndDropsTheLinesBehindIt) {
    SimDevice device("mute=1");
    Open(device);
    // One write, so the lines arrive in one chunk.
    device.Send("a\nwanted\nbehind-1\nbehind-2\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(CollectUntil(link, "wanted", seen, error));
    EXPECT_EQ(seen, (Lines{"a", "wanted"}));

    // A later call does not see the dropped lines, only what comes next.
    device.Send("later\n");
    seen.clear();
    ASSERT_TRUE(CollectUntil(link, "later", seen, error));
    EXPECT_EQ(seen, Lines{"later"});
}

TEST_F(SerialLinkTest, ALineSplitAcrossReadsIsJoined) {
    SimDevice device("split_ms=150");
    Open(device);
    ASSERT_TRUE(WriteCommandLine(link, "telemetry.once"));
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(ReadLinesUntil(link, 3000, [&](const std::string& line) {
        seen.push_back(line);
        return line.rfind("TEL|", 0) == 0;
    }, error));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "TEL|fw=1.0.0;app=0;hid_ctrl_cfg=0;hid_ctrl_live=0;hid_ctrl_pending=0");
}

TEST_F(SerialLinkTest, ALongBurstWithoutLineFeedsDoesNotHideTheLineAfterIt) {
    SimDevice device("mute=1");
    Open(device);
    device.Send(std::string(20000, 'x'));
    device.Send("\nTEL|fw=2.0.0\n");
    Lines seen;
    std::wstring error;
    ASSERT_TRUE(ReadLinesUntil(link, 5000, [&](const std::string& line) {
        seen.push_back(line);
        return line.rfind("TEL|", 0) == 0;
    }, error));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::string(20000, 'x'));
    EXPECT_EQ(seen[1], "TEL|fw=2.0.0");
}

TEST_F(SerialLinkTest, NothingAcceptedWithinTheTimeOutLeavesThePortOpen) {
    SimDevice device("mute=1");
    Open(device);
    device.Send("noise\n");
    ShortenedWaits waits(4);
    std::wstring error;
    const ULONGLONG start = Clock().tickCount();
    EXPECT_FALSE(ReadLinesUntil(link, 3500, [](const std::string&) { return false; }, error));
    const ULONGLONG elapsed = Clock().tickCount() - start;
    EXPECT_EQ(error, L"等待设备响应超时");
    EXPECT_GE(elapsed, 3500u);
    EXPECT_LT(elapsed, 4500u);
    EXPECT_TRUE(IsOpen());
}

TEST_F(SerialLinkTest, ReadingWithoutAPortSaysSo) {
    std::wstring error;
    EXPECT_FALSE(ReadLinesUntil(link, 1000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口未连接");
}

TEST_F(SerialLinkTest, AFailingStatusQueryOrReadEndsTheReadWithItsText) {
    SimDevice device("mute=1");
    Open(device);
    std::wstring error;
    comm->clearCommError = [](HANDLE, LPDWORD, LPCOMSTAT) -> BOOL { return FALSE; };
    EXPECT_FALSE(ReadLinesUntil(link, 3000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口状态读取失败");
    EXPECT_TRUE(IsOpen());

    comm->clearCommError = CommCalls::System().clearCommError;
    comm->readFile = [](HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) -> BOOL { return FALSE; };
    device.Send("x\n");
    EXPECT_FALSE(ReadLinesUntil(link, 3000, [](const std::string&) { return true; }, error));
    EXPECT_EQ(error, L"串口读取失败");
    EXPECT_TRUE(IsOpen());
}

TEST_F(SerialLinkTest, AnEmptyReadIsRetriedUntilBytesCome) {
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
    ASSERT_TRUE(CollectUntil(link, "hello", seen, error));
    EXPECT_EQ(emptyReads, 3);
}

// A port whose device is gone fails the waiting-byte query at the first poll:
// the read ends with that text at once, not with a time-out after seconds.
TEST_F(SerialLinkTest, ADeviceUnpluggedWhileOpenEndsTheReadInsteadOfHanging) {
    SimDevice device("mute=1");
    Open(device);
    device.Unplug();
    std::wstring error;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ReadLinesUntil(link, 3000, [](const std::string&) { return true; }, error));
    EXPECT_LT(ElapsedMs(start), 1000u);
    EXPECT_EQ(error, L"串口状态读取失败");
    EXPECT_FALSE(WriteCommandLine(link, "telemetry.once"));
}
