#include <gtest/gtest.h>

#include "base/trim.h"

TEST(TrimBytes, RemovesBlanksAndControlBytesAtBothEnds) {
    EXPECT_EQ(TrimBytes(" \t\r\n\x01" "abc" "\x1f "), "abc");
    EXPECT_EQ(TrimBytes("\x7f" "a b" "\x7f"), "\x7f" "a b" "\x7f");  // DEL is above 0x20
    EXPECT_EQ(TrimBytes(std::string("\0\0x y\0", 6)), "x y");
    EXPECT_EQ(TrimBytes("   "), "");
    EXPECT_EQ(TrimBytes(""), "");
}

TEST(TrimBytes, KeepsUtf8BytesAtTheEnds) {
    EXPECT_EQ(TrimBytes(" \xe5\x9b\xba\xe4\xbb\xb6 "), "\xe5\x9b\xba\xe4\xbb\xb6");
    EXPECT_EQ(TrimBytes("\xa0" "a" "\xa0"), "\xa0" "a" "\xa0");
}
