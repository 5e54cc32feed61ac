#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "update/image/uf2_image.h"

namespace {

const uint32_t kRp2040 = 0xE48BFF56;
const uint32_t kOtherFamily = 0x00FF6919;  // some other microcontroller family
const uint32_t kFamilyPresent = 0x2000;
const uint32_t kNotMainFlash = 0x0001;
const uint32_t kFlashBase = 0x10000000;

struct Block {
    uint32_t flags = kFamilyPresent;
    uint32_t address = kFlashBase;
    uint32_t payload = 256;
    uint32_t number = 0;
    uint32_t count = 1;
    uint32_t family = kRp2040;
    bool goodMagic = true;
    bool goodBoot2 = true;  // at 0x10000000: the payload's first 252 bytes give the CRC-32 in its last 4
};

void PutLe32(std::vector<uint8_t>& image, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) image[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> BuildImage(const std::vector<Block>& blocks) {
    std::vector<uint8_t> image(blocks.size() * 512, 0xA5);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& b = blocks[i];
        const size_t at = i * 512;
        PutLe32(image, at + 0, 0x0A324655);
        PutLe32(image, at + 4, b.goodMagic ? 0x9E5D5157 : 0x9E5D5156);
        PutLe32(image, at + 8, b.flags);
        PutLe32(image, at + 12, b.address);
        PutLe32(image, at + 16, b.payload);
        PutLe32(image, at + 20, b.number);
        PutLe32(image, at + 24, b.count);
        PutLe32(image, at + 28, b.family);
        if (b.address == kFlashBase) {
            PutLe32(image, at + 32 + 252, Rp2040Boot2Crc(image.data() + at + 32, 252) + (b.goodBoot2 ? 0 : 1));
        }
        PutLe32(image, at + 508, 0x0AB16F30);
    }
    return image;
}

// A complete RP2040 flash image of `count` consecutive 256-byte pieces.
std::vector<Block> FlashBlocks(uint32_t count) {
    std::vector<Block> blocks(count);
    for (uint32_t i = 0; i < count; ++i) {
        blocks[i].number = i;
        blocks[i].count = count;
        blocks[i].address = kFlashBase + 256 * i;
    }
    return blocks;
}

Block Foreign(uint32_t flags, uint32_t family) {
    Block b;
    b.flags = flags;
    b.family = family;
    b.payload = 476;  // what other families use; the boot ROM never looks at it
    b.number = 7;
    b.count = 99;
    b.address = 3;
    return b;
}

std::vector<Block> With(std::vector<Block> blocks, size_t index, void (*change)(Block&)) {
    change(blocks[index]);
    return blocks;
}

// Blocks `from` onwards moved `by` bytes further into flash.
std::vector<Block> Moved(std::vector<Block> blocks, size_t from, uint32_t by) {
    for (size_t i = from; i < blocks.size(); ++i) blocks[i].address += by;
    return blocks;
}

struct ImageCase {
    std::string name;
    std::vector<Block> blocks;
    Uf2Check expected;
};

std::vector<ImageCase> ImageCases() {
    std::vector<Block> interleaved = FlashBlocks(3);
    interleaved.insert(interleaved.begin() + 2, Foreign(kFamilyPresent, kOtherFamily));
    interleaved.insert(interleaved.begin() + 1, Foreign(kFamilyPresent | kNotMainFlash, kRp2040));
    interleaved.insert(interleaved.begin(), Foreign(0, kRp2040));  // no family flag: field is a file size

    std::vector<Block> shuffled = FlashBlocks(4);
    std::swap(shuffled[0], shuffled[3]);

    std::vector<Block> missing = FlashBlocks(4);
    missing.erase(missing.begin() + 2);

    std::vector<Block> lastCut = FlashBlocks(5);
    lastCut.pop_back();

    std::vector<Block> repeated = FlashBlocks(3);
    repeated[2].number = 0;

    return {
        {"one block", FlashBlocks(1), Uf2Check::Ok},
        {"many blocks", FlashBlocks(64), Uf2Check::Ok},
        {"blocks out of order", shuffled, Uf2Check::Ok},
        {"other blocks interleaved", interleaved, Uf2Check::Ok},
        {"last block cut off", lastCut, Uf2Check::MissingBlock},
        {"block missing in the middle", missing, Uf2Check::MissingBlock},
        {"repeated block", repeated, Uf2Check::RepeatedBlock},
        {"wrong family only", With(FlashBlocks(1), 0, [](Block& b) { b.family = kOtherFamily; }),
         Uf2Check::NoRp2040Blocks},
        {"not-main-flash only", With(FlashBlocks(1), 0, [](Block& b) { b.flags |= kNotMainFlash; }),
         Uf2Check::NoRp2040Blocks},
        {"no family flag", With(FlashBlocks(1), 0, [](Block& b) { b.flags = 0; }), Uf2Check::NoRp2040Blocks},
        {"payload 476", With(FlashBlocks(2), 1, [](Block& b) { b.payload = 476; }), Uf2Check::BadPayload},
        {"misaligned address", With(FlashBlocks(2), 1, [](Block& b) { b.address += 4; }), Uf2Check::BadAddress},
        // The blocks' 256 bytes inside flash: RAM, where the boot ROM runs a program once and installs
        // nothing, is refused, and so is anywhere else in the address space.
        {"last flash page", With(FlashBlocks(17), 16, [](Block& b) { b.address = 0x10FFFF00; }), Uf2Check::Ok},
        {"past the flash window", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x11000000; }),
         Uf2Check::OutsideFlash},
        {"below flash, in the boot ROM", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x00000100; }),
         Uf2Check::OutsideFlash},
        {"peripheral registers", With(FlashBlocks(2), 1, [](Block& b) { b.address = 0x40000000; }),
         Uf2Check::OutsideFlash},
        {"SRAM", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x20000000; }), Uf2Check::InRam},
        {"last SRAM page", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x20041F00; }), Uf2Check::InRam},
        {"XIP cache as SRAM", With(FlashBlocks(2), 1, [](Block& b) { b.address = 0x15003F00; }), Uf2Check::InRam},
        {"past SRAM", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x20042000; }), Uf2Check::OutsideFlash},
        {"SRAM banks, which the boot ROM takes for garbage",
         With(FlashBlocks(1), 0, [](Block& b) { b.address = 0x2103FF00; }), Uf2Check::OutsideFlash},
        {"top of the address space", With(FlashBlocks(1), 0, [](Block& b) { b.address = 0xFFFFFF00; }),
         Uf2Check::OutsideFlash},
        // The boot ROM erases one 4 KiB sector for each run of 16 block numbers, and boots only a
        // valid boot2 at 0x10000000; each layout it would lose pages of, or not boot, beside its twin.
        {"runs one after another", FlashBlocks(40), Uf2Check::Ok},
        {"placed 256 bytes into flash", Moved(FlashBlocks(40), 0, 0x100), Uf2Check::RunAcrossSectors},
        {"a gap between runs", Moved(FlashBlocks(40), 16, 0x3000), Uf2Check::Ok},
        {"a gap inside a run", Moved(FlashBlocks(40), 24, 0x3000), Uf2Check::RunAcrossSectors},
        {"a last run of one block", FlashBlocks(17), Uf2Check::Ok},
        {"a last run of one block in the first run's sector",
         With(FlashBlocks(17), 16, [](Block& b) { b.address = kFlashBase + 0x300; }), Uf2Check::SectorShared},
        {"a run of three pages", FlashBlocks(3), Uf2Check::Ok},
        {"a run writing one page twice", With(FlashBlocks(3), 2, [](Block& b) { b.address = kFlashBase + 0x100; }),
         Uf2Check::RepeatedPage},
        {"one sector", FlashBlocks(16), Uf2Check::Ok},
        {"one sector, not the first", Moved(FlashBlocks(16), 0, 0x1000), Uf2Check::NoBoot2},
        {"boot2", FlashBlocks(2), Uf2Check::Ok},
        {"boot2 failing its CRC", With(FlashBlocks(2), 0, [](Block& b) { b.goodBoot2 = false; }),
         Uf2Check::BadBoot2},
        {"mixed counts", With(FlashBlocks(3), 2, [](Block& b) { b.count = 4; }), Uf2Check::MixedBlockCount},
        {"block number equal to count", With(FlashBlocks(2), 1, [](Block& b) { b.number = 2; }),
         Uf2Check::BadBlockNumber},
        {"count of zero", With(FlashBlocks(1), 0, [](Block& b) { b.count = 0; }), Uf2Check::BadBlockNumber},
        {"huge count", With(FlashBlocks(1), 0, [](Block& b) { b.count = 0xFFFFFFFF; }), Uf2Check::MissingBlock},
        {"bad magic in a later block", With(FlashBlocks(3), 2, [](Block& b) { b.goodMagic = false; }),
         Uf2Check::BadMagic},
        // The order of the checks: a bad magic anywhere wins over a bad RP2040 block before it.
        {"magic checked before blocks", With(With(FlashBlocks(3), 0, [](Block& b) { b.payload = 1; }), 2,
                                             [](Block& b) { b.goodMagic = false; }),
         Uf2Check::BadMagic},
    };
}

