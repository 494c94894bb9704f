// What recording costs the reader threads, and what a replay of a long
// recording costs to read and to play.
//
// A recorded read adds, on the reader's thread: finding the handle's device
// (a short lock and a map look-up), a clock read and a copy of the report
// into the queue under the recorder's lock. It must stay far below the 3 ms
// between IMU reports: the target is 1 us.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "bench_targets.h"
#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "capture/replay_schedule.h"
#include "capture/usbpcap.h"
#include "sim/replay_source.h"

#if defined(__linux__)
#include <sys/resource.h>
#endif

namespace brisk {
namespace {

// A host whose every read completes at once with an IMU report.
class InstantHost final : public HidHost {
  public:
    bool ListHidDevices(std::vector<HidDeviceInfo>&) override { return true; }
    Handle Open(const std::wstring&) override { return reinterpret_cast<Handle>(0x100); }
    bool Attributes(Handle, HidAttributes& out) override {
        out.vendorId = 0x28DE;
        out.productId = 0x2300;
        return true;
    }
    bool SerialString(Handle, std::wstring& out) override {
        out = L"LHR-5A1B2C3D";
        return true;
    }
    bool SetFeature(Handle, const uint8_t*, size_t) override { return true; }
    Handle CreateReadEvent() override { return reinterpret_cast<Handle>(0x104); }
    ReadResult ReadTimed(Handle, Handle, uint8_t* buf, uint32_t length, uint32_t) override {
        std::memset(buf, 0x20, length < 52 ? length : 52);
        ReadResult r;
        r.outcome = ReadOutcome::Completed;
        r.bytes = length;
        return r;
    }
    void CancelAll(Handle) override {}
    void Close(Handle) override {}
};

void BM_RecordedReadOverhead(benchmark::State& state) {
    bench::SetTarget(state, 1000.0);
    InstantHost inner;
    capture::CaptureRecorder recorder;
    std::string error;
    if (!recorder.Create("/dev/null", error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    recorder.Start();
    capture::RecordingHidHost host(inner, recorder);
    const Handle device = host.Open(L"\\\\?\\hid#vid_28de&pid_2300&mi_00#1");
    uint8_t buf[64];
    size_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(host.ReadTimed(device, nullptr, buf, sizeof buf, 1000));
        // Let the writer empty the queue now and then: a real reader brings
        // 333 reports a second, not millions.
        if (++n % 2048 == 0) {
            state.PauseTiming();
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            state.ResumeTiming();
        }
    }
    if (!recorder.Recording()) {
        state.SkipWithError("the recorder stopped: the queue overflowed");
    }
    recorder.Stop();
}
// A fixed count: each 2048 reads wait for the writer, which timing leaves out.
BENCHMARK(BM_RecordedReadOverhead)->Iterations(100000);

// An hour of a headset at the real cadence, written to a file as it is made
// (about 350 MB: it is never held in memory): one IMU report a millisecond,
// the MCU's telemetry every 50 ms.
std::string WriteOneHourCapture() {
    using namespace capture;
    const std::string path =
        (std::filesystem::temp_directory_path() / "brisk-bench-hour.pcap").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return "";
    }
    std::vector<uint8_t> chunk;
    AppendFileHeader(chunk);
    const uint64_t base = 1700000000ull * 1000000;
    UsbPcapHeader control{0,
                          0,
                          kUrbGetDescriptorFromDevice,
                          kInfoDeviceToHost,
                          1,
                          1,
                          0x80,
                          kTransferControl,
                          kStageComplete};
    std::vector<uint8_t> d = DeviceDescriptor(0x28DE, 0x2300, 0x100, false);
    AppendPacket(chunk, base, control, d.data(), 18, 18);
    control.device = 2;
    d = DeviceDescriptor(0x35BD, 0x0101, 0x100, false);
    AppendPacket(chunk, base, control, d.data(), 18, 18);
    UsbPcapHeader in{0, 0, kUrbInterruptTransfer, kInfoDeviceToHost, 1, 1, 0x81, kTransferInterrupt,
                     0};
    uint8_t report[52] = {0x20};
    uint8_t telemetry[65] = {0, '#', 0, 0, 0, 0x06, 0xA4};
    bool ok = true;
    for (uint64_t ms = 0; ms < 3600ull * 1000 && ok; ++ms) {
        // The newest sample into the next slot of the ring.
        uint8_t* slot = report + 1 + 17 * (ms % 3);
        std::memset(slot, static_cast<int>(ms | 1), 16);
        slot[16] = static_cast<uint8_t>(ms);
        in.device = 1;
        in.irpId++;
        AppendPacket(chunk, base + ms * 1000, in, report, sizeof report, sizeof report);
        if (ms % 50 == 0) {
            in.device = 2;
            in.irpId++;
            AppendPacket(chunk, base + ms * 1000, in, telemetry, sizeof telemetry,
                         sizeof telemetry);
        }
        if (chunk.size() > (1u << 20)) {
            ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
            chunk.clear();
        }
    }
    ok = ok && std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? path : "";
}

long PeakResidentKilobytes() {
#if defined(__linux__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return 0;
#endif
}

void BM_ReplayOneHour(benchmark::State& state) {
    const std::string path = WriteOneHourCapture();
    if (path.empty()) {
        state.SkipWithError("cannot write the hour's capture");
        return;
    }
    uint64_t reports = 0;
    for (auto _ : state) {
        capture::ReplayPlan plan;
        std::string error;
        const sim::Clock::time_point start{};
        std::shared_ptr<sim::ReplayFeed> feed;
        if (sim::PlanReplay(path, {}, plan, error)) {
            feed = sim::OpenReplayFeed(path, std::move(plan), start, error);
        }
        if (!feed) {
            state.SkipWithError(error.c_str());
            break;
        }
        // Play the hour through both streams as the bus asks: every 10 ms.
        sim::ReplayStream imu(feed, capture::ReplayRole::kImu);
        sim::ReplayStream mcu(feed, capture::ReplayRole::kMcu);
        std::vector<sim::InputReport> out;
        for (auto t = start; t <= start + std::chrono::hours(1);
             t += std::chrono::milliseconds(10)) {
            out.clear();
            imu.Produce(t, out);
            mcu.Produce(t, out);
            while (imu.NextDue(t) <= t) {  // a burst goes out a few at a time
                imu.Produce(t, out);
            }
            reports += out.size();
        }
    }
    std::remove(path.c_str());
    bench::SetInfo(state, std::to_string(reports / std::max<uint64_t>(state.iterations(), 1)) +
                              " reports played, peak resident " +
                              std::to_string(PeakResidentKilobytes() / 1024) +
                              " MB; targets: an hour in under 10 s of CPU, under 64 MB");
}
BENCHMARK(BM_ReplayOneHour)->Iterations(1)->Unit(benchmark::kSecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
