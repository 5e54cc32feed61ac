#pragma once

#include <cstdint>

// The most a download may bring: the manifest is a few lines, and an image for
// the RP2040's largest flash (16 MiB of payload in 256-byte blocks of 512) is
// 32 MiB. The program and the vendor's release check share them.
constexpr uint64_t kManifestSizeLimit = 64 * 1024;
constexpr uint64_t kImageSizeLimit = 32 * 1024 * 1024;
