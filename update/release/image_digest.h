#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The SHA-256 of `size` bytes, computed by the system (BCrypt). False when the
// system cannot compute it.
bool Sha256Digest(const uint8_t* data, size_t size, std::array<uint8_t, 32>& digest);

// The SHA-256 of a downloaded image, as 64 lower-case hex digits, computed by
// the system (BCrypt). False when the system cannot compute it.
bool ImageSha256(const std::vector<uint8_t>& image, std::string& digest);
