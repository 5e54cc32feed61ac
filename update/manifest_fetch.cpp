#include <cstdint>
#include <vector>

#include "update/http_download.h"
#include "update/manifest.h"

bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error) {
    std::vector<uint8_t> body;
    if (!HttpDownload(ManifestUrl(), body, error, kManifestSizeLimit)) return false;
    return ParseReleaseManifest(std::string(body.begin(), body.end()), manifest, error);
}
