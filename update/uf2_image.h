#pragma once

#include <cstddef>
#include <cstdint>

// Whether a downloaded file is a UF2 image that the RP2040 boot ROM will flash:
// whole 512-byte blocks with the UF2 magic numbers, and a complete set of
// RP2040 flash blocks (family 0xe48bff56, 256-byte payloads at 256-aligned
// addresses inside the flash window 0x10000000..0x11000000 or RAM, block
// numbers 0..count-1 each once, one shared count).
enum class Uf2Check {
    Ok,
    BadSize,            // empty, or not a multiple of 512 bytes
    BadMagic,           // a block without the three magic numbers
    NoRp2040Blocks,     // no block the RP2040 boot ROM would take
    BadPayload,         // an RP2040 block whose payload is not 256 bytes
    BadAddress,         // an RP2040 block whose address is not 256-aligned
    OutsideMemory,      // an RP2040 block whose 256 bytes lie outside flash and RAM
    MixedBlockCount,    // RP2040 blocks disagree on the block count
    BadBlockNumber,     // a block number not below the count
    RepeatedBlock,      // a block number twice
    MissingBlock,       // a block number of 0..count-1 never seen
};

Uf2Check CheckRp2040Uf2Image(const uint8_t* data, size_t size);

// How far into the image the boot ROM's part goes: the offset just past the
// last RP2040 flash block (0 when there is none). Once it has that block, the
// boot ROM flashes and reboots, whatever the host still writes after it (the
// blocks of other chips in a combined image).
size_t Rp2040FlashEnd(const uint8_t* data, size_t size);
