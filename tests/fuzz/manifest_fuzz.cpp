#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_require.h"
#include "update/manifest.h"

namespace {

bool IsTrimmed(const std::string& text) {
    return !text.empty() && static_cast<unsigned char>(text.front()) > 0x20 &&
           static_cast<unsigned char>(text.back()) > 0x20;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    ReleaseManifest manifest{"\x01untouched", "\x01untouched"};
    std::wstring error;
    if (ParseReleaseManifest(body, manifest, error)) {
        Require(IsTrimmed(manifest.version) && IsTrimmed(manifest.downloadUrl), "fields non-empty and trimmed");
        Require(manifest.version.find('\n') == std::string::npos &&
                    manifest.downloadUrl.find('\n') == std::string::npos,
                "a value stays on its line");
        Require(error.empty(), "no error text on success");
    } else {
        Require(manifest.version == "\x01untouched" && manifest.downloadUrl == "\x01untouched",
                "a failed parse leaves the manifest untouched");
        Require(error == L"com.ini 格式错误，缺少 version 或 xzdz", "the one format error");
    }

    // The last occurrence of a key wins, whatever came before it.
    ReleaseManifest completed;
    Require(ParseReleaseManifest(body + "\nversion = 9\nXZDZ: u", completed, error), "later keys complete a file");
    Require(completed.version == "9" && completed.downloadUrl == "u", "the later keys win");
    ReleaseManifest emptied;
    Require(!ParseReleaseManifest(body + "\nversion=", emptied, error), "an empty last version invalidates");
    return 0;
}
