#include "tests/support/known_state.h"

#include "device/device_state.h"
#include "update/release/release_state.h"

SharedSnapshot TakeSharedSnapshot() {
    SharedSnapshot snapshot;
    snapshot.connected = DeviceLink().IsOpenAs(snapshot.portName);
    snapshot.device = DeviceStatusNow();
    snapshot.latestVersion = ReadKnownVersions().latest;
    return snapshot;
}

void ApplyDeviceRecord(const std::string& line) {
    ApplyingRecords(AppliedRecords::TelemetryAndHid, [](const std::string&, const ReplyRecord&) { return true; })(line);
}

void KnowVersions(const std::string& current, const std::string& latest, const std::string& downloadUrl) {
    StoreDeviceVersion(current);
    ReleaseManifest release;
    release.version = latest;
    release.downloadUrl = downloadUrl;
    StoreRelease(release);
}
