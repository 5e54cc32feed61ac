#include "update/release/image_digest.h"

#include <algorithm>
#include <climits>

#include "update/release/bcrypt_handles.h"

bool Sha256Digest(const uint8_t* data, size_t size, std::array<uint8_t, 32>& digest) {
    BcryptHandles handles;
    if (!BcryptSucceeded(BCryptOpenAlgorithmProvider(&handles.algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
                         L"BCryptOpenAlgorithmProvider") ||
        !BcryptSucceeded(BCryptCreateHash(handles.algorithm, &handles.hash, nullptr, 0, nullptr, 0, 0),
                         L"BCryptCreateHash")) {
        return false;
    }
    // BCryptHashData takes at most 4 GiB at a time; an image is far smaller, but pieces cost nothing.
    for (size_t offset = 0; offset < size;) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size - offset, ULONG_MAX / 2));
        if (!BcryptSucceeded(BCryptHashData(handles.hash, const_cast<PUCHAR>(data + offset), piece, 0),
                             L"BCryptHashData")) {
            return false;
        }
        offset += piece;
    }
    return BcryptSucceeded(BCryptFinishHash(handles.hash, digest.data(), static_cast<ULONG>(digest.size()), 0),
                     L"BCryptFinishHash");
}

bool ImageSha256(const std::vector<uint8_t>& image, std::string& digest) {
    std::array<uint8_t, 32> value{};
    if (!Sha256Digest(image.data(), image.size(), value)) return false;
    static const char kHex[] = "0123456789abcdef";
    digest.clear();
    for (uint8_t byte : value) {
        digest += kHex[byte >> 4];
        digest += kHex[byte & 0x0F];
    }
    return true;
}
