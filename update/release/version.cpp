#include "update/release/version.h"

#include <cstddef>

#include "base/ascii.h"
#include "device/records.h"

namespace {

// Orders two runs given as significant digits: a longer run is the larger
// number, runs of equal length order like their text.
int CompareNumberTexts(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() > b.size() ? 1 : -1;
    const int byText = a.compare(b);
    return byText > 0 ? 1 : (byText < 0 ? -1 : 0);
}

}  // namespace

std::vector<std::string> ExtractVersionNumbers(const std::string& text) {
    // Runs are kept as text, not as integers: build stamps such as 20261208123
    // do not fit 32 bits and must not wrap into small or negative numbers.
    std::vector<std::string> numbers;
    size_t pos = 0;
    while (pos < text.size()) {
        if (!IsAsciiDigit(text[pos])) {
            ++pos;
            continue;
        }
        const size_t runStart = pos;
        while (pos < text.size() && IsAsciiDigit(text[pos])) ++pos;
        size_t significant = runStart;
        while (significant + 1 < pos && text[significant] == '0') ++significant;
        numbers.push_back(text.substr(significant, pos - significant));
    }
    return numbers;
}

bool HasV16Prefix(const std::string& text) {
    if (text.size() < 3) return false;
    if (text[0] != 'v' && text[0] != 'V') return false;
    if (text[1] != '1' || text[2] != '6') return false;
    return text.size() == 3 || !IsAsciiDigit(text[3]);
}

int CompareVersions(const std::string& a, const std::string& b) {
    const std::vector<std::string> numbersA = ExtractVersionNumbers(a);
    const std::vector<std::string> numbersB = ExtractVersionNumbers(b);
    const bool markedA = HasV16Prefix(a);
    const bool markedB = HasV16Prefix(b);
    // A version marked v16 ranks below every unmarked version that names a
    // number, whatever the numbers; against a text without digits, or another
    // marked one, the numbers decide.
    if (markedA && !markedB && !numbersB.empty()) return -1;
    if (!markedA && markedB && !numbersA.empty()) return 1;

    const std::string zero = "0";
    const size_t length = numbersA.size() > numbersB.size() ? numbersA.size() : numbersB.size();
    for (size_t i = 0; i < length; ++i) {
        const std::string& componentA = i < numbersA.size() ? numbersA[i] : zero;
        const std::string& componentB = i < numbersB.size() ? numbersB[i] : zero;
        const int order = CompareNumberTexts(componentA, componentB);
        if (order != 0) return order;
    }
    return 0;
}

bool UpdateAvailable(const std::string& currentVersion, const std::string& latestVersion) {
    return !currentVersion.empty() && !latestVersion.empty() && CompareVersions(latestVersion, currentVersion) > 0;
}

ReleaseVersionCheck CheckReleaseVersion(const std::string& version) {
    if (version.empty()) return ReleaseVersionCheck::Empty;
    if (version.size() > kDeviceVersionLimit) return ReleaseVersionCheck::TooLong;
    for (char c : version) {
        if (c < ' ' || c > '~' || c == ';') return ReleaseVersionCheck::BadCharacter;
    }
    if (version.front() == ' ' || version.back() == ' ') return ReleaseVersionCheck::BadCharacter;
    if (ExtractVersionNumbers(version).empty()) return ReleaseVersionCheck::NoNumber;
    if (HasV16Prefix(version)) return ReleaseVersionCheck::V16Mark;
    return ReleaseVersionCheck::Ok;
}
