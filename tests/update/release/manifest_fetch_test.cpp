#include <gtest/gtest.h>

#include "tests/support/update_server_client.h"
#include "update/release/manifest.h"

// The manifest comes from /com.ini of the update host the build names; the
// tests build with the local update server's address.

namespace {

class FetchReleaseManifestTest : public testing::Test {
protected:
    void SetUp() override { ResetUpdateServer(); }
    ReleaseManifest manifest{"old", "http://old.example/old.uf2", "", "", ""};
    std::wstring error = L"stale";
};

}  // namespace

TEST_F(FetchReleaseManifestTest, ReadsVersionAndImageUrlFromComIniOfTheUpdateHost) {
    ASSERT_EQ(ManifestUrl(), UpdateServerUrl("/com.ini")) << "built for another update host";
    ServeManifest("[release]\r\nversion = 2.4.1\r\nxzdz=http://127.0.0.1/fw/norva1-2.4.1.uf2?sig=a:b\r\n");
    ASSERT_TRUE(FetchReleaseManifest(manifest, error, [](int32_t) {}));
    EXPECT_EQ(manifest.version, "2.4.1");
    EXPECT_EQ(manifest.downloadUrl, "http://127.0.0.1/fw/norva1-2.4.1.uf2?sig=a:b");
    const auto requests = ServedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/com.ini");
    EXPECT_EQ(requests[0].userAgent, "NORVA1/1.0");
}

TEST_F(FetchReleaseManifestTest, FailedDownloadGivesTheDownloadsTextAndKeepsTheOldValues) {
    ServeManifest("version=9.9.9\nxzdz=http://h/x.uf2\n", "status=404");
    EXPECT_FALSE(FetchReleaseManifest(manifest, error, [](int32_t) {}));
    EXPECT_EQ(error, L"HTTP 状态码 404");
    EXPECT_EQ(manifest.version, "old");
    EXPECT_EQ(manifest.downloadUrl, "http://old.example/old.uf2");
}

TEST_F(FetchReleaseManifestTest, ManifestWithoutBothKeysIsMalformed) {
    for (const char* body : {"", "version=2.0.0\n", "<html>not found</html>", "version=2.0.0\nxzdz=\n"}) {
        SCOPED_TRACE(body);
        ServeManifest(body);
        EXPECT_FALSE(FetchReleaseManifest(manifest, error, [](int32_t) {}));
        EXPECT_EQ(error, L"com.ini 格式错误，缺少 version 或 xzdz");
        EXPECT_EQ(manifest.version, "old");
    }
}

TEST_F(FetchReleaseManifestTest, AManifestPast64KiBIsRefused) {
    ServeManifest("version=2.0.0\nxzdz=http://h/x.uf2\n" + std::string(64 * 1024, '#'));
    EXPECT_FALSE(FetchReleaseManifest(manifest, error, [](int32_t) {}));
    EXPECT_EQ(error, L"下载数据过大");
    EXPECT_EQ(manifest.version, "old");
}
