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

// One look: the saved port, reopened once it is listed (and asked once), else
// a port new since the search began on which the device answers.
PortReturn LookOnce(const PortSearch& search, const std::function<bool()>& ask) {
    PortReturn found;
    const PortNames ports = EnumerateComPorts();
    if (!search.savedPortName.empty() && IsPortListed(ports, search.savedPortName)) {
        std::wstring error;
        if (OpenDevicePort(search.savedPortName, error)) {
            found.reopened = true;
            found.answered = ask();
        }
        return found;
    }
    for (const std::wstring& port : ports) {
        if (IsPortListed(search.portsBefore, port) || !OpenAnsweringPort(port, ask)) continue;
        found.reopened = found.answered = true;
        break;
    }
    return found;
}

bool TimeLeft(ULONGLONG start, ULONGLONG waitMs) { return GetTickCount64() - start < waitMs; }

// The open port has gone: it is no longer listed, or its handle no longer reaches a device.
bool OpenPortGone() {
    const SerialLink& link = DeviceLink();
    return !IsPortListed(EnumerateComPorts(), link.Name()) || !IsPortAlive(link);
}

}  // namespace

PortReturn AwaitAnsweringDevice(const PortSearch& search, const std::function<bool()>& ask, DWORD askPauseMs) {
    const ULONGLONG start = GetTickCount64();
    while (TimeLeft(start, search.waitMs)) {
        PortReturn found = LookOnce(search, ask);
        while (found.reopened && !found.answered && TimeLeft(start, search.waitMs) && !OpenPortGone()) {
            Sleep(askPauseMs);
            found.answered = ask();
        }
        if (found.answered) return found;
        if (found.reopened) CloseDevicePort();  // gone again, or silent until the time was up
        Sleep(search.pollMs);
    }
    return PortReturn();
}

bool AwaitOpenPortGone(ULONGLONG waitMs, DWORD pollMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (OpenPortGone()) return true;
        if (GetTickCount64() - start >= waitMs) return false;
        Sleep(pollMs);
    }
}
