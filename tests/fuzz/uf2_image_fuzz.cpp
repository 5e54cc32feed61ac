#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_require.h"
#include "update/uf2_image.h"

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

// Every block the boot ROM would write lies, all 256 bytes, in flash or RAM.
bool EveryRp2040BlockInsideMemory(const std::vector<uint8_t>& image) {
    for (size_t at = 0; at + 512 <= image.size(); at += 512) {
        const uint32_t flags = Le32(image, at + 8);
        if ((flags & 0x2000) == 0 || (flags & 1) != 0 || Le32(image, at + 28) != 0xE48BFF56) continue;
        const uint64_t address = Le32(image, at + 12);
        const bool flash = address >= 0x10000000 && address + 256 <= 0x11000000;
        const bool sram = address >= 0x20000000 && address + 256 <= 0x20042000;
        const bool banks = address >= 0x21000000 && address + 256 <= 0x21040000;
        if (!flash && !sram && !banks) return false;
    }
    return true;
}

void Check(const std::vector<uint8_t>& image) {
    const Uf2Check result = CheckRp2040Uf2Image(image.data(), image.size());
    if (result == Uf2Check::Ok) Require(!image.empty() && image.size() % 512 == 0, "Ok only for whole blocks");
    if (result == Uf2Check::Ok) Require(EveryRp2040BlockInsideMemory(image), "Ok only for blocks inside memory");
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
