#include "sim/watchman.h"

#include "device/headset_usb.h"

#include <algorithm>
#include <cmath>
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

WatchmanModel::WatchmanModel(Clock::time_point start) {
    Retime();
    StartGrid(start, 0.0);  // power-up: the time stamps count from here
}

void WatchmanModel::Retime() {
    ticksPerSample = double(kWatchmanTicksPerSecond) / rate;
    nsPerSample = ticksPerSample * 1e9 / ticksPerSecond;
    sensorNoise.SetRate(rate);
}

void WatchmanModel::StartGrid(Clock::time_point host, double ticks) {
    gridHost = host;
    gridNs = 0;
    gridTicks = ticks;
    nextIndex = 1;
}

Clock::time_point WatchmanModel::SampleTime(uint64_t index) const {
    // Rounded up: a sample is never handed out before its time.
    auto ns = int64_t(std::ceil(gridNs + double(index) * nsPerSample));
    return gridHost + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

double WatchmanModel::SampleTicks(uint64_t index) const {
    return gridTicks + double(index) * ticksPerSample;
}

double WatchmanModel::TicksAt(Clock::time_point t) const {
    double ns = double(std::chrono::duration_cast<std::chrono::nanoseconds>(t - gridHost).count());
    return gridTicks + (ns - gridNs) * ticksPerSecond / 1e9;
}

void WatchmanModel::SetRate(int samplesPerSecond, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mtx);
    Clock::time_point lastSample = SampleTime(nextIndex - 1);
    double lastTicks = SampleTicks(nextIndex - 1);
    // The new rate starts now: no samples back-dated into the past.
    if (now > lastSample) {
        StartGrid(now, TicksAt(now));
    } else {
        StartGrid(lastSample, lastTicks);
    }
    rate = std::clamp(samplesPerSecond, 1, kMaxRate);
    Retime();
}

void WatchmanModel::SetClockOffset(double ppm, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mtx);
    // The device keeps its count and its sampling grid; only the host time
    // its ticks take changes from now on.
    double lastTicks = SampleTicks(nextIndex - 1);
    double ticksNow = TicksAt(now);
    ppm = std::clamp(ppm, -kMaxClockPpm, kMaxClockPpm);
    ticksPerSecond = kWatchmanTicksPerSecond * (1.0 + ppm * 1e-6);
    Retime();
    StartGrid(now, lastTicks);
    gridNs = (lastTicks - ticksNow) * 1e9 / ticksPerSecond;
}

void WatchmanModel::Sleep() {
    std::lock_guard<std::mutex> lock(mtx);
    asleep = true;
}

void WatchmanModel::Wake(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        asleep = false;
        StartGrid(now, TicksAt(now));  // no backlog from the nap; the clock ran on
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
}

void WatchmanModel::SetGyro(int16_t x, int16_t y, int16_t z) {
    std::lock_guard<std::mutex> lock(mtx);
    gyro[0] = x;
    gyro[1] = y;
    gyro[2] = z;
}

void WatchmanModel::SetAccelNoise(double density) {
    std::lock_guard<std::mutex> lock(mtx);
    for (int a = kAxisAx; a <= kAxisAz; ++a) {
        sensorNoise.SetTerms(a, {density, sensorNoise.Terms(a).walk});
    }
    accelModelled = true;
}

void WatchmanModel::SetGyroNoise(double density) {
    std::lock_guard<std::mutex> lock(mtx);
    for (int a = kAxisGx; a <= kAxisGz; ++a) {
        sensorNoise.SetTerms(a, {density, sensorNoise.Terms(a).walk});
    }
    gyroModelled = true;
}

void WatchmanModel::SetGyroWalk(double walk) {
    std::lock_guard<std::mutex> lock(mtx);
    for (int a = kAxisGx; a <= kAxisGz; ++a) {
        sensorNoise.SetTerms(a, {sensorNoise.Terms(a).density, walk});
    }
    gyroModelled = true;
}

void WatchmanModel::Stick(int axis) {
    if (axis < 0 || axis >= kAxisCount) {
        return;
    }
    std::lock_guard<std::mutex> lock(mtx);
    if ((stuckMask & (1u << axis)) == 0) {
        int16_t set = axis < kAxisGx ? accel[axis] : gyro[axis - kAxisGx];
        stuckAt[axis] = haveLast ? last[axis] : set;
        stuckMask |= 1u << axis;
    }
}

void WatchmanModel::Unstick() {
    std::lock_guard<std::mutex> lock(mtx);
    stuckMask = 0;
}

void WatchmanModel::Saturate(int axis) {
    if (axis < 0 || axis >= kAxisCount) {
        return;
    }
    std::lock_guard<std::mutex> lock(mtx);
    saturatedMask |= 1u << axis;
}

void WatchmanModel::Unsaturate() {
    std::lock_guard<std::mutex> lock(mtx);
    saturatedMask = 0;
}

