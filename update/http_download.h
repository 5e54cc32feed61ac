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

// One GET of the URL; the whole body in memory. Reports the percentage after
// every read while the length is known.
bool HttpDownload(const std::wstring& url, std::vector<uint8_t>& body, std::wstring& error,
                  const ProgressCallback& progress = PostDownloadProgress);
