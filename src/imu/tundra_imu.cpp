#include "imu/tundra_imu.h"

#include <cstdio>
#include <memory>

#include "identity/identity_text.h"
#include "imu/watchman_discovery.h"
#include "base/output.h"
#include "base/utf8.h"

namespace brisk {
namespace {

constexpr uint32_t kReadBytes = 64;
// The identity requests sent after each IMU report (or silent read) while a
// read after a reconnect runs: each comes back within about a millisecond,
// and the OS queues the reports meanwhile.
constexpr int kIdentityRequestsPerRead = 2;

}  // namespace

TundraImu::TundraImu(HidHost& host, double countsPerG, IdentityOptions identity)
    : host(host),
      reader(host, "TundraImu", Silence::kMeansGone, kReadBytes, *this),
      identityOptions(std::move(identity)),
      health(countsPerG) {}

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
    if (identityOptions.read) {
        // Before the stream starts counting: nothing waits on it yet.
        identityRead.Begin(handle, IdentityRead::kBringUpBudget);
        readBegan = SteadyClock::now();
        while (identityRead.Active() && !identityRead.Step(host, 1 << 20)) {
        }
        FinishIdentityRead(chosenSerial);
    }
    seqFilter.Reset();  // a new start takes its first sample whatever its number
    if (!reader.Start()) {
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

WatchmanIdentity TundraImu::Identity() const {
    std::lock_guard<std::mutex> lock(mtx);
    return watchman;
}

std::optional<identity::ImuScale> TundraImu::Scale() const {
    std::lock_guard<std::mutex> lock(mtx);
    return scale;
}

Handle TundraImu::Reopen(Handle) {
    reopenedSerial.clear();
    openedHandle = OpenWatchman(host, wserial, &reopenedSerial, false);
    return openedHandle;
}

void TundraImu::OnReopened() {
    seqFilter.Reset();
    {
        std::lock_guard<std::mutex> lock(mtx);
        health.Reconnect();
    }
    PrintEvent(LineEvent::kImuBack, stderr, "TundraImu: reconnected to %s\n",
               Utf8FromWide(reopenedSerial).c_str());
    if (identityOptions.read) {
        identityRead.Begin(openedHandle, IdentityRead::kInterleavedBudget);
        readBegan = SteadyClock::now();
    }
}

void TundraImu::StepIdentityRead() {
    if (identityRead.Step(host, kIdentityRequestsPerRead)) {
        FinishIdentityRead(Utf8FromWide(reopenedSerial));
    }
}

void TundraImu::FinishIdentityRead(const std::string& usbSerial) {
    const identity::Identity id = identityRead.Result();
    const UsbSerialFact usb = UsbSerialOf(usbSerial, identityOptions.serialFromOption);
    identity::Problems all = identity::AllProblems(id, usb.serial, identityOptions.expect);
    const std::string unit = identity::UnitSerial(id, usbSerial);
    std::optional<identity::Problem> changed;
    if (identity::DifferentUnit(lastUnitSerial, unit)) {
        changed = identity::UnitChangedProblem(lastUnitSerial, unit);
    }
    lastUnitSerial = unit.empty() ? lastUnitSerial : unit;
    const double ms =
        std::chrono::duration<double, std::milli>(SteadyClock::now() - readBegan).count();
    {
        std::lock_guard<std::mutex> lock(mtx);
        // Different units noticed before stay: they are the run's findings.
        identity::Problems kept;
        for (const identity::Problem& p : watchman.problems) {
            if (p.code == identity::code::kWatchmanChanged) {
                kept.push_back(p);
            }
        }
        if (changed) {
            kept.push_back(*changed);
        }
        all.insert(all.end(), kept.begin(), kept.end());
        if (watchman.reads == 0 && id.range) {
            // Set once, before the stream: every figure of the run in one unit.
            identity::ImuScale s = identity::MakeImuScale(
                *id.range, id.config != nullptr ? id.config->imu : identity::ImuCalibration{});
            if (identityOptions.countsPerGOverride > 0.0) {
                s.gPerCount = 1.0 / identityOptions.countsPerGOverride;
            }
            health.SetScale(s);
            scale = s;
        }
        ++watchman.reads;
        watchman.identity = id;
        watchman.usbSerial = usb;
        watchman.problems = all;
        watchman.lastReadMs = ms;
    }
    PrintText(stdout, identity::FormatIdentityBlock(id, all));
    if (changed) {
        Print(stderr, "TundraImu: %s\n", changed->text.c_str());
    }
}

void TundraImu::OnReport(const uint8_t* report, size_t length, int64_t arrivalNs) {
    TakeReport(report, length, arrivalNs);
    StepIdentityRead();
}

void TundraImu::TakeReport(const uint8_t* report, size_t length, int64_t arrivalNs) {
    ImuSample parsed[kImuSamplesPerReport];
    if (!DecodeImuReport(report, length, parsed)) {
        std::lock_guard<std::mutex> lock(mtx);
        ++counters.badReports;
        return;
    }
    // The health figures time the stream by its arrival (a replay's recorded
    // times, so a file gives the same clock figure every run); the sample's
    // age is of this run's clock.
    const SteadyClock::time_point now = SteadyClock::now();
    ImuSample accepted[kImuSamplesPerReport];
    std::lock_guard<std::mutex> lock(mtx);
    const size_t count = AcceptReport(seqFilter, parsed, counters, latest, accepted);
    health.AddReport(arrivalNs, accepted, count);
    if (count > 0) {
        latestAt = now;
        haveLatest = true;
    }
}

void TundraImu::OnSilentRead(int) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        ++counters.stalls;
    }
    StepIdentityRead();
}

void TundraImu::OnLost(const DeviceLoss& loss) {
    identityRead.Abandon();  // its handle is closed
    openedHandle = nullptr;
    switch (loss.cause) {
        case DeviceLoss::Cause::kSilent:
            PrintEvent(LineEvent::kImuLost, stderr,
                       "TundraImu: stream silent %ds — device gone, waiting for a Davovo\n",
                       loss.silentReads);
            break;
        case DeviceLoss::Cause::kReadFailedAtOnce:
            // clang-format off
            PrintEvent(LineEvent::kImuLost, stderr, "TundraImu: ReadFile failed (err %lu) — device gone, waiting for reconnect\n",
                       static_cast<unsigned long>(loss.error));
            // clang-format on
            break;
        case DeviceLoss::Cause::kReadFailedAfterPending:
            // clang-format off
            PrintEvent(LineEvent::kImuLost, stderr, "TundraImu: read failed (err %lu) — device gone, waiting for reconnect\n",
                       static_cast<unsigned long>(loss.error));
            // clang-format on
            break;
    }
}

}  // namespace brisk
