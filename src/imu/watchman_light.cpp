#include "imu/watchman_light.h"

#include <vector>

#include "base/output.h"
#include "base/utf8.h"
#include "device/headset_usb.h"
#include "imu/tundra_imu.h"
#include "optical/light_reports.h"
#include "optical/photodiode_judge.h"
#include "platform/report_descriptor.h"

namespace brisk {
namespace {

// The real light reports are 64 bytes (0x25: 1 + 9 * 7); a read takes a
// little more so that a longer report is seen whole and judged cut or not.
constexpr uint32_t kLightReadBytes = 72;
// The IMU counts as going on while its latest sample is younger than this.
constexpr double kImuAliveSeconds = 1.0;

}  // namespace

bool IsWatchmanLight(const HidDeviceInfo& device, const std::wstring& serial) {
    if (device.vendorId != headset::kWatchmanVendorId ||
        device.productId != headset::kWatchmanProductId || device.serial != serial) {
        return false;
    }
    if (device.inputReportIds) {
        return DeclaresInputReport(device.inputReportIds, optical::kPulseReportId) ||
               DeclaresInputReport(device.inputReportIds, optical::kSweepReportId);
    }
    return device.interfaceNumber == kLightInterface;
}

WatchmanLight::WatchmanLight(HidHost& host, int generation, const TundraImu& imu)
    : host(host),
      imu(imu),
      askedGeneration(generation),
      reader(host, "WatchmanLight", Silence::kIsNormal, kLightReadBytes, *this),
      run(std::make_unique<optical::OpticalRun>()) {}

WatchmanLight::~WatchmanLight() {
    reader.Stop();
}

Handle WatchmanLight::OpenLight() {
    std::vector<HidDeviceInfo> devices;
    if (!host.ListHidDevices(devices)) {
        return kInvalidHandle;
    }
    for (const HidDeviceInfo& device : devices) {
        if (IsWatchmanLight(device, wserial)) {
            const Handle handle = host.Open(device.path);
            if (handle != nullptr) {
                return handle;
            }
        }
    }
    return kInvalidHandle;
}

bool WatchmanLight::Start(const std::string& serial) {
    wserial = WideFromUtf8OrLatin1(serial);
    const Handle handle = OpenLight();
    if (handle == kInvalidHandle || handle == nullptr) {
        Print(stderr, "WatchmanLight: no light interface beside the IMU — nothing to judge\n");
        return false;
    }
    reader.Device().Set(handle);
    if (!reader.CreateReadEvent()) {
        reader.Abandon();
        Print(stderr, "WatchmanLight: cannot create the read event — not reading light\n");
        return false;
    }
    SetFormat(askedGeneration == 2 ? 2 : 1);
    if (!reader.Start()) {
        Print(stderr, "WatchmanLight: cannot start the reader thread — not reading light\n");
        return false;
    }
    return true;
}

void WatchmanLight::Stop() {
    if (stopped) {
        return;
    }
    reader.Stop();
    run->Finish();
    stopped = true;
}

void WatchmanLight::SetConfig(std::shared_ptr<const identity::WatchmanConfig> configuration) {
    config = std::move(configuration);
    if (config != nullptr) {
        run->SetNeighbours(optical::NeighboursOnTheWire(*config));
    }
}

LightFigures WatchmanLight::Figures() const {
    LightFigures f{reports.load(), stalls.load(), pulses.load(), lit.load(), stations.load()};
    std::lock_guard<std::mutex> lock(statesMtx);
    f.judged = statesJudged;
    f.states = states;
    return f;
}

void WatchmanLight::MaybeSnapshot() {
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - snapshotAt).count() < kSnapshotSeconds) {
        return;
    }
    snapshotAt = now;
    uint64_t pulseSum = 0;
    uint32_t litSum = 0, stationSum = 0;
    for (size_t wire = 0; wire < optical::kWireChannels; ++wire) {
        const optical::ChannelCounts& c = run->Channel(static_cast<uint8_t>(wire));
        pulseSum += c.pulses;
        litSum += c.Lit() ? 1 : 0;
    }
    for (const optical::StationCounts& s : run->Stations()) {
        stationSum += s.generation != 0 ? 1 : 0;
    }
    pulses.store(pulseSum, std::memory_order_relaxed);
    lit.store(litSum, std::memory_order_relaxed);
    stations.store(stationSum, std::memory_order_relaxed);
    if (config == nullptr) {
        return;
    }
    const optical::OpticalFindings judged = optical::JudgeOptical(*run, *config);
    std::array<uint32_t, kPhotodiodeStateCount> counts{};
    for (size_t i = 0; i < counts.size(); ++i) {
        counts[i] = static_cast<uint32_t>(judged.Count(static_cast<optical::PhotodiodeState>(i)));
    }
    std::lock_guard<std::mutex> lock(statesMtx);
    states = counts;
    statesJudged = true;
}

void WatchmanLight::SetFormat(int generation) {
    // As the real hosts send it: five bytes, the format in the second.
    const uint8_t format[5] = {kLightFormatFeature, static_cast<uint8_t>(generation == 2 ? 1 : 0)};
    const Handle device = reader.Device().Get();
    if (device != nullptr && device != kInvalidHandle) {
        host.SetFeature(device, format, sizeof format);
    }
    formatGeneration = generation;
    formatSetAt = std::chrono::steady_clock::now();
}

bool WatchmanLight::AnyPulse() const {
    for (size_t wire = 0; wire < optical::kWireChannels; ++wire) {
        if (run->Channel(static_cast<uint8_t>(wire)).pulses > 0) {
            return true;
        }
    }
    return false;
}

void WatchmanLight::MaybeSwitchFormat() {
    if (askedGeneration != 0 || formatKept) {
        return;
    }
    // Flagged entries in 0x25 are what second-generation units send before
    // the host switches them: no need to wait.
    if (formatGeneration == 1 && run->Tally().flagged > 0 && !AnyPulse()) {
        SetFormat(2);
        return;
    }
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - formatSetAt;
    if (since.count() < kAutoSwitchSeconds) {
        return;
    }
    if (AnyPulse()) {
        formatKept = true;
        return;
    }
    SetFormat(formatGeneration == 1 ? 2 : 1);
}

void WatchmanLight::OnReport(const uint8_t* report, size_t length, int64_t) {
    run->Feed(report, length);
    reports.fetch_add(1, std::memory_order_relaxed);
    lightFlowing = true;
    MaybeSwitchFormat();
    MaybeSnapshot();
}

void WatchmanLight::OnSilentRead(int silentReads) {
    MaybeSwitchFormat();
    MaybeSnapshot();
    if (!lightFlowing || silentReads < kLightStallReads) {
        return;
    }
    lightFlowing = false;
    ImuSample latest;
    double age = 0.0;
    if (!imu.Latest(latest, &age) || age > kImuAliveSeconds) {
        return;  // the whole Watchman went quiet: the IMU's own lines tell it
    }
    stalls.fetch_add(1, std::memory_order_relaxed);
    Print(stderr, "WatchmanLight: light stalled (nothing for %d s while the IMU goes on)\n",
          silentReads);
}

void WatchmanLight::OnLost(const DeviceLoss&) {
    lightFlowing = false;
    Print(stderr, "WatchmanLight: light interface lost\n");
}

Handle WatchmanLight::Reopen(Handle) {
    return OpenLight();
}

void WatchmanLight::OnReopened() {
    Print(stderr, "WatchmanLight: light interface back\n");
    SetFormat(formatGeneration);
}

}  // namespace brisk
