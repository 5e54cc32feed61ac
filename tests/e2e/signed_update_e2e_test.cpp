#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "probe.h"
#include "tests/e2e/program.h"
#include "tests/support/sim_client.h"
#include "tests/support/update_server_client.h"
#include "update/release/image_digest.h"
#include "view/control_ids.h"

// Releases signed with the vendor's key, as a user meets them: the real program
// built to trust two keys (the current one and the next), the local update
// server serving com.ini and its signature com.ini.sig, and a simulated device.
// The keys are made when the tests are configured (tests/e2e/CMakeLists.txt).

namespace {

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string KeyFile(const char* name) { return std::string(NORVA_TEST_KEY_DIR) + "/" + name + ".pem"; }

std::vector<std::string> ServedTargets() {
    std::vector<std::string> targets;
    for (const ServedRequest& request : ServedRequests()) targets.push_back(request.target);
    return targets;
}

class SignedUpdate : public ::testing::Test {
protected:
    void SetUp() override { ResetUpdateServer(); }
    // Serves an image carrying `version` and returns a manifest naming it, its sha256, the product and a
    // date far ahead.
    std::string Release(const std::string& version) {
        const std::string path = "/fw/norva1-" + version + ".uf2";
        const std::string image = ServeImage(path, version, 65536);
        std::string digest;
        EXPECT_TRUE(ImageSha256(std::vector<uint8_t>(image.begin(), image.end()), digest));
        return "version=" + version + "\nxzdz=" + Ascii(UpdateServerUrl(path)) + "\nsha256=" + digest +
               "\nproduct=NORVA1\nexpires=2099-12-31T23:59:59Z\n";
    }
    void PublishSigned(const std::string& manifest, const char* key) {
        ServeManifest(manifest);
        SignManifest(KeyFile(key));
    }
};

}  // namespace

TEST_F(SignedUpdate, ASignedReleaseIsInstalledTheNextKeyTakesOverAndAnOlderReleaseChangesNothing) {
    SimDevice device("fw=1.0.0");
    const std::string first = Release("1.2.0");
    PublishSigned(first, "first");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    ASSERT_TRUE(window.Run(IdCheckLatestButton, L"检测到新固件: 1.2.0"));
    ASSERT_TRUE(window.Run(IdUpdateButton, L"固件更新完成，设备已重连。", 60000));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.2.0");
    EXPECT_EQ(ServedTargets(), (std::vector<std::string>{"/com.ini", "/com.ini.sig", "/fw/norva1-1.2.0.uf2"}));

    // The vendor signs the next release with the next key.
    PublishSigned(Release("1.3.0"), "second");
    EXPECT_TRUE(window.Run(IdCheckLatestButton, L"检测到新固件: 1.3.0"));
    // The older release, validly signed, served again: the device keeps what it has.
    PublishSigned(first, "first");
    EXPECT_TRUE(window.Run(IdCheckLatestButton, L"当前版本已是最新，无需更新。"));
    EXPECT_EQ(window.Text(IdCurrentVersionLabel), L"1.2.0");
}

// Each refusal ends the update before the image is asked for, with nothing stored.
TEST_F(SignedUpdate, ReleasesTheVendorDidNotSignAreRefusedBeforeTheImageIsFetched) {
    SimDevice device("fw=1.0.0");
    ConnectedProgram window(device);
    ASSERT_TRUE(window.ready);
    const std::string manifest = Release("1.5.0");
    std::string changed = manifest;
    changed[10] = '6';  // version=1.6.0
    const std::string unhashed = manifest.substr(0, manifest.find("sha256="));
    const std::string productless = manifest.substr(0, manifest.find("product="));
    const std::string foreign = productless + "product=NORVA2\nexpires=2099-12-31T23:59:59Z\n";
    const std::string expired = productless + "product=NORVA1\nexpires=2020-01-01T00:00:00Z\n";
    // A reader that takes the first of two keys fetches another image.
    const std::string twoImages = "xzdz=" + Ascii(UpdateServerUrl("/fw/other.uf2")) + "\n" + manifest;
    const struct {
        const char* what;
        std::function<void()> publish;
        const wchar_t* text;
    } refusals[] = {
        {"signed with a key the program does not trust", [&] { PublishSigned(manifest, "stranger"); },
         L"com.ini 签名无效"},
        {"changed by one byte after signing",
         [&] {
             PublishSigned(manifest, "first");
             ServeManifest(changed);
         },
         L"com.ini 签名无效"},
        {"no com.ini.sig", [&] { ServeManifest(manifest); }, L"com.ini 签名无效"},
        {"a signature that is no base64",
         [&] {
             ServeManifest(manifest);
             ServeBytes("/com.ini.sig", "-----BEGIN SIGNATURE-----\n");
         },
         L"com.ini 签名无效"},
        {"a signature the server fails to deliver",
         [&] {
             ServeManifest(manifest);
             SignManifest(KeyFile("first"), "status=503");
         },
         L"下载 com.ini.sig 失败: HTTP 状态码 503"},
        {"a signed manifest without sha256", [&] { PublishSigned(unhashed, "first"); }, L"com.ini 缺少 sha256"},
        {"a signed manifest naming no product", [&] { PublishSigned(productless, "first"); },
         L"com.ini 不属于本产品"},
        {"a signed manifest of another product", [&] { PublishSigned(foreign, "first"); }, L"com.ini 不属于本产品"},
        {"a signed manifest replayed after its date", [&] { PublishSigned(expired, "first"); }, L"com.ini 已过期"},
        {"a signed manifest naming two images", [&] { PublishSigned(twoImages, "first"); },
         L"com.ini 含有重复的键或分节"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        // Another text first: several refusals end with the same one.
        ASSERT_TRUE(window.Run(IdReadVersionButton, L"当前固件版本: 1.0.0"));
        ResetUpdateServer();
        refusal.publish();
        EXPECT_TRUE(window.Run(IdUpdateButton, std::wstring(L"获取远程版本信息失败: ") + refusal.text));
        EXPECT_EQ(ServedTargets(), (std::vector<std::string>{"/com.ini", "/com.ini.sig"}));
        EXPECT_EQ(window.Text(IdLatestVersionLabel), L"--");
    }
}
