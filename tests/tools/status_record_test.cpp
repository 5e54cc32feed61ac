#include "status_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "view/geometry.h"

// The window driver's reading of Wine's relay record (lines as Wine 8 prints
// them) and of the progress bar off the screen.

TEST(RelayRecord, ReadsTheTimeTheWindowAndTheTextOfACall) {
    RecordedText text;
    ASSERT_TRUE(ParseRelayTextLine(
        "6630.958:0144:Call user32.SetWindowTextW(0001008a,00c94770 L\"\\6b63\\5728\\5199\\5165 UF2 "
        "\\5230 RPI-RP2...\") ret=14000289a",
        text));
    EXPECT_EQ(text.tickMs, 6630958u);
    EXPECT_EQ(text.window, 0x1008au);
    EXPECT_EQ(text.text, L"正在写入 UF2 到 RPI-RP2...");
    EXPECT_FALSE(text.truncated);
}

TEST(RelayRecord, UndoesEveryEscapeOfWine) {
    RecordedText text;
    ASSERT_TRUE(ParseRelayTextLine(
        "1.000:0020:Call user32.SetWindowTextW(00010002,0021f530 L\"a\\\\b\\\"c\\nd\\te\\r\\00e9\\ff0c\") ret=1", text));
    EXPECT_EQ(text.text, L"a\\b\"c\nd\te\r\u00e9\uff0c");
    ASSERT_TRUE(ParseRelayTextLine("1.000:0020:Call user32.SetWindowTextW(00010002,0021f530 L\"\") ret=1", text));
    EXPECT_EQ(text.text, L"");
}

TEST(RelayRecord, MarksATextWinePrintedOnlyInPart) {
    RecordedText text;
    ASSERT_TRUE(ParseRelayTextLine(
        "7.001:0020:Call user32.SetWindowTextW(00010002,0021f530 L\"\\6b63\\5728\"...) ret=140001bf2", text));
    EXPECT_TRUE(text.truncated);
    EXPECT_EQ(text.text, L"正在");
}

TEST(RelayRecord, ALineWithoutTimeStampHasTickZero) {
    RecordedText text;
    ASSERT_TRUE(ParseRelayTextLine("0144:Call user32.SetWindowTextW(0001008a,00c94770 L\"x\") ret=1", text));
    EXPECT_EQ(text.tickMs, 0u);
    EXPECT_EQ(text.text, L"x");
}

TEST(RelayRecord, IgnoresEverythingElse) {
    const char* lines[] = {
        "",
        "6627.697:0144:Ret  user32.SetWindowTextW() retval=00000001 ret=140001bf2",
        "6627.135:0144:trace:relay:load_list L\"RelayInclude\" = L\"user32.SetWindowTextW\"",
        "6627.908:0144:Call PE DLL (proc=0000000170068C10,module=0000000170000000 L\"ntdll.dll\",reason=PROCESS_ATTACH)",
        "6627.697:0144:Call user32.SetWindowTextA(0001008a,00c94370 \"abc\") ret=1",
        // A null pointer is printed without any text.
        "6627.697:0144:Call user32.SetWindowTextW(0001008a,00000000) ret=140001bf2",
        // Cut off, or with an escape Wine never writes.
        "6627.697:0144:Call user32.SetWindowTextW(0001008a,00c94370 L\"\\6b63\\57",
        "6627.697:0144:Call user32.SetWindowTextW(0001008a,00c94370 L\"\\zz12\") ret=1",
        // A window handle wider than 32 bits is no window handle.
        "6627.697:0144:Call user32.SetWindowTextW(10001008a,00c94370 L\"x\") ret=1",
    };
    for (const char* line : lines) {
        RecordedText text;
        EXPECT_FALSE(ParseRelayTextLine(line, text)) << line;
    }
}

namespace {
// One row across the bar's inner area as the program paints it: the gradient up
// to ProgressBarRight, the track after it.
std::vector<uint32_t> PaintedRow(int32_t width, int32_t percent) {
    const int32_t right = ProgressBarRight(0, width, percent);
    std::vector<uint32_t> row;
    for (int32_t x = 0; x < width; ++x) {
        const int32_t shade = width > 1 ? x * 50 / (width - 1) : 0;  // 229 down to 179
        row.push_back(x < right ? (43u << 16) | (126u << 8) | static_cast<uint32_t>(229 - shade)
                                : (237u << 16) | (244u << 8) | 253u);
    }
    return row;
}
}  // namespace

// The bar's inner area is 830 pixels wide in the window as laid out (836 at other
// sizes); from 600 pixels up even 1 % is wider than the 6 pixels a started bar gets.
TEST(ProgressBar, ReadsBackEveryPercentageThePainterDraws) {
    for (int32_t width : {830, 836, 600, 1200}) {
        for (int32_t percent = 0; percent <= 100; ++percent) {
            EXPECT_EQ(ProgressPercentFromRow(PaintedRow(width, percent)), percent) << width << " px";
        }
    }
}

TEST(ProgressBar, AnEmptyOrUnpaintedRowIsZero) {
    EXPECT_EQ(ProgressPercentFromRow({}), 0);
    // The track's border colour at the left edge is no fill.
    EXPECT_EQ(ProgressPercentFromRow(std::vector<uint32_t>(100, (196u << 16) | (213u << 8) | 236u)), 0);
}
