#include <gtest/gtest.h>

#include <string>

#include "update/release/release_signature.h"

// com.ini.sig as tools write it: the base64 of 64 bytes, wrapped or not.

namespace {

// base64 of the bytes 0 to 63: every digit value but the last ones, with '+' and '/'.
const std::string kCanonical = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==";

ReleaseSignature Counting() {
    ReleaseSignature bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

std::string Replaced(std::string text, size_t at, const std::string& with) {
    return text.replace(at, with.size(), with);
}

}  // namespace

TEST(DecodeReleaseSignature, TakesTheBase64OfSixtyFourBytesWhereverItsLinesBreak) {
    for (const std::string& body :
         {kCanonical, kCanonical + "\n", " \t" + kCanonical.substr(0, 76) + "\r\n" + kCanonical.substr(76) + "\r\n",
          kCanonical.substr(0, 10) + "\n \f\v" + kCanonical.substr(10)}) {
        SCOPED_TRACE(body);
        ReleaseSignature signature{};
        ASSERT_TRUE(DecodeReleaseSignature(body, signature));
        EXPECT_EQ(signature, Counting());
    }
    ReleaseSignature high{};
    ASSERT_TRUE(DecodeReleaseSignature(
        "wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==", high));
    EXPECT_EQ(high[0], 0xC0);
    EXPECT_EQ(high[63], 0xFF);
}

TEST(DecodeReleaseSignature, RefusesEverythingElseAndKeepsWhatItHad) {
    const struct {
        const char* what;
        std::string body;
    } refused[] = {
        {"empty", ""},
        {"whitespace only", " \r\n"},
        {"63 bytes", kCanonical.substr(0, 84)},
        {"65 bytes", "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0A="},
        {"no padding", kCanonical.substr(0, 86)},
        {"one '=' of two", kCanonical.substr(0, 87)},
        {"the URL-safe alphabet", Replaced(kCanonical, 83, "-")},
        {"bits past the last byte", Replaced(kCanonical, 85, "x")},
        {"padding inside", Replaced(kCanonical, 4, "=")},
        {"a byte outside the alphabet", Replaced(kCanonical, 40, "*")},
        {"a blank in place of a digit", Replaced(kCanonical, 10, " ")},
        {"a NUL byte", Replaced(kCanonical, 40, std::string(1, '\0'))},
        {"text after the padding", kCanonical + "AA"},
        {"the hex of the signature", std::string(128, 'a')},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        ReleaseSignature signature{};
        signature[0] = 0x5A;
        EXPECT_FALSE(DecodeReleaseSignature(c.body, signature));
        EXPECT_EQ(signature[0], 0x5A);
    }
}
