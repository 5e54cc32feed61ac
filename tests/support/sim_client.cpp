#include "tests/support/sim_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

const unsigned short kDefaultPort = 47200;
// Plugging waits for the Windows helper; the boot loader requests never take long.
const DWORD kReplyTimeoutMs = 30000;
const long kConnectTimeoutMs = 3000;

unsigned short SimulatorPort() {
    const char* text = std::getenv("NORVA_SIM_PORT");
    if (text == nullptr || *text == '\0') return kDefaultPort;
    long port = std::strtol(text, nullptr, 10);
    return port > 0 && port < 65536 ? static_cast<unsigned short>(port) : kDefaultPort;
}

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Connects with a time-out: a missing simulator must fail the test, not hang it.
SOCKET Connect(std::string& why) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        why = "socket() failed: " + std::to_string(WSAGetLastError());
        return INVALID_SOCKET;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(SimulatorPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int result = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval timeout{kConnectTimeoutMs / 1000, (kConnectTimeoutMs % 1000) * 1000};
        result = select(0, nullptr, &writable, &failed, &timeout) == 1 && FD_ISSET(s, &writable) ? 0 : SOCKET_ERROR;
    }
    if (result != 0) {
        why = "cannot reach the device simulator on 127.0.0.1:" + std::to_string(SimulatorPort()) +
              " (is the harness up? tests/harness/harness.sh up)";
        closesocket(s);
        return INVALID_SOCKET;
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    DWORD timeout = kReplyTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    return s;
}

bool SendAll(SOCKET s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string ToHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) break;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

bool IsOk(const std::string& reply) { return reply == "ok" || reply.compare(0, 3, "ok ") == 0; }

std::string Payload(const std::string& reply) { return reply.size() > 3 ? reply.substr(3) : std::string(); }

}  // namespace

std::string SimRequest(const std::string& request) {
    if (!StartWinsock()) {
        ADD_FAILURE() << "device simulator: WSAStartup failed";
        return "err WSAStartup failed";
    }
    std::string why;
    SOCKET s = Connect(why);
    if (s == INVALID_SOCKET) {
        ADD_FAILURE() << "device simulator: " << why << "; request: " << request;
        return "err " + why;
    }
    std::string reply;
    bool complete = false;
    if (SendAll(s, request + "\n")) {
        char chunk[65536];
        for (;;) {
            int n = recv(s, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            reply.append(chunk, static_cast<size_t>(n));
            size_t end = reply.find('\n');
            if (end != std::string::npos) {
                reply.resize(end);
                complete = true;
                break;
            }
        }
    }
    closesocket(s);
    if (!complete) {
        ADD_FAILURE() << "device simulator: no reply to \"" << request << "\" within " << kReplyTimeoutMs
                      << " ms";
        return "err no reply";
    }
    if (!reply.empty() && reply.back() == '\r') reply.pop_back();
    return reply;
}

SimDevice::SimDevice(const std::string& options) {
    std::string reply = SimRequest(options.empty() ? "plug" : "plug " + options);
    if (!IsOk(reply) || Payload(reply).compare(0, 3, "COM") != 0) {
        ADD_FAILURE() << "device simulator: plug " << options << " -> " << reply;
        return;
    }
    name_ = Payload(reply);
    port_.assign(name_.begin(), name_.end());
}

SimDevice::~SimDevice() {
    if (plugged()) SimRequest("remove " + name_);
}

std::string SimDevice::Ask(const std::string& verb, const std::string& rest) {
    if (!plugged()) {
        ADD_FAILURE() << "device simulator: " << verb << " on a device that was never plugged";
        return std::string();
    }
    std::string request = verb + " " + name_ + (rest.empty() ? "" : " " + rest);
    std::string reply = SimRequest(request);
    if (!IsOk(reply)) {
        ADD_FAILURE() << "device simulator: " << request << " -> " << reply;
        return std::string();
    }
    return Payload(reply);
}

void SimDevice::Set(const std::string& options) { Ask("set", options); }

void SimDevice::Send(const std::string& bytes) { Ask("send", ToHex(bytes)); }

std::string SimDevice::Received() { return FromHex(Ask("received")); }

void SimDevice::ClearReceived() { Ask("clear"); }

std::map<std::string, std::string> SimDevice::State() {
    std::map<std::string, std::string> state;
    std::istringstream words(Ask("state"));
    std::string word;
    while (words >> word) {
        size_t eq = word.find('=');
        if (eq != std::string::npos) state[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return state;
}

void SimDevice::Unplug() { Ask("unplug"); }

void SimDevice::Replug() { Ask("replug"); }

void SimDevice::Bootsel() { Ask("bootsel"); }

wchar_t SimAddDrive(const std::string& options) {
    std::string reply = SimRequest(options.empty() ? "drive add" : "drive add " + options);
    if (!IsOk(reply) || Payload(reply).size() != 1) {
        ADD_FAILURE() << "device simulator: drive add " << options << " -> " << reply;
        return 0;
    }
    return static_cast<wchar_t>(Payload(reply)[0]);
}

void SimRemoveDrive(wchar_t letter) {
    std::string request = "drive remove ";
    request += static_cast<char>(letter);
    std::string reply = SimRequest(request);
    if (!IsOk(reply)) ADD_FAILURE() << "device simulator: " << request << " -> " << reply;
}

std::string SimUf2Image(const std::string& version, size_t size, const std::string& variant) {
    std::string request = "uf2 version=" + version + " variant=" + variant;
    if (size != 0) request += " size=" + std::to_string(size);
    std::string reply = SimRequest(request);
    if (!IsOk(reply)) {
        ADD_FAILURE() << "device simulator: " << request << " -> " << reply;
        return std::string();
    }
    return FromHex(Payload(reply));
}
