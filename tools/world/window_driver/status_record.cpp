#include "status_record.h"

#include <cstddef>
#include <utility>

namespace {

constexpr char kCall[] = "Call user32.SetWindowTextW(";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads hexadecimal digits at `at`; false when there is none or the value does not fit.
bool ReadHex(const std::string& line, size_t& at, uint64_t& value) {
    const size_t start = at;
    value = 0;
    while (at < line.size() && HexValue(line[at]) >= 0) {
        if (at - start >= 16) return false;
        value = value * 16 + static_cast<uint64_t>(HexValue(line[at]));
        ++at;
    }
    return at > start;
}

// "SSSS.mmm:" at the start of the line (Wine's +timestamp) as milliseconds, 0 without one.
uint64_t LeadingTick(const std::string& line) {
    size_t at = 0;
    uint64_t seconds = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && at < 12) {
        seconds = seconds * 10 + static_cast<uint64_t>(line[at] - '0');
        ++at;
    }
    if (at == 0 || at + 5 > line.size() || line[at] != '.') return 0;
    uint64_t millis = 0;
    for (size_t i = at + 1; i < at + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        millis = millis * 10 + static_cast<uint64_t>(line[i] - '0');
    }
    if (line[at + 4] != ':') return 0;
    return seconds * 1000 + millis;
}

// Decodes the quoted text that starts after L" at `at`, as Wine's debugstr_w writes
// it; `at` ends after the closing quote. False when the quote is not closed.
bool DecodeText(const std::string& line, size_t& at, std::wstring& text) {
    text.clear();
    while (at < line.size()) {
        const char c = line[at++];
        if (c == '"') return true;
        if (c != '\\') {
            text += static_cast<wchar_t>(static_cast<unsigned char>(c));
            continue;
        }
        if (at >= line.size()) return false;
        const char e = line[at];
        if (e == 'n' || e == 'r' || e == 't' || e == '"' || e == '\\') {
            text += e == 'n' ? L'\n' : e == 'r' ? L'\r' : e == 't' ? L'\t' : static_cast<wchar_t>(e);
            ++at;
            continue;
        }
        if (at + 4 > line.size()) return false;
        unsigned value = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int digit = HexValue(line[at + i]);
            if (digit < 0) return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        text += static_cast<wchar_t>(value);
        at += 4;
    }
    return false;
}

}  // namespace

bool ParseRelayTextLine(const std::string& line, RecordedText& out) {
    const size_t call = line.find(kCall);
    if (call == std::string::npos) return false;
    size_t at = call + sizeof kCall - 1;
    uint64_t window = 0;
    uint64_t pointer = 0;
    if (!ReadHex(line, at, window) || window > 0xFFFFFFFFu) return false;
    if (at >= line.size() || line[at++] != ',') return false;
    if (!ReadHex(line, at, pointer)) return false;
    // A null pointer is printed as the bare number: there is no text to record.
    if (line.compare(at, 3, " L\"") != 0) return false;
    at += 3;
    RecordedText parsed;
    if (!DecodeText(line, at, parsed.text)) return false;
    parsed.truncated = line.compare(at, 3, "...") == 0;
    if (parsed.truncated) at += 3;
    if (at >= line.size() || line[at] != ')') return false;
    parsed.window = static_cast<uint32_t>(window);
    parsed.tickMs = LeadingTick(line);
    out = std::move(parsed);
    return true;
}

int ProgressPercentFromRow(const std::vector<uint32_t>& row) {
    if (row.empty()) return 0;
    // The fill's blue stands far above its red (43,126,229 to 37,94,179); the
    // track (237,244,253) and its border (196,213,236) are nearly grey.
    size_t filled = 0;
    while (filled < row.size()) {
        const uint32_t colour = row[filled];
        const int red = static_cast<int>((colour >> 16) & 0xFF);
        const int blue = static_cast<int>(colour & 0xFF);
        if (blue - red < 100) break;
        ++filled;
    }
    // The painter fills width * percent / 100 pixels (rounded down), so rounding
    // the fraction back gives the percentage it was drawn for.
    return static_cast<int>((filled * 100 + row.size() / 2) / row.size());
}
