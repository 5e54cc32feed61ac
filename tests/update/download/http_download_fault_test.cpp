#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "base/clock_calls.h"
#include "tests/support/calls_override.h"
#include "tests/support/update_server_client.h"
#include "update/download/download_pace.h"
#include "update/download/http_download.h"
#include "update/download/winhttp_calls.h"
#include "update/release/release_limits.h"

// Faults of the HTTP library itself, which no server can bring about, through
// the WinHTTP call table (and the program's clock).

namespace {

std::vector<DWORD> g_accessTypesTried;

HINTERNET WINAPI RecordingOpen(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
    g_accessTypesTried.push_back(access);
    return WinHttpCalls::System().open(agent, access, proxy, bypass, flags);
}

// A system older than Windows 8.1: the automatic proxy is an unknown access type.
HINTERNET WINAPI OpenWithoutAutomaticProxy(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass,
                                           DWORD flags) {
    g_accessTypesTried.push_back(access);
    if (access == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return WinHttpCalls::System().open(agent, access, proxy, bypass, flags);
}

HINTERNET WINAPI RefusedOpen(LPCWSTR, DWORD access, LPCWSTR, LPCWSTR, DWORD) {
    g_accessTypesTried.push_back(access);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HINTERNET WINAPI RefusedConnect(HINTERNET, LPCWSTR, INTERNET_PORT, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

HINTERNET WINAPI RefusedRequest(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

int g_readsLeft = 0;

// Reads as the system does until the count runs out, then fails.
BOOL WINAPI ReadFailingLater(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read) {
    if (g_readsLeft-- > 0) return WinHttpCalls::System().readData(request, buffer, size, read);
    SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    return FALSE;
}

// The body comes in pieces of at most 4 KiB at 20000 bytes every 30 s, a
// little over the least a download must bring, and the download's clock moves
// on as each piece arrives: minutes pass in a moment.
ULONGLONG g_nowMs = 0;

ULONGLONG WINAPI FakeNow() { return g_nowMs; }

BOOL WINAPI SteadyArrival(HINTERNET request, LPDWORD available) {
    const BOOL ok = WinHttpCalls::System().queryDataAvailable(request, available);
    if (ok) {
        *available = std::min<DWORD>(*available, 4096);
        g_nowMs += *available * 3 / 2;
    }
    return ok;
}

struct Download {
    bool ok = false;
    std::vector<uint8_t> body;
    std::wstring error = L"stale";
    DownloadFailure kind = DownloadFailure::None;
};

Download Fetch(const std::string& path) {
    Download result;
    DownloadError error;
    result.ok = HttpDownload(UpdateServerUrl(path), result.body, error, kImageSizeLimit, [](int32_t) {});
    result.error = error.text;
    result.kind = error.kind;
    return result;
}

class HttpDownloadFaultTest : public testing::Test {
protected:
    void SetUp() override {
        ResetUpdateServer();
        ServeBytes("/fw.uf2", PatternBytes(300 * 1024), "mode=trickle&chunk=16384&delay=5");
    }
    CallsOverride<WinHttpCalls> winHttp;
};

}  // namespace

TEST_F(HttpDownloadFaultTest, SessionTakesTheAutomaticProxyOrFallsBackToTheDefault) {
    const struct {
        decltype(WinHttpCalls::open) open;
        std::vector<DWORD> accessTypesTried;
    } cases[] = {
        {RecordingOpen, {WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY}},
        {OpenWithoutAutomaticProxy, {WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.accessTypesTried.size());
        g_accessTypesTried.clear();
        winHttp->open = c.open;
        const Download download = Fetch("/fw.uf2");
        EXPECT_TRUE(download.ok);
        EXPECT_EQ(download.body.size(), 300u * 1024);
        EXPECT_EQ(g_accessTypesTried, c.accessTypesTried);
    }
}

TEST_F(HttpDownloadFaultTest, HandlesTheLibraryCannotCreateFailBeforeAnyRequest) {
    const struct {
        void (*breakIt)(WinHttpCalls&);
        const wchar_t* error;
    } cases[] = {
        {[](WinHttpCalls& calls) { calls.open = RefusedOpen; }, L"初始化网络请求失败"},
        {[](WinHttpCalls& calls) { calls.connect = RefusedConnect; }, L"连接服务器失败"},
        {[](WinHttpCalls& calls) { calls.openRequest = RefusedRequest; }, L"创建请求失败"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.error));
        winHttp.Restore();
        c.breakIt(*winHttp);
        const Download download = Fetch("/fw.uf2");
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::Network);
        EXPECT_EQ(download.error, c.error);
    }
    EXPECT_TRUE(ServedRequests().empty());
}

TEST_F(HttpDownloadFaultTest, FailedReadEndsTheDownload) {
    for (int goodReads : {0, 2}) {
        SCOPED_TRACE(goodReads);
        g_readsLeft = goodReads;
        winHttp->readData = ReadFailingLater;
        const Download download = Fetch("/fw.uf2");
        EXPECT_FALSE(download.ok);
        EXPECT_EQ(download.kind, DownloadFailure::ReadFailed);
        EXPECT_EQ(download.error, L"下载数据读取失败");
        EXPECT_LT(download.body.size(), 300u * 1024);
    }
}

TEST_F(HttpDownloadFaultTest, ASlowButSteadyBodyArrivesWhole) {
    g_nowMs = 0;
    CallsOverride<ClockCalls> clock;
    clock->tickCount = FakeNow;
    winHttp->queryDataAvailable = SteadyArrival;
    const Download download = Fetch("/fw.uf2");
    EXPECT_TRUE(download.ok) << testing::PrintToString(download.error);
    EXPECT_EQ(download.body.size(), 300u * 1024);
    EXPECT_GT(g_nowMs, 10 * kPaceWindowMs);  // the mark moved again and again
}
