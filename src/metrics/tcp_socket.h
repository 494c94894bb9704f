// The few TCP calls the endpoint makes, over BSD sockets or Winsock: one
// owner per socket (closed exactly once by its destructor), non-blocking
// once listening or accepted, and a wait on many sockets at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk::metrics {

class TcpSocket {
  public:
    using Handle = uintptr_t;  // a SOCKET on Windows, a descriptor elsewhere
    static constexpr Handle kNone = ~Handle{0};

    TcpSocket() = default;
    explicit TcpSocket(Handle h) : handle(h) {}
    ~TcpSocket() { Close(); }
    TcpSocket(TcpSocket&& other) noexcept : handle(other.handle) { other.handle = kNone; }
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool Valid() const { return handle != kNone; }
    Handle Native() const { return handle; }
    void Close();

  private:
    Handle handle = kNone;
};

// Holds the socket library for as long as it lives (Winsock needs it
// started; elsewhere this does nothing).
class SocketLibrary {
  public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

  private:
    bool started = false;
};

// Binds HOST:PORT and listens, not blocking. Invalid, with the reason in
// `error`, when it cannot.
TcpSocket ListenTcp(const std::string& host, uint16_t port, std::string& error);

// A waiting connection, not blocking; invalid when none waits.
TcpSocket AcceptTcp(const TcpSocket& listener);

// A blocking connection to HOST:PORT, for clients (the tests); invalid when
// refused.
TcpSocket ConnectTcp(const std::string& host, uint16_t port);

// What a non-blocking receive or send did.
enum class IoStatus { kMoved, kWouldBlock, kEnded, kFailed };
struct IoResult {
    IoStatus status;
    size_t bytes;
};
IoResult ReceiveSome(const TcpSocket& s, char* into, size_t size);
IoResult SendSome(const TcpSocket& s, const char* from, size_t size);

// No more to send: the peer reads an end after what was sent.
void ShutdownSending(const TcpSocket& s);

// A loopback datagram socket sending to itself: another thread ends a
// WaitReady on it with WakeUp, so that a waiting loop needs no time-out to
// notice it should stop. Invalid when loopback cannot be had.
TcpSocket OpenWaker();
void WakeUp(const TcpSocket& waker);
// Reads away the wake-ups sent so far.
void DrainWaker(const TcpSocket& waker);

struct WaitEntry {
    const TcpSocket* socket = nullptr;
    bool wantRead = false, wantWrite = false;
    bool ready = false;  // readable, writable, ended or failed, as wanted
};
// Waits up to `timeoutMs` (negative: for ever) for any entry to be ready;
// marks those that are.
void WaitReady(std::vector<WaitEntry>& entries, int timeoutMs);

}  // namespace brisk::metrics
