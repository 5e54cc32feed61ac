#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz_require.h"
#include "update/release/manifest.h"

namespace {

bool IsTrimmed(const std::string& text) {
    return !text.empty() && static_cast<unsigned char>(text.front()) > 0x20 &&
           static_cast<unsigned char>(text.back()) > 0x20;
}

bool IsDigest(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    ReleaseManifest manifest{"\x01untouched", "\x01untouched", "\x01untouched", "\x01untouched", "\x01untouched"};
    const ManifestCheck check = ReadReleaseManifest(body, manifest);
    if (check == ManifestCheck::Ok) {
        Require(IsTrimmed(manifest.version) && IsTrimmed(manifest.downloadUrl), "fields non-empty and trimmed");
        Require(manifest.version.find('\n') == std::string::npos &&
                    manifest.downloadUrl.find('\n') == std::string::npos,
                "a value stays on its line");
        Require(manifest.version.size() <= kManifestValueLimit && manifest.downloadUrl.size() <= kManifestValueLimit,
                "values within the limit");
        Require(manifest.sha256.empty() || IsDigest(manifest.sha256), "a digest is 64 lower-case hex digits");
        Require(CheckSignedManifest(manifest, 0) != ManifestCheck::Ok ||
                    (manifest.product == "NORVA1" && !manifest.sha256.empty() && !manifest.ambiguous),
                "a signed manifest passes only with its hash, this product and one reading");
        Require(CheckSignedManifest(manifest, std::numeric_limits<int64_t>::max()) != ManifestCheck::Ok,
                "every signed manifest expires");
    } else {
        Require(manifest.version == "\x01untouched" && manifest.downloadUrl == "\x01untouched",
                "a failed parse leaves the manifest untouched");
        Require(check == ManifestCheck::NoVersionOrUrl || check == ManifestCheck::BadSha256,
                "one of the two format errors");
    }

    // The last occurrence of a key wins, whatever came before it.
    ReleaseManifest completed;
    const std::string digest(64, 'A');
    Require(ReadReleaseManifest(body + "\nversion = 9\nXZDZ: u\nsha256=" + digest, completed) == ManifestCheck::Ok,
            "later keys complete a file");
    Require(completed.version == "9" && completed.downloadUrl == "u" && completed.sha256 == std::string(64, 'a'),
            "the later keys win");
    ReleaseManifest emptied;
    Require(ReadReleaseManifest(body + "\nversion=", emptied) != ManifestCheck::Ok, "an empty last version invalidates");
    return 0;
}
