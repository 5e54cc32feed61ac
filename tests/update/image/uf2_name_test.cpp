#include <gtest/gtest.h>

#include <string>

#include "update/image/uf2_name.h"

namespace {

struct NameCase {
    std::wstring url;
    std::wstring name;
};

const NameCase kNameCases[] = {
    {L"http://h/fw/norva-1.2.0.uf2", L"norva-1.2.0.uf2"},
    // A query string or a fragment is cut off, whatever it holds.
    {L"https://cdn.example/fw/norva1-1.3.0.uf2?sig=a1&exp=12:00", L"norva1-1.3.0.uf2"},
    {L"https://h/fw/a.uf2?next=/x", L"a.uf2"},
    {L"https://h/fw/a.uf2?token=1", L"a.uf2"},
    {L"https://h/fw/a.uf2#top", L"a.uf2"},
    {L"https://h/fw/a.uf2#x?y", L"a.uf2"},
    {L"https://h/dl?file=b.uf2", L"norva-firmware.uf2"},
    // What a FAT long name cannot hold becomes '_'.
    {L"http://h/fw/v1:2|\"x\"<3>*.uf2", L"v1_2__x__3__.uf2"},
    {L"http://h/fw/a\tb\x01.uf2", L"a_b_.uf2"},
    // Names of devices, with or without an extension, and names too long for the drive.
    {L"http://h/fw/con.uf2", L"norva-firmware.uf2"},
    {L"http://h/fw/COM1.uf2", L"norva-firmware.uf2"},
    {L"http://h/fw/lpt9 .uf2", L"norva-firmware.uf2"},
    {L"http://h/fw/nul.uf2.txt", L"norva-firmware.uf2"},
    {L"http://h/fw/com10.uf2", L"com10.uf2"},
    {L"http://h/fw/console.uf2", L"console.uf2"},
    {L"http://h/fw/" + std::wstring(251, L'x') + L".uf2", std::wstring(251, L'x') + L".uf2"},
    {L"http://h/fw/" + std::wstring(252, L'x') + L".uf2", L"norva-firmware.uf2"},
    {L"http://h/fw/", L"norva-firmware.uf2"},
    {L"http://h/fw/A.UF2", L"norva-firmware.uf2"},
    {L"http://h/fw/image.bin", L"norva-firmware.uf2"},
    {L"http://h/fw/a.uf2.bak", L"a.uf2.bak"},
    {L"C:\\images\\b.uf2", L"b.uf2"},
    {L"http://h\\dir/c.uf2", L"c.uf2"},
    {L"http://h/dir\\d.uf2", L"d.uf2"},
    {L"e.uf2", L"e.uf2"},
    {L".uf2", L".uf2"},
    {L"http://h/固件.uf2", L"固件.uf2"},
    {L"", L"norva-firmware.uf2"},
};

TEST(Uf2FileNameFromUrl, NamesTheFileAsTheTableSays) {
    for (const NameCase& c : kNameCases) {
        EXPECT_EQ(Uf2FileNameFromUrl(c.url), c.name) << testing::PrintToString(c.url);
    }
}

}  // namespace
