#include "app/refresh.h"

#include <string>

#include "app/app_state.h"
#include "app/controls.h"
#include "base/utf8.h"
#include "device/device_state.h"
#include "task/messages.h"
#include "task/task_state.h"
#include "update/release/release_state.h"
#include "update/release/version.h"
#include "view/control_view.h"

namespace {

constexpr LRESULT kPortNameChars = 64;

// The combo box's item at `index` (empty when there is none, or it is too long to be a port name).
std::wstring ComboItem(HWND combo, LRESULT index) {
    wchar_t text[kPortNameChars] = {};
    if (index < 0) return std::wstring();
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0 || length >= kPortNameChars) return std::wstring();
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

LRESULT FindPort(const std::wstring& name) {
    return SendMessageW(g_app.portCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(name.c_str()));
}

// The port list shows the port that is open, also one the update found the
// device on after flashing.
void SelectOpenPort(const std::wstring& name) {
    const LRESULT current = SendMessageW(g_app.portCombo, CB_GETCURSEL, 0, 0);
    if (_wcsicmp(ComboItem(g_app.portCombo, current).c_str(), name.c_str()) == 0) return;
    LRESULT index = FindPort(name);
    if (index < 0) {
        RefreshPortList();
        index = FindPort(name);
    }
    if (index >= 0) SendMessageW(g_app.portCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

}  // namespace

void RefreshControls() {
    ControlInputs in;
    in.connected = DeviceLink().IsOpenAs(in.portName);
    in.busy = g_task.busy;
    in.device = DeviceStatusNow();
    const std::string latest = ReadKnownVersions().latest;
    in.currentVersionText = Utf8ToWide(in.device.currentVersion);
    in.latestVersionText = Utf8ToWide(latest);
    in.latestKnown = !latest.empty();
    in.newer = UpdateAvailable(in.device.currentVersion, latest);
    in.driveOffered = !g_app.offeredDrive.empty();
    g_app.view = DeriveControlView(in);
    ShowControlView(g_app.view);
    if (in.connected) SelectOpenPort(in.portName);
}

std::wstring ChosenPortName() { return ComboItem(g_app.portCombo, SendMessageW(g_app.portCombo, CB_GETCURSEL, 0, 0)); }

PortNames RefreshPortList() {
    PortNames ports = EnumerateComPorts();
    FillPortCombo(g_app.portCombo, ports);
    return ports;
}

void FillPortCombo(HWND combo, const PortNames& ports) {
    const std::wstring chosen = ComboItem(combo, SendMessageW(combo, CB_GETCURSEL, 0, 0));
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    LRESULT keep = -1;
    for (size_t i = 0; i < ports.size(); ++i) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ports[i].c_str()));
        if (keep < 0 && !chosen.empty() && _wcsicmp(chosen.c_str(), ports[i].c_str()) == 0) {
            keep = static_cast<LRESULT>(i);
        }
    }
    if (keep < 0 && !ports.empty()) keep = 0;
    if (keep >= 0) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(keep), 0);
}

void DisconnectDevice(const wchar_t* statusText) {
    CloseDevicePort();
    ForgetDeviceVersion();
    ForgetRelease();
    g_app.progressPercent = 0;
    InvalidateRect(g_app.progressBar, nullptr, TRUE);
    PostStatus(statusText);
    RefreshControls();
}
