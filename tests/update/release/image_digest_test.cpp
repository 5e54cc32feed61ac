#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/release/image_digest.h"

// The system's SHA-256 (BCrypt) against the published test vectors.
TEST(ImageSha256, GivesTheKnownDigests) {
    const struct {
        std::string bytes;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        std::string digest = "stale";
        ASSERT_TRUE(ImageSha256(std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()), digest));
        EXPECT_EQ(digest, c.digest);
    }
}