void WatchmanModel::DropEvery(unsigned n) {
    std::lock_guard<std::mutex> lock(mtx);
    dropEvery = n;
    sinceDrop = 0;
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

void WatchmanModel::Measure(double ticks, WatchmanSample& s) {
    s.timestamp = uint32_t(uint64_t(ticks));
    int16_t set[kAxisCount] = {accel[0], accel[1], accel[2], gyro[0], gyro[1], gyro[2]};
    int16_t modelled[kAxisCount] = {};
    if (accelModelled || gyroModelled) {
        sensorNoise.Step(set, modelled);
    }
    // The default noise draws axis by axis, accel before gyro, as it always
    // has: scenarios without the noise actions see the same samples.
    for (int axis = 0; axis < 3; ++axis) {
        s.accel[axis] = accelModelled ? modelled[axis] : Noisy(accel[axis], kAccelNoise);
        s.gyro[axis] =
            gyroModelled ? modelled[kAxisGx + axis] : Noisy(gyro[axis], kGyroNoise[axis]);
    }
    for (int axis = 0; axis < kAxisCount; ++axis) {
        int16_t& v = axis < kAxisGx ? s.accel[axis] : s.gyro[axis - kAxisGx];
        if ((saturatedMask & (1u << axis)) != 0) {
            v = 32767;
        } else if ((stuckMask & (1u << axis)) != 0) {
            v = stuckAt[axis];
        }
        last[axis] = v;
    }
    haveLast = true;
}

void WatchmanModel::TakeSample(double ticks) {
    nextSeq = uint8_t(nextSeq + pendingSkip);
    pendingSkip = 0;
    WatchmanSample& s = slots[nextSlot];
    nextSlot = (nextSlot + 1) % 3;
    s.seq = nextSeq++;
    Measure(ticks, s);
}

bool WatchmanModel::LosesNextSample() {
    if (dropEvery == 0 || ++sinceDrop < dropEvery) {
        return false;
    }
    sinceDrop = 0;
    return true;
}

void WatchmanModel::PassOver(uint64_t samples) {
    // Samples nobody will see: only their numbers, slots and time go by.
    uint64_t taken = samples;
    if (dropEvery != 0) {
        uint64_t times = sinceDrop + samples;
        taken -= times / dropEvery;
        sinceDrop = unsigned(times % dropEvery);
    }
    nextSeq = uint8_t(nextSeq + pendingSkip + taken % 256);
    pendingSkip = 0;
    nextSlot = size_t((nextSlot + taken % 3) % 3);
    nextIndex += samples;
    sensorNoise.Skip(taken);
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
    uint64_t due = DueUpTo(now);
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
        uint64_t index = nextIndex++;
        if (LosesNextSample()) {
            continue;  // its time passes with no sample and no report
        }
        TakeSample(SampleTicks(index));
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

uint64_t WatchmanModel::DueUpTo(Clock::time_point now) const {
    if (now < SampleTime(nextIndex)) {
        return 0;
    }
    // An estimate from the elapsed time, then set right by the very times
    // NextDue hands out, so the two never disagree by a rounding.
    double ns =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(now - gridHost).count());
    auto newest = std::max(uint64_t(std::max(ns - gridNs, 0.0) / nsPerSample), nextIndex);
    while (SampleTime(newest + 1) <= now) {
        ++newest;
    }
    while (newest > nextIndex && SampleTime(newest) > now) {
        --newest;
    }
    return newest - nextIndex + 1;
}

Clock::time_point WatchmanModel::NextDue(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (asleep) {
        return Clock::time_point::max();
    }
    if (pendingJunk != 0 || (pendingRepeats != 0 && haveLastImu)) {
        return now;
    }
    return SampleTime(nextIndex);
}

Clock::duration WatchmanModel::ReportSpacing() const {
    std::lock_guard<std::mutex> lock(mtx);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::nano>(nsPerSample));
}

bool WatchmanModel::OnFeature(const uint8_t* report, size_t length, Clock::time_point now) {
    if (report == nullptr || length == 0) {
        return false;
    }
    std::shared_ptr<LightModel> to;
    {
        std::lock_guard<std::mutex> lock(mtx);
        to = light;
    }
    if (to && (report[0] == kLightFormatReport || report[0] == kLightModeReport)) {
        to->OnFeature(report, length, now);
    }
    return true;  // accepted; the rest ignored
}

void WatchmanModel::ForwardLightFeatures(std::shared_ptr<LightModel> to) {
    std::lock_guard<std::mutex> lock(mtx);
    light = std::move(to);
}

FeatureResult WatchmanModel::OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                                          Clock::time_point) {
    std::lock_guard<std::mutex> lock(mtx);
    return identity.Answer(reportId, buf, length);
}

UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port,
                             std::shared_ptr<HidInterfaceModel> imu, bool imuListedLast,
                             std::shared_ptr<HidInterfaceModel> light) {
    UsbDeviceDesc d;
    d.vendorId = kWatchmanVid;
    d.productId = kWatchmanPid;
    d.serial = std::move(serial);
    d.port = std::move(port);
    if (!light) {
        light = std::make_shared<SilentInterface>();
    }
    d.interfaces = {std::move(imu), std::move(light), std::make_shared<SilentInterface>()};
    if (imuListedLast) {
        d.listOrder = {1, 2, 0};
    }
    return d;
}

std::string NarrowSerial(const std::wstring& serial) {
    // USB serials are ASCII on every unit we know; anything else becomes '?'.
    std::string narrow;
    for (wchar_t c : serial) {
        narrow.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port, std::shared_ptr<WatchmanModel> imu,
                             std::shared_ptr<LightModel> light) {
    imu->ForwardLightFeatures(light);
    UsbDeviceDesc d = WatchmanDevice(std::move(serial), std::move(port), imu, true);
    d.interfaces[1] = std::move(light);
    return d;
}

UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port, std::shared_ptr<WatchmanModel> imu,
                             bool imuListedLast) {
    const std::string narrow = NarrowSerial(serial);
    if (imu != nullptr) {
        imu->EditIdentity([&](WatchmanIdentity& id) { id.SetUsbSerial(narrow); });
    }
    return WatchmanDevice(std::move(serial), std::move(port),
                          std::shared_ptr<HidInterfaceModel>(std::move(imu)), imuListedLast);
}

}  // namespace brisk::sim
