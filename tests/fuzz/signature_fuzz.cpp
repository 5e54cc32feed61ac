#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_require.h"
#include "update/release/release_signature.h"

// com.ini.sig as any server may send it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    ReleaseSignature signature{};
    signature.fill(0xA5);
    const ReleaseSignature untouched = signature;
    if (!DecodeReleaseSignature(body, signature)) {
        Require(signature == untouched, "a refused body leaves the signature untouched");
    } else {
        std::string digits;
        for (char c : body) {
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') digits += c;
        }
        Require(digits.size() == 88 && digits.compare(86, 2, "==") == 0, "88 digits ending in padding");
    }
    // Whitespace anywhere changes nothing.
    ReleaseSignature spaced{};
    const std::string wrapped = "\r\n " + body.substr(0, size / 2) + "\n\t" + body.substr(size / 2) + " ";
    Require(DecodeReleaseSignature(wrapped, spaced) == DecodeReleaseSignature(body, signature), "blanks are ignored");
    return 0;
}
