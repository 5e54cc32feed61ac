#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "probe.h"
#include "ui/palette.h"

// Colour checks on screen copies: the screen gives 0x00RRGGBB, the palette
// holds GDI colours (0x00BBGGRR).

inline uint32_t ScreenColour(uint32_t colorref) {
    return (static_cast<uint32_t>(palette::Red(colorref)) << 16) |
           (static_cast<uint32_t>(palette::Green(colorref)) << 8) | palette::Blue(colorref);
}

inline int ChannelDistance(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift : {0, 8, 16}) {
        const int d = std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        if (d > worst) worst = d;
    }
    return worst;
}

inline std::string Hex(uint32_t rgb) {
    std::ostringstream out;
    out << "#" << std::hex << ((rgb >> 20) & 0xF) << ((rgb >> 16) & 0xF) << ((rgb >> 12) & 0xF)
        << ((rgb >> 8) & 0xF) << ((rgb >> 4) & 0xF) << (rgb & 0xF);
    return out.str();
}

// gtest predicate: the screen pixel at (x, y) is the palette colour, within tolerance per channel.
inline testing::AssertionResult PixelIs(const ScreenPixels& shot, int x, int y, uint32_t colorref, int tolerance = 2) {
    const uint32_t seen = shot.At(x, y);
    const uint32_t want = ScreenColour(colorref);
    if (ChannelDistance(seen, want) <= tolerance) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << Hex(seen) << ", expected "
                                       << Hex(want);
}

// How many pixels of the screen rectangle are the colour, within tolerance.
inline int CountColour(const ScreenPixels& shot, const RECT& area, uint32_t colorref, int tolerance) {
    const uint32_t want = ScreenColour(colorref);
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) count += ChannelDistance(shot.At(x, y), want) <= tolerance;
    }
    return count;
}
