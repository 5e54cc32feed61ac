#include "view/geometry.h"

#include <algorithm>

KnobBox ToggleKnob(int32_t left, int32_t top, int32_t right, int32_t bottom, bool on) {
    const int32_t h = bottom - top;
    KnobBox knob;
    knob.size = std::max(h - 6, 12);
    knob.left = on ? right - knob.size - 3 : left + 3;
    knob.top = top + (h - knob.size) / 2;
    return knob;
}

int32_t ProgressBarRight(int32_t innerLeft, int32_t innerRight, int32_t percent) {
    const int32_t p = std::min(std::max(percent, 0), 100);
    const int32_t width = innerRight - innerLeft;
    if (p == 0 || width <= 0) return -1;
    const int64_t filled = static_cast<int64_t>(width) * p / 100;
    return std::max(innerLeft + static_cast<int32_t>(filled), innerLeft + 6);
}
