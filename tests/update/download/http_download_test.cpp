#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <memory>

#include "tests/support/calls_override.h"
#include "tests/support/message_sink.h"
#include "tests/support/update_server_client.h"
#include "update/download/http_download.h"
#include "update/download/winhttp_calls.h"
#include "update/release/release_limits.h"

// Downloads from the local update server, which serves each fault for real.

namespace {

struct Download {
    bool ok = false;
    std::string body;
    std::wstring error = L"not run";
    DownloadFailure kind = DownloadFailure::None;
    uint32_t httpStatus = 0;
    std::vector<int32_t> progress;  // every percentage reported, in order
};

// Runs the download as a task does, on a worker thread, with the sink as the
// window. A download that outlives the time-out fails the test and keeps its
// own copy of the result.
Download RunDownload(MessageSink& sink, const std::wstring& url, DWORD timeoutMs = 60000,
                     uint64_t limit = kImageSizeLimit) {
    auto result = std::make_shared<Download>();
    EXPECT_TRUE(RunTask(
        sink, "the download of '" + std::string(url.begin(), url.end()) + "'",
        [result, url, limit] {
            std::vector<uint8_t> body;
            DownloadError error{DownloadFailure::HttpStatus, 999, L"stale"};
            result->ok = HttpDownload(url, body, error, limit,
                                      [result](int32_t percent) { result->progress.push_back(percent); });
            result->body.assign(body.begin(), body.end());
            result->error = error.text;
            result->kind = error.kind;
            result->httpStatus = error.httpStatus;
        },
        timeoutMs));
    return *result;
}

// A percentage after every read; they rise to 100.
void ExpectProgressEndingAt100(const std::vector<int32_t>& progress) {
    ASSERT_FALSE(progress.empty());
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
    EXPECT_EQ(progress.back(), 100);
}

// The library's time-outs as the download sets them, each a tenth as long.
constexpr int kShorter = 10;

BOOL WINAPI ShorterTimeouts(HINTERNET handle, int resolveMs, int connectMs, int sendMs, int receiveMs) {
    return WinHttpCalls::System().setTimeouts(handle, resolveMs / kShorter, connectMs / kShorter, sendMs / kShorter,
                                              receiveMs / kShorter);
}

BOOL WINAPI ShorterResponseTimeout(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    if (option != WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT) {
        return WinHttpCalls::System().setOption(handle, option, buffer, length);
    }
    DWORD shorterMs = *static_cast<const DWORD*>(buffer) / kShorter;
    return WinHttpCalls::System().setOption(handle, option, &shorterMs, sizeof shorterMs);
}

class HttpDownloadTest : public testing::Test {
protected:
    void SetUp() override { ResetUpdateServer(); }
    MessageSink sink;
};

}  // namespace

TEST_F(HttpDownloadTest, BodyWithLengthArrivesWholeWithProgressAfterEveryRead) {
    const std::string bytes = PatternBytes(96 * 1024);
    // Pieces with pauses between them make the library report the body in several reads.
    ServeBytes("/fw.uf2", bytes, "mode=trickle&chunk=8192&delay=15");
    const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
    EXPECT_TRUE(download.ok);
    EXPECT_EQ(download.error, L"");
    EXPECT_EQ(download.kind, DownloadFailure::None);
    EXPECT_TRUE(download.body == bytes);
    ExpectProgressEndingAt100(download.progress);
    EXPECT_GT(download.progress.size(), 1u) << "the body came in one read";
    EXPECT_LT(download.progress.front(), 100);
}

TEST_F(HttpDownloadTest, LargeImageArrivesIntact) {
    const std::string image = ServeImage("/firmware/large.uf2", "9.1.0", 8 * 1024 * 1024);
    ASSERT_GT(image.size(), 4u * 1024 * 1024);
    const Download download = RunDownload(sink, UpdateServerUrl("/firmware/large.uf2"));
    EXPECT_TRUE(download.ok);
    EXPECT_TRUE(download.body == image) << "got " << download.body.size() << " of " << image.size() << " bytes";
    ExpectProgressEndingAt100(download.progress);
}

