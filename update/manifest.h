#pragma once

#include <cstddef>
#include <string>

#include "update/progress.h"

// The release manifest com.ini: lines of key=value (or key:value); the keys
// `version` and `xzdz` name the newest firmware and the URL of its UF2 image,
// and `sha256`, when there, the SHA-256 the image must have.
struct ReleaseManifest {
    std::string version;
    std::string downloadUrl;
    std::string sha256;  // 64 lower-case hex digits; empty when the manifest names none
};

// The longest version or URL a manifest may name, in bytes.
constexpr size_t kManifestValueLimit = 256;

// On success version and URL are non-empty (and no longer than the limit) and
// the sha256, if named, is 64 hex digits of either case. On failure `manifest`
// is untouched and `error` is "com.ini 格式错误，缺少 version 或 xzdz" or
// "com.ini 中的 sha256 格式错误".
bool ParseReleaseManifest(const std::string& body, ReleaseManifest& manifest, std::wstring& error);

// The manifest's URL on the update server the build names (NORVA_UPDATE_HOST,
// update/manifest_url.h).
std::wstring ManifestUrl();

// Downloads ManifestUrl() and parses it; a failed download gives the download's
// error text. A program built with release keys (update/release_signature.h)
// first fetches and checks the signature, <ManifestUrl()>.sig, and then takes
// only a manifest that names the image's sha256: "com.ini 签名无效",
// "下载 com.ini.sig 失败: " with the download's text, or "com.ini 缺少 sha256".
// Both downloads report their progress to `progress`.
bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error, const ProgressCallback& progress);
