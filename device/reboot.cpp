#include "device/reboot.h"

#include <windows.h>

#include "device/device_state.h"
#include "serial/serial_link.h"

namespace {
const char kRebootCommand[] = "sys.bootsel()";
constexpr DWORD kActOnCommandMs = 450;
}  // namespace

std::wstring RebootCommandText() {
    const std::string command = kRebootCommand;
    return std::wstring(command.begin(), command.end());
}

bool RebootDeviceIntoBootloader() {
    if (!WriteCommandLine(DeviceLink(), kRebootCommand)) return false;
    Sleep(kActOnCommandMs);
    CloseDevicePort();
    return true;
}
