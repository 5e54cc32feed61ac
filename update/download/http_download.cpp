#include "update/download/http_download.h"

#include <windows.h>
#include <winhttp.h>

#include <new>

#include "base/clock_calls.h"
#include "base/trace.h"
#include "update/download/download_pace.h"
#include "update/download/winhttp_calls.h"

// Older SDK headers lack the access type that Windows 8.1 introduced.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace {

constexpr wchar_t kUserAgent[] = L"NORVA1/1.0";

constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 2048;
constexpr DWORD kExtraChars = 1024;

// Closed in the order request, connection, session, whichever were opened.
struct HttpHandles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    HttpHandles() = default;
    HttpHandles(const HttpHandles&) = delete;
    HttpHandles& operator=(const HttpHandles&) = delete;
    ~HttpHandles() {
        if (request != nullptr) WinHttp().closeHandle(request);
        if (connection != nullptr) WinHttp().closeHandle(connection);
        if (session != nullptr) WinHttp().closeHandle(session);
    }
};

// The automatic proxy follows the system's settings including a proxy
// auto-configuration script; Windows before 8.1 refuses that access type, and
// there the default proxy (the configured settings) is the next best.
HINTERNET OpenSession() {
    HINTERNET session = WinHttp().open(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        session = WinHttp().open(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (session != nullptr) {
        WinHttp().setTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
        // The wait for the response headers has a time-out of its own.
        DWORD headersTimeoutMs = kReceiveTimeoutMs;
        WinHttp().setOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeoutMs, sizeof headersTimeoutMs);
        // A redirect may lead from https to https or from http anywhere, never from https down to http.
        DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
        WinHttp().setOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects);
    }
    return session;
}

DWORD QueryNumberHeader(HINTERNET request, DWORD query, bool& found) {
    DWORD value = 0;
    DWORD size = sizeof value;
    found = WinHttp().queryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value,
                                &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
    return value;
}

bool Fail(DownloadFailure kind, const wchar_t* text, DownloadError& error) {
    error = DownloadError{kind, 0, text};
    return false;
}

// Reads the body to its end, once the headers have arrived. A declared length
// that the body falls short of means the connection was dropped: that is a
// failed read, not a whole file. A body is never let grow past the limit,
// whatever the server declares. Each availability query waits at most the
// receive time-out; the pace, checked whenever more is there to read, bounds
// the whole body, so that a server dripping bytes cannot hold the task.
bool ReadBody(HINTERNET request, bool lengthKnown, DWORD length, uint64_t limit, std::vector<uint8_t>& body,
              const ProgressCallback& progress, DownloadError& error) {
    body.clear();
    if (lengthKnown && length > limit) return Fail(DownloadFailure::TooLarge, L"下载数据过大", error);
    // The declared length is taken as the body's size before the first read,
    // so that a large image is held once rather than in ever larger copies.
    if (lengthKnown) body.reserve(length);
    uint64_t total = 0;
    int32_t reported = -1;
    PaceMark mark{Clock().tickCount(), 0};
    for (;;) {
        DWORD available = 0;
        if (!WinHttp().queryDataAvailable(request, &available)) {
            TraceSystemError(L"WinHttpQueryDataAvailable", std::wstring(), GetLastError());
            return Fail(DownloadFailure::ReadFailed, L"读取响应失败", error);
        }
        if (available == 0) break;
        if (total + available > limit) return Fail(DownloadFailure::TooLarge, L"下载数据过大", error);
        // What the library holds ready has arrived, though not yet read.
        if (CheckPace(mark, Clock().tickCount(), total + available) == Pace::TooSlow) {
            return Fail(DownloadFailure::TooSlow, L"下载速度过慢", error);
        }
        std::vector<uint8_t> buffer(available);
        DWORD read = 0;
        if (!WinHttp().readData(request, buffer.data(), available, &read)) {
            TraceSystemError(L"WinHttpReadData", std::wstring(), GetLastError());
            return Fail(DownloadFailure::ReadFailed, L"下载数据读取失败", error);
        }
        body.insert(body.end(), buffer.begin(), buffer.begin() + read);
        total += read;
        // Only a new percentage is worth a message: a large image read in many
        // small pieces must not fill the window's message queue.
        if (lengthKnown && length != 0) {
            const int32_t percent = static_cast<int32_t>(total * 100 / length);
            if (percent != reported) progress(percent);
            reported = percent;
        }
    }
    if (lengthKnown && total < length) return Fail(DownloadFailure::ReadFailed, L"下载数据读取失败", error);
    error = DownloadError();
    return true;
}

}  // namespace

