#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "update/release/manifest.h"
#include "update/release/manifest_url.h"

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

TEST(ReadReleaseManifest, ReadsAsTheTableSays) {
    for (const ManifestCase& c : kManifestCases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest{"before", "before-url", "", "", ""};
        const ManifestCheck check = ReadReleaseManifest(c.body, manifest);
        EXPECT_EQ(check == ManifestCheck::Ok, c.ok);
        if (c.ok) {
            if (c.version != nullptr) {
                EXPECT_EQ(manifest.version, c.version);
            }
            EXPECT_EQ(manifest.downloadUrl, c.url);
        } else {
            EXPECT_EQ(manifest.version, "before");
            EXPECT_EQ(manifest.downloadUrl, "before-url");
            EXPECT_EQ(ManifestCheckText(check), kFormatError);
        }
    }
}

const char kDigest[] = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

TEST(ReadReleaseManifest, TakesTheImagesSha256WhenItIsNamedAndWellFormed) {
    ReleaseManifest manifest;
    ASSERT_EQ(ReadReleaseManifest("version=1\nxzdz=u\n", manifest), ManifestCheck::Ok);
    EXPECT_EQ(manifest.sha256, "");
    ASSERT_EQ(ReadReleaseManifest("version=1\nxzdz=u\nSHA256 = " + std::string(kDigest) + "\n", manifest),
              ManifestCheck::Ok);
    EXPECT_EQ(manifest.sha256, kDigest);
    std::string upper = kDigest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(ReadReleaseManifest("sha256:" + upper + "\nversion=1\nxzdz=u\n", manifest), ManifestCheck::Ok);
    EXPECT_EQ(manifest.sha256, kDigest);  // either case, kept in one
}

TEST(ReadReleaseManifest, ASha256ThatIsNot64HexDigitsMakesTheManifestInvalid) {
    const std::string digest = kDigest;
    for (const std::string& bad : {digest.substr(1), digest + "0", "g" + digest.substr(1), std::string(),
                                   digest.substr(0, 32) + " " + digest.substr(33)}) {
        SCOPED_TRACE(bad);
        ReleaseManifest manifest{"before", "before-url", "", "", ""};
        const ManifestCheck check = ReadReleaseManifest("version=1\nxzdz=u\nsha256=" + bad + "\n", manifest);
        EXPECT_EQ(check, ManifestCheck::BadSha256);
        EXPECT_EQ(ManifestCheckText(check), L"com.ini 中的 sha256 格式错误");
        EXPECT_EQ(manifest.version, "before");
    }
    // A later good value wins, as for every key.
    ReleaseManifest manifest;
    EXPECT_EQ(ReadReleaseManifest("sha256=x\nversion=1\nxzdz=u\nsha256=" + digest + "\n", manifest), ManifestCheck::Ok);
}

