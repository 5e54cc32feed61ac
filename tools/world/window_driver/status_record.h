#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Wine's relay trace as a record of every text the program gives its windows.
//
// Run with WINEDEBUG=+relay,+timestamp and the prefix's RelayInclude set to
// user32.SetWindowTextW, Wine prints every call of that function on one line
// of the program's stderr, for example
//
//   5062.374:012c:Call user32.SetWindowTextW(0001008a,00c94370 L"\6b63\5728...") ret=14000289a
//
// (the tick count in seconds and milliseconds, the calling thread, the window
// handle, the pointer and the text, every character outside printable ASCII
// written as \XXXX). The calling thread writes the line as the call begins, so
// the record holds every text in order, however soon the next one replaces it;
// a second process reading the window can only see the texts that stay long
// enough for one of its reads.

struct RecordedText {
    uint64_t tickMs = 0;     // the tick count of the call (GetTickCount64); 0 without a time stamp
    uint32_t window = 0;     // the window handle as printed (window handles fit in 32 bits)
    std::wstring text;
    bool truncated = false;  // Wine printed only the start of a long text
};

// True when the line records a SetWindowTextW call with a text (not a null
// pointer), filling `out`; false for every other line.
bool ParseRelayTextLine(const std::string& line, RecordedText& out);

// The owner-drawn progress bar, read off the screen: a row of pixels across its
// inner area (0x00RRGGBB, left to right). The filled part is the blue gradient
// from the left edge; the track behind it is a pale blue-white. Returns the
// percentage the fill stands for, 0 when nothing is filled.
int ProgressPercentFromRow(const std::vector<uint32_t>& row);
