#pragma once

#include <cstdint>

// The arithmetic of the owner-drawn parts: where a toggle's knob sits and how
// far the progress bar reaches.

struct KnobBox {
    int32_t left = 0;
    int32_t top = 0;
    int32_t size = 0;  // diameter
};

// The knob of a toggle whose item rectangle is (left, top, right, bottom):
// h - 6 across (at least 12), vertically centred, 3 pixels from the end it rests at.
KnobBox ToggleKnob(int32_t left, int32_t top, int32_t right, int32_t bottom, bool on);

// The right edge of the filled bar inside the track's inner rectangle, or -1
// when nothing is filled (no progress, or no inner width). The percent is
// clamped to 0..100; a started bar is at least 6 pixels wide.
int32_t ProgressBarRight(int32_t innerLeft, int32_t innerRight, int32_t percent);
