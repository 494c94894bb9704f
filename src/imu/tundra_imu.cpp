#include "imu/tundra_imu.h"

#include <cstdio>
#include <memory>

#include "imu/watchman_discovery.h"
#include "platform/output.h"
#include "platform/utf8.h"

namespace brisk {
namespace {

constexpr uint32_t kReadBytes = 64;
constexpr uint32_t kReadTimeoutMs = 1000;
constexpr int kSilentLimit = 3;  // time-outs in a row before the device counts as gone
constexpr std::chrono::milliseconds kRediscoveryWait{2000};

}  // namespace

TundraImu::TundraImu(HidHost& host, double countsPerG) : host(host), health(countsPerG) {}

TundraImu::~TundraImu() {
    Stop();
}

bool TundraImu::Start(const std::string& serial) {
    if (reader.Running()) {
        return true;
    }
    const std::wstring requested = WideFromUtf8OrLatin1(serial);
    std::wstring chosen;
    const Handle handle = OpenWatchman(host, requested, &chosen, true);
    if (handle == kInvalidHandle) {
        // clang-format off
        Print(stderr, "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong --imu-serial?)\n");
        // clang-format on
        return false;
    }
    reader.Device().Set(handle);
    if (!reader.CreateReadEvent()) {
        reader.Abandon();
        Print(stderr, "TundraImu: cannot create the read event — not starting\n");
        return false;
    }
    wserial = requested;
    chosenSerial = Utf8FromWide(chosen);
    Print(stdout, "TundraImu: using %s\n", chosenSerial.c_str());
    if (!reader.Start([this] { ReaderLoop(); })) {
        Print(stderr, "TundraImu: cannot start the reader thread — not starting\n");
        return false;
    }
    return true;
}

void TundraImu::Stop() {
    reader.Stop();
}

bool TundraImu::Latest(ImuSample& out, double* ageSeconds) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (!haveLatest) {
        return false;
    }
    out = latest;
    if (ageSeconds != nullptr) {
        const auto age =
            std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - latestAt);
        *ageSeconds = static_cast<double>(age.count()) / 1e9;
    }
    return true;
}

ImuStats TundraImu::Stats() const {
    std::lock_guard<std::mutex> lock(mtx);
    return counters;
}

ImuHealthFigures TundraImu::Health() const {
    // A copy under the lock (tens of KB, microseconds); the figures, which
    // walk the histograms, are read from it without holding up the reader.
    std::unique_ptr<ImuHealth> copy;
    {
        std::lock_guard<std::mutex> lock(mtx);
        copy = std::make_unique<ImuHealth>(health);
    }
    return copy->Figures();
}

bool TundraImu::Reconnect(SeqFilter& seqFilter, int& silentSecs) {
    if (!reader.Pause(kRediscoveryWait)) {
        return false;
    }
    std::wstring chosen;
    const Handle handle = OpenWatchman(host, wserial, &chosen, false);
    if (handle == kInvalidHandle) {
        return false;
    }
    reader.Device().Set(handle);
    seqFilter.Reset();
    {
        std::lock_guard<std::mutex> lock(mtx);
        health.Reconnect();
    }
    silentSecs = 0;
    PrintEvent(LineEvent::kImuBack, stderr, "TundraImu: reconnected to %s\n",
               Utf8FromWide(chosen).c_str());
    return true;
}

void TundraImu::OnReport(const uint8_t* buf, size_t got, SeqFilter& seqFilter) {
    ImuSample parsed[kImuSamplesPerReport];
    if (!DecodeImuReport(buf, got, parsed)) {
        std::lock_guard<std::mutex> lock(mtx);
        ++counters.badReports;
        return;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    const int64_t nowNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    ImuSample accepted[kImuSamplesPerReport];
    std::lock_guard<std::mutex> lock(mtx);
    const size_t count = AcceptReport(seqFilter, parsed, counters, latest, accepted);
    health.AddReport(nowNs, accepted, count);
    if (count > 0) {
        latestAt = now;
        haveLatest = true;
    }
}

void TundraImu::OnTimeout(int& silentSecs) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        ++counters.stalls;
    }
    if (++silentSecs >= kSilentLimit) {
        PrintEvent(LineEvent::kImuLost, stderr,
                   "TundraImu: stream silent %ds — device gone, waiting for a Davovo\n",
                   silentSecs);
        reader.Device().Close();
    }
}

void TundraImu::ReaderLoop() {
    ReaderDevice& device = reader.Device();
    uint8_t buf[kReadBytes];
    SeqFilter seqFilter;
    int silentSecs = 0;
    while (!reader.Stopping()) {
        if (device.Get() == nullptr) {
            if (!Reconnect(seqFilter, silentSecs)) {
                continue;  // stopped, or nothing found: the loop top decides
            }
            if (reader.Stopping()) {
                break;  // Stop came while we were rediscovering; no read to cancel yet
            }
        }
        const ReadResult r =
            host.ReadTimed(device.Get(), reader.ReadEvent(), buf, kReadBytes, kReadTimeoutMs);
        switch (r.outcome) {
            case ReadOutcome::Completed:
                silentSecs = 0;
                OnReport(buf, r.bytes < kReadBytes ? r.bytes : kReadBytes, seqFilter);
                break;
            case ReadOutcome::TimedOut:
                OnTimeout(silentSecs);
                break;
            case ReadOutcome::FailedAtOnce:
                if (reader.Stopping()) {
                    break;
                }
                // clang-format off
                PrintEvent(LineEvent::kImuLost, stderr, "TundraImu: ReadFile failed (err %lu) — device gone, waiting for reconnect\n",
                        static_cast<unsigned long>(r.error));
                // clang-format on
                device.Close();
                break;
            case ReadOutcome::FailedAfterPending:
                if (reader.Stopping()) {
                    break;  // the read Stop cancelled
                }
                // clang-format off
                PrintEvent(LineEvent::kImuLost, stderr, "TundraImu: read failed (err %lu) — device gone, waiting for reconnect\n",
                        static_cast<unsigned long>(r.error));
                // clang-format on
                device.Close();
                break;
        }
    }
}

}  // namespace brisk
