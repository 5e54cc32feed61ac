#pragma once

#include <cstdint>

// The most a download may bring: the manifest is a few lines, and an image for
// the RP2040's largest flash (16 MiB of payload in 256-byte blocks of 512) is
// 32 MiB. The program and the vendor's release check share them.
constexpr uint64_t kManifestSizeLimit = 64 * 1024;
constexpr uint64_t kImageSizeLimit = 32 * 1024 * 1024;

// The least a download must keep bringing (update/download_pace.h): 16 KiB
// in every 30 s, about 0.5 KiB/s, which any working connection beats by far.
constexpr uint64_t kPaceWindowMs = 30000;
constexpr uint64_t kPaceFloorBytes = 16384;
