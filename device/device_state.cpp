#include "device/device_state.h"

#include <mutex>
#include <utility>

#include "device/records.h"

namespace {

struct KnownDevice {
    SerialLink link;
    // Guards `status`: held only while copying it or applying one record,
    // never across a port call and never together with the link's own lock.
    std::mutex lock;
    DeviceStatus status;
};

// Created before the entry point and never destroyed: detached workers may
// still run while the process ends and static objects are torn down.
KnownDevice& g_knownDevice = *new KnownDevice();

KnownDevice& Known() { return g_knownDevice; }

using Guard = std::lock_guard<std::mutex>;

}  // namespace

SerialLink& DeviceLink() { return Known().link; }

bool OpenDevicePort(const std::wstring& name, std::wstring& error) {
    {
        Guard guard(Known().lock);
        ResetLinkStatus(Known().status);
    }
    return OpenSerialPort(Known().link, name, error);
}

void CloseDevicePort() {
    CloseSerialPort(Known().link);
    Guard guard(Known().lock);
    ResetLinkStatus(Known().status);
}

DeviceStatus DeviceStatusNow() {
    Guard guard(Known().lock);
    return Known().status;
}

std::string KnownDeviceVersion() {
    Guard guard(Known().lock);
    return Known().status.currentVersion;
}

void StoreDeviceVersion(const std::string& version) {
    Guard guard(Known().lock);
    Known().status.currentVersion = version;
}

void ForgetDeviceVersion() { StoreDeviceVersion(std::string()); }

void StoreMacroMode(bool on) {
    Guard guard(Known().lock);
    Known().status.macroModeOn = on;
    Known().status.telemetryValid = true;
}

LinePredicate ApplyingRecords(AppliedRecords records, DeviceLinePredicate accept) {
    return [records, accept = std::move(accept)](const std::string& line) {
        ReplyRecord reply;
        TelemetryRecord telemetry;
        reply.telemetry = ReadTelemetryRecord(line, telemetry);
        reply.firmwareVersion = telemetry.firmwareVersion;
        {
            // The device status follows whatever records the device sends, wanted or not.
            Guard guard(Known().lock);
            if (reply.telemetry) ApplyTelemetryRecord(telemetry, Known().status);
            if (records == AppliedRecords::TelemetryAndHid) {
                ParseHidRecord(line, reply.isControlReply, reply.ok, Known().status);
            }
        }
        return accept(line, reply);
    };
}
