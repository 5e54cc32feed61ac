#include "device/tasks.h"

#include "base/ascii.h"
#include "base/utf8.h"
#include "base/wait.h"
#include "device/device_state.h"
#include "device/port_return.h"
#include "device/queries.h"
#include "device/waits.h"
#include "serial/port_list.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"
#include "task/messages.h"

namespace {

// Both switches begin alike: the opening text, then the command, which needs an
// open port and a whole write; false when the switch has ended with its text.
// `portsBefore`, when given, receives the ports listed just before the command.
bool StartSwitch(const wchar_t* openingText, const char* command, const wchar_t* sendFailedText,
                 PortNames* portsBefore = nullptr) {
    BeginTask();
    PostStatus(openingText);
    if (!DeviceLink().IsOpen()) {
        PostStatus(L"设备未连接。");
        return false;
    }
    if (portsBefore != nullptr) *portsBefore = EnumerateComPorts();
    if (!WriteCommandLine(DeviceLink(), command)) {
        PostStatus(sendFailedText);
        return false;
    }
    return true;
}

enum class HidAnswer {
    Unsupported,  // older firmware that does not know the command
    Accepted,     // a control reply with ok=1
    Refused,      // a control reply with any other ok
};

// Older firmware answers "ERR unknown command: hid.control(1)", in whatever case.
bool IsUnknownHidCommand(const std::string& line) {
    static const std::string kUnknown = "unknown command: hid.control";
    return AsciiLower(line).find(kUnknown) != std::string::npos;
}

// Waits for the device's answer to "hid.control(n)". Telemetry, HID records of
// other operations and any other text are passed over (their records applied).
bool AwaitHidAnswer(HidAnswer& answer, std::wstring& error) {
    return ReadLinesUntil(DeviceLink(), kHidReplyTimeoutMs,
                          ApplyingRecords(AppliedRecords::TelemetryAndHid,
                                          [&](const std::string& line, const ReplyRecord& record) {
                                              if (IsUnknownHidCommand(line)) {
                                                  answer = HidAnswer::Unsupported;
                                                  return true;
                                              }
                                              if (!record.isControlReply) return false;
                                              answer = record.ok ? HidAnswer::Accepted : HidAnswer::Refused;
                                              return true;
                                          }),
                          error);
}

// The device drops off the USB bus and comes back with its new interfaces;
// Windows removes its port and makes it again, and the old handle is dead for
// good. Once the port has gone, the link lets go of it (the device was not
// unplugged) and the device is followed until it answers: under its old name,
// or under a name new since the switch. It is back only once it has answered,
// and what the window then shows is that answer.
void FollowReenumeration(const PortNames& portsBefore) {
    if (!AwaitOpenPortGone(kPortGoneWaitMs, kPortGonePollMs)) return;  // it stayed: nothing to follow
    PortSearch search;
    search.savedPortName = DeviceLink().Name();
    search.portsBefore = portsBefore;
    search.waitMs = kReturnWaitMs;
    search.pollMs = kReturnPollMs;
    CloseDevicePort();
    PostRefresh();
    const PortReturn back = AwaitAnsweringDevice(search, [] {
        std::wstring error;
        return RequestTelemetrySnapshot(error);
    }, kReturnAskAgainMs);
    if (!back.answered) {
        // Left as after an unplug: nothing known about a device that is not there.
        ForgetDeviceVersion();
        PostProgress(0);
        PostRefresh();
        PostStatus(L"设备重枚举后未能自动重连，请手动重新连接。");
        return;
    }
    PostRefresh();
    PostStatus(L"设备重枚举完成，已重新连接。");
}

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
    StoreDeviceVersion(version);
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
    if (!StartSwitch(on ? L"正在开启宏模式..." : L"正在关闭宏模式...", on ? "app.mode(1)" : "app.mode(0)",
                     L"发送 app.mode 命令失败。")) {
        return;
    }
    // The device's direct answer is not read: the telemetry record that follows is what counts.
    Pause(kMacroSettleMs);

    std::wstring error;
    if (!RequestTelemetrySnapshot(error)) {
        PostStatus(L"宏模式切换后状态读取失败: " + error);
        return;
    }
    // The device took the command: the mode is what was asked for, whatever
    // the record said about `app` (it may have been sent before the switch).
    StoreMacroMode(on);
    PostStatus(on ? L"宏模式已开启。" : L"宏模式已关闭。");
    PostRefresh();
}

void DoToggleHidControl(bool enable) {
    PortNames portsBefore;
    if (!StartSwitch(enable ? L"正在开启实验性 HID 接口..." : L"正在关闭实验性 HID 接口...",
                     enable ? "hid.control(1)" : "hid.control(0)", L"发送 hid.control 命令失败。", &portsBefore)) {
        return;
    }

    HidAnswer answer = HidAnswer::Refused;
    std::wstring error;
    if (!AwaitHidAnswer(answer, error)) {
        PostStatus(L"HID 切换失败: " + error);
    } else if (answer == HidAnswer::Unsupported) {
        PostStatus(L"当前固件不支持实验性 HID 接口开关，请先更新设备固件。");
    } else if (answer == HidAnswer::Accepted) {
        // The device re-enumerates its USB interfaces after the switch; give it a
        // moment, then read where it stands (a failure here changes nothing).
        Pause(kHidReenumerateMs);
        std::wstring ignored;
        RequestTelemetrySnapshot(ignored);
        PostStatus(enable ? L"HID 控制接口已启用，设备正在重枚举。" : L"HID 控制接口已关闭，设备正在重枚举。");
        PostRefresh();
        FollowReenumeration(portsBefore);
    } else {
        PostStatus(L"HID 操作失败，请稍后重试。");
    }
}
