#include "update/manifest.h"

#include <cstddef>

#include "base/ascii.h"
#include "base/trim.h"

namespace {

// One line of com.ini: comments start with '#' or ';', the separator is the
// first '=' or, on a line without one, the first ':'. Sections carry no meaning:
// a key counts wherever it stands.
void ApplyManifestLine(const std::string& rawLine, ReleaseManifest& found) {
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
    }
}

}  // namespace

bool ParseReleaseManifest(const std::string& body, ReleaseManifest& manifest, std::wstring& error) {
    ReleaseManifest found;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        ApplyManifestLine(body.substr(start, end - start), found);
        start = end + 1;
    }
    if (found.version.empty() || found.downloadUrl.empty()) {
        error = L"com.ini 格式错误，缺少 version 或 xzdz";
        return false;
    }
    manifest = found;
    return true;
}
