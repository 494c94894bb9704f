#include "metrics/tcp_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace brisk::metrics {
namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
using PollEntry = WSAPOLLFD;
bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
int PollSockets(PollEntry* entries, size_t count, int timeoutMs) {
    return WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
}
void CloseNative(NativeSocket s) {
    closesocket(s);
}
bool SetNonBlocking(NativeSocket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
constexpr int kNoSignal = 0;
#else
using NativeSocket = int;
using PollEntry = pollfd;
bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
int PollSockets(PollEntry* entries, size_t count, int timeoutMs) {
    return poll(entries, count, timeoutMs);
}
void CloseNative(NativeSocket s) {
    close(s);
}
bool SetNonBlocking(NativeSocket s) {
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
// A peer that went away must not end the process with SIGPIPE.
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

NativeSocket NativeOf(const TcpSocket& s) {
    return static_cast<NativeSocket>(s.Native());
}

TcpSocket Own(NativeSocket s) {
    return TcpSocket(static_cast<TcpSocket::Handle>(s));
}

// A port left in TIME_WAIT by the previous run is free to take again; a
// second process on a port in use is refused (Windows' own default lets it
// share, so it is told not to).
void ExclusivePort(NativeSocket s) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) {
            freeaddrinfo(first);
        }
    }
};

bool Resolve(const std::string& host, uint16_t port, bool passive, AddressList& into) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    const std::string service = std::to_string(port);
    return getaddrinfo(host.c_str(), service.c_str(), &hints, &into.first) == 0;
}

}  // namespace

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        handle = other.handle;
        other.handle = kNone;
    }
    return *this;
}

void TcpSocket::Close() {
    if (handle != kNone) {
        CloseNative(static_cast<NativeSocket>(handle));
        handle = kNone;
    }
}

SocketLibrary::SocketLibrary() {
#ifdef _WIN32
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
#endif
}

SocketLibrary::~SocketLibrary() {
#ifdef _WIN32
    if (started) {
        WSACleanup();
    }
#endif
}

TcpSocket ListenTcp(const std::string& host, uint16_t port, std::string& error) {
    AddressList addresses;
    if (!Resolve(host, port, true, addresses)) {
        error = "no such host";
        return {};
    }
    for (const addrinfo* a = addresses.first; a != nullptr; a = a->ai_next) {
        TcpSocket s = Own(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!s.Valid()) {
            continue;
        }
        ExclusivePort(NativeOf(s));
        if (bind(NativeOf(s), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 &&
            listen(NativeOf(s), SOMAXCONN) == 0 && SetNonBlocking(NativeOf(s))) {
            return s;
        }
    }
    error = "the port is in use, or the address is not this machine's";
    return {};
}

TcpSocket AcceptTcp(const TcpSocket& listener) {
    TcpSocket s = Own(accept(NativeOf(listener), nullptr, nullptr));
    if (s.Valid() && !SetNonBlocking(NativeOf(s))) {
        return {};
    }
    return s;
}

TcpSocket ConnectTcp(const std::string& host, uint16_t port) {
    AddressList addresses;
    if (!Resolve(host, port, false, addresses)) {
        return {};
    }
    for (const addrinfo* a = addresses.first; a != nullptr; a = a->ai_next) {
        TcpSocket s = Own(socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (s.Valid() && connect(NativeOf(s), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            return s;
        }
    }
    return {};
}

IoResult ReceiveSome(const TcpSocket& s, char* into, size_t size) {
    const auto n = recv(NativeOf(s), into, static_cast<int>(size), 0);
    if (n > 0) {
        return {IoStatus::kMoved, static_cast<size_t>(n)};
    }
    if (n == 0) {
        return {IoStatus::kEnded, 0};
    }
    return {WouldBlock() ? IoStatus::kWouldBlock : IoStatus::kFailed, 0};
}

IoResult SendSome(const TcpSocket& s, const char* from, size_t size) {
    const auto n = send(NativeOf(s), from, static_cast<int>(size), kNoSignal);
    if (n >= 0) {
        return {IoStatus::kMoved, static_cast<size_t>(n)};
    }
    return {WouldBlock() ? IoStatus::kWouldBlock : IoStatus::kFailed, 0};
}

TcpSocket OpenWaker() {
    TcpSocket s = Own(socket(AF_INET, SOCK_DGRAM, 0));
    if (!s.Valid()) {
        return {};
    }
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof self;
    auto* address = reinterpret_cast<sockaddr*>(&self);
    if (bind(NativeOf(s), address, sizeof self) != 0 ||
        getsockname(NativeOf(s), address, &size) != 0 ||
        connect(NativeOf(s), address, sizeof self) != 0 || !SetNonBlocking(NativeOf(s))) {
        return {};
    }
    return s;
}

void WakeUp(const TcpSocket& waker) {
    const char byte = 1;
    send(NativeOf(waker), &byte, 1, 0);
}

void DrainWaker(const TcpSocket& waker) {
    char bytes[64];
    while (recv(NativeOf(waker), bytes, sizeof bytes, 0) > 0) {
    }
}

void ShutdownSending(const TcpSocket& s) {
#ifdef _WIN32
    shutdown(NativeOf(s), SD_SEND);
#else
    shutdown(NativeOf(s), SHUT_WR);
#endif
}

void WaitReady(std::vector<WaitEntry>& entries, int timeoutMs) {
    std::vector<PollEntry> polled(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        polled[i].fd = NativeOf(*entries[i].socket);
        polled[i].events = static_cast<short>((entries[i].wantRead ? POLLIN : 0) |
                                              (entries[i].wantWrite ? POLLOUT : 0));
        polled[i].revents = 0;
    }
    if (PollSockets(polled.data(), polled.size(), timeoutMs) <= 0) {
        return;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].ready = polled[i].revents != 0;
    }
}

}  // namespace brisk::metrics
