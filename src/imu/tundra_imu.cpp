#include "imu/tundra_imu.h"

#include <cstdio>
#include <system_error>

#include "imu/watchman_discovery.h"

namespace brisk {
namespace {

constexpr uint32_t kReadBytes = 64;
constexpr uint32_t kReadTimeoutMs = 1000;
constexpr int kSilentLimit = 3;  // time-outs in a row before the device counts as gone
constexpr int kReconnectSteps = 20;
constexpr std::chrono::milliseconds kReconnectStep{100};

// Serials are plain ASCII; other bytes keep their value (as Latin-1).
std::wstring Widen(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

TundraImu::TundraImu(HidHost& host) : host(host) {}

TundraImu::~TundraImu() {
    Stop();
}

bool TundraImu::Start(const std::string& serial) {
    if (running) {
        return true;
    }
    if (reader.joinable()) {
        reader.join();  // a reader that already left its loop; never assign over a live thread
    }
    const std::wstring requested = Widen(serial);
    std::wstring chosen;
    const Handle handle = OpenWatchman(host, requested, &chosen, true);
    if (handle == kInvalidHandle) {
        // clang-format off
        fprintf(stderr, "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong --imu-serial?)\n");
        // clang-format on
        return false;
    }
    const Handle event = host.CreateReadEvent();
    if (event == nullptr) {
        host.Close(handle);
        fprintf(stderr, "TundraImu: cannot create the read event — not starting\n");
        return false;
    }
    wserial = requested;
    printf("TundraImu: using %ls\n", chosen.c_str());
    device.Set(handle);
    readEvent = event;
    stopFlag = false;
    running = true;
    try {
        reader = std::thread(&TundraImu::ReaderLoop, this);
    } catch (const std::system_error&) {
        running = false;
        device.Close();
        host.Close(readEvent);
        readEvent = nullptr;
        fprintf(stderr, "TundraImu: cannot start the reader thread — not starting\n");
        return false;
    }
    return true;
}

void TundraImu::Stop() {
    if (!running && !reader.joinable()) {
        return;
    }
    stopFlag = true;
    device.CancelRead();  // a pending read ends at once
    if (reader.joinable()) {
        reader.join();
    }
    device.Close();
    if (readEvent != nullptr) {
        host.Close(readEvent);
        readEvent = nullptr;
    }
    running = false;
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

bool TundraImu::WaitBeforeRediscovery() const {
    for (int step = 0; step < kReconnectSteps; ++step) {
        if (stopFlag) {
            return false;
        }
        std::this_thread::sleep_for(kReconnectStep);
    }
    return !stopFlag;
}

bool TundraImu::Reconnect(SeqFilter& seqFilter, int& silentSecs) {
    if (!WaitBeforeRediscovery()) {
        return false;
    }
    std::wstring chosen;
    const Handle handle = OpenWatchman(host, wserial, &chosen, false);
    if (handle == kInvalidHandle) {
        return false;
    }
    device.Set(handle);
    seqFilter.Reset();
    silentSecs = 0;
    fprintf(stderr, "TundraImu: reconnected to %ls\n", chosen.c_str());
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
    std::lock_guard<std::mutex> lock(mtx);
    if (AcceptReport(seqFilter, parsed, counters, latest) > 0) {
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
        fprintf(stderr, "TundraImu: stream silent %ds — device gone, waiting for a Davovo\n",
                silentSecs);
        device.Close();
    }
}

void TundraImu::ReaderLoop() {
    uint8_t buf[kReadBytes];
    SeqFilter seqFilter;
    int silentSecs = 0;
    while (!stopFlag) {
        if (device.Get() == nullptr) {
            if (!Reconnect(seqFilter, silentSecs)) {
                continue;  // stopped, or nothing found: the loop top decides
            }
            if (stopFlag) {
                break;  // Stop came while we were rediscovering; no read to cancel yet
            }
        }
        const ReadResult r =
            host.ReadTimed(device.Get(), readEvent, buf, kReadBytes, kReadTimeoutMs);
        switch (r.outcome) {
            case ReadOutcome::Completed:
                silentSecs = 0;
                OnReport(buf, r.bytes < kReadBytes ? r.bytes : kReadBytes, seqFilter);
                break;
            case ReadOutcome::TimedOut:
                OnTimeout(silentSecs);
                break;
            case ReadOutcome::FailedAtOnce:
                if (stopFlag) {
                    break;
                }
                // clang-format off
                fprintf(stderr, "TundraImu: ReadFile failed (err %lu) — device gone, waiting for reconnect\n",
                        static_cast<unsigned long>(r.error));
                // clang-format on
                device.Close();
                break;
            case ReadOutcome::FailedAfterPending:
                if (stopFlag) {
                    break;  // the read Stop cancelled
                }
                // clang-format off
                fprintf(stderr, "TundraImu: read failed (err %lu) — device gone, waiting for reconnect\n",
                        static_cast<unsigned long>(r.error));
                // clang-format on
                device.Close();
                break;
        }
    }
    running = false;
}

}  // namespace brisk
