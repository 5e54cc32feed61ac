#include "update/image_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <climits>

#include "base/trace.h"

namespace {

// Closes what BCrypt opened, whichever step failed.
struct HashHandles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    HashHandles() = default;
    HashHandles(const HashHandles&) = delete;
    HashHandles& operator=(const HashHandles&) = delete;
    ~HashHandles() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

bool Succeeded(NTSTATUS status, const wchar_t* call) {
    if (status >= 0) return true;
    TraceSystemError(call, std::wstring(), static_cast<DWORD>(status));
    return false;
}

}  // namespace

bool ImageSha256(const std::vector<uint8_t>& image, std::string& digest) {
    HashHandles handles;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
                   L"BCryptOpenAlgorithmProvider") ||
        !Succeeded(BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0), L"BCryptCreateHash")) {
        return false;
    }
    // BCryptHashData takes at most 4 GiB at a time; an image is far smaller, but pieces cost nothing.
    for (size_t offset = 0; offset < image.size();) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(image.size() - offset, ULONG_MAX / 2));
        if (!Succeeded(BCryptHashData(handles.hash, const_cast<PUCHAR>(image.data() + offset), piece, 0),
                       L"BCryptHashData")) {
            return false;
        }
        offset += piece;
    }
    UCHAR value[32] = {};
    if (!Succeeded(BCryptFinishHash(handles.hash, value, sizeof value, 0), L"BCryptFinishHash")) return false;
    static const char kHex[] = "0123456789abcdef";
    digest.clear();
    for (UCHAR byte : value) {
        digest += kHex[byte >> 4];
        digest += kHex[byte & 0x0F];
    }
    return true;
}
