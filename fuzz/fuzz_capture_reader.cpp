// Capture files as brisk-sim --replay reads them: any bytes, whole or cut
// anywhere, must give a schedule or a reason, never a crash; and what the
// schedule holds must stay inside what it claims. The same bytes go through
// the packet source (pcap or pcapng, plain or gzip, USBPcap or usbmon), read
// to the end: every packet's data inside the record it came from.
//
// Input: one byte of options (bit 0: name the IMU's address, bit 1: the
// MCU's, from the next bytes), then the file.
#include "capture/capture_format.h"
#include "capture/packet_source.h"
#include "capture/replay_schedule.h"
#include "fuzz_support.h"

namespace {

using brisk::capture::ReplayEventKind;
using brisk::capture::ReplayOptions;
using brisk::capture::ReplayPlan;
using brisk::capture::SourceStatus;
using brisk::capture::UsbPacket;

// Reads every packet; returns how many.
uint64_t ReadPackets(const uint8_t* data, size_t size) {
    std::string error;
    auto source = brisk::capture::OpenPacketSource(data, size, error);
    if (source == nullptr) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(!source->Description().empty());
    UsbPacket p;
    SourceStatus s;
    uint64_t packets = 0;
    volatile uint8_t sink = 0;
    while ((s = source->Read(p, error)) == SourceStatus::kPacket) {
        ++packets;
        FUZZ_CHECK(p.captured <= p.length);
        FUZZ_CHECK(p.captured <= brisk::capture::kMaxCaptureRecordBytes);
        for (uint32_t i = 0; i < p.captured; ++i) {
            sink = sink + p.data[i];  // AddressSanitizer sees any byte outside the record
        }
    }
    FUZZ_CHECK(s != SourceStatus::kBad || !error.empty());
    FUZZ_CHECK(source->PacketsRead() == packets);
    FUZZ_CHECK(source->Read(p, error) == s);  // an ended source stays ended
    return packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brisk::fuzz::Reader in(data, size);
    const uint8_t flags = in.Byte();
    ReplayOptions options;
    if ((flags & 1) != 0) {
        options.imuAddress = in.Byte() % 128;
    }
    if ((flags & 2) != 0) {
        options.mcuAddress = in.Byte() % 128;
    }
    const std::vector<uint8_t> rest = in.Take(in.Left());
    const brisk::fuzz::ExactBuffer file(rest.data(), rest.size());

    const uint64_t packets = ReadPackets(file.data(), file.size());
    if (file.size() > 0) {
        const brisk::fuzz::ExactBuffer cut(file.data(), file.size() - 1);
        FUZZ_CHECK(ReadPackets(cut.data(), cut.size()) <= packets);
    }

    ReplayPlan plan;
    std::string error;
    auto source = brisk::capture::OpenPacketSource(file.data(), file.size(), error);
    const bool ok = source && brisk::capture::ScanReplay(*source, options, plan, error);
    if (!ok) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // The reading during a run tells the story the plan was made of.
    brisk::capture::ReplayReader reader(
        brisk::capture::OpenPacketSource(file.data(), file.size(), error), plan);
    brisk::capture::ReplayRole role;
    brisk::capture::ReplayEvent e;
    uint64_t reports[brisk::capture::kReplayRoles] = {};
    size_t transitions[brisk::capture::kReplayRoles] = {};
    bool lost[brisk::capture::kReplayRoles] = {};
    while (reader.Next(role, e)) {
        const auto r = static_cast<size_t>(role);
        const auto& device = plan.devices[r];
        FUZZ_CHECK(device.found);
        if (e.kind == ReplayEventKind::kReport) {
            FUZZ_CHECK(e.length <= brisk::capture::kMaxReplayReportBytes);
            FUZZ_CHECK(!lost[r]);  // a report comes after the device's return
            ++reports[r];
            continue;
        }
        // Losses and returns alternate, starting with a loss, as the plan has them.
        FUZZ_CHECK(lost[r] == (e.kind == ReplayEventKind::kBack));
        lost[r] = e.kind == ReplayEventKind::kLost;
        FUZZ_CHECK(transitions[r] < device.transitions.size());
        FUZZ_CHECK(device.transitions[transitions[r]].micros == e.micros);
        ++transitions[r];
    }
    for (size_t r = 0; r < brisk::capture::kReplayRoles; ++r) {
        FUZZ_CHECK(reports[r] == plan.devices[r].reports);
        FUZZ_CHECK(transitions[r] == plan.devices[r].transitions.size());
        int64_t last = 0;
        for (const auto& t : plan.devices[r].transitions) {
            FUZZ_CHECK(t.micros >= last);  // in time order, as the timeline takes them
            last = t.micros;
        }
    }
    FUZZ_CHECK(reports[0] + reports[1] <= plan.packets);
    return 0;
}
