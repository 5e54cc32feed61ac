// norva1-release-check: whether the program will take a release, decided by
// the program's own code.
//
//   norva1-release-check version TEXT             a version a release may announce
//   norva1-release-check image FILE               a UF2 image the program flashes
//   norva1-release-check manifest FILE [--signed] a com.ini the program reads; with
//                                                 --signed, as a program built with
//                                                 release keys reads a signed one,
//                                                 dated by this machine's clock
//   norva1-release-check signature FILE           a com.ini.sig the program reads
//
// Exit 0 when the program takes it (`manifest` prints the values it reads, one
// key=value line each; `signature` the signature r||s it reads, in 128
// hexadecimal digits), 1 with the reason on standard error when it does not,
// 2 for a wrong call.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "update/release/manifest.h"
#include "update/release/release_limits.h"
#include "update/release/release_signature.h"
#include "update/image/uf2_image.h"
#include "update/release/version.h"

namespace {

const char kUsage[] =
    "usage: norva1-release-check version TEXT\n"
    "       norva1-release-check image FILE\n"
    "       norva1-release-check manifest FILE [--signed]\n"
    "       norva1-release-check signature FILE\n";

const char* VersionReason(ReleaseVersionCheck check) {
    switch (check) {
        case ReleaseVersionCheck::Ok: return "";
        case ReleaseVersionCheck::Empty: return "the version is empty";
        case ReleaseVersionCheck::TooLong: return "the version is longer than the 64 bytes a device may report";
        case ReleaseVersionCheck::BadCharacter:
            return "the version may hold only printable ASCII without ';', and no blank at either end";
        case ReleaseVersionCheck::NoNumber:
            return "the version names no number, so the program never finds it newer than a device's";
        case ReleaseVersionCheck::V16Mark:
            return "a version starting with v16 ranks below every release that names a number";
    }
    return "";
}

const char* ImageReason(Uf2Check check) {
    switch (check) {
        case Uf2Check::Ok: return "";
        case Uf2Check::BadSize: return "the image is empty or not a whole number of 512-byte UF2 blocks";
        case Uf2Check::BadMagic: return "a block lacks the UF2 magic numbers";
        case Uf2Check::NoRp2040Blocks: return "no block is for the RP2040 (family 0xe48bff56)";
        case Uf2Check::BadPayload: return "an RP2040 block's payload is not 256 bytes";
        case Uf2Check::BadAddress: return "an RP2040 block's address is not 256-aligned";
        case Uf2Check::InRam:
            return "an RP2040 block is for RAM: the boot ROM runs such a program once and installs nothing";
        case Uf2Check::OutsideFlash: return "an RP2040 block lies outside the flash (0x10000000 to 0x11000000)";
        case Uf2Check::MixedBlockCount: return "the RP2040 blocks disagree on the block count";
        case Uf2Check::BadBlockNumber: return "a block number is not below the block count";
        case Uf2Check::RepeatedBlock: return "a block number comes twice";
        case Uf2Check::MissingBlock: return "a block of the image is missing";
        case Uf2Check::RunAcrossSectors:
            return "the blocks of a run of 16 block numbers lie in two 4 KiB sectors: the boot ROM erases only one";
        case Uf2Check::SectorShared:
            return "two runs of 16 block numbers lie in one 4 KiB sector: the second's erase loses the first's pages";
        case Uf2Check::RepeatedPage: return "two blocks are for one 256-byte flash page";
        case Uf2Check::NoBoot2: return "no block is for 0x10000000, where the boot ROM looks for boot2";
        case Uf2Check::BadBoot2:
            return "boot2 (the block for 0x10000000) fails the boot ROM's CRC-32: the device would stay in its "
                   "boot loader";
    }
    return "";
}

const char* ManifestReason(ManifestCheck check) {
    switch (check) {
        case ManifestCheck::Ok: return "";
        case ManifestCheck::NoVersionOrUrl: return "version or xzdz is missing, empty or longer than 256 bytes";
        case ManifestCheck::BadSha256: return "sha256 is not 64 hexadecimal digits";
        case ManifestCheck::NoSha256: return "a signed com.ini must name the image's sha256";
        case ManifestCheck::OtherProduct: return "a signed com.ini must say product=NORVA1";
        case ManifestCheck::Ambiguous:
            return "a signed com.ini may hold no section header and no key twice, so that every reader reads it alike";
        case ManifestCheck::NoExpiry:
            return "a signed com.ini must say until when it is offered: expires=YYYY-MM-DDTHH:MM:SSZ, a UTC time";
        case ManifestCheck::Expired: return "its expires lies in the past: the program takes it no longer";
    }
    return "";
}

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
}

