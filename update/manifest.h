#pragma once

#include <string>

// The release manifest com.ini: lines of key=value (or key:value); the keys
// `version` and `xzdz` name the newest firmware and the URL of its UF2 image.
struct ReleaseManifest {
    std::string version;
    std::string downloadUrl;
};

// On success both fields are non-empty. On failure `manifest` is untouched and
// `error` is "com.ini 格式错误，缺少 version 或 xzdz".
bool ParseReleaseManifest(const std::string& body, ReleaseManifest& manifest, std::wstring& error);

// "http://" + the update server's host (the build setting NORVA_UPDATE_HOST) + "/com.ini".
std::wstring ManifestUrl();

// Downloads ManifestUrl() and parses it; a failed download gives the download's error text.
bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error);
