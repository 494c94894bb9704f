// What recording costs the reader threads, and what a replay of a long
// recording costs to read and to play.
//
// A recorded read adds, on the reader's thread: finding the handle's device
// (a short lock and a map look-up), a clock read and a copy of the report
// into the queue under the recorder's lock. It must stay far below the 3 ms
// between IMU reports: the target is 1 us.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "bench_targets.h"
#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "capture/replay_schedule.h"
#include "capture/usbpcap.h"
#include "sim/replay_source.h"

namespace brisk {
namespace {

// A host whose every read completes at once with an IMU report.
class InstantHost final : public HidHost {
  public:
    bool ListHidInterfaces(std::vector<HidInterface>&) override { return true; }
    bool ListDeviceNodes(const std::wstring&, std::vector<DevNode>&) override { return true; }
    bool ParentNode(DevNode, DevNode&) override { return false; }
    bool DeviceId(DevNode, std::wstring&) override { return false; }
    bool LocationPath(DevNode, std::wstring&) override { return false; }
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

// One hour of a headset: 1000 IMU samples a second (333.3 reports) and MCU
// telemetry every 50 ms, encoded as the recorder writes it.
std::vector<uint8_t> OneHourCapture() {
    using namespace capture;
    std::vector<uint8_t> file;
    AppendFileHeader(file);
    const uint64_t base = 1700000000ull * 1000000;
    UsbPcapHeader control{1,
                          0,
                          kUrbGetDescriptorFromDevice,
                          kInfoDeviceToHost,
                          1,
                          1,
                          0x80,
                          kTransferControl,
                          kStageComplete};
    std::vector<uint8_t> d = DeviceDescriptor(0x28DE, 0x2300, 0x100, false);
    AppendPacket(file, base, control, d.data(), 18, 18);
    control.device = 2;
    d = DeviceDescriptor(0x35BD, 0x0101, 0x100, false);
    AppendPacket(file, base, control, d.data(), 18, 18);
    UsbPcapHeader in{0, 0, kUrbInterruptTransfer, kInfoDeviceToHost, 1, 1, 0x81, kTransferInterrupt,
                     0};
    uint8_t report[64] = {0x20};
    uint8_t telemetry[65] = {0, '#', 0, 0, 0, 0x06, 0xA4};
    for (uint64_t us = 0, next = 0; us < 3600ull * 1000000; us += 3000) {
        for (size_t s = 0; s < 3; ++s) {
            std::memset(report + 1 + 17 * s, static_cast<int>(us / 1000 + s) | 1, 16);
            report[17 + 17 * s] = static_cast<uint8_t>(us / 1000 + s);
        }
        in.device = 1;
        in.irpId++;
        AppendPacket(file, base + us, in, report, CapturedLength(report, 64), 64);
        if (us >= next) {
            in.device = 2;
            in.irpId++;
            AppendPacket(file, base + us, in, telemetry, CapturedLength(telemetry, 65), 65);
            next += 50000;
        }
    }
    return file;
}

void BM_ReplayOneHour(benchmark::State& state) {
    const std::vector<uint8_t> file = OneHourCapture();
    uint64_t reports = 0;
    for (auto _ : state) {
        auto schedule = std::make_shared<capture::ReplaySchedule>();
        std::string error;
        if (!capture::BuildReplaySchedule(file.data(), file.size(), {}, *schedule, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        // Play the hour through both streams as the bus asks: every 10 ms.
        const sim::Clock::time_point start{};
        sim::ReplayStream imu(schedule, capture::ReplayRole::kImu, start);
        sim::ReplayStream mcu(schedule, capture::ReplayRole::kMcu, start);
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
    bench::SetInfo(state, std::to_string(file.size() / 1000000) + " MB, " +
                              std::to_string(reports / state.iterations()) +
                              " reports played; target: an hour in under 10 s");
}
BENCHMARK(BM_ReplayOneHour)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
