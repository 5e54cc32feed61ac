#include "device/tasks.h"

#include <windows.h>

#include "app/app_state.h"
#include "base/ascii.h"
#include "app/messages.h"
#include "base/utf8.h"
#include "app/worker.h"
#include "device/queries.h"
#include "device/records.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"

namespace {

constexpr DWORD kMacroSettleMs = 120;
constexpr int kHidReplyTimeoutMs = 5000;
constexpr DWORD kHidReenumerateMs = 900;

bool PortOpen() { return OpenPortHandle() != INVALID_HANDLE_VALUE; }

}  // namespace

void DoReadCurrentVersion() {
    BeginTask();
    PostStatus(L"正在读取当前固件版本...");
    PostProgress(0);

    std::string version;
    std::wstring error;
    if (!ReadFirmwareVersion(version, error)) {
        PostStatus(L"读取当前版本失败: " + error);
        return;
    }
    {
        SharedGuard guard(g_app.sharedLock);
        g_app.currentVersion = version;
    }
    PostStatus(L"当前固件版本: " + Utf8ToWide(version));
    PostRefresh();
}

void DoSyncDeviceState() {
    BeginTask();
    PostStatus(L"正在同步设备状态...");

    std::wstring error;
    if (!RequestTelemetrySnapshot(error)) {
        PostStatus(L"同步设备状态失败: " + error);
        return;
    }
    PostStatus(L"设备状态已同步。");
    PostRefresh();
}

void DoSetMacroMode(bool on) {
    BeginTask();
    PostStatus(on ? L"正在开启宏模式..." : L"正在关闭宏模式...");
    if (!PortOpen()) {
        PostStatus(L"设备未连接。");
        return;
    }
    if (!WriteCommandLine(on ? "app.mode(1)" : "app.mode(0)")) {
        PostStatus(L"发送 app.mode 命令失败。");
        return;
    }
    // The device's direct answer is not read: the telemetry record that follows is what counts.
    Sleep(kMacroSettleMs);

    std::wstring error;
    if (!RequestTelemetrySnapshot(error)) {
        PostStatus(L"宏模式切换后状态读取失败: " + error);
        return;
    }
    {
        // The device took the command: the mode is what was asked for, whatever
        // the record said about `app` (it may have been sent before the switch).
        SharedGuard guard(g_app.sharedLock);
        g_app.macroModeOn = on;
        g_app.telemetryValid = true;
    }
    PostStatus(on ? L"宏模式已开启。" : L"宏模式已关闭。");
    PostRefresh();
}

void DoToggleHidControl(bool enable) {
    BeginTask();
    PostStatus(enable ? L"正在开启实验性 HID 接口..." : L"正在关闭实验性 HID 接口...");
    if (!PortOpen()) {
        PostStatus(L"设备未连接。");
        return;
    }
    if (!WriteCommandLine(enable ? "hid.control(1)" : "hid.control(0)")) {
        PostStatus(L"发送 hid.control 命令失败。");
        return;
    }

    bool unsupported = false;
    bool replied = false;
    bool ok = false;
    std::wstring error;
    const bool read = ReadLinesUntil(kHidReplyTimeoutMs, [&](const std::string& line) {
        // Older firmware answers "ERR unknown command: hid.control(1)", in whatever case.
        static const std::string kUnknown = "unknown command: hid.control";
        const std::string lower = AsciiLower(line);
        if (lower.size() >= kUnknown.size() && lower.find(kUnknown) != std::string::npos) {
            unsupported = true;
            return true;
        }
        // The read loop has already applied the reply's fields to the shared
        // state; here only its flags matter.
        DeviceStatus scratch;
        bool isControlReply = false;
        bool replyOk = false;
        ParseHidRecord(line, isControlReply, replyOk, scratch);
        if (!isControlReply) return false;  // telemetry, other HID operations, anything else
        replied = true;
        ok = replyOk;
        return true;
    }, error);

    if (!read) {
        PostStatus(L"HID 切换失败: " + error);
    } else if (unsupported) {
        PostStatus(L"当前固件不支持实验性 HID 接口开关，请先更新设备固件。");
    } else if (replied && ok) {
        // The device re-enumerates its USB interfaces after the switch; give it a
        // moment, then read where it stands (a failure here changes nothing).
        Sleep(kHidReenumerateMs);
        std::wstring ignored;
        RequestTelemetrySnapshot(ignored);
        PostStatus(enable ? L"HID 控制接口已启用，设备正在重枚举。" : L"HID 控制接口已关闭，设备正在重枚举。");
        PostRefresh();
    } else {
        PostStatus(L"HID 操作失败，请稍后重试。");
    }
}
