#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/trace.h"
#include "tests/support/calls_override.h"
#include "update/release/release_signature.h"

// The system's ECDSA P-256 check (BCrypt) of a signature made by Python's
// `cryptography` package, as tools/release/release-sign.py makes them. The key's
// private half was thrown away once the signature was made.

namespace {

const std::string kSigned = "version=1.2.0\nxzdz=http://h/fw.uf2\nsha256=" + std::string(64, '0') + "\n";
const char kKeyHex[] =
    "b1a1f914e05615b7ca4d459b42af0b4e47d1da35e3fc176be5ce74bd3f325ecc"
    "4ea59a40750871f9c66b8c7b2ff5a2da33ce52bc4f6c906f0aee4598a0e52ea7";
const char kSignature[] = "zLRjGTVxtn/CA5jhWlX7JuqqO0HDz5WQ6xrDyYdx+yHcQ44q0b+cGh4gGLDOaNN0DmbhPXlqAyeumtfO5+yKig==";

ReleaseKey KeyFromHex(const char* hex) {
    ReleaseKey key{};
    for (size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
    }
    return key;
}

std::vector<std::wstring> traced;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

// A key of the right form that is no point of the curve verifies nothing, and
// the system's reason is traced; the other trusted key still verifies.
TEST(VerifyReleaseSignature, TheVendorsSignatureVerifiesAndAPointOffTheCurveVerifiesNothing) {
    ReleaseSignature signature{};
    ASSERT_TRUE(DecodeReleaseSignature(kSignature, signature));
    const ReleaseKey key = KeyFromHex(kKeyHex);
    EXPECT_TRUE(VerifyReleaseSignature(kSigned, signature, {key}));
    std::string changed = kSigned;
    changed[8] = '3';
    EXPECT_FALSE(VerifyReleaseSignature(changed, signature, {key}));

    ReleaseKey offCurve = key;
    offCurve[63] ^= 1;
    traced.clear();
    CallsOverride<DebugCalls> debug;
    debug->outputDebugString = [](LPCWSTR text) { traced.emplace_back(text); };
    EXPECT_FALSE(VerifyReleaseSignature(kSigned, signature, {offCurve}));
    ASSERT_EQ(traced.size(), 1u);
    // Where the system finds it out depends on the system: the import or the check.
    EXPECT_NE(traced[0].find(L"release key 1: error 0xC"), std::wstring::npos) << Narrow(traced[0]);
    EXPECT_EQ(traced[0].compare(0, 14, L"NORVA1: BCrypt"), 0) << Narrow(traced[0]);
    EXPECT_TRUE(VerifyReleaseSignature(kSigned, signature, {offCurve, key}));
}
