#include "app/metrics_feed.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/driver.h"
#include "app/run_record.h"
#include "log/log_rows.h"
#include "platform/host_name.h"
#include "base/output.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

std::string StationName(const RunSettings& settings) {
    if (!settings.station.empty()) {
        return settings.station;
    }
    std::string host = HostName();
    return host.empty() ? "unknown" : host;
}

// The board and where the event counts stood when the run began: the
// process may have printed such lines before (a second run in one process).
struct MetricsFeed {
    explicit MetricsFeed(metrics::MetricsSnapshot first) : board(std::move(first)) {}
    metrics::MetricsBoard board;
    uint64_t reconnectsBefore = LinesMarked(LineEvent::kImuBack);
    uint64_t donsBefore = LinesMarked(LineEvent::kDonned);
    uint64_t doffsBefore = LinesMarked(LineEvent::kDoffed);
    const RunRecord* record = nullptr;  // set before the status monitor starts
};

namespace {

// The run's feed while it has one. Set before the status monitor starts and
// cleared after it has ended; atomic all the same, as it is read from there.
std::atomic<MetricsFeed*> installed{nullptr};

void SetTotals(metrics::MetricsSnapshot& s, const MetricsFeed& feed, const ImuStats& is,
               const PresentStats* ps) {
    s.imuSamples = is.samples;
    s.imuReports = is.reports;
    s.imuSeqGaps = is.seqGaps;
    s.imuStalls = is.stalls;
    s.imuReconnects = LinesMarked(LineEvent::kImuBack) - feed.reconnectsBefore;
    s.donEvents = LinesMarked(LineEvent::kDonned) - feed.donsBefore;
    s.doffEvents = LinesMarked(LineEvent::kDoffed) - feed.doffsBefore;
    s.haveDisplay = ps != nullptr;
    if (ps != nullptr) {
        s.frames = ps->frames;
        s.presentErrors = ps->presentErrors;
        s.waitTimeouts = ps->waitTimeouts;
        s.freeRunEvents = ps->freeRunEvents;
        s.freeRunActive = ps->freeRunning;
        s.displayLost = ps->displayLost;
    }
}

void SetDevice(metrics::MetricsSnapshot::Device& d, const PartPresence& p) {
    d.watched = p.watched;
    d.present = p.presentAtEnd;
    d.losses = p.losses;
    d.absentSeconds = p.secondsWithout;
}

}  // namespace

MetricsExporter::MetricsExporter() = default;

MetricsExporter::~MetricsExporter() {
    installed.store(nullptr);
    server.reset();  // before the board it reads
}

bool MetricsExporter::Start(const RunSettings& settings, int argc, const char* const* argv) {
    if (settings.metricsPort == 0) {
        return true;
    }
    const RunFacts facts = MakeRunFacts(settings, argc, argv);
    metrics::MetricsSnapshot first;
    first.station = StationName(settings);
    first.identityAsked = settings.identity;
    first.version = ToolVersion();
    first.display = facts.display;
    first.mode = settings.display == DisplayKind::kNone ? "" : facts.mode;
    first.haveDisplay = settings.display != DisplayKind::kNone;
    first.runFailed = true;  // until a verdict says PASS
    auto newFeed = std::make_unique<MetricsFeed>(std::move(first));
    std::string error;
    server = metrics::MetricsServer::Listen(settings.metricsHost, settings.metricsPort,
                                            newFeed->board, error);
    if (server == nullptr) {
        const bool v6 = settings.metricsHost.find(':') != std::string::npos;
        Print(stderr, "brisk: --metrics: cannot listen on %s%s%s:%u: %s\n", v6 ? "[" : "",
              settings.metricsHost.c_str(), v6 ? "]" : "",
              static_cast<unsigned>(settings.metricsPort), error.c_str());
        return false;
    }
    feed = std::move(newFeed);
    installed.store(feed.get());
    return true;
}

void MetricsExporter::Follow(const RunRecord& record) {
    if (feed != nullptr) {
        feed->record = &record;
    }
}

void MetricsExporter::Finish(int exitCode) {
    if (server == nullptr) {
        return;
    }
    feed->board.Update([exitCode](metrics::MetricsSnapshot& s) {
        s.runEnded = true;
        s.exitCode = exitCode;
        s.runFailed = s.runFailed || exitCode != kExitVerdict;
    });
    // Polled like the run's own wait: a console stop only stores an atomic.
    using Clock = std::chrono::steady_clock;
    const unsigned stopsBefore = consoleStops.load();
    const auto end = Clock::now() + std::chrono::seconds(kMetricsLingerSeconds);
    while (server->EndedScrapes() == 0 && consoleStops.load() == stopsBefore &&
           Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void PublishStatus(const StatusFields& f, const ImuStats& is, const PresentStats* ps,
                   const std::string& imuSerial) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr) {
        return;
    }
    PartPresence imuNow, mcuNow;
    if (feed->record != nullptr) {
        imuNow = feed->record->PresenceNow(RunPart::kImu);
        mcuNow = feed->record->PresenceNow(RunPart::kMcu);
    }
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        SetTotals(s, *feed, is, ps);
        SetDevice(s.imu, imuNow);
        SetDevice(s.mcu, mcuNow);
        s.imuSerial = imuSerial;
        s.haveStatus = true;
        s.framesLastSecond = f.framesThisCycle;
        s.imuSamplesLastSecond = f.samplesThisCycle;
        s.sampleAgeSeconds = f.age;
        s.haveProx = f.haveProx;
        s.proxDistance = f.distance;
        s.worn = f.worn;
    });
}

void PublishIdentity(const WatchmanIdentity& watchman) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr || watchman.reads == 0) {
        return;
    }
    const identity::Identity& id = watchman.identity;
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        s.identityRead = true;
        s.haveFirmware = id.firmware.has_value();
        s.firmwareBuild = id.firmware ? id.firmware->build : 0;
        s.configRead = id.config != nullptr && id.config->read;
        s.identityProblems = watchman.problems.size();
    });
}

void PublishPhotodiodes(const LightFigures& light) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr || !light.judged) {
        return;
    }
    static_assert(kPhotodiodeStateCount == metrics::kPhotodiodeStates);
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        s.havePhotodiodes = true;
        for (size_t i = 0; i < metrics::kPhotodiodeStates; ++i) {
            s.photodiodes[i] = light.states[i];
        }
    });
}

void PublishPhotodiodes(const optical::OpticalFindings& findings) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr) {
        return;
    }
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        s.havePhotodiodes = true;
        for (size_t i = 0; i < metrics::kPhotodiodeStates; ++i) {
            s.photodiodes[i] = findings.Count(static_cast<optical::PhotodiodeState>(i));
        }
    });
}

void PublishTotals(const ImuStats& is, const PresentStats* ps, bool passed) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr) {
        return;
    }
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        SetTotals(s, *feed, is, ps);
        s.runFailed = !passed;
    });
}

void PublishEnd(const RunTotals& t, const std::vector<Reason>& reasons,
                const std::string& verdict) {
    MetricsFeed* feed = installed.load();
    if (feed == nullptr) {
        return;
    }
    std::vector<metrics::MetricsSnapshot::RaisedReason> raised;
    for (const Reason& r : reasons) {
        raised.push_back({r.code, r.counted});
    }
    feed->board.Update([&](metrics::MetricsSnapshot& s) {
        SetDevice(s.imu, t.imu);
        SetDevice(s.mcu, t.mcu);
        s.verdict = verdict;
        s.reasons = std::move(raised);
    });
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
