#include "sim/watchman.h"

#include "platform/headset_usb.h"

#include <algorithm>
#include <iterator>

namespace brisk::sim {
namespace {

constexpr uint16_t kWatchmanVid = headset::kWatchmanVendorId;
constexpr uint16_t kWatchmanPid = headset::kWatchmanProductId;
constexpr size_t kSampleBytes = 17;

void PutLe16(uint8_t* p, int16_t v) {
    auto u = uint16_t(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t(v >> (8 * i));
    }
}

// Host delivery, as measured on a real bus at 1 kHz: 2.5 % of reports come
// a period late (their successor carries two new samples), and of those
// about 1 % a second period late too (three new samples). Per mille.
constexpr uint32_t kHeldBackPerMille = 25;
constexpr uint32_t kHeldAgainPerMille = 12;
// Never three in a row: the ring holds three samples, so the jitter of a
// healthy host loses nothing.
constexpr unsigned kMaxHeldBack = 2;

// Noise per axis in counts (standard deviation), as the real sensors at rest.
constexpr int kAccelNoise = 12;
constexpr int kGyroNoise[3] = {6, 5, 4};

uint32_t NextRandom(uint32_t& state) {
    // xorshift32: cheap, and the same stream on every run.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

}  // namespace

void EncodeImuReport(const WatchmanSample (&samples)[3], InputReport& out) {
    out = InputReport{};
    out.length = kWatchmanReportBytes;
    out.bytes[0] = kWatchmanImuReportId;
    for (size_t k = 0; k < 3; ++k) {
        const WatchmanSample& s = samples[k];
        uint8_t* p = out.bytes + 1 + k * kSampleBytes;
        for (int axis = 0; axis < 3; ++axis) {
            PutLe16(p + 2 * axis, s.accel[axis]);
            PutLe16(p + 6 + 2 * axis, s.gyro[axis]);
        }
        PutLe32(p + 12, s.timestamp);
        p[16] = s.seq;
    }
}

WatchmanModel::WatchmanModel(Clock::time_point start)
    : epoch(start),
      samplePeriod(std::chrono::nanoseconds(1'000'000'000 / kDefaultRate)),
      nextSampleAt(start + samplePeriod) {}

void WatchmanModel::SetRate(int samplesPerSecond, Clock::time_point now) {
    int rate = std::clamp(samplesPerSecond, 1, kMaxRate);
    std::lock_guard<std::mutex> lock(mtx);
    Clock::time_point lastSample = nextSampleAt - samplePeriod;
    samplePeriod = std::chrono::nanoseconds(1'000'000'000 / rate);
    // The new rate starts now: no samples back-dated into the past.
    nextSampleAt = std::max(lastSample, now) + samplePeriod;
}

void WatchmanModel::Sleep() {
    std::lock_guard<std::mutex> lock(mtx);
    asleep = true;
}

void WatchmanModel::Wake(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        asleep = false;
        nextSampleAt = now + samplePeriod;  // no backlog from the nap
        // The sensor starts over as at power-up: what the slots held is
        // stale, so they are empty until new samples fill them.
        std::fill(std::begin(slots), std::end(slots), WatchmanSample{});
        nextSlot = 0;
        heldBack = 0;
    }
}

void WatchmanModel::SetAccel(int16_t x, int16_t y, int16_t z) {
    std::lock_guard<std::mutex> lock(mtx);
    accel[0] = x;
    accel[1] = y;
    accel[2] = z;
    accelExact = true;
}

void WatchmanModel::SetGyro(int16_t x, int16_t y, int16_t z) {
    std::lock_guard<std::mutex> lock(mtx);
    gyro[0] = x;
    gyro[1] = y;
    gyro[2] = z;
    gyroExact = true;
}

void WatchmanModel::Skip(unsigned n) {
    std::lock_guard<std::mutex> lock(mtx);
    pendingSkip += n;
}

void WatchmanModel::Repeat() {
    std::lock_guard<std::mutex> lock(mtx);
    ++pendingRepeats;
}

void WatchmanModel::Junk() {
    std::lock_guard<std::mutex> lock(mtx);
    ++pendingJunk;
}

uint64_t WatchmanModel::ReportsSent() const {
    std::lock_guard<std::mutex> lock(mtx);
    return sent;
}

int16_t WatchmanModel::Noisy(int16_t base, int sd) {
    // The sum of a draw's four bytes is close enough to normal for sensor
    // noise (mean 510, sd 147.8) and costs one draw per axis.
    uint32_t r = NextRandom(noise);
    int sum = int(r & 0xFF) + int((r >> 8) & 0xFF) + int((r >> 16) & 0xFF) + int(r >> 24);
    int delta = (sum - 510) * sd / 148;
    return int16_t(std::clamp(int(base) + delta, -32768, 32767));
}

void WatchmanModel::TakeSample(Clock::time_point at) {
    nextSeq = uint8_t(nextSeq + pendingSkip);
    pendingSkip = 0;
    WatchmanSample& s = slots[nextSlot];
    nextSlot = (nextSlot + 1) % 3;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at - epoch).count();
    s.timestamp = uint32_t(uint64_t(ns) * (kWatchmanTicksPerSecond / 1'000'000) / 1000);
    s.seq = nextSeq++;
    for (int axis = 0; axis < 3; ++axis) {
        s.accel[axis] = accelExact ? accel[axis] : Noisy(accel[axis], kAccelNoise);
        s.gyro[axis] = gyroExact ? gyro[axis] : Noisy(gyro[axis], kGyroNoise[axis]);
    }
}

void WatchmanModel::PassOver(uint64_t samples) {
    // Samples nobody will see: only their numbers, slots and time go by.
    nextSeq = uint8_t(nextSeq + pendingSkip + samples % 256);
    pendingSkip = 0;
    nextSlot = size_t((nextSlot + samples % 3) % 3);
    nextSampleAt += int64_t(samples) * samplePeriod;
}

bool WatchmanModel::HostTakesReport() {
    if (heldBack < kMaxHeldBack) {
        uint32_t perMille = heldBack == 0 ? kHeldBackPerMille : kHeldAgainPerMille;
        if (NextRandom(delivery) % 1000 < perMille) {
            ++heldBack;
            return false;
        }
    }
    heldBack = 0;
    return true;
}

void WatchmanModel::Produce(Clock::time_point now, std::vector<InputReport>& out) {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        return;  // injected reports wait for the wake-up too
    }
    if (!haveLastImu) {
        pendingRepeats = 0;  // nothing to repeat yet
    }
    for (; pendingRepeats != 0; --pendingRepeats) {
        out.push_back(lastImu);
        ++sent;
    }
    for (; pendingJunk != 0; --pendingJunk) {
        InputReport& junk = out.emplace_back();
        junk.length = kWatchmanReportBytes;
        junk.bytes[0] = kWatchmanJunkReportId;
        std::fill(junk.bytes + 1, junk.bytes + kWatchmanReportBytes, uint8_t(0x5A));
    }
    if (now < nextSampleAt) {
        return;
    }
    auto due = uint64_t((now - nextSampleAt) / samplePeriod) + 1;
    uint64_t unsent = 0;  // sampled into the ring, but their reports are lost
    if (due > kMaxBurst) {
        // Too far behind to matter: only the newest kMaxBurst reports are
        // kept. The two samples before them still ride along in their slots.
        uint64_t lost = due - kMaxBurst;
        unsent = std::min<uint64_t>(lost, 2);
        PassOver(lost - unsent);
        due = kMaxBurst + unsent;
        heldBack = 0;
    }
    for (uint64_t i = 0; i < due; ++i) {
        TakeSample(nextSampleAt);
        nextSampleAt += samplePeriod;
        if (i < unsent || !HostTakesReport()) {
            continue;
        }
        InputReport& r = out.emplace_back();
        EncodeImuReport(slots, r);
        lastImu = r;
        haveLastImu = true;
        ++sent;
    }
}

Clock::time_point WatchmanModel::NextDue(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        return Clock::time_point::max();
    }
    if (pendingJunk != 0 || (pendingRepeats != 0 && haveLastImu)) {
        return now;
    }
    return nextSampleAt;
}

bool WatchmanModel::OnFeature(const uint8_t* report, size_t length, Clock::time_point) {
    return report != nullptr && length > 0;  // accepted and ignored
}

UsbDeviceDesc WatchmanDevice(std::wstring serial, std::wstring locationPath,
                             std::shared_ptr<HidInterfaceModel> imu, bool imuListedLast) {
    UsbDeviceDesc d;
    d.vendorId = kWatchmanVid;
    d.productId = kWatchmanPid;
    d.serial = std::move(serial);
    d.locationPath = std::move(locationPath);
    d.interfaces = {std::move(imu), std::make_shared<SilentInterface>(),
                    std::make_shared<SilentInterface>()};
    if (imuListedLast) {
        d.listOrder = {1, 2, 0};
    }
    return d;
}

}  // namespace brisk::sim
