#include "serial/line_buffer.h"

#include "base/trim.h"

void LineBuffer::Append(const char* data, size_t size) {
    // Drop what was handed out before growing, so a long session of lines
    // does not keep every byte ever read.
    if (consumed_ > 0 && consumed_ >= bytes_.size() / 2) {
        bytes_.erase(0, consumed_);
        consumed_ = 0;
    }
    bytes_.append(data, size);
}

bool LineBuffer::TakeLine(std::string& line) {
    const size_t end = bytes_.find('\n', consumed_);
    if (end == std::string::npos) return false;
    line = TrimBytes(bytes_.substr(consumed_, end - consumed_));
    consumed_ = end + 1;
    return true;
}
