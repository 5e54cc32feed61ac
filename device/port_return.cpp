#include "device/port_return.h"

#include "device/device_state.h"
#include "serial/serial_link.h"

namespace {

// Opens a port that was not there before and keeps it only when the device answers on it.
bool OpenAnsweringPort(const std::wstring& name, const std::function<bool()>& ask) {
    std::wstring error;
    if (!OpenDevicePort(name, error)) return false;
    if (ask()) return true;
    CloseDevicePort();
    return false;
}

}  // namespace

PortReturn AwaitDevicePort(const PortSearch& search, const std::function<bool()>& ask) {
    PortReturn found;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < search.waitMs) {
        const PortNames ports = EnumerateComPorts();
        if (!search.savedPortName.empty() && IsPortListed(ports, search.savedPortName)) {
            std::wstring error;
            if (OpenDevicePort(search.savedPortName, error)) {
                found.reopened = true;
                found.answered = ask();
                return found;
            }
        } else {
            for (const std::wstring& port : ports) {
                if (IsPortListed(search.portsBefore, port) || !OpenAnsweringPort(port, ask)) continue;
                found.reopened = found.answered = true;
                return found;
            }
        }
        Sleep(search.pollMs);
    }
    return found;
}

bool AwaitOpenPortGone(ULONGLONG waitMs, DWORD pollMs) {
    const SerialLink& link = DeviceLink();
    const std::wstring name = link.Name();
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (!IsPortListed(EnumerateComPorts(), name) || !IsPortAlive(link)) return true;
        if (GetTickCount64() - start >= waitMs) return false;
        Sleep(pollMs);
    }
}
