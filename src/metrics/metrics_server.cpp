#include "metrics/metrics_server.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "metrics/http_request.h"
#include "metrics/prometheus_text.h"

namespace brisk::metrics {
namespace {

using Clock = std::chrono::steady_clock;

// Without a waker the loop looks at the stop flag this often; with one, an
// idle endpoint does not wake at all.
constexpr int kWakeMilliseconds = 100;
// Accepted in one turn of the loop, so that a flood of connections cannot
// starve the ones already open.
constexpr int kAcceptsPerTurn = 32;
constexpr size_t kReadChunk = 2048;

// One client, from its connection to its close: reading the head, then
// sending the answer, then reading (and dropping) whatever else it sends
// until it closes, so that closing never resets the answer away.
struct Connection {
    TcpSocket socket;
    Clock::time_point deadline;
    std::string received;  // the head so far, never more than kMaxRequestHead
    std::string answer;    // empty until the head is read
    size_t sent = 0;
    bool sentAll = false;
    bool endedScrape = false;  // the answer showed the run ended
    bool done = false;

    bool Answering() const { return !answer.empty() && !sentAll; }
};

std::string AnswerText(int status, const MetricsBoard& board, bool& endedScrape) {
    if (status != 200) {
        return ResponseText(status, "text/plain; charset=utf-8",
                            status == 404 ? "Only /metrics is served here.\n" : "Not served.\n");
    }
    // The copy is taken under the board's lock; the text is made after.
    const MetricsSnapshot s = board.Read();
    endedScrape = s.runEnded;
    return ResponseText(200, kPrometheusContentType, RenderPrometheus(s));
}

void SendWhatFits(Connection& c, std::atomic<uint64_t>& endedScrapes, Clock::time_point now) {
    while (c.sent < c.answer.size()) {
        const IoResult r = SendSome(c.socket, c.answer.data() + c.sent, c.answer.size() - c.sent);
        if (r.status == IoStatus::kWouldBlock) {
            return;
        }
        if (r.status != IoStatus::kMoved) {
            c.done = true;
            return;
        }
        c.sent += r.bytes;
    }
    c.sentAll = true;
    ShutdownSending(c.socket);
    c.deadline = now + std::chrono::seconds(kAnswerSeconds);
    if (c.endedScrape) {
        endedScrapes.fetch_add(1);
    }
}

void ReadHead(Connection& c, const MetricsBoard& board, std::atomic<uint64_t>& endedScrapes,
              Clock::time_point now) {
    char chunk[kReadChunk];
    const size_t room = std::min(sizeof chunk, kMaxRequestHead - c.received.size());
    const IoResult r = ReceiveSome(c.socket, chunk, room);
    if (r.status == IoStatus::kWouldBlock) {
        return;
    }
    if (r.status != IoStatus::kMoved) {
        c.done = true;  // gone before it asked anything
        return;
    }
    c.received.append(chunk, r.bytes);
    const RequestHead head = ReadRequestHead(c.received);
    if (head.state == HeadState::kIncomplete) {
        return;
    }
    c.answer = AnswerText(AnswerStatus(head), board, c.endedScrape);
    c.received.clear();
    c.received.shrink_to_fit();
    c.deadline = now + std::chrono::seconds(kAnswerSeconds);
    SendWhatFits(c, endedScrapes, now);  // mostly all at once: no wait for a turn
}

void DropWhatArrives(Connection& c) {
    char chunk[kReadChunk];
    const IoResult r = ReceiveSome(c.socket, chunk, sizeof chunk);
    if (r.status == IoStatus::kEnded || r.status == IoStatus::kFailed) {
        c.done = true;
    }
}

void Step(Connection& c, const MetricsBoard& board, std::atomic<uint64_t>& endedScrapes,
          Clock::time_point now) {
    if (c.sentAll) {
        DropWhatArrives(c);
    } else if (c.Answering()) {
        SendWhatFits(c, endedScrapes, now);
    } else {
        ReadHead(c, board, endedScrapes, now);
    }
}

// Negative: no deadline, wait for ever.
int MillisecondsToNextDeadline(const std::vector<std::unique_ptr<Connection>>& open,
                               Clock::time_point now, bool haveWaker) {
    if (open.empty() && haveWaker) {
        return -1;
    }
    auto wait = haveWaker ? std::chrono::milliseconds(kRequestSeconds * 1000 + 1000)
                          : std::chrono::milliseconds(kWakeMilliseconds);
    for (const auto& c : open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - now);
        wait = std::clamp(left + std::chrono::milliseconds(1), std::chrono::milliseconds(0), wait);
    }
    return static_cast<int>(wait.count());
}

// Makes room for one more by closing the connection nearest its deadline.
void MakeRoom(std::vector<std::unique_ptr<Connection>>& open) {
    if (open.size() < kMaxConnections) {
        return;
    }
    auto nearest = std::min_element(open.begin(), open.end(), [](const auto& a, const auto& b) {
        return a->deadline < b->deadline;
    });
    open.erase(nearest);
}

}  // namespace

std::unique_ptr<MetricsServer> MetricsServer::Listen(const std::string& host, uint16_t port,
                                                     const MetricsBoard& board,
                                                     std::string& error) {
    auto library = std::make_unique<SocketLibrary>();
    TcpSocket listener = ListenTcp(host, port, error);
    if (!listener.Valid()) {
        return nullptr;
    }
    return std::unique_ptr<MetricsServer>(
        new MetricsServer(std::move(library), std::move(listener), board));
}

MetricsServer::MetricsServer(std::unique_ptr<SocketLibrary> libraryIn, TcpSocket listenerIn,
                             const MetricsBoard& boardIn)
    : library(std::move(libraryIn)),
      listener(std::move(listenerIn)),
      waker(OpenWaker()),
      board(boardIn) {
    loop = std::thread([this] { Serve(); });
}

MetricsServer::~MetricsServer() {
    stopping.store(true);
    if (waker.Valid()) {
        WakeUp(waker);
    }
    loop.join();
}

void MetricsServer::Serve() {
    std::vector<std::unique_ptr<Connection>> open;
    std::vector<WaitEntry> wait;
    while (!stopping.load()) {
        wait.clear();
        wait.push_back({&listener, true, false, false});
        if (waker.Valid()) {
            wait.push_back({&waker, true, false, false});
        }
        const size_t first = wait.size();
        for (const auto& c : open) {
            wait.push_back({&c->socket, !c->Answering(), c->Answering(), false});
        }
        WaitReady(wait, MillisecondsToNextDeadline(open, Clock::now(), waker.Valid()));
        if (waker.Valid() && wait[1].ready) {
            DrainWaker(waker);
        }
        const auto now = Clock::now();
        for (size_t i = 0; i < open.size(); ++i) {
            if (wait[first + i].ready) {
                Step(*open[i], board, endedScrapes, now);
            }
        }
        std::erase_if(open, [now](const auto& c) { return c->done || now >= c->deadline; });
        for (int n = 0; wait[0].ready && n < kAcceptsPerTurn; ++n) {
            TcpSocket accepted = AcceptTcp(listener);
            if (!accepted.Valid()) {
                break;
            }
            MakeRoom(open);
            auto c = std::make_unique<Connection>();
            c->socket = std::move(accepted);
            c->deadline = now + std::chrono::seconds(kRequestSeconds);
            open.push_back(std::move(c));
        }
        openConnections.store(open.size());
    }
}

}  // namespace brisk::metrics