TEST(CheckRp2040Uf2Image, JudgesGeneratedImagesAsTheTableSays) {
    for (const ImageCase& c : ImageCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> image = BuildImage(c.blocks);
        EXPECT_EQ(CheckRp2040Uf2Image(image.data(), image.size()), c.expected);
    }
}

// The check value of this CRC-32 (the one known as MPEG-2), so that the boot2
// pages the table builds with it are the boot ROM's.
TEST(CheckRp2040Uf2Image, ChecksBoot2WithTheBootRomsCrc) {
    const std::string text = "123456789";
    EXPECT_EQ(Rp2040Boot2Crc(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0x0376E6E7u);
}

TEST(CheckRp2040Uf2Image, RejectsWhatIsNotWholeBlocks) {
    std::vector<uint8_t> image = BuildImage(FlashBlocks(2));
    EXPECT_EQ(CheckRp2040Uf2Image(image.data(), image.size() - 1), Uf2Check::BadSize);
    EXPECT_EQ(CheckRp2040Uf2Image(image.data(), 700), Uf2Check::BadSize);
    EXPECT_EQ(CheckRp2040Uf2Image(image.data(), 0), Uf2Check::BadSize);
    EXPECT_EQ(CheckRp2040Uf2Image(nullptr, 0), Uf2Check::BadSize);
    image.push_back(0);
    EXPECT_EQ(CheckRp2040Uf2Image(image.data(), image.size()), Uf2Check::BadSize);
}

TEST(CheckRp2040Uf2Image, RejectsAnHtmlPage) {
    // What a misconfigured server sends instead of the image, padded to whole blocks.
    std::string page = "<!DOCTYPE html><html><body><h1>404 Not Found</h1></body></html>";
    page.resize(1024, ' ');
    EXPECT_EQ(CheckRp2040Uf2Image(reinterpret_cast<const uint8_t*>(page.data()), page.size()), Uf2Check::BadMagic);
}

TEST(CheckRp2040Uf2Image, ReadsFieldsAtAnyAlignment) {
    const std::vector<uint8_t> image = BuildImage(FlashBlocks(3));
    std::vector<uint8_t> shifted(image.size() + 1);
    std::copy(image.begin(), image.end(), shifted.begin() + 1);
    EXPECT_EQ(CheckRp2040Uf2Image(shifted.data() + 1, image.size()), Uf2Check::Ok);
}

}  // namespace

