#include "device/device_state.h"

#include <utility>

#include "device/records.h"

SerialLink& DeviceLink() { return g_app.link; }

bool OpenDevicePort(const std::wstring& name, std::wstring& error) {
    {
        SharedGuard guard(g_app.sharedLock);
        ResetLinkStatus(g_app.device);
    }
    return OpenSerialPort(g_app.link, name, error);
}

void CloseDevicePort() {
    CloseSerialPort(g_app.link);
    SharedGuard guard(g_app.sharedLock);
    ResetLinkStatus(g_app.device);
}

DeviceStatus DeviceStatusNow() {
    SharedGuard guard(g_app.sharedLock);
    return g_app.device;
}

std::string KnownDeviceVersion() {
    SharedGuard guard(g_app.sharedLock);
    return g_app.device.currentVersion;
}

void StoreDeviceVersion(const std::string& version) {
    SharedGuard guard(g_app.sharedLock);
    g_app.device.currentVersion = version;
}

void ForgetDeviceVersion() { StoreDeviceVersion(std::string()); }

void StoreMacroMode(bool on) {
    SharedGuard guard(g_app.sharedLock);
    g_app.device.macroModeOn = on;
    g_app.device.telemetryValid = true;
}

LinePredicate ApplyingRecords(AppliedRecords records, DeviceLinePredicate accept) {
    return [records, accept = std::move(accept)](const std::string& line) {
        HidReply hid;
        {
            // The device status follows whatever records the device sends, wanted or not.
            SharedGuard guard(g_app.sharedLock);
            ParseTelemetryRecord(line, g_app.device);
            if (records == AppliedRecords::TelemetryAndHid) {
                ParseHidRecord(line, hid.isControlReply, hid.ok, g_app.device);
            }
        }
        return accept(line, hid);
    };
}
