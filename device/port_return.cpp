#include "device/port_return.h"

#include "base/wait.h"
#include "device/device_state.h"
#include "serial/serial_link.h"

namespace {

// The open port has gone: it is no longer listed, or its handle no longer reaches a device.
bool OpenPortGone() {
    const SerialLink& link = DeviceLink();
    return !IsPortListed(EnumerateComPorts(), link.Name()) || !IsPortAlive(link);
}

// Opens a port that was not there before and keeps it only when the device answers on it.
bool OpenAnsweringPort(const std::wstring& name, const std::function<bool()>& ask) {
    std::wstring error;
    if (!OpenDevicePort(name, error)) return false;
    if (ask()) return true;
    CloseDevicePort();
    return false;
}

// Asks the device on the port just opened under its old name, again after each
// unanswered question, until it answers (true), the port goes, or the wait is over.
bool AskUntilAnswered(const Deadline& deadline, DWORD askPauseMs, const std::function<bool()>& ask) {
    bool answered = false;
    PollUntil(deadline, askPauseMs, [&] {
        answered = ask();
        return answered || OpenPortGone();
    });
    return answered;
}

// One look: the saved port, reopened once it is listed (and asked until the
// device answers there), else a port new since the search began on which the
// device answers.
PortReturn LookOnce(const PortSearch& search, const std::function<bool()>& ask, const Deadline& deadline,
                    DWORD askPauseMs) {
    PortReturn found;
    const PortNames ports = EnumerateComPorts();
    if (!search.savedPortName.empty() && IsPortListed(ports, search.savedPortName)) {
        std::wstring error;
        if (OpenDevicePort(search.savedPortName, error)) {
            found.reopened = true;
            found.answered = AskUntilAnswered(deadline, askPauseMs, ask);
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

}  // namespace

PortReturn AwaitAnsweringDevice(const PortSearch& search, const std::function<bool()>& ask, DWORD askPauseMs) {
    const Deadline deadline = DeadlineAfter(search.waitMs);
    PortReturn found;
    PollUntil(deadline, search.pollMs, [&] {
        found = LookOnce(search, ask, deadline, askPauseMs);
        if (found.reopened && !found.answered) CloseDevicePort();  // gone again, or silent until the time was up
        return found.answered;
    });
    return found.answered ? found : PortReturn();
}

bool AwaitOpenPortGone(ULONGLONG waitMs, DWORD pollMs) { return PollUntil(DeadlineAfter(waitMs), pollMs, OpenPortGone); }
