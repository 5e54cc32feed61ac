#include <gtest/gtest.h>

#include <string>

#include "update/uf2_name.h"

namespace {

struct NameCase {
    std::wstring url;
    std::wstring name;
};

const NameCase kNameCases[] = {
    {L"http://h/fw/norva-1.2.0.uf2", L"norva-1.2.0.uf2"},
    {L"https://h/fw/a.uf2?next=/x", L"norva-firmware.uf2"},
    {L"https://h/fw/a.uf2?token=1", L"a.uf2?token=1"},
    {L"https://h/fw/a.uf2#top", L"a.uf2#top"},
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
        EXPECT_EQ(Uf2FileNameFromUrl(c.url), c.name);
    }
}

}  // namespace
