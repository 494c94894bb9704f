#include "sim/watchman.h"

#include <algorithm>

namespace brisk::sim {
namespace {

constexpr uint16_t kWatchmanVid = 0x28DE;
constexpr uint16_t kWatchmanPid = 0x2300;
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
      nextReportAt(start + 3 * samplePeriod) {}

void WatchmanModel::SetRate(int samplesPerSecond, Clock::time_point now) {
    int rate = std::clamp(samplesPerSecond, 1, kMaxRate);
    std::lock_guard<std::mutex> lock(mtx);
    Clock::time_point lastReport = nextReportAt - 3 * samplePeriod;
    samplePeriod = std::chrono::nanoseconds(1'000'000'000 / rate);
    // The new rate starts now: no reports back-dated into the past.
    nextReportAt = std::max(lastReport, now) + 3 * samplePeriod;
}

void WatchmanModel::Sleep() {
    std::lock_guard<std::mutex> lock(mtx);
    asleep = true;
}

void WatchmanModel::Wake(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        asleep = false;
        nextReportAt = now + 3 * samplePeriod;  // no backlog from the nap
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

int16_t WatchmanModel::Jitter(int16_t base, int spread) {
    // xorshift32: cheap, and the same stream on every run.
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    int delta = int(noise % uint32_t(2 * spread + 1)) - spread;
    return int16_t(std::clamp(int(base) + delta, -32768, 32767));
}

void WatchmanModel::BuildReport(Clock::time_point due, InputReport& out) {
    WatchmanSample s[3];
    for (int k = 0; k < 3; ++k) {
        if (pendingSkip != 0) {
            nextSeq = uint8_t(nextSeq + pendingSkip);
            pendingSkip = 0;
        }
        Clock::time_point t = due - (2 - k) * samplePeriod;
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - epoch).count();
        s[k].timestamp = uint32_t(us);
        s[k].seq = nextSeq++;
        for (int axis = 0; axis < 3; ++axis) {
            s[k].accel[axis] = accelExact ? accel[axis] : Jitter(accel[axis], 2);
            s[k].gyro[axis] = gyroExact ? gyro[axis] : Jitter(gyro[axis], 1);
        }
    }
    EncodeImuReport(s, out);
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
    if (now < nextReportAt) {
        return;
    }
    Clock::duration period = 3 * samplePeriod;
    auto due = uint64_t((now - nextReportAt) / period) + 1;
    if (due > kMaxBurst) {
        // Too far behind to matter: those reports are lost, their numbers too.
        uint64_t lost = due - kMaxBurst;
        nextSeq = uint8_t(nextSeq + 3 * (lost % 256));
        nextReportAt += int64_t(lost) * period;
        due = kMaxBurst;
    }
    for (uint64_t i = 0; i < due; ++i) {
        InputReport& r = out.emplace_back();
        BuildReport(nextReportAt, r);
        nextReportAt += period;
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
    return nextReportAt;
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