// The caller reads the status as a number beside the text (a 404 is a
// signature that was never published).
TEST_F(HttpDownloadTest, StatusOutside200To299FailsWithItsNumber) {
    const struct {
        const char* delivery;
        uint32_t status;
        const wchar_t* error;
    } cases[] = {
        {"status=404", 404, L"HTTP 状态码 404"},
        {"status=500", 500, L"HTTP 状态码 500"},
        {"status=300", 300, L"HTTP 状态码 300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delivery);
        ServeBytes("/fw.uf2", "error page", c.delivery);
        const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::HttpStatus);
        EXPECT_EQ(download.httpStatus, c.status);
        EXPECT_EQ(download.error, c.error);
        EXPECT_TRUE(download.progress.empty());
    }
}

TEST_F(HttpDownloadTest, BodiesWithoutAUsableLengthAreReadWithoutProgress) {
    const std::string bytes = PatternBytes(200 * 1024);
    const struct {
        const char* delivery;
        std::string body;
    } cases[] = {
        {"mode=chunked&chunk=3000", bytes},
        {"mode=close", bytes},
        {"", ""},            // Content-Length: 0
        {"status=204", ""},  // no content at all
        {"status=299", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delivery);
        ServeBytes("/fw.uf2", c.body, c.delivery);
        const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
        EXPECT_TRUE(download.ok);
        EXPECT_EQ(download.error, L"");
        EXPECT_EQ(download.kind, DownloadFailure::None);
        EXPECT_EQ(download.httpStatus, 0u);
        EXPECT_TRUE(download.body == c.body) << download.body.size() << " bytes";
        EXPECT_TRUE(download.progress.empty());
    }
}

TEST_F(HttpDownloadTest, BodyShorterThanItsLengthIsNotAWholeDownload) {
    for (const char* delivery : {"mode=short&send=0", "mode=short&send=5000"}) {
        SCOPED_TRACE(delivery);
        ServeBytes("/fw.uf2", PatternBytes(20000), delivery);
        const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::ReadFailed);
        EXPECT_EQ(download.error, L"下载数据读取失败");
    }
    // A reset connection: some systems report it on the availability query
    // instead, and a reset that overtakes the headers (the peer's system drops
    // what it had not yet handed over) fails the request itself.
    ServeBytes("/fw.uf2", PatternBytes(20000), "mode=reset&send=5000");
    const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
    EXPECT_FALSE(download.ok);
    EXPECT_TRUE(download.error == L"下载数据读取失败" || download.error == L"读取响应失败" ||
                download.error == L"HTTP 请求失败")
        << testing::PrintToString(download.error);
}

TEST_F(HttpDownloadTest, RefusedConnectionFailsTheRequest) {
    const uint16_t port = UnusedLoopbackPort();
    const Download download = RunDownload(sink, L"http://127.0.0.1:" + std::to_wstring(port) + L"/fw.uf2");
    EXPECT_FALSE(download.ok);
    EXPECT_EQ(download.kind, DownloadFailure::Network);
    EXPECT_EQ(download.error, L"HTTP 请求失败");
}

TEST_F(HttpDownloadTest, InvalidUrlIsRefusedBeforeAnyRequest) {
    for (const wchar_t* url : {L"", L"firmware.uf2", L"ftp://127.0.0.1/fw.uf2", L"http://"}) {
        const Download download = RunDownload(sink, url);
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::BadUrl);
        EXPECT_EQ(download.error, L"下载地址无效");
    }
    EXPECT_TRUE(ServedRequests().empty());
}

TEST_F(HttpDownloadTest, SendsOneGetWithItsUserAgentAndTheQuery) {
    ServeBytes("/fw.uf2", "image");
    const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2?channel=beta&n=2"));
    EXPECT_TRUE(download.ok);
    EXPECT_EQ(download.body, "image");
    const auto requests = ServedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/fw.uf2?channel=beta&n=2");
    EXPECT_EQ(requests[0].userAgent, "NORVA1/1.0");
}

