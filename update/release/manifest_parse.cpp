#include "update/release/manifest.h"

#include <cstddef>
#include <set>

#include "base/ascii.h"
#include "base/trim.h"
#include "update/release/utc_time.h"

namespace {

// What the lines of com.ini said so far.
struct ManifestReading {
    ReleaseManifest found;
    bool namedSha256 = false;
    std::set<std::string> keys;  // every key met, lower-cased
};

// One line of com.ini: comments start with '#' or ';', the separator is the
// first '=' or, on a line without one, the first ':'. Sections carry no meaning:
// a key counts wherever it stands, and the last of two wins. Both are noted,
// since another reader may see sections, or take the first of two keys.
void ApplyManifestLine(const std::string& rawLine, ManifestReading& reading) {
    const std::string line = TrimBytes(rawLine);
    if (line.empty() || line[0] == '#' || line[0] == ';') return;
    ReleaseManifest& found = reading.found;
    if (line[0] == '[') {
        found.ambiguous = true;
        return;
    }
    size_t separator = line.find('=');
    if (separator == std::string::npos) separator = line.find(':');
    if (separator == std::string::npos) return;
    const std::string key = AsciiLower(TrimBytes(line.substr(0, separator)));
    const std::string value = TrimBytes(line.substr(separator + 1));
    if (!reading.keys.insert(key).second) found.ambiguous = true;
    if (key == "version") {
        found.version = value;
    } else if (key == "xzdz") {
        found.downloadUrl = value;
    } else if (key == "sha256") {
        found.sha256 = value;
        reading.namedSha256 = true;
    } else if (key == "product") {
        found.product = value;
    } else if (key == "expires") {
        found.expires = value;
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
    ManifestReading reading;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        ApplyManifestLine(body.substr(start, end - start), reading);
        start = end + 1;
    }
    ReleaseManifest& found = reading.found;
    // A value past the limit is no version or URL this program would show or ask for.
    if (!Usable(found.version) || !Usable(found.downloadUrl)) return ManifestCheck::NoVersionOrUrl;
    if (reading.namedSha256 && !IsSha256Text(found.sha256)) return ManifestCheck::BadSha256;
    found.sha256 = AsciiLower(found.sha256);
    manifest = found;
    return ManifestCheck::Ok;
}

ManifestCheck CheckSignedManifest(const ReleaseManifest& manifest, int64_t now) {
    if (manifest.sha256.empty()) return ManifestCheck::NoSha256;
    if (manifest.product != kProductName) return ManifestCheck::OtherProduct;
    if (manifest.ambiguous) return ManifestCheck::Ambiguous;
    int64_t expires = 0;
    if (!ParseUtcTime(manifest.expires, expires)) return ManifestCheck::NoExpiry;
    if (expires < now) return ManifestCheck::Expired;
    return ManifestCheck::Ok;
}

std::wstring ManifestCheckText(ManifestCheck check) {
    switch (check) {
        case ManifestCheck::Ok: return std::wstring();
        case ManifestCheck::NoVersionOrUrl: return L"com.ini 格式错误，缺少 version 或 xzdz";
        case ManifestCheck::BadSha256: return L"com.ini 中的 sha256 格式错误";
        case ManifestCheck::NoSha256: return L"com.ini 缺少 sha256";
        case ManifestCheck::OtherProduct: return L"com.ini 不属于本产品";
        case ManifestCheck::Ambiguous: return L"com.ini 含有重复的键或分节";
        case ManifestCheck::NoExpiry: return L"com.ini 缺少有效期";
        case ManifestCheck::Expired: return L"com.ini 已过期";
    }
    return std::wstring();
}
