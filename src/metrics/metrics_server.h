// The HTTP edge of --metrics: GET /metrics renders the board's current copy.
// One thread serves every connection, none of them blocking: a connection
// that idles, trickles or sends garbage costs a table entry until its
// deadline, never a scrape's wait. The table, each entry's buffer and the
// thread count are bounded, whatever arrives.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "metrics/metrics_board.h"
#include "metrics/tcp_socket.h"

namespace brisk::metrics {

// Connections held open at once; one more pushes out the one nearest its
// deadline.
inline constexpr size_t kMaxConnections = 128;
// A client has this long from its connection to the end of its request,
// and again from the answer to taking it and closing.
inline constexpr int kRequestSeconds = 2;
inline constexpr int kAnswerSeconds = 2;

class MetricsServer {
  public:
    // Binds HOST:PORT and starts serving. Null, with the reason in `error`,
    // when that address cannot be listened on. `board` outlives the server.
    static std::unique_ptr<MetricsServer> Listen(const std::string& host, uint16_t port,
                                                 const MetricsBoard& board, std::string& error);

    // Stops listening and closes every connection.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Scrapes sent out in full so far whose figures showed the run ended.
    uint64_t EndedScrapes() const { return endedScrapes.load(); }

    // Connections open after the last turn of the loop.
    size_t OpenConnections() const { return openConnections.load(); }

  private:
    MetricsServer(std::unique_ptr<SocketLibrary> library, TcpSocket listener,
                  const MetricsBoard& board);
    void Serve();

    std::unique_ptr<SocketLibrary> library;  // first in, last out: the sockets need it
    TcpSocket listener;
    TcpSocket waker;  // the destructor ends the loop's wait through it
    const MetricsBoard& board;
    std::atomic<uint64_t> endedScrapes{0};
    std::atomic<size_t> openConnections{0};
    std::atomic<bool> stopping{false};
    std::thread loop;  // runs Serve(); joined by the destructor
};

}  // namespace brisk::metrics
