#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A release is signed offline by its vendor (tools/release/release-sign.py): ECDSA
// P-256 over SHA-256 of the exact bytes of com.ini, served beside it as
// com.ini.sig. A program built with NORVA_RELEASE_KEYS takes a manifest only
// when its signature verifies under one of those keys.

// The signature r‖s, each a 32-byte big-endian number.
using ReleaseSignature = std::array<uint8_t, 64>;

// A trusted public key: the point's X‖Y, each 32 bytes big-endian (an
// uncompressed point without its leading 04).
using ReleaseKey = std::array<uint8_t, 64>;

// com.ini.sig's body: the base64 (standard alphabet, with padding) of the 64
// signature bytes; whitespace anywhere in it is ignored. False for anything else.
bool DecodeReleaseSignature(const std::string& body, ReleaseSignature& signature);

// The keys this program trusts, as its build named them; none without
// NORVA_RELEASE_KEYS. Defined with the update host (update/CMakeLists.txt).
std::vector<ReleaseKey> TrustedReleaseKeys();

// True when `signature` verifies, ECDSA P-256 over SHA-256 of `signedBytes`,
// under one of `keys`, checked by the system (BCrypt; release_signature_win.cpp).
// A key the system refuses (a point off the curve) verifies nothing; the
// system's reason is traced.
bool VerifyReleaseSignature(const std::string& signedBytes, const ReleaseSignature& signature,
                            const std::vector<ReleaseKey>& keys);
