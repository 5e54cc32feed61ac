#pragma once

#include <cstdint>

// A download must keep moving: a server that sends a few bytes just before
// each of the library's time-outs would otherwise hold the task for hours.
// The download keeps a mark, a time and its byte count then, set when the
// headers arrive. Whenever kPaceWindowMs have passed since the mark, fewer
// than kPaceFloorBytes brought since it fail the download; otherwise the mark
// moves to now.

// The least a download must keep bringing: 16 KiB in every 30 s, about
// 0.5 KiB/s, which any working connection beats by far.
constexpr uint64_t kPaceWindowMs = 30000;
constexpr uint64_t kPaceFloorBytes = 16384;

struct PaceMark {
    uint64_t timeMs = 0;
    uint64_t bytes = 0;
};

enum class Pace {
    Fine,       // the window since the mark is still open
    MarkMoved,  // the window closed with enough brought: a new one starts now
    TooSlow,    // the window closed with too little brought
};

// Judges the download at `nowMs` (a tick count) with `bytes` brought in all.
Pace CheckPace(PaceMark& mark, uint64_t nowMs, uint64_t bytes);
