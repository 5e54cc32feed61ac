#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "serial/port_list.h"

// Finding the device's port again after it went away: after flashing through
// the boot loader, or when the device re-enumerates its USB interfaces.
// Windows brings the port back under its old name, or under a new one when the
// device comes back as another device instance (on another USB port, or with
// another set of interfaces).

struct PortSearch {
    // The port the device was on: reopened once it is listed again and kept
    // while it stays, however long the device takes to answer there (a port
    // listed a moment before it can be opened is tried again at the next
    // look). Empty: the device had none.
    std::wstring savedPortName;
    // While the saved port is not listed, a port that is not among these is
    // kept only if the device answers on it: it may be another program's device.
    PortNames portsBefore;
    ULONGLONG waitMs = 0;  // how long to look
    DWORD pollMs = 0;      // the pause between two looks
};

struct PortReturn {
    bool reopened = false;  // the device's port is open again
    bool answered = false;  // and the device answered `ask` on it
};

// Looks at once, then after every pause until the time is up (PollUntil,
// base/wait.h), until the device has answered `ask` (the version query, the
// telemetry query), put to it on each port just opened. A port that opens
// under its old name before the firmware answers there (Windows may open it
// while it still sets up a new interface layout, and firmware brings its port
// up before its command loop runs) is asked again `askPauseMs` after each
// unanswered question, while it stays; a question asked before the time is up
// is waited for. `answered` is set only once the device has answered; a port
// that went again, or that is still silent when the time is up, is closed (and
// the result is empty).
PortReturn AwaitAnsweringDevice(const PortSearch& search, const std::function<bool()>& ask, DWORD askPauseMs);

// Watches the open port for up to `waitMs`: true once it has gone, that is,
// once it is no longer listed or its handle no longer reaches a device (a port
// that comes back under its old name at once still leaves the old handle dead).
bool AwaitOpenPortGone(ULONGLONG waitMs, DWORD pollMs);