// At most `limit` + 1 bytes of the file, so that one past the limit is seen
// without reading a file of any size.
bool ReadFile(const char* path, uint64_t limit, std::vector<uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.clear();
    char buffer[65536];
    while (data.size() <= limit && in.read(buffer, sizeof buffer).gcount() > 0) {
        data.insert(data.end(), buffer, buffer + in.gcount());
    }
    if (data.size() > limit + 1) data.resize(static_cast<size_t>(limit + 1));
    return !in.bad();
}

int CheckVersion(const std::string& version) {
    const ReleaseVersionCheck check = CheckReleaseVersion(version);
    return check == ReleaseVersionCheck::Ok ? 0 : Refuse(VersionReason(check));
}

int CheckImage(const char* path) {
    std::vector<uint8_t> image;
    if (!ReadFile(path, kImageSizeLimit, image)) return Refuse(std::string("cannot read ") + path);
    if (image.size() > kImageSizeLimit) {
        return Refuse("the image is larger than the program downloads (" + std::to_string(kImageSizeLimit) +
                      " bytes)");
    }
    const Uf2Check check = CheckRp2040Uf2Image(image.data(), image.size());
    if (check != Uf2Check::Ok) return Refuse(ImageReason(check));
    std::printf("ok: %zu bytes, %zu UF2 blocks\n", image.size(), image.size() / 512);
    return 0;
}

// A file the program downloads: at most the manifest's limit, as com.ini and
// com.ini.sig are. False with the reason when it cannot be read or is larger.
bool ReadDownloadedFile(const char* path, const char* name, std::string& text, std::string& reason) {
    std::vector<uint8_t> body;
    if (!ReadFile(path, kManifestSizeLimit, body)) {
        reason = std::string("cannot read ") + path;
        return false;
    }
    if (body.size() > kManifestSizeLimit) {
        reason = std::string(name) + " is larger than the program downloads (" + std::to_string(kManifestSizeLimit) +
                 " bytes)";
        return false;
    }
    text.assign(body.begin(), body.end());
    return true;
}

int CheckManifest(const char* path, bool asSigned) {
    std::string body, reason;
    if (!ReadDownloadedFile(path, "com.ini", body, reason)) return Refuse(reason);
    ReleaseManifest manifest;
    ManifestCheck check = ReadReleaseManifest(body, manifest);
    if (check == ManifestCheck::Ok && asSigned) check = CheckSignedManifest(manifest, std::time(nullptr));
    if (check != ManifestCheck::Ok) return Refuse(ManifestReason(check));
    std::printf("version=%s\nxzdz=%s\nsha256=%s\nproduct=%s\nexpires=%s\n", manifest.version.c_str(),
                manifest.downloadUrl.c_str(), manifest.sha256.c_str(), manifest.product.c_str(),
                manifest.expires.c_str());
    return 0;
}

int CheckSignature(const char* path) {
    std::string body, reason;
    if (!ReadDownloadedFile(path, "com.ini.sig", body, reason)) return Refuse(reason);
    ReleaseSignature signature{};
    if (!DecodeReleaseSignature(body, signature)) {
        return Refuse("com.ini.sig is not the base64 of 64 bytes, a signature as the program reads it "
                      "(88 digits ending in ==, the unused bits zero, nothing else but blanks)");
    }
    for (uint8_t byte : signature) std::printf("%02x", byte);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "version") return CheckVersion(args[1]);
    if (args.size() == 2 && args[0] == "image") return CheckImage(argv[2]);
    if (args.size() == 2 && args[0] == "manifest") return CheckManifest(argv[2], false);
    if (args.size() == 3 && args[0] == "manifest" && args[2] == "--signed") return CheckManifest(argv[2], true);
    if (args.size() == 2 && args[0] == "signature") return CheckSignature(argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
