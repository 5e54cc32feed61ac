#include "device/reboot.h"

#include "base/wait.h"
#include "device/device_state.h"
#include "device/waits.h"
#include "serial/serial_link.h"

namespace {
const char kRebootCommand[] = "sys.bootsel()";
}  // namespace

std::wstring RebootCommandText() {
    const std::string command = kRebootCommand;
    return std::wstring(command.begin(), command.end());
}

bool RebootDeviceIntoBootloader() {
    if (!WriteCommandLine(DeviceLink(), kRebootCommand)) return false;
    Pause(kActOnRebootMs);
    CloseDevicePort();
    return true;
}
