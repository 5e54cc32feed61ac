#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "fuzz_require.h"
#include "update/image/uf2_image.h"

namespace {

void PutLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A block of another family: the boot ROM passes over it, and so must the check.
void AppendForeignBlock(std::vector<uint8_t>& image) {
    const size_t at = image.size();
    image.resize(at + 512, 0);
    PutLe32(image, at + 0, 0x0A324655);
    PutLe32(image, at + 4, 0x9E5D5157);
    PutLe32(image, at + 8, 0x2000);
    PutLe32(image, at + 28, 0x00FF6919);
    PutLe32(image, at + 508, 0x0AB16F30);
}

uint32_t Le32(const std::vector<uint8_t>& image, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(image[offset + i]) << (8 * i);
    return value;
}

bool IsRp2040FlashBlock(const std::vector<uint8_t>& image, size_t at) {
    const uint32_t flags = Le32(image, at + 8);
    return (flags & 0x2000) != 0 && (flags & 1) == 0 && Le32(image, at + 28) == 0xE48BFF56;
}

// The boot ROM's flash as an image taken in file order leaves it: the first
// block of each run of 16 block numbers erases the 4 KiB sector it lies in, and
// a page takes a block only while erased. True when every block of the image
// lies, all 256 bytes, in flash and is still there at the end, and the page at
// 0x10000000 passes the boot2 check.
bool FlashedWholeAndBootable(const std::vector<uint8_t>& image) {
    enum class Page { Old, Erased, Written, Lost };
    std::map<uint32_t, Page> pages;  // a page not here holds the old firmware
    std::set<uint32_t> erasedRuns;
    bool boot2 = false;
    for (size_t at = 0; at + 512 <= image.size(); at += 512) {
        if (!IsRp2040FlashBlock(image, at)) continue;
        const uint32_t address = Le32(image, at + 12);
        if (address < 0x10000000 || uint64_t{address} + 256 > 0x11000000) return false;
        if (erasedRuns.insert(Le32(image, at + 20) / 16).second) {
            for (uint32_t page = address & ~0xFFFu; page < (address & ~0xFFFu) + 4096; page += 256) {
                Page& state = pages[page];
                state = state == Page::Written || state == Page::Lost ? Page::Lost : Page::Erased;
            }
        }
        Page& state = pages[address];
        state = state == Page::Erased ? Page::Written : Page::Lost;
        if (address == 0x10000000) boot2 = Rp2040Boot2Crc(image.data() + at + 32, 252) == Le32(image, at + 32 + 252);
    }
    for (const auto& page : pages) {
        if (page.second == Page::Lost) return false;
    }
    return boot2;
}

void Check(const std::vector<uint8_t>& image) {
    const Uf2Check result = CheckRp2040Uf2Image(image.data(), image.size());
    if (result == Uf2Check::Ok) Require(!image.empty() && image.size() % 512 == 0, "Ok only for whole blocks");
    if (result == Uf2Check::Ok) Require(FlashedWholeAndBootable(image), "Ok only for what the boot ROM flashes whole and boots");
    if (result == Uf2Check::BadSize) return;
    std::vector<uint8_t> extended = image;
    AppendForeignBlock(extended);
    Require(CheckRp2040Uf2Image(extended.data(), extended.size()) == result, "a foreign block changes nothing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> raw(data, data + size);
    Check(raw);

    // Random bytes rarely carry all three magic numbers; stamp them into every
    // whole block so that the fuzzer reaches the block checks behind them.
    std::vector<uint8_t> stamped(data, data + size - size % 512);
    for (size_t at = 0; at < stamped.size(); at += 512) {
        PutLe32(stamped, at + 0, 0x0A324655);
        PutLe32(stamped, at + 4, 0x9E5D5157);
        PutLe32(stamped, at + 508, 0x0AB16F30);
    }
    Check(stamped);
    return 0;
}
