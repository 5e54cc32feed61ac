#include "update/release/release_state.h"

#include <mutex>

#include "device/device_state.h"

namespace {

// The newest release as the last fetch of the manifest named it. A task
// stores it on its worker thread while the window reads it: copied under a lock.
struct KnownRelease {
    std::mutex lock;
    ReleaseManifest manifest;
};

// Created before the entry point and never destroyed: detached workers may
// still run while the process ends and static objects are torn down.
KnownRelease& g_knownRelease = *new KnownRelease();

KnownRelease& Known() { return g_knownRelease; }

}  // namespace

KnownVersions ReadKnownVersions() {
    KnownVersions known;
    known.current = KnownDeviceVersion();
    std::lock_guard<std::mutex> guard(Known().lock);
    known.latest = Known().manifest.version;
    known.downloadUrl = Known().manifest.downloadUrl;
    known.imageSha256 = Known().manifest.sha256;
    return known;
}

void StoreRelease(const ReleaseManifest& manifest) {
    std::lock_guard<std::mutex> guard(Known().lock);
    Known().manifest = manifest;
}

void ForgetRelease() { StoreRelease(ReleaseManifest()); }