// What a program built with release keys asks further of a manifest that verified,
// at the PC's clock `now`.
TEST(CheckSignedManifest, WantsTheImagesSha256ThisProductOneReadingAndADateNotPast) {
    const std::string hashed = "version=1\nxzdz=u\nsha256=" + std::string(kDigest) + "\n";
    const std::string ours = hashed + "product=NORVA1\n";
    const int64_t at2030 = 1893456000;  // 2030-01-01T00:00:00Z
    const std::string dated = ours + "expires=2030-01-01T00:00:00Z\n";
    const struct {
        const char* name;
        std::string body;
        int64_t now;
        ManifestCheck check;
    } cases[] = {
        {"sha256, product and a date ahead", dated, at2030 - 1, ManifestCheck::Ok},
        {"keys in any case, blanks around", hashed + " PRODUCT : NORVA1 \r\nExpires:2030-01-01T00:00:00Z\r\n",
         at2030, ManifestCheck::Ok},
        {"no sha256, before anything else", "product=NORVA1\nversion=1\nxzdz=u\n[x]\nversion=1\n", 0,
         ManifestCheck::NoSha256},
        {"no product", hashed + "expires=2030-01-01T00:00:00Z\n", 0, ManifestCheck::OtherProduct},
        {"another product", hashed + "product=NORVA2\nexpires=2030-01-01T00:00:00Z\n", 0,
         ManifestCheck::OtherProduct},
        {"the product in another case", hashed + "product=norva1\n", 0, ManifestCheck::OtherProduct},
        {"an empty product", hashed + "product=\n", 0, ManifestCheck::OtherProduct},
        {"the last product wins, before the ambiguity", hashed + "product=NORVA1\nproduct=NORVA2\n", 0,
         ManifestCheck::OtherProduct},

        // One reading: what another reader may take otherwise.
        {"two sections", "[norva2]\nxzdz=v\n[norva1]\n" + dated, 0, ManifestCheck::Ambiguous},
        {"a section that is no bracketed name", dated + "[a=b\n", 0, ManifestCheck::Ambiguous},
        {"a key twice, ':' and '=' alike", dated + "XZDZ: v\n", 0, ManifestCheck::Ambiguous},
        {"an unknown key twice", dated + "channel=beta\nChannel=stable\n", 0, ManifestCheck::Ambiguous},
        {"the same value twice", dated + "version=1\n", 0, ManifestCheck::Ambiguous},
        {"ambiguous and undated", ours + "[x]\n", 0, ManifestCheck::Ambiguous},
        {"comments, blank lines, unknown keys", "# r\n; n\n\n  \n" + dated + "channel=beta\nnote\n", 0,
         ManifestCheck::Ok},

        // The date: exactly YYYY-MM-DDTHH:MM:SSZ, a real day and time, not before now.
        {"no date", ours, 0, ManifestCheck::NoExpiry},
        {"an empty date", ours + "expires=\n", 0, ManifestCheck::NoExpiry},
        {"expiring now", dated, at2030, ManifestCheck::Ok},
        {"expired a second ago", dated, at2030 + 1, ManifestCheck::Expired},
        {"a leap day", ours + "expires=2028-02-29T23:59:59Z\n", 1835481599, ManifestCheck::Ok},
        {"a century's leap day", ours + "expires=2000-02-29T12:34:56Z\n", 951827696, ManifestCheck::Ok},
        {"past a leap day", ours + "expires=2024-03-01T00:00:00Z\n", 1709251200 + 1, ManifestCheck::Expired},
        {"the last second of 9999", ours + "expires=9999-12-31T23:59:59Z\n", 253402300799, ManifestCheck::Ok},
        {"February 30", ours + "expires=2026-02-30T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"February 29 of a common year", ours + "expires=2100-02-29T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"April 31", ours + "expires=2026-04-31T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"month 13", ours + "expires=2026-13-01T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"month 0", ours + "expires=2026-00-10T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"day 0", ours + "expires=2026-01-00T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"24:00:00", ours + "expires=2026-01-01T24:00:00Z\n", 0, ManifestCheck::NoExpiry},
        {"minute 60", ours + "expires=2026-01-01T00:60:00Z\n", 0, ManifestCheck::NoExpiry},
        {"a leap second", ours + "expires=2016-12-31T23:59:60Z\n", 0, ManifestCheck::NoExpiry},
        {"no Z", ours + "expires=2026-01-01T00:00:00\n", 0, ManifestCheck::NoExpiry},
        {"a fraction", ours + "expires=2026-01-01T00:00:00.5Z\n", 0, ManifestCheck::NoExpiry},
        {"text after it", ours + "expires=2026-01-01T00:00:00Z ; a month\n", 0, ManifestCheck::NoExpiry},
        {"a lower-case t and z", ours + "expires=2026-01-01t00:00:00z\n", 0, ManifestCheck::NoExpiry},
        {"a sign in a number", ours + "expires=2026-01-+1T00:00:00Z\n", 0, ManifestCheck::NoExpiry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest;
        ASSERT_EQ(ReadReleaseManifest(c.body, manifest), ManifestCheck::Ok);
        EXPECT_EQ(CheckSignedManifest(manifest, c.now), c.check);
    }
    EXPECT_EQ(ManifestCheckText(ManifestCheck::OtherProduct), L"com.ini 不属于本产品");
    EXPECT_EQ(ManifestCheckText(ManifestCheck::NoSha256), L"com.ini 缺少 sha256");
    EXPECT_EQ(ManifestCheckText(ManifestCheck::Ambiguous), L"com.ini 含有重复的键或分节");
    EXPECT_EQ(ManifestCheckText(ManifestCheck::NoExpiry), L"com.ini 缺少有效期");
    EXPECT_EQ(ManifestCheckText(ManifestCheck::Expired), L"com.ini 已过期");
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
