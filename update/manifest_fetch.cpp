#include <cstdint>
#include <vector>

#include "norva/update_host.h"
#include "update/http_download.h"
#include "update/manifest.h"

std::wstring ManifestUrl() {
    return std::wstring(L"http://") + kUpdateHost + L"/com.ini";
}

bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error) {
    std::vector<uint8_t> body;
    if (!HttpDownload(ManifestUrl(), body, error)) return false;
    return ParseReleaseManifest(std::string(body.begin(), body.end()), manifest, error);
}