// Where the boot ROM's part of an image ends: after its last RP2040 block,
// wherever the blocks of other chips stand.
TEST(Rp2040FlashEnd, IsJustPastTheLastBlockTheBootRomTakes) {
    std::vector<Block> combined = FlashBlocks(2);
    combined.insert(combined.begin(), Foreign(kFamilyPresent, kOtherFamily));
    combined.push_back(Foreign(kFamilyPresent | kNotMainFlash, kRp2040));
    combined.push_back(Foreign(kFamilyPresent, kOtherFamily));
    const std::vector<uint8_t> image = BuildImage(combined);
    EXPECT_EQ(Rp2040FlashEnd(image.data(), image.size()), 3u * 512);

    const std::vector<uint8_t> plain = BuildImage(FlashBlocks(4));
    EXPECT_EQ(Rp2040FlashEnd(plain.data(), plain.size()), plain.size());
    EXPECT_EQ(Rp2040FlashEnd(plain.data(), plain.size() - 1), 3u * 512);  // a cut block is no block
    const std::vector<uint8_t> foreign = BuildImage({Foreign(kFamilyPresent, kOtherFamily)});
    EXPECT_EQ(Rp2040FlashEnd(foreign.data(), foreign.size()), 0u);
    EXPECT_EQ(Rp2040FlashEnd(nullptr, 0), 0u);
}
