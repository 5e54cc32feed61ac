#pragma once

#include <cstdint>

// Every colour of the window's look. Values have the layout of a GDI COLORREF
// (0x00BBGGRR), so the painters use them as they are and the tests can read
// them back out of a screenshot.
namespace palette {

constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr uint8_t Red(uint32_t c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t Green(uint32_t c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t Blue(uint32_t c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

// Backdrop: vertical gradient and the two soft circles.
constexpr uint32_t kBackdropTop = Rgb(245, 248, 253);
constexpr uint32_t kBackdropBottom = Rgb(232, 240, 250);
constexpr uint32_t kCircleTopRight = Rgb(220, 234, 251);
constexpr uint32_t kCircleBottomLeft = Rgb(233, 242, 252);

// Cards.
constexpr uint32_t kHeaderCardFill = Rgb(253, 254, 255);
constexpr uint32_t kConnectionCardFill = Rgb(252, 254, 255);
constexpr uint32_t kTopCardBorder = Rgb(218, 228, 243);  // header and connection cards
constexpr uint32_t kVersionCardFill = Rgb(255, 255, 255);
constexpr uint32_t kVersionCardBorder = Rgb(221, 231, 245);
constexpr uint32_t kStatusCardFill = Rgb(250, 253, 255);
constexpr uint32_t kStatusCardBorder = Rgb(194, 212, 238);

// Push buttons: fill and border per state.
struct ButtonColours {
    uint32_t fill;
    uint32_t border;
};
constexpr ButtonColours kPrimaryNormal{Rgb(45, 91, 150), Rgb(36, 78, 133)};
constexpr ButtonColours kPrimaryHot{Rgb(51, 98, 160), Rgb(37, 82, 139)};
constexpr ButtonColours kPrimaryPressed{Rgb(35, 74, 126), Rgb(32, 68, 118)};
constexpr ButtonColours kSecondaryNormal{Rgb(240, 245, 253), Rgb(202, 217, 238)};
constexpr ButtonColours kSecondaryHot{Rgb(232, 241, 252), Rgb(197, 215, 237)};
constexpr ButtonColours kSecondaryPressed{Rgb(226, 236, 248), Rgb(186, 205, 229)};
constexpr ButtonColours kButtonDisabled{Rgb(237, 242, 249), Rgb(218, 226, 240)};
constexpr uint32_t kPrimaryCaption = Rgb(255, 255, 255);
constexpr uint32_t kSecondaryCaption = Rgb(39, 58, 86);
constexpr uint32_t kDisabledCaption = Rgb(139, 152, 173);

// Toggle switches.
constexpr ButtonColours kToggleOn{Rgb(58, 143, 239), Rgb(49, 126, 214)};
constexpr ButtonColours kToggleOff{Rgb(214, 223, 236), Rgb(196, 208, 226)};
constexpr ButtonColours kToggleDisabled{Rgb(229, 235, 244), Rgb(210, 219, 233)};
constexpr uint32_t kKnobFill = Rgb(255, 255, 255);
constexpr uint32_t kKnobBorder = Rgb(220, 226, 236);

// Port combo box.
constexpr uint32_t kComboFieldFill = Rgb(248, 251, 255);
constexpr uint32_t kComboFieldBorderFocus = Rgb(83, 127, 193);
constexpr uint32_t kComboFieldBorder = Rgb(190, 209, 235);
constexpr uint32_t kComboFieldText = Rgb(30, 51, 82);
constexpr uint32_t kComboArrow = Rgb(92, 112, 145);
constexpr uint32_t kComboItemSelectedFill = Rgb(43, 95, 166);
constexpr uint32_t kComboItemFill = Rgb(247, 251, 255);
constexpr uint32_t kComboItemSelectedText = Rgb(255, 255, 255);
constexpr uint32_t kComboItemText = Rgb(36, 54, 84);

// Progress bar.
constexpr uint32_t kProgressTrackFill = Rgb(237, 244, 253);
constexpr uint32_t kProgressTrackBorder = Rgb(196, 213, 236);
constexpr uint32_t kProgressBarStart = Rgb(43, 126, 229);
constexpr uint32_t kProgressBarEnd = Rgb(37, 94, 179);

// Label texts and backgrounds.
constexpr uint32_t kTitleText = Rgb(15, 35, 66);
constexpr uint32_t kSubtitleText = Rgb(72, 98, 132);
constexpr uint32_t kSwitchLabelText = Rgb(32, 54, 90);
constexpr uint32_t kGoodText = Rgb(22, 124, 86);        // HID enabled, port open
constexpr uint32_t kQuietText = Rgb(92, 112, 145);      // HID not enabled
constexpr uint32_t kVersionText = Rgb(16, 38, 72);
constexpr uint32_t kNewerVersionText = Rgb(18, 117, 80);
constexpr uint32_t kVerdictText = Rgb(48, 74, 112);
constexpr uint32_t kDisconnectedText = Rgb(133, 84, 42);
constexpr uint32_t kCaptionText = Rgb(39, 58, 86);      // captions, port label, any other static
constexpr uint32_t kStatusText = Rgb(30, 52, 86);
constexpr uint32_t kWhite = Rgb(255, 255, 255);
constexpr uint32_t kHeaderLabelBack = Rgb(253, 254, 255);
constexpr uint32_t kStatusLabelBack = Rgb(250, 253, 255);

}  // namespace palette
