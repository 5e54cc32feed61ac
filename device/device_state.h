#pragma once

#include <functional>
#include <string>

#include "device/device_status.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"

// The one owner of what the program knows about the device: the port it is on
// and its status (device/device_status.h). Every write of the device status
// goes through here, and every reply record is applied here, once. Tasks write
// it on their worker thread while the window reads it, so each access copies
// under a lock of its own.

// The link of the device's port.
SerialLink& DeviceLink();

// Opens the device's port; any open or close of the port forgets what was
// known about the device except its version. Errors as OpenSerialPort's.
bool OpenDevicePort(const std::wstring& name, std::wstring& error);
void CloseDevicePort();

// A copy of the device status, and of its version alone.
DeviceStatus DeviceStatusNow();
std::string KnownDeviceVersion();

void StoreDeviceVersion(const std::string& version);
void ForgetDeviceVersion();
// A macro-mode command the device took: the mode is known and as asked.
void StoreMacroMode(bool on);

// Which records of a reply change the device status.
enum class AppliedRecords {
    Telemetry,        // the version read: a HID record leaves the HID status alone
    TelemetryAndHid,  // every other exchange
};

// What a reply line was, as its record parser read it: the one reading of the
// line's record, which the caller decides on.
struct ReplyRecord {
    bool telemetry = false;       // a telemetry record
    std::string firmwareVersion;  // ... carrying this firmware version (empty: none)
    bool isControlReply = false;  // a HID control reply (only where HID records are applied)
    bool ok = false;              // ... with ok=1
};

// Decides about a reply line after its record, if any, has been applied.
using DeviceLinePredicate = std::function<bool(const std::string& line, const ReplyRecord& record)>;

// The reply reader: a line predicate for the read loop that reads each line's
// record once, applies it to the device status, then hands the line and what
// its record said to `accept`.
LinePredicate ApplyingRecords(AppliedRecords records, DeviceLinePredicate accept);
