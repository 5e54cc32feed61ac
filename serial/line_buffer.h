#pragma once

#include <cstddef>
#include <string>

// The bytes of one read call, split into lines at each line feed (0x0A). A CR
// before the LF, blanks and control bytes at both ends of a line are trimmed
// away; a lone CR does not end a line. Bytes after the last line feed wait for
// the rest of their line.
class LineBuffer {
public:
    void Append(const char* data, size_t size);
    // The next complete line, trimmed; false while no line feed is buffered.
    bool TakeLine(std::string& line);

private:
    std::string bytes_;
    size_t consumed_ = 0;  // bytes of bytes_ already handed out as lines
};
