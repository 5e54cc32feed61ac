#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/download/progress.h"

// The release manifest com.ini: lines of key=value (or key:value); the keys
// `version` and `xzdz` name the newest firmware and the URL of its UF2 image,
// `sha256`, when there, the SHA-256 the image must have, `product` the
// product the release is for, and `expires` the UTC time after which the
// release is no longer offered (update/release/utc_time.h).
struct ReleaseManifest {
    std::string version;
    std::string downloadUrl;
    std::string sha256;   // 64 lower-case hex digits; empty when the manifest names none
    std::string product;  // the `product` value; empty when the manifest names none
    std::string expires;  // the `expires` value as written; empty when the manifest names none
    // A section header (a line starting with '[') or a key given twice: a file
    // other readers may read otherwise than this program, which ignores
    // sections and lets the last of two keys win.
    bool ambiguous = false;
};

// The product this program updates. A signed manifest must name it
// (product=NORVA1), so that one vendor key can sign the releases of several
// products without one product's firmware ever reaching another's device.
constexpr char kProductName[] = "NORVA1";

// The longest version or URL a manifest may name, in bytes.
constexpr size_t kManifestValueLimit = 256;

// Why the program refuses a manifest.
enum class ManifestCheck {
    Ok,
    NoVersionOrUrl,  // version or xzdz missing, empty or past the limit
    BadSha256,       // a sha256 that is not 64 hex digits
    NoSha256,        // a signed manifest that does not name the image's sha256
    OtherProduct,    // a signed manifest that names no product, or another one
    Ambiguous,       // a signed manifest with a section header or a key given twice
    NoExpiry,        // a signed manifest without `expires`, or with one that is no UTC time
    Expired,         // a signed manifest whose `expires` lies before the PC's clock
};

// Reads a manifest. On success version and URL are non-empty (and no longer
// than the limit) and the sha256, if named, is 64 hex digits of either case,
// kept in lower case. On failure `manifest` is untouched.
ManifestCheck ReadReleaseManifest(const std::string& body, ReleaseManifest& manifest);

// What a program built with release keys further asks of a manifest whose
// signature verified, in this order: the image's sha256, so that the signature
// covers the image too; this product's name; one reading, the same for every
// reader (no section, no key twice); and a date, `expires`, not before `now`
// (seconds since 1970-01-01T00:00:00Z, UTC), so that a server can replay an
// old release only until its date. A release expiring at `now` is still taken.
ManifestCheck CheckSignedManifest(const ReleaseManifest& manifest, int64_t now);

// The program's text for a refusal: "com.ini 格式错误，缺少 version 或 xzdz",
// "com.ini 中的 sha256 格式错误", "com.ini 缺少 sha256", "com.ini 不属于本产品",
// "com.ini 含有重复的键或分节", "com.ini 缺少有效期" or "com.ini 已过期".
std::wstring ManifestCheckText(ManifestCheck check);

// The manifest's URL on the update server the build names (NORVA_UPDATE_HOST,
// update/release/manifest_url.h).
std::wstring ManifestUrl();

// Downloads ManifestUrl() and parses it; a failed download gives the download's
// error text. A program built with release keys (update/release/release_signature.h)
// first fetches and checks the signature, <ManifestUrl()>.sig, and then takes
// only a manifest that CheckSignedManifest passes at the PC's clock:
// "com.ini 签名无效", "下载 com.ini.sig 失败: " with the download's text, or
// the refusal's text.
// Both downloads report their progress to `progress`.
bool FetchReleaseManifest(ReleaseManifest& manifest, std::wstring& error, const ProgressCallback& progress);
