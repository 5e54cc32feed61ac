#include "tests/support/update_server_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace {

constexpr DWORD kSocketTimeoutMs = 10000;

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

uint16_t ServerPort() {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("NORVA_HTTP_PORT", text, sizeof text);
    if (length == 0 || length >= sizeof text) return 18080;
    return static_cast<uint16_t>(std::strtoul(text, nullptr, 10));
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

struct Socket {
    SOCKET handle = INVALID_SOCKET;
    Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (handle != INVALID_SOCKET) closesocket(handle);
    }
};

// Parameter values travel in a query string: everything but unreserved characters is escaped.
std::string Escape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : text) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return escaped;
}

std::string WithDelivery(std::string request, const std::string& delivery) {
    if (!delivery.empty()) request += (request.find('?') == std::string::npos ? "?" : "&") + delivery;
    return request;
}

// One HTTP/1.1 exchange on a fresh connection that the server closes after its answer.
bool Exchange(const std::string& request, std::string& answer) {
    if (!StartWinsock()) return false;
    Socket socket;
    socket.handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket.handle == INVALID_SOCKET) return false;
    const DWORD timeout = kSocketTimeoutMs;
    setsockopt(socket.handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(socket.handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    const sockaddr_in address = Loopback(ServerPort());
    if (connect(socket.handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
    size_t sent = 0;
    while (sent < request.size()) {
        const int n = send(socket.handle, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    answer.clear();
    char buffer[65536];
    for (;;) {
        const int n = recv(socket.handle, buffer, sizeof buffer, 0);
        if (n < 0) return false;  // includes the receive time-out
        if (n == 0) return true;
        answer.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

std::wstring UpdateServerUrl(const std::string& path) {
    return L"http://127.0.0.1:" + std::to_wstring(ServerPort()) + std::wstring(path.begin(), path.end());
}

std::wstring UpdateServerTlsUrl(const std::string& path, TlsListener listener) {
    // The harness puts the https listeners on the ports just above the plain one.
    const int port = ServerPort() + 1 + static_cast<int>(listener);
    return L"https://127.0.0.1:" + std::to_wstring(port) + std::wstring(path.begin(), path.end());
}

std::string UpdateServerControl(const std::string& request, const std::string& body) {
    std::ostringstream message;
    message << "POST /__control/" << request << " HTTP/1.1\r\n"
            << "Host: 127.0.0.1\r\nConnection: close\r\nContent-Length: " << body.size() << "\r\n\r\n"
            << body;
    std::string answer;
    if (!Exchange(message.str(), answer)) {
        ADD_FAILURE() << "update server on port " << ServerPort() << " did not answer " << request
                      << " (WSA error " << WSAGetLastError() << ")";
        return "";
    }
    const size_t headerEnd = answer.find("\r\n\r\n");
    if (answer.compare(0, 13, "HTTP/1.1 200 ") != 0 || headerEnd == std::string::npos) {
        ADD_FAILURE() << "update server refused " << request << ": " << answer.substr(0, 300);
        return "";
    }
    return answer.substr(headerEnd + 4);
}

void ResetUpdateServer() {
    UpdateServerControl("reset");
}

void ServeBytes(const std::string& path, const std::string& bytes, const std::string& delivery) {
    UpdateServerControl(WithDelivery("route?path=" + Escape(path), delivery), bytes);
}

void ServeManifest(const std::string& text, const std::string& delivery) {
    UpdateServerControl(WithDelivery("manifest", delivery), text);
}

std::string SignManifest(const std::string& keyFile, const std::string& delivery) {
    return UpdateServerControl(WithDelivery("sign?key=" + Escape(keyFile), delivery));
}

std::string ServeImage(const std::string& path, const std::string& version, size_t size,
                       const std::string& variant) {
    return UpdateServerControl("image?path=" + Escape(path) + "&version=" + Escape(version) +
                               "&size=" + std::to_string(size) + "&variant=" + Escape(variant));
}

void SetDelivery(const std::string& path, const std::string& delivery) {
    UpdateServerControl(WithDelivery("fault?path=" + Escape(path), delivery));
}

std::vector<ServedRequest> ServedRequests() {
    std::vector<ServedRequest> requests;
    std::istringstream lines(UpdateServerControl("log"));
    std::string line;
    while (std::getline(lines, line)) {
        ServedRequest request;
        std::istringstream fields(line);
        std::getline(fields, request.method, '\t');
        std::getline(fields, request.target, '\t');
        std::getline(fields, request.userAgent, '\t');
        std::getline(fields, request.scheme);
        requests.push_back(request);
    }
    return requests;
}

uint16_t UnusedLoopbackPort() {
    if (!StartWinsock()) return 0;
    Socket socket;
    socket.handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(0);
    int size = sizeof address;
    if (socket.handle == INVALID_SOCKET ||
        bind(socket.handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket.handle, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << "no free loopback port";
        return 0;
    }
    return ntohs(address.sin_port);
}

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 0x12345678u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}
