#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/line_buffer.h"

namespace {
std::vector<std::string> Feed(LineBuffer& buffer, const std::string& bytes) {
    buffer.Append(bytes.data(), bytes.size());
    std::vector<std::string> lines;
    std::string line;
    while (buffer.TakeLine(line)) lines.push_back(line);
    return lines;
}
using Lines = std::vector<std::string>;
}  // namespace

TEST(LineBuffer, SplitsAtLineFeedsAndTrimsEachLine) {
    LineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "TEL|fw=1\r\nOK\n\n  \t\nHID|op=x \x01\r\n"),
              (Lines{"TEL|fw=1", "OK", "", "", "HID|op=x"}));
    EXPECT_EQ(Feed(buffer, "\n"), Lines{""});  // nothing was left over
}

TEST(LineBuffer, ALoneCarriageReturnDoesNotEndALine) {
    LineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "first\rsecond"), Lines{});
    EXPECT_EQ(Feed(buffer, "\n"), (Lines{"first\rsecond"}));
}

TEST(LineBuffer, JoinsALineSplitAcrossReads) {
    LineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "TEL|fw=1."), Lines{});
    EXPECT_EQ(Feed(buffer, "2.0;ap"), Lines{});
    EXPECT_EQ(Feed(buffer, "p=1\r"), Lines{});
    EXPECT_EQ(Feed(buffer, "\nnext"), (Lines{"TEL|fw=1.2.0;app=1"}));
    EXPECT_EQ(Feed(buffer, "\n"), Lines{"next"});  // the 4 bytes after the line feed waited
}

TEST(LineBuffer, KeepsUtf8AndOtherHighBytesAtTheEnds) {
    LineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "\xe7\x89\x88\xe6\x9c\xac 1.0 \xff\r\n"), (Lines{"\xe7\x89\x88\xe6\x9c\xac 1.0 \xff"}));
}

TEST(LineBuffer, NulBytesInsideALineStayAndAtTheEndsGo) {
    LineBuffer buffer;
    const std::string bytes("\0a\0b\0\n", 6);
    EXPECT_EQ(Feed(buffer, bytes), (Lines{std::string("a\0b", 3)}));
}

TEST(LineBuffer, ALongRunWithoutLineFeedsThenManyLinesKeepsEveryByte) {
    LineBuffer buffer;
    const std::string burst(100000, 'x');
    EXPECT_EQ(Feed(buffer, burst), Lines{});
    Lines expected{burst + "y"};
    std::string more = "y\n";
    for (int i = 0; i < 1000; ++i) {
        more += "line" + std::to_string(i) + "\n";
        expected.push_back("line" + std::to_string(i));
    }
    EXPECT_EQ(Feed(buffer, more), expected);
    EXPECT_EQ(Feed(buffer, "\n"), Lines{""});
}
