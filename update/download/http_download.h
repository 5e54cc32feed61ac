#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/download/progress.h"

struct CrackedUrl {
    bool secure = false;
    uint16_t port = 0;
    std::wstring host;
    std::wstring objectPath;  // path followed by query and fragment; "/" when both are empty
};

// False for an unsupported scheme, a malformed URL, or a part too long.
bool CrackDownloadUrl(const std::wstring& url, CrackedUrl& cracked);

// What went wrong with a download.
enum class DownloadFailure {
    None,
    BadUrl,      // "下载地址无效": a scheme other than http or https, a malformed URL, a part too long
    Network,     // the session, the connection or the request could not be made, or no response came
                 // (no route, refused, TLS, time-out)
    HttpStatus,  // "HTTP 状态码 N": the server answered with a status outside 200..299
    TooLarge,    // "下载数据过大"
    ReadFailed,  // the body could not be read to its end
    TooSlow,     // "下载速度过慢": the body came slower than the least a download must keep bringing
};

// The library's time-outs the download sets, in milliseconds. WinHTTP's own
// defaults let a server that accepts the connection and then says nothing hold
// the download for ever (or 90 s while the headers are awaited); these end it
// with a failure instead. The wait for the response headers has the receive
// time-out too.
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;

// A failed download: its kind, the server's status beside it, and its text.
struct DownloadError {
    DownloadFailure kind = DownloadFailure::None;
    // The status the server answered with (HttpStatus only; 0 when the library
    // could not read one, which is refused like any other).
    uint32_t httpStatus = 0;
    // The download's own words, which a task shows behind its prefix.
    std::wstring text;
};

// One GET of the URL; the whole body in memory. A declared length past the
// limit fails before reading, a body that grows past it fails as it crosses it:
// "下载数据过大". A body that does not keep moving (update/download/download_pace.h)
// fails between two reads: "下载速度过慢". While the length is known, reports
// the percentage to `progress` after the first read and after every read that
// changes it. On success `error` is cleared.
bool HttpDownload(const std::wstring& url, std::vector<uint8_t>& body, DownloadError& error, uint64_t sizeLimit,
                  const ProgressCallback& progress);
