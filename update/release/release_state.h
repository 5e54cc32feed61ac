#pragma once

#include <string>

#include "update/release/manifest.h"

// The one owner of what the program knows about the newest release: the
// manifest's version, image URL and image hash.

// The versions as known now: the device's and the newest release's, with its image URL.
struct KnownVersions {
    std::string current;
    std::string latest;
    std::string downloadUrl;
    std::string imageSha256;  // empty when the manifest names none
};
KnownVersions ReadKnownVersions();

void StoreRelease(const ReleaseManifest& manifest);
void ForgetRelease();
