#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_require.h"
#include "update/release/version.h"

namespace {

void CheckNumbers(const std::string& text) {
    for (const std::string& number : ExtractVersionNumbers(text)) {
        Require(!number.empty(), "a run is never empty");
        Require(number.size() == 1 || number[0] != '0', "leading zeros dropped");
        for (char c : number) Require(c >= '0' && c <= '9', "a run holds digits only");
    }
}

}  // namespace

// The input is two versions: before and after the first line feed, or its two halves.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    const size_t skip = cut == std::string::npos ? 0 : 1;
    if (cut == std::string::npos) cut = input.size() / 2;
    const std::string a = input.substr(0, cut);
    const std::string b = input.substr(cut + skip);

    const int ab = CompareVersions(a, b);
    Require(ab >= -1 && ab <= 1, "result is -1, 0 or 1");
    Require(ab == -CompareVersions(b, a), "swapping the texts reverses the order");
    Require(CompareVersions(a, a) == 0, "a text ranks equal to itself");
    Require(CompareVersions(a + ".0", a) == 0, "a trailing zero component carries no weight");
    CheckNumbers(a);
    CheckNumbers(b);
    return 0;
}
