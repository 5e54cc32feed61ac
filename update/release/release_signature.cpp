#include "update/release/release_signature.h"

#include <cstddef>
#include <tuple>

namespace {

// The value of a base64 digit of the standard alphabet, -1 for any other byte.
int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

bool DecodeReleaseSignature(const std::string& body, ReleaseSignature& signature) {
    std::string digits;
    for (char c : body) {
        if (!IsBase64Space(c)) digits += c;
    }
    // 64 bytes are 21 groups of three and one byte more: 88 digits ending in "==".
    constexpr size_t kDigits = (std::tuple_size<ReleaseSignature>::value + 2) / 3 * 4;
    if (digits.size() != kDigits || digits.compare(kDigits - 2, 2, "==") != 0) return false;
    ReleaseSignature decoded{};
    size_t out = 0;
    uint32_t bits = 0;
    int pending = 0;
    for (size_t i = 0; i < kDigits - 2; ++i) {
        const int value = Base64Digit(digits[i]);
        if (value < 0) return false;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            decoded[out++] = static_cast<uint8_t>(bits >> pending);
            bits &= (1u << pending) - 1;
        }
    }
    // The digit before the padding carries 4 bits no byte uses: a canonical encoding has them 0.
    if (bits != 0) return false;
    signature = decoded;
    return true;
}
