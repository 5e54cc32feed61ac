#include "update/image/uf2_image.h"

#include <set>
#include <vector>

// The checks run in this order, and the first problem found is the answer:
//  1. the size (empty, or not whole 512-byte blocks);
//  2. the three magic numbers of every block, in file order;
//  3. each RP2040 flash block in file order: payload size, address alignment,
//     address inside flash (else in the boot ROM's RAM, else anywhere else),
//     block count (against the first RP2040 block's), block number below the
//     count, block number not seen before;
//  4. at least one RP2040 flash block;
//  5. every block number of 0..count-1 present;
//  6. the layout the boot ROM erases by: every run of 16 block numbers inside
//     one 4 KiB sector, then no sector holding two runs, then no page twice;
//  7. a block for 0x10000000 (boot2), and its CRC-32.
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
const uint32_t kSectorSize = 4096;
const uint32_t kBlocksPerRun = kSectorSize / kRp2040PayloadSize;
const size_t kBoot2CrcOffset = 252;

// Field offsets inside a block.
const size_t kOffsetMagicStart0 = 0;
const size_t kOffsetMagicStart1 = 4;
const size_t kOffsetFlags = 8;
const size_t kOffsetTargetAddress = 12;
const size_t kOffsetPayloadSize = 16;
const size_t kOffsetBlockNumber = 20;
const size_t kOffsetBlockCount = 24;
const size_t kOffsetFamilyId = 28;
const size_t kOffsetPayload = 32;
const size_t kOffsetMagicEnd = 508;

struct MemoryWindow {
    uint32_t start;
    uint32_t end;  // one past the last byte
};
// What the boot ROM installs: the 16 MiB flash window, whose first page is boot2.
const MemoryWindow kFlash = {0x10000000, 0x11000000};
// What it counts as RAM: the SRAM and the XIP cache used as SRAM. An image for
// RAM it runs once, straight from the drive, and installs nothing (a no_flash
// build, a flash eraser); the device then boots its old firmware, or none.
const MemoryWindow kRp2040Ram[] = {
    {0x20000000, 0x20042000},
    {0x15000000, 0x15004000},
};

bool Inside(const MemoryWindow& window, uint32_t address) {
    return address >= window.start && uint64_t{address} + kRp2040PayloadSize <= window.end;
}

bool InsideRam(uint32_t address) {
    for (const MemoryWindow& window : kRp2040Ram) {
        if (Inside(window, address)) return true;
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

struct PlacedBlock {
    uint32_t number;
    uint32_t address;
};

// The boot ROM erases a 4 KiB sector only for the first block it takes of each
// run of 16 block numbers (16k..16k+15), the sector that block's address lies
// in, and for no other block. So a run spread over two sectors writes pages
// onto a sector it never erased, a second run in a sector erases the pages the
// first wrote there, and a page written twice holds neither block. Which block
// comes first is up to the host, so a layout that can lose a page is refused.
Uf2Check CheckLayout(const std::vector<PlacedBlock>& blocks) {
    // The numbers are 0..count-1, each once, so every run has a block.
    const uint32_t kNoSector = 0xFFFFFFFF;
    std::vector<uint32_t> sectorOfRun((blocks.size() + kBlocksPerRun - 1) / kBlocksPerRun, kNoSector);
    for (const PlacedBlock& block : blocks) {
        uint32_t& sector = sectorOfRun[block.number / kBlocksPerRun];
        if (sector != kNoSector && sector != block.address / kSectorSize) return Uf2Check::RunAcrossSectors;
        sector = block.address / kSectorSize;
    }
    std::set<uint32_t> sectors;
    for (uint32_t sector : sectorOfRun) {
        if (!sectors.insert(sector).second) return Uf2Check::SectorShared;
    }
    std::set<uint32_t> pages;
    for (const PlacedBlock& block : blocks) {
        if (!pages.insert(block.address).second) return Uf2Check::RepeatedPage;
    }
    return Uf2Check::Ok;
}

}  // namespace

uint32_t Rp2040Boot2Crc(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

Uf2Check CheckRp2040Uf2Image(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0 || size % kBlockSize != 0) return Uf2Check::BadSize;
    const size_t blockTotal = size / kBlockSize;
    for (size_t i = 0; i < blockTotal; ++i) {
        if (!HasMagic(data + i * kBlockSize)) return Uf2Check::BadMagic;
    }

    uint32_t count = 0;
    std::vector<PlacedBlock> placed;
    std::set<uint32_t> seen;
    const uint8_t* boot2 = nullptr;
    for (size_t i = 0; i < blockTotal; ++i) {
        const uint8_t* block = data + i * kBlockSize;
        if (!IsRp2040FlashBlock(block)) continue;
        if (ReadLe32(block, kOffsetPayloadSize) != kRp2040PayloadSize) return Uf2Check::BadPayload;
        const uint32_t address = ReadLe32(block, kOffsetTargetAddress);
        if (address % kRp2040PayloadSize != 0) return Uf2Check::BadAddress;
        if (!Inside(kFlash, address)) return InsideRam(address) ? Uf2Check::InRam : Uf2Check::OutsideFlash;
        const uint32_t blockCount = ReadLe32(block, kOffsetBlockCount);
        if (placed.empty()) {
            count = blockCount;
        } else if (blockCount != count) {
            return Uf2Check::MixedBlockCount;
        }
        const uint32_t number = ReadLe32(block, kOffsetBlockNumber);
        if (number >= count) return Uf2Check::BadBlockNumber;
        if (!seen.insert(number).second) return Uf2Check::RepeatedBlock;
        placed.push_back({number, address});
        if (address == kFlash.start) boot2 = block + kOffsetPayload;
    }
    if (placed.empty()) return Uf2Check::NoRp2040Blocks;
    // Every number seen is below the count and none twice, so they cover 0..count-1 exactly when there are count of them.
    if (seen.size() != count) return Uf2Check::MissingBlock;
    const Uf2Check layout = CheckLayout(placed);
    if (layout != Uf2Check::Ok) return layout;
    if (boot2 == nullptr) return Uf2Check::NoBoot2;
    if (Rp2040Boot2Crc(boot2, kBoot2CrcOffset) != ReadLe32(boot2, kBoot2CrcOffset)) return Uf2Check::BadBoot2;
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
