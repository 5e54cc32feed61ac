#include "view/control_view.h"

namespace {
std::wstring HidStateText(bool connected, const DeviceStatus& d) {
    if (!connected) return L"未连接设备";
    if (d.hidCtrlCfg == -1) return L"读取中...";
    // A switch the device has accepted shows as pending until it re-enumerates, whatever it reports meanwhile.
    if (d.hidCtrlPending == 1) return L"等待重枚举";
    if (d.hidCtrlCfg == 1 && d.hidCtrlLive != 0) return L"已启用";
    if (d.hidCtrlCfg == 1) return L"等待接口就绪";
    return L"已关闭";
}

std::wstring VerdictText(const ControlInputs& in) {
    if (!in.latestKnown) return L"等待检查";
    return in.newer ? L"检测到新版本" : L"已是最新版本";
}
}  // namespace

ControlView DeriveControlView(const ControlInputs& in) {
    const bool ready = in.connected && !in.busy;
    ControlView v;
    v.refreshEnabled = !in.busy;
    v.comboEnabled = !in.connected && !in.busy;
    v.connectEnabled = !in.busy;
    v.readVersionEnabled = ready;
    v.checkLatestEnabled = ready;
    // A device already in its boot loader (no port) can be flashed from the
    // drive the window offers for it, and from no other.
    const bool flashableFromDrive = !in.connected && !in.busy && in.driveOffered;
    v.updateEnabled = (ready && in.newer) || flashableFromDrive;
    v.macroEnabled = ready && in.device.telemetryValid;
    v.hidEnabled = ready && in.device.hidCtrlCfg != -1;

    // -1 (not read yet) and 0 both show off; a disabled toggle keeps its knob where the state puts it.
    v.macroOn = in.device.macroModeOn;
    v.hidOn = in.device.hidCtrlCfg == 1;

    v.connectText = in.connected ? L"断开连接" : L"连接串口";
    v.connStateText = in.connected ? L"已连接" : L"未连接";
    v.portText = in.connected ? L"串口: " + in.portName : L"串口: --";
    v.currentVersionText = in.device.currentVersion.empty() ? L"--" : in.currentVersionText;
    v.latestVersionText = in.latestKnown ? in.latestVersionText : L"--";
    v.hidStateText = HidStateText(in.connected, in.device);
    v.verdictText = VerdictText(in);

    v.connStateHighlighted = in.connected;
    v.hidStateHighlighted = in.device.hidCtrlCfg == 1;
    v.verdictHighlighted = in.newer;
    return v;
}
