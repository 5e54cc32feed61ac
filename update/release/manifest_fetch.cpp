#include <windows.h>

#include <cstdint>
#include <vector>

#include "update/download/http_download.h"
#include "update/release/manifest.h"
#include "update/release/release_limits.h"
#include "update/release/release_signature.h"

namespace {

constexpr uint32_t kHttpNotFound = 404;

// The PC's clock in seconds since 1970-01-01T00:00:00Z, as a release's date
// counts them. FILETIME counts 100 ns from 1601-01-01, 11644473600 s earlier.
int64_t UtcNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - 11644473600;
}

// com.ini.sig from the manifest's own server, checked against the exact bytes
// of com.ini before anything reads them. A signature that is not published
// (404), not a signature, or not the vendor's is a refusal; one that could not
// be had (network, TLS, another status) says so, so that a hiccup does not look
// like tampering.
bool SignatureVerifies(const std::string& manifestBytes, const std::vector<ReleaseKey>& keys,
                       const ProgressCallback& progress, std::wstring& error) {
    std::vector<uint8_t> body;
    DownloadError failure;
    if (!HttpDownload(ManifestUrl() + L".sig", body, failure, kManifestSizeLimit, progress)) {
        const bool unpublished = failure.kind == DownloadFailure::HttpStatus && failure.httpStatus == kHttpNotFound;
        error = unpublished ? L"com.ini 签名无效" : L"下载 com.ini.sig 失败: " + failure.text;
        return false;
    }
    ReleaseSignature signature{};
    if (!DecodeReleaseSignature(std::string(body.begin(), body.end()), signature) ||
        !VerifyReleaseSignature(manifestBytes, signature, keys)) {
        error = L"com.ini 签名无效";
        return false;
    }
    return true;
}

}  // namespace

bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error, const ProgressCallback& progress) {
    std::vector<uint8_t> body;
    DownloadError failure;
    if (!HttpDownload(ManifestUrl(), body, failure, kManifestSizeLimit, progress)) {
        error = failure.text;
        return false;
    }
    const std::string text(body.begin(), body.end());
    // A program built with release keys takes only what the vendor signed for
    // this product, with the image's hash, in one reading, and until its date.
    const std::vector<ReleaseKey> keys = TrustedReleaseKeys();
    if (!keys.empty() && !SignatureVerifies(text, keys, progress, error)) return false;
    ReleaseManifest parsed;
    ManifestCheck check = ReadReleaseManifest(text, parsed);
    if (check == ManifestCheck::Ok && !keys.empty()) check = CheckSignedManifest(parsed, UtcNow());
    if (check != ManifestCheck::Ok) {
        error = ManifestCheckText(check);
        return false;
    }
    manifest = parsed;
    return true;
}