// A server that goes silent, before its headers or after them: the download
// gives up after the time-outs it gives the library (here each a tenth as
// long), not after the library's own. Both wait at once.
TEST_F(HttpDownloadTest, SilentServerEndsWithAFailureInsteadOfWaitingForEver) {
    CallsOverride<WinHttpCalls> winHttp;
    winHttp->setTimeouts = ShorterTimeouts;
    winHttp->setOption = ShorterResponseTimeout;
    ServeBytes("/silent.uf2", PatternBytes(1000), "mode=stall&seconds=300");
    ServeBytes("/stalled.uf2", PatternBytes(1000), "mode=stall-body&seconds=300");
    auto fetch = [](const char* path) {
        return std::async(std::launch::async, [path] {
            std::vector<uint8_t> body;
            DownloadError error;
            HttpDownload(UpdateServerUrl(path), body, error, kImageSizeLimit, [](int32_t) {});
            return error.text;
        });
    };
    auto silent = fetch("/silent.uf2");
    auto stalled = fetch("/stalled.uf2");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReceiveTimeoutMs * 5 / 2 / kShorter);
    const bool ended = silent.wait_until(limit) == std::future_status::ready &&
                       stalled.wait_until(limit) == std::future_status::ready;
    ResetUpdateServer();  // releases a connection still held, so the futures can end
    ASSERT_TRUE(ended) << "a download still waits for the silent server";
    EXPECT_EQ(silent.get(), L"HTTP 请求失败");
    EXPECT_EQ(stalled.get(), L"读取响应失败");
}

// A large image read in many small pieces posts a message only when the
// percentage moves, so the window's queue never fills; the percentages still rise to 100.
TEST_F(HttpDownloadTest, ProgressIsPostedOnlyWhenThePercentageChanges) {
    const std::string bytes = PatternBytes(400 * 1024);
    ServeBytes("/fw.uf2", bytes, "mode=trickle&chunk=256&delay=1");
    const Download download = RunDownload(sink, UpdateServerUrl("/fw.uf2"));
    ASSERT_TRUE(download.ok);
    ExpectProgressEndingAt100(download.progress);
    EXPECT_LE(download.progress.size(), 101u);
    for (size_t i = 1; i < download.progress.size(); ++i) EXPECT_GT(download.progress[i], download.progress[i - 1]);
}

TEST_F(HttpDownloadTest, ABodyPastTheLimitFailsBeforeOrAsItCrossesIt) {
    const std::string bytes = PatternBytes(70 * 1024);
    // Declared too large: refused before anything is read.
    ServeBytes("/com.ini", bytes);
    Download download = RunDownload(sink, UpdateServerUrl("/com.ini"), 60000, kManifestSizeLimit);
    EXPECT_FALSE(download.ok);
    EXPECT_EQ(download.kind, DownloadFailure::TooLarge);
    EXPECT_EQ(download.error, L"下载数据过大");
    EXPECT_TRUE(download.body.empty());
    // No length: read until the body would cross the limit.
    ServeBytes("/com.ini", bytes, "mode=chunked&chunk=4096");
    download = RunDownload(sink, UpdateServerUrl("/com.ini"), 60000, kManifestSizeLimit);
    EXPECT_FALSE(download.ok);
    EXPECT_EQ(download.error, L"下载数据过大");
    EXPECT_LE(download.body.size(), kManifestSizeLimit);
    // Exactly at the limit is still a whole download.
    ServeBytes("/com.ini", bytes.substr(0, kManifestSizeLimit));
    download = RunDownload(sink, UpdateServerUrl("/com.ini"), 60000, kManifestSizeLimit);
    EXPECT_TRUE(download.ok);
}

// Over https the system checks the server's certificate; nothing lets a
// certificate it does not trust, or one for another host, through.
TEST_F(HttpDownloadTest, HttpsTakesOnlyACertificateTheSystemTrustsForThatHost) {
    ServeBytes("/fw.uf2", "image over tls");
    Download download = RunDownload(sink, UpdateServerTlsUrl("/fw.uf2"));
    EXPECT_TRUE(download.ok) << testing::PrintToString(download.error);
    EXPECT_EQ(download.body, "image over tls");
    for (TlsListener refused : {TlsListener::Untrusted, TlsListener::OtherHost}) {
        SCOPED_TRACE(static_cast<int>(refused));
        download = RunDownload(sink, UpdateServerTlsUrl("/fw.uf2", refused));
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::Network);
        EXPECT_EQ(download.error, L"HTTP 请求失败");
        EXPECT_TRUE(download.body.empty());
    }
    const auto requests = ServedRequests();
    ASSERT_EQ(requests.size(), 1u) << "a refused certificate still reached the server";
    EXPECT_EQ(requests[0].scheme, "https");
}
