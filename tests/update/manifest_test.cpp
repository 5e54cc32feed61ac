#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "update/manifest.h"
#include "update/manifest_url.h"

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
    {"a version of 256 bytes", "version=" + std::string(256, '1') + "\nxzdz=u\n", true, nullptr, "u"},
    {"a version past 256 bytes", "version=" + std::string(257, '1') + "\nxzdz=u\n", false, nullptr, nullptr},
    {"a URL past 256 bytes", "version=1\nxzdz=http://h/" + std::string(249, 'a') + "\n", false, nullptr, nullptr},
};

TEST(ParseReleaseManifest, ReadsAsTheTableSays) {
    for (const ManifestCase& c : kManifestCases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest{"before", "before-url", "", ""};
        std::wstring error;
        EXPECT_EQ(ParseReleaseManifest(c.body, manifest, error), c.ok);
        if (c.ok) {
            if (c.version != nullptr) {
                EXPECT_EQ(manifest.version, c.version);
            }
            EXPECT_EQ(manifest.downloadUrl, c.url);
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_EQ(manifest.version, "before");
            EXPECT_EQ(manifest.downloadUrl, "before-url");
            EXPECT_EQ(error, kFormatError);
        }
    }
}

const char kDigest[] = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

TEST(ParseReleaseManifest, TakesTheImagesSha256WhenItIsNamedAndWellFormed) {
    ReleaseManifest manifest;
    std::wstring error;
    ASSERT_TRUE(ParseReleaseManifest("version=1\nxzdz=u\n", manifest, error));
    EXPECT_EQ(manifest.sha256, "");
    ASSERT_TRUE(ParseReleaseManifest("version=1\nxzdz=u\nSHA256 = " + std::string(kDigest) + "\n", manifest, error));
    EXPECT_EQ(manifest.sha256, kDigest);
    std::string upper = kDigest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(ParseReleaseManifest("sha256:" + upper + "\nversion=1\nxzdz=u\n", manifest, error));
    EXPECT_EQ(manifest.sha256, kDigest);  // either case, kept in one
}

TEST(ParseReleaseManifest, ASha256ThatIsNot64HexDigitsMakesTheManifestInvalid) {
    const std::string digest = kDigest;
    for (const std::string& bad : {digest.substr(1), digest + "0", "g" + digest.substr(1), std::string(),
                                   digest.substr(0, 32) + " " + digest.substr(33)}) {
        SCOPED_TRACE(bad);
        ReleaseManifest manifest{"before", "before-url", "", ""};
        std::wstring error;
        EXPECT_FALSE(ParseReleaseManifest("version=1\nxzdz=u\nsha256=" + bad + "\n", manifest, error));
        EXPECT_EQ(error, L"com.ini 中的 sha256 格式错误");
        EXPECT_EQ(manifest.version, "before");
    }
    // A later good value wins, as for every key.
    ReleaseManifest manifest;
    std::wstring error;
    EXPECT_TRUE(ParseReleaseManifest("sha256=x\nversion=1\nxzdz=u\nsha256=" + digest + "\n", manifest, error));
}

// What a program built with release keys asks further of a manifest that verified.
TEST(CheckSignedManifest, WantsTheImagesSha256AndThisProductsName) {
    const std::string hashed = "version=1\nxzdz=u\nsha256=" + std::string(kDigest) + "\n";
    const struct {
        const char* name;
        std::string body;
        ManifestCheck check;
    } cases[] = {
        {"sha256 and product", hashed + "product=NORVA1\n", ManifestCheck::Ok},
        {"key in any case, blanks around", hashed + " PRODUCT : NORVA1 \r\n", ManifestCheck::Ok},
        {"no sha256", "product=NORVA1\nversion=1\nxzdz=u\n", ManifestCheck::NoSha256},
        {"neither", "version=1\nxzdz=u\n", ManifestCheck::NoSha256},
        {"no product", hashed, ManifestCheck::OtherProduct},
        {"another product", hashed + "product=NORVA2\n", ManifestCheck::OtherProduct},
        {"the product in another case", hashed + "product=norva1\n", ManifestCheck::OtherProduct},
        {"an empty product", hashed + "product=\n", ManifestCheck::OtherProduct},
        {"the last product wins", hashed + "product=NORVA1\nproduct=NORVA2\n", ManifestCheck::OtherProduct},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest;
        ASSERT_EQ(ReadReleaseManifest(c.body, manifest), ManifestCheck::Ok);
        EXPECT_EQ(CheckSignedManifest(manifest), c.check);
    }
    EXPECT_EQ(ManifestCheckText(ManifestCheck::OtherProduct), L"com.ini 不属于本产品");
    EXPECT_EQ(ManifestCheckText(ManifestCheck::NoSha256), L"com.ini 缺少 sha256");
}

}  // namespace

TEST(ManifestUrlFor, AsksTheServerTheBuildNamesOverTheSchemeItNames) {
    const struct {
        const wchar_t* host;
        const wchar_t* url;
    } cases[] = {
        {L"updates.example.com", L"http://updates.example.com/com.ini"},
        {L"127.0.0.1:18080", L"http://127.0.0.1:18080/com.ini"},
        {L"https://updates.example.com", L"https://updates.example.com/com.ini"},
        {L"https://updates.example.com:8443/", L"https://updates.example.com:8443/com.ini"},
        {L"HTTPS://Updates.Example.com", L"HTTPS://Updates.Example.com/com.ini"},
        {L"http://127.0.0.1:18080", L"http://127.0.0.1:18080/com.ini"},
    };
    for (const auto& c : cases) EXPECT_EQ(ManifestUrlFor(c.host), c.url) << testing::PrintToString(c.host);
}
