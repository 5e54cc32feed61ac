#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Client of the local update server (tools/world/update_server.py), which the harness
// runs on Linux beside Wine on 127.0.0.1:$NORVA_HTTP_PORT (default 18080). The
// control API is described at the top of that script. Every call fails the
// current test when the server cannot be reached, refuses the request or does
// not answer within a few seconds; none of them waits longer.

// Where the program finds the server: "http://127.0.0.1:<port>" + path.
std::wstring UpdateServerUrl(const std::string& path);

// The server's https listeners, each with its own certificate, made by the
// harness at test time: one the test prefix trusts, one it does not trust (its
// own, unknown authority), and one the trusted authority made for another host.
enum class TlsListener { Trusted = 0, Untrusted = 1, OtherHost = 2 };

// Where the program finds the server over https: "https://127.0.0.1:<port>" + path.
std::wstring UpdateServerTlsUrl(const std::string& path, TlsListener listener = TlsListener::Trusted);

// One control request such as "reset" or "fault?path=/a&mode=chunked", with
// `body` as the request body. Returns the answer's body (empty after a failure).
std::string UpdateServerControl(const std::string& request, const std::string& body = "");

// The start-up paths again and an empty request log.
void ResetUpdateServer();

// Serves `bytes` at `path`. `delivery` holds the delivery options, such as
// "status=404" or "mode=short&send=100".
void ServeBytes(const std::string& path, const std::string& bytes, const std::string& delivery = "");

// Serves `text` as /com.ini.
void ServeManifest(const std::string& text, const std::string& delivery = "");

// Signs the /com.ini now served with the private key in `keyFile` (a path on
// the server's machine), as tools/release/release-sign.py does, and serves the
// signature as /com.ini.sig with `delivery`. Returns the signature's text.
std::string SignManifest(const std::string& keyFile, const std::string& delivery = "");

// Serves a generated UF2 image at `path` and returns its bytes.
std::string ServeImage(const std::string& path, const std::string& version, size_t size,
                       const std::string& variant = "good");

// Changes how `path` is delivered (same options as ServeBytes), keeping its body.
void SetDelivery(const std::string& path, const std::string& delivery);

struct ServedRequest {
    std::string method;
    std::string target;  // path and query as the program sent them
    std::string userAgent;
    std::string scheme;  // "http" or "https": the listener that served it
};

// The requests served since the last reset, oldest first.
std::vector<ServedRequest> ServedRequests();

// A loopback port on which nothing listens (just released by this process).
uint16_t UnusedLoopbackPort();

// `size` pseudo-random bytes (a fixed seed): a body whose truncation, reordering
// or duplication a comparison notices.
std::string PatternBytes(size_t size);
