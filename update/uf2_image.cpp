#include "update/uf2_image.h"

#include <set>

// The checks run in this order, and the first problem found is the answer:
//  1. the size (empty, or not whole 512-byte blocks);
//  2. the three magic numbers of every block, in file order;
//  3. each RP2040 flash block in file order: payload size, address alignment,
//     address inside flash or RAM, block count (against the first RP2040 block's), block number below the
//     count, block number not seen before;
//  4. at least one RP2040 flash block;
//  5. every block number of 0..count-1 present.
// So a file cut short by whole blocks reads as MissingBlock, and one cut inside
// a block as BadSize.

namespace {

const size_t kBlockSize = 512;
const uint32_t kMagicStart0 = 0x0A324655;
const uint32_t kMagicStart1 = 0x9E5D5157;
const uint32_t kMagicEnd = 0x0AB16F30;
const uint32_t kFlagNotMainFlash = 0x00000001;
const uint32_t kFlagFamilyIdPresent = 0x00002000;
const uint32_t kFamilyRp2040 = 0xE48BFF56;
const uint32_t kRp2040PayloadSize = 256;

// Field offsets inside a block.
const size_t kOffsetMagicStart0 = 0;
const size_t kOffsetMagicStart1 = 4;
const size_t kOffsetFlags = 8;
const size_t kOffsetTargetAddress = 12;
const size_t kOffsetPayloadSize = 16;
const size_t kOffsetBlockNumber = 20;
const size_t kOffsetBlockCount = 24;
const size_t kOffsetFamilyId = 28;
const size_t kOffsetMagicEnd = 508;

// Where the boot ROM puts what a block carries: the 16 MiB flash window, the
// 264 KiB of SRAM, and the same SRAM seen bank by bank. A block meant for
// anywhere else is not flashable.
struct MemoryWindow {
    uint32_t start;
    uint32_t end;  // one past the last byte
};
const MemoryWindow kRp2040Memory[] = {
    {0x10000000, 0x11000000},  // flash (XIP)
    {0x20000000, 0x20042000},  // SRAM, striped
    {0x21000000, 0x21040000},  // SRAM banks 0-3, not striped
};

bool InsideMemory(uint32_t address) {
    for (const MemoryWindow& window : kRp2040Memory) {
        if (address >= window.start && uint64_t{address} + kRp2040PayloadSize <= window.end) return true;
    }
    return false;
}

// UF2 fields are little-endian and the image sits at any alignment in memory.
uint32_t ReadLe32(const uint8_t* block, size_t offset) {
    return static_cast<uint32_t>(block[offset]) | (static_cast<uint32_t>(block[offset + 1]) << 8) |
           (static_cast<uint32_t>(block[offset + 2]) << 16) | (static_cast<uint32_t>(block[offset + 3]) << 24);
}

bool HasMagic(const uint8_t* block) {
    return ReadLe32(block, kOffsetMagicStart0) == kMagicStart0 && ReadLe32(block, kOffsetMagicStart1) == kMagicStart1 &&
           ReadLe32(block, kOffsetMagicEnd) == kMagicEnd;
}

// The boot ROM writes only blocks that name the RP2040 family and are meant for
// main flash; everything else in the file (other families, not-main-flash
// blocks, blocks without a family ID) it passes over.
bool IsRp2040FlashBlock(const uint8_t* block) {
    const uint32_t flags = ReadLe32(block, kOffsetFlags);
    return (flags & kFlagFamilyIdPresent) != 0 && (flags & kFlagNotMainFlash) == 0 &&
           ReadLe32(block, kOffsetFamilyId) == kFamilyRp2040;
}

}  // namespace

Uf2Check CheckRp2040Uf2Image(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0 || size % kBlockSize != 0) return Uf2Check::BadSize;
    const size_t blockTotal = size / kBlockSize;
    for (size_t i = 0; i < blockTotal; ++i) {
        if (!HasMagic(data + i * kBlockSize)) return Uf2Check::BadMagic;
    }

    bool anyRp2040 = false;
    uint32_t count = 0;
    std::set<uint32_t> seen;
    for (size_t i = 0; i < blockTotal; ++i) {
        const uint8_t* block = data + i * kBlockSize;
        if (!IsRp2040FlashBlock(block)) continue;
        if (ReadLe32(block, kOffsetPayloadSize) != kRp2040PayloadSize) return Uf2Check::BadPayload;
        const uint32_t address = ReadLe32(block, kOffsetTargetAddress);
        if (address % kRp2040PayloadSize != 0) return Uf2Check::BadAddress;
        if (!InsideMemory(address)) return Uf2Check::OutsideMemory;
        const uint32_t blockCount = ReadLe32(block, kOffsetBlockCount);
        if (!anyRp2040) {
            count = blockCount;
            anyRp2040 = true;
        } else if (blockCount != count) {
            return Uf2Check::MixedBlockCount;
        }
        const uint32_t number = ReadLe32(block, kOffsetBlockNumber);
        if (number >= count) return Uf2Check::BadBlockNumber;
        if (!seen.insert(number).second) return Uf2Check::RepeatedBlock;
    }
    if (!anyRp2040) return Uf2Check::NoRp2040Blocks;
    // Every number seen is below the count and none twice, so they cover 0..count-1 exactly when there are count of them.
    if (seen.size() != count) return Uf2Check::MissingBlock;
    return Uf2Check::Ok;
}

size_t Rp2040FlashEnd(const uint8_t* data, size_t size) {
    if (data == nullptr) return 0;
    size_t end = 0;
    for (size_t at = 0; at + kBlockSize <= size; at += kBlockSize) {
        if (HasMagic(data + at) && IsRp2040FlashBlock(data + at)) end = at + kBlockSize;
    }
    return end;
}
