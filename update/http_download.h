#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/messages.h"

struct CrackedUrl {
    bool secure = false;
    uint16_t port = 0;
    std::wstring host;
    std::wstring objectPath;  // path followed by query and fragment; "/" when both are empty
};

// False for an unsupported scheme, a malformed URL, or a part too long.
bool CrackDownloadUrl(const std::wstring& url, CrackedUrl& cracked);

// The download's progress as the window shows it: "正在下载固件..." and the percentage.
void PostDownloadProgress(int32_t percent);

// The most a download may bring: the manifest is a few lines, and an image for
// the RP2040's largest flash (16 MiB of payload in 256-byte blocks of 512) is
// 32 MiB.
constexpr uint64_t kManifestSizeLimit = 64 * 1024;
constexpr uint64_t kImageSizeLimit = 32 * 1024 * 1024;

// One GET of the URL; the whole body in memory. A declared length past the
// limit fails before reading, a body that grows past it fails as it crosses it:
// "下载数据过大". While the length is known, reports the percentage after the
// first read and after every read that changes it.
bool HttpDownload(const std::wstring& url, std::vector<uint8_t>& body, std::wstring& error,
                  uint64_t sizeLimit = kImageSizeLimit, const ProgressCallback& progress = PostDownloadProgress);
