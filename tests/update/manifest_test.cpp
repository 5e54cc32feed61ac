#include <gtest/gtest.h>

#include <string>

#include "update/manifest.h"

namespace {

using namespace std::string_literals;

const wchar_t kFormatError[] = L"com.ini 格式错误，缺少 version 或 xzdz";

struct ManifestCase {
    const char* name;
    std::string body;
    bool ok;
    const char* version;
    const char* url;
};

const ManifestCase kManifestCases[] = {
    {"plain", "version=1.2.0\nxzdz=http://h/fw.uf2\n", true, "1.2.0", "http://h/fw.uf2"},
    {"keys in any case, blanks around", " VERSION \t=\t 1.2.0 \n\tXzDz = http://h/fw.uf2", true, "1.2.0",
     "http://h/fw.uf2"},
    {"colon lines", "version: 2.0\nxzdz: http://h/a.uf2\n", true, "2.0", "http://h/a.uf2"},
    {"equals inside a value", "version=3\nxzdz=http://h/get?f=a.uf2&v=3\n", true, "3", "http://h/get?f=a.uf2&v=3"},
    {"colon line with a query splits at its '='", "version=3\nxzdz=http://h/a.uf2\nxzdz: http://h/get?f=b.uf2\n", true,
     "3", "http://h/a.uf2"},
    {"trailing comment kept", "version=1.0 ; stable\nxzdz=http://h/a.uf2 # mirror\n", true, "1.0 ; stable",
     "http://h/a.uf2 # mirror"},
    {"comments, sections and other keys", "# release\n; note\n[firmware]\nname=x\nversion\nversion=4\n[links]\nxzdz=u\n",
     true, "4", "u"},
    {"commented-out key", "#version=9\nversion=4\n;xzdz=old\nxzdz=u\n", true, "4", "u"},
    {"last occurrence wins", "version=1\nxzdz=a\nversion=2\nxzdz=b\n", true, "2", "b"},
    {"CR LF line ends", "version=1.2.0\r\nxzdz=http://h/fw.uf2\r\n", true, "1.2.0", "http://h/fw.uf2"},
    {"NUL bytes trimmed", "\0version=5\0\nxzdz=u\0\0"s, true, "5", "u"},
    {"UTF-8 value kept", "version=1.0-\xe6\xb5\x8b\xe8\xaf\x95\nxzdz=u\n", true, "1.0-\xe6\xb5\x8b\xe8\xaf\x95", "u"},
    {"BOM before the first key", "\xef\xbb\xbfversion=1\nxzdz=u\n", false, nullptr, nullptr},
    {"BOM before a comment line", "\xef\xbb\xbf# c\nversion=1\nxzdz=u\n", true, "1", "u"},
    {"repeated version empty", "version=1\nxzdz=u\nversion=\n", false, nullptr, nullptr},
    {"repeated url blank", "version=1\nxzdz=u\nxzdz = \t\n", false, nullptr, nullptr},
    {"version missing", "xzdz=u\n", false, nullptr, nullptr},
    {"url missing", "version=1\n", false, nullptr, nullptr},
    {"empty body", "", false, nullptr, nullptr},
    {"blank lines only", "\n\r\n \t\n", false, nullptr, nullptr},
    {"an HTML error page", "<html><body>404 Not Found</body></html>", false, nullptr, nullptr},
};

TEST(ParseReleaseManifest, ReadsAsTheTableSays) {
    for (const ManifestCase& c : kManifestCases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest{"before", "before-url"};
        std::wstring error;
        EXPECT_EQ(ParseReleaseManifest(c.body, manifest, error), c.ok);
        if (c.ok) {
            EXPECT_EQ(manifest.version, c.version);
            EXPECT_EQ(manifest.downloadUrl, c.url);
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_EQ(manifest.version, "before");
            EXPECT_EQ(manifest.downloadUrl, "before-url");
            EXPECT_EQ(error, kFormatError);
        }
    }
}

}  // namespace
