#include "serial/serial_link.h"

#include <windows.h>

#include "app/app_state.h"
#include "device/records.h"
#include "serial/comm_calls.h"
#include "serial/reply_lines.h"

namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kBaudRate = 115200;

// Takes the port out of the shared state and forgets what was known about the
// device, except its version. Returns the handle for the caller to close.
HANDLE DetachPort() {
    SharedGuard guard(g_app.sharedLock);
    const HANDLE port = g_app.portHandle;
    g_app.portHandle = INVALID_HANDLE_VALUE;
    g_app.portName.clear();
    ResetLinkStatus(g_app);
    return port;
}

bool ConfigurePort(HANDLE port, std::wstring& error) {
    Comm().setupComm(port, kQueueSize, kQueueSize);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!Comm().getCommState(port, &dcb)) {
        error = L"读取串口参数失败";
        return false;
    }
    // Only these members change; flow control, parity checking, XON/XOFF and the
    // special characters stay as the driver reported them.
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // many USB CDC devices stay silent until the host raises DTR
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!Comm().setCommState(port, &dcb)) {
        error = L"设置串口参数失败";
        return false;
    }

    // Reads return what has arrived after 20 ms of quiet; a write may take up to
    // 800 ms before it gives up with a short count.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 20;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 800;
    Comm().setCommTimeouts(port, &timeouts);
    Comm().purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

}  // namespace

bool OpenSerialPort(const std::wstring& name, std::wstring& error) {
    // A failed attempt must leave no port open, even the one that was.
    CloseSerialPort();

    // "\\.\" lets COM10 and above open: without it only COM1..COM9 are known names.
    const std::wstring path = L"\\\\.\\" + name;
    const HANDLE port = Comm().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        error = L"打开串口失败";
        return false;
    }
    if (!ConfigurePort(port, error)) {
        Comm().closeHandle(port);
        return false;
    }

    SharedGuard guard(g_app.sharedLock);
    g_app.portHandle = port;
    g_app.portName = name;
    return true;
}

void CloseSerialPort() {
    const HANDLE port = DetachPort();
    if (port != INVALID_HANDLE_VALUE) Comm().closeHandle(port);
}

bool WriteCommandLine(const std::string& command) {
    const HANDLE port = OpenPortHandle();
    if (port == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = command + '\n';
    DWORD written = 0;
    if (!Comm().writeFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return false;
    }
    // The 800 ms write time-out ends a write to a device that stopped reading
    // with a short count: that is a failure too.
    return written == bytes.size();
}

bool ReadLinesUntil(int timeoutMs, const LinePredicate& accept, std::wstring& error) {
    const ReplyPoll result = PollReplyLines(timeoutMs, 18, [&](const std::string& line) {
        {
            // Every line passes the record parsers, so the device status follows
            // whatever records the device sends, wanted or not.
            SharedGuard guard(g_app.sharedLock);
            ParseTelemetryRecord(line, g_app);
            bool isControlReply = false;
            bool ok = false;
            ParseHidRecord(line, isControlReply, ok, g_app);
        }
        return accept(line);
    });
    return ReplyPollSucceeded(result, L"等待设备响应超时", error);
}