bool CrackDownloadUrl(const std::wstring& url, CrackedUrl& cracked) {
    wchar_t host[kHostChars] = {};
    wchar_t path[kPathChars] = {};
    wchar_t extra[kExtraChars] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostChars;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathChars;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = kExtraChars;
    if (url.empty() || url.size() > MAXDWORD) return false;
    if (!WinHttp().crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        TraceSystemError(L"WinHttpCrackUrl", url, GetLastError());
        return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (parts.dwHostNameLength == 0) return false;
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    cracked.port = parts.nPort;
    cracked.host.assign(host, parts.dwHostNameLength);
    cracked.objectPath.assign(path, parts.dwUrlPathLength);
    cracked.objectPath.append(extra, parts.dwExtraInfoLength);
    if (cracked.objectPath.empty()) cracked.objectPath = L"/";
    return true;
}

bool HttpDownload(const std::wstring& url, std::vector<uint8_t>& body, DownloadError& error, uint64_t sizeLimit,
                  const ProgressCallback& progress) {
    CrackedUrl target;
    if (!CrackDownloadUrl(url, target)) return Fail(DownloadFailure::BadUrl, L"下载地址无效", error);
    HttpHandles handles;
    handles.session = OpenSession();
    if (handles.session == nullptr) {
        TraceSystemError(L"WinHttpOpen", std::wstring(), GetLastError());
        return Fail(DownloadFailure::Network, L"初始化网络请求失败", error);
    }
    handles.connection = WinHttp().connect(handles.session, target.host.c_str(), target.port, 0);
    if (handles.connection == nullptr) {
        TraceSystemError(L"WinHttpConnect", target.host, GetLastError());
        return Fail(DownloadFailure::Network, L"连接服务器失败", error);
    }
    handles.request = WinHttp().openRequest(handles.connection, L"GET", target.objectPath.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            target.secure ? WINHTTP_FLAG_SECURE : 0);
    if (handles.request == nullptr) {
        TraceSystemError(L"WinHttpOpenRequest", target.objectPath, GetLastError());
        return Fail(DownloadFailure::Network, L"创建请求失败", error);
    }
    if (!WinHttp().sendRequest(handles.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        TraceSystemError(L"WinHttpSendRequest", url, GetLastError());
        return Fail(DownloadFailure::Network, L"HTTP 请求失败", error);
    }
    if (!WinHttp().receiveResponse(handles.request, nullptr)) {
        TraceSystemError(L"WinHttpReceiveResponse", url, GetLastError());
        return Fail(DownloadFailure::Network, L"HTTP 请求失败", error);
    }
    // A status the library cannot read shows as 0, which is refused like any other.
    bool ignored = false;
    const DWORD status = QueryNumberHeader(handles.request, WINHTTP_QUERY_STATUS_CODE, ignored);
    if (status < 200 || status > 299) {
        error = DownloadError{DownloadFailure::HttpStatus, status, L"HTTP 状态码 " + std::to_wstring(status)};
        return false;
    }
    bool lengthKnown = false;
    const DWORD length = QueryNumberHeader(handles.request, WINHTTP_QUERY_CONTENT_LENGTH, lengthKnown);
    try {
        return ReadBody(handles.request, lengthKnown, length, sizeLimit, body, progress, error);
    } catch (const std::bad_alloc&) {
        // A body larger than the memory the program can get: the download fails, the program goes on.
        body.clear();
        body.shrink_to_fit();
        return Fail(DownloadFailure::ReadFailed, L"下载数据读取失败", error);
    }
}
