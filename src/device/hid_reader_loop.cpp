#include "device/hid_reader_loop.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <vector>

#include "base/output.h"

namespace brisk {
namespace {

int64_t ArrivalNs(const ReadResult& r) {
    if (r.arrivalNs != 0) {
        return r.arrivalNs;
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HidReaderLoop::HidReaderLoop(HidHost& host, const char* name, Silence silence, uint32_t reportBytes,
                             HidReaderClient& client)
    : host(host),
      name(name),
      silence(silence),
      reportBytes(reportBytes),
      client(client),
      thread(host) {}

bool HidReaderLoop::Start() {
    return thread.Start([this] { Run(); });
}

void HidReaderLoop::Run() {
    ReaderDevice& device = thread.Device();
    std::vector<uint8_t> buf(reportBytes);
    silentReads = 0;
    if (device.Get() != nullptr) {
        AskForDeepQueue();
    }
    // Only this thread sets and closes `device` while it runs, so it may read it unlocked.
    while (!thread.Stopping()) {
        if (device.Get() == nullptr) {
            if (!WaitAndReopen()) {
                return;
            }
            continue;
        }
        const ReadResult r = host.ReadTimed(device.Get(), thread.ReadEvent(), buf.data(),
                                            reportBytes, kReaderReadTimeoutMs);
        if (r.outcome == ReadOutcome::Completed) {
            silentReads = 0;
            // A backend claiming more than was asked for must not lead us past `buf`.
            client.OnReport(buf.data(), std::min(r.bytes, reportBytes), ArrivalNs(r));
            continue;
        }
        if (thread.Stopping()) {
            return;  // the read Stop cancelled, or one that ended meanwhile: no count, no line
        }
        if (r.outcome == ReadOutcome::TimedOut) {
            CountSilentRead();
            continue;
        }
        Drop({r.outcome == ReadOutcome::FailedAtOnce ? DeviceLoss::Cause::kReadFailedAtOnce
                                                     : DeviceLoss::Cause::kReadFailedAfterPending,
              r.error, 0});
    }
}

void HidReaderLoop::CountSilentRead() {
    silentReads = silentReads < INT_MAX ? silentReads + 1 : silentReads;
    client.OnSilentRead(silentReads);
    if (silence == Silence::kMeansGone && silentReads >= kReaderSilentReadsUntilGone) {
        Drop({DeviceLoss::Cause::kSilent, 0, silentReads});
    }
}

void HidReaderLoop::Drop(const DeviceLoss& loss) {
    thread.Device().Close();
    client.OnLost(loss);
}

bool HidReaderLoop::WaitAndReopen() {
    if (!thread.Pause(kReaderReopenWait)) {
        return false;
    }
    const Handle opened = client.Reopen(thread.ReadEvent());
    if (opened == kInvalidHandle || opened == nullptr) {
        return true;  // not back yet; the next pass waits again, silently
    }
    thread.Device().Set(opened);
    if (thread.Stopping()) {
        return false;  // Stop closes it after the join; no line after a stop
    }
    silentReads = 0;
    AskForDeepQueue();
    client.OnReopened();
    return true;
}

void HidReaderLoop::AskForDeepQueue() {
    uint32_t granted = 0;
    if (host.SetInputQueueDepth(thread.Device().Get(), kReaderInputQueueDepth, granted)) {
        return;
    }
    // A depth that cannot even be read back is a device that left meanwhile:
    // the next read says so, in the device's own words.
    if (granted > 0) {
        Print(stderr, "%s: input queue of %u reports refused, the OS keeps %u\n", name,
              unsigned{kReaderInputQueueDepth}, unsigned{granted});
    }
}

}  // namespace brisk
