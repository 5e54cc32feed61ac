#include "update/manifest.h"

#include <cstddef>

#include "base/ascii.h"
#include "base/trim.h"

namespace {

// One line of com.ini: comments start with '#' or ';', the separator is the
// first '=' or, on a line without one, the first ':'. Sections carry no meaning:
// a key counts wherever it stands.
void ApplyManifestLine(const std::string& rawLine, ReleaseManifest& found, bool& namedSha256) {
    const std::string line = TrimBytes(rawLine);
    if (line.empty() || line[0] == '#' || line[0] == ';') return;
    size_t separator = line.find('=');
    if (separator == std::string::npos) separator = line.find(':');
    if (separator == std::string::npos) return;
    const std::string key = AsciiLower(TrimBytes(line.substr(0, separator)));
    const std::string value = TrimBytes(line.substr(separator + 1));
    if (key == "version") {
        found.version = value;
    } else if (key == "xzdz") {
        found.downloadUrl = value;
    } else if (key == "sha256") {
        found.sha256 = value;
        namedSha256 = true;
    } else if (key == "product") {
        found.product = value;
    }
}

bool IsSha256Text(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!IsAsciiDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F')) return false;
    }
    return true;
}

bool Usable(const std::string& value) { return !value.empty() && value.size() <= kManifestValueLimit; }

}  // namespace

ManifestCheck ReadReleaseManifest(const std::string& body, ReleaseManifest& manifest) {
    ReleaseManifest found;
    bool namedSha256 = false;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        ApplyManifestLine(body.substr(start, end - start), found, namedSha256);
        start = end + 1;
    }
    // A value past the limit is no version or URL this program would show or ask for.
    if (!Usable(found.version) || !Usable(found.downloadUrl)) return ManifestCheck::NoVersionOrUrl;
    if (namedSha256 && !IsSha256Text(found.sha256)) return ManifestCheck::BadSha256;
    found.sha256 = AsciiLower(found.sha256);
    manifest = found;
    return ManifestCheck::Ok;
}

ManifestCheck CheckSignedManifest(const ReleaseManifest& manifest) {
    if (manifest.sha256.empty()) return ManifestCheck::NoSha256;
    if (manifest.product != kProductName) return ManifestCheck::OtherProduct;
    return ManifestCheck::Ok;
}

std::wstring ManifestCheckText(ManifestCheck check) {
    switch (check) {
        case ManifestCheck::Ok: return std::wstring();
        case ManifestCheck::NoVersionOrUrl: return L"com.ini 格式错误，缺少 version 或 xzdz";
        case ManifestCheck::BadSha256: return L"com.ini 中的 sha256 格式错误";
        case ManifestCheck::NoSha256: return L"com.ini 缺少 sha256";
        case ManifestCheck::OtherProduct: return L"com.ini 不属于本产品";
    }
    return std::wstring();
}

bool ParseReleaseManifest(const std::string& body, ReleaseManifest& manifest, std::wstring& error) {
    const ManifestCheck check = ReadReleaseManifest(body, manifest);
    if (check != ManifestCheck::Ok) error = ManifestCheckText(check);
    return check == ManifestCheck::Ok;
}
