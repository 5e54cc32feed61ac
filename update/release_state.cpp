#include "update/release_state.h"

#include "app/app_state.h"
#include "device/device_state.h"

KnownVersions ReadKnownVersions() {
    KnownVersions known;
    known.current = KnownDeviceVersion();
    SharedGuard guard(g_app.sharedLock);
    known.latest = g_app.latestVersion;
    known.downloadUrl = g_app.downloadUrl;
    known.imageSha256 = g_app.imageSha256;
    return known;
}

void StoreRelease(const ReleaseManifest& manifest) {
    SharedGuard guard(g_app.sharedLock);
    g_app.latestVersion = manifest.version;
    g_app.downloadUrl = manifest.downloadUrl;
    g_app.imageSha256 = manifest.sha256;
}

void ForgetRelease() { StoreRelease(ReleaseManifest()); }
