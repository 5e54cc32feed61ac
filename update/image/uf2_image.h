#pragma once

#include <cstddef>
#include <cstdint>

// Whether a downloaded file is a UF2 image that the RP2040 boot ROM will flash
// whole and then boot: whole 512-byte blocks with the UF2 magic numbers, and a
// complete set of RP2040 flash blocks (family 0xe48bff56, 256-byte payloads at
// 256-aligned addresses inside the flash window 0x10000000..0x11000000, block
// numbers 0..count-1 each once, one shared count), laid out so that the boot
// ROM's erases lose no page, with a boot2 page at 0x10000000 that passes the
// boot ROM's check.
enum class Uf2Check {
    Ok,
    BadSize,            // empty, or not a multiple of 512 bytes
    BadMagic,           // a block without the three magic numbers
    NoRp2040Blocks,     // no block the RP2040 boot ROM would take
    BadPayload,         // an RP2040 block whose payload is not 256 bytes
    BadAddress,         // an RP2040 block whose address is not 256-aligned
    InRam,              // an RP2040 block for RAM: a program the boot ROM runs once and never installs
    OutsideFlash,       // an RP2040 block whose 256 bytes lie outside flash (and outside RAM)
    MixedBlockCount,    // RP2040 blocks disagree on the block count
    BadBlockNumber,     // a block number not below the count
    RepeatedBlock,      // a block number twice
    MissingBlock,       // a block number of 0..count-1 never seen
    RunAcrossSectors,   // the blocks of one run of 16 block numbers lie in two 4 KiB sectors
    SectorShared,       // two runs of 16 block numbers lie in one 4 KiB sector
    RepeatedPage,       // two blocks for one 256-byte page
    NoBoot2,            // no block for 0x10000000, where the boot ROM looks for boot2
    BadBoot2,           // the page at 0x10000000 fails the boot ROM's CRC-32
};

Uf2Check CheckRp2040Uf2Image(const uint8_t* data, size_t size);

// The CRC-32 with which the boot ROM checks boot2 (the first 256 bytes of
// flash) before it runs it: polynomial 0x04C11DB7, most significant bit first,
// initial value 0xFFFFFFFF, no final xor. The page's first 252 bytes must give
// the value stored little-endian in its last 4.
uint32_t Rp2040Boot2Crc(const uint8_t* data, size_t size);

// How far into the image the boot ROM's part goes: the offset just past the
// last RP2040 flash block (0 when there is none). Once it has that block, the
// boot ROM flashes and reboots, whatever the host still writes after it (the
// blocks of other chips in a combined image).
size_t Rp2040FlashEnd(const uint8_t* data, size_t size);
