// The HTTP edge of --metrics: GET /metrics renders the board's current copy,
// on the server's own threads. cpp-httplib is included by the .cpp only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "metrics/metrics_board.h"

namespace brisk::metrics {

struct ServerParts;

class MetricsServer {
  public:
    // Binds HOST:PORT and starts serving. Null, with the reason in `error`,
    // when that address cannot be listened on. `board` outlives the server.
    static std::unique_ptr<MetricsServer> Listen(const std::string& host, uint16_t port,
                                                 const MetricsBoard& board, std::string& error);

    // Stops listening; a scrape being answered is written out in full first.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Scrapes answered so far whose figures showed the run ended.
    uint64_t EndedScrapes() const { return endedScrapes.load(); }

  private:
    MetricsServer(std::unique_ptr<ServerParts> parts, const MetricsBoard& board);

    std::unique_ptr<ServerParts> parts;
    const MetricsBoard& board;
    std::atomic<uint64_t> endedScrapes{0};
    std::atomic<bool> listenEnded{false};
    std::thread listener;  // runs the accept loop; joined by the destructor
};

}  // namespace brisk::metrics
