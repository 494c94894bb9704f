#include "capture/replay_schedule.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "platform/headset_usb.h"

namespace brisk::capture {

namespace {

using headset::kImuReportId;
using headset::kImuReportMinBytes;
constexpr uint16_t kImuVendor = headset::kWatchmanVendorId;
constexpr uint16_t kImuProduct = headset::kWatchmanProductId;
constexpr uint16_t kMcuVendor = headset::kMcuVendorId;
constexpr uint16_t kMcuProduct = headset::kMcuProductId;
constexpr uint8_t kDescriptorDevice = 1, kDescriptorString = 3;
constexpr uint8_t kMcuEndpoint = 0x81;

bool LooksLikeImuReport(const UsbPacket& p) {
    return p.captured >= 1 && p.length >= kImuReportMinBytes && p.data[0] == kImuReportId;
}

bool IsInterruptInCompletion(const UsbPacket& p) {
    return p.transfer == UsbTransfer::kInterrupt && p.completion && (p.endpoint & kEndpointIn) != 0;
}

}  // namespace

bool IsMcuAck(const uint8_t* report, size_t length) {
    // With report ID 0 first, or without report IDs at all.
    using headset::kMcuAckTag;
    return length > 0 &&
           (report[0] == kMcuAckTag || (length > 1 && report[0] == 0 && report[1] == kMcuAckTag));
}

struct RoleEvent {
    ReplayRole role;
    ReplayEvent event;
};

// Packet by packet: which belong to the headset's devices and what they mean.
// Both readings of a capture run the same interpreter, so they agree.
class ReplayInterpreter {
  public:
    explicit ReplayInterpreter(const ReplayOptions& options) : options(options) {
        const int addresses[kReplayRoles] = {options.imuAddress, options.mcuAddress};
        for (size_t r = 0; r < kReplayRoles; ++r) {
            if (addresses[r] > 0) {
                devices[r].found = true;
                devices[r].address = static_cast<uint16_t>(addresses[r]);
                roles[r].explicitAddress = true;
            }
        }
    }

    // The events of one packet, at `micros` since the capture's first.
    const std::vector<RoleEvent>& Take(const UsbPacket& p, int64_t micros) {
        events.clear();
        if (p.transfer == UsbTransfer::kControl) {
            TakeControl(p, micros);
        } else if (IsInterruptInCompletion(p)) {
            TakeInput(p, micros);
        }
        return events;
    }

    const std::vector<RoleEvent>& Last() const { return events; }
    const ReplayDevice& Device(size_t role) const { return devices[role]; }
    const ForeignInput& Foreign() const { return foreign; }
    // The (address, endpoint) with the most IMU reports, and how many.
    bool BusiestImuEndpoint(uint16_t& address, uint8_t& endpoint, uint64_t& reports) const {
        reports = 0;
        for (const auto& [where, count] : imuCensus) {
            if (count > reports) {
                address = where.first;
                endpoint = where.second;
                reports = count;
            }
        }
        return reports > 0;
    }

  private:
    struct RoleState {
        bool explicitAddress = false;
        bool lost = false;
        int64_t lostAt = 0;
        uint8_t serialIndex = 0;  // iSerialNumber of its device descriptor
        int64_t lastMicros = 0;   // of its latest event: events never go back in time
    };

    int RoleOf(uint16_t address) const {
        for (size_t r = 0; r < kReplayRoles; ++r) {
            if (devices[r].found && devices[r].address == address) {
                return static_cast<int>(r);
            }
        }
        return -1;
    }

    uint8_t EndpointOf(size_t r) const {
        return r == static_cast<size_t>(ReplayRole::kImu) ? options.imuEndpoint : kMcuEndpoint;
    }

    // Events stay in file order even where a foreign capture's clock steps back.
    ReplayEvent& Push(size_t r, int64_t micros, ReplayEventKind kind) {
        RoleState& s = roles[r];
        s.lastMicros = std::max(s.lastMicros, micros);
        RoleEvent& e = events.emplace_back();
        e.role = static_cast<ReplayRole>(r);
        e.event.micros = s.lastMicros;
        e.event.kind = kind;
        return e.event;
    }

    void TakeInput(const UsbPacket& p, int64_t micros) {
        if (LooksLikeImuReport(p) && p.outcome == UsbOutcome::kOk) {
            ++imuCensus[{p.device, p.endpoint}];
        }
        const int r = RoleOf(p.device);
        if (r < 0 || p.endpoint != EndpointOf(static_cast<size_t>(r))) {
            return;
        }
        if (p.outcome == UsbOutcome::kFailed || p.outcome == UsbOutcome::kStalled) {
            Lose(static_cast<size_t>(r), micros);
        } else if (p.outcome == UsbOutcome::kOk && p.length > 0) {
            Report(static_cast<size_t>(r), p, micros);
        }
    }

    void Lose(size_t r, int64_t micros) {
        if (roles[r].lost) {
            return;
        }
        roles[r].lost = true;
        roles[r].lostAt = Push(r, micros, ReplayEventKind::kLost).micros;
    }

    void Return(size_t r, int64_t micros) {
        if (!roles[r].lost) {
            return;
        }
        roles[r].lost = false;
        // Dated back before what was read last: allowed, the loss is the limit.
        const int64_t at = std::max(roles[r].lostAt, micros - kReturnLeadMicros);
        RoleEvent& e = events.emplace_back();
        e.role = static_cast<ReplayRole>(r);
        e.event.micros = at;
        e.event.kind = ReplayEventKind::kBack;
    }

    void Report(size_t r, const UsbPacket& p, int64_t micros) {
        Return(r, micros);
        const uint32_t length = std::min<uint32_t>(p.length, kMaxReplayReportBytes);
        const uint32_t present = std::min(p.captured, length);
        ReplayEvent& e = Push(r, micros, ReplayEventKind::kReport);
        e.length = static_cast<uint8_t>(length);
        std::memcpy(e.bytes, p.data, present);  // the rest stays zero, as the device sent it
        if (r == static_cast<size_t>(ReplayRole::kImu) && !LooksLikeImuReport(p)) {
            if (foreign.count++ == 0) {
                foreign.firstId = p.captured > 0 ? p.data[0] : 0;
                foreign.firstLength = p.length;
                foreign.firstMicros = micros;
            }
        }
    }

    void TakeControl(const UsbPacket& p, int64_t micros) {
        uint8_t& pendingStringIndex = pendingStrings[p.device];
        if (p.hasSetup) {
            const bool getString = p.setup.requestType == 0x80 && p.setup.request == 0x06 &&
                                   (p.setup.value >> 8) == kDescriptorString;
            pendingStringIndex = getString ? static_cast<uint8_t>(p.setup.value) : 0;
            return;
        }
        if (!p.completion || p.outcome != UsbOutcome::kOk || p.captured < 2 || p.data[0] < 2) {
            return;
        }
        if (p.data[1] == kDescriptorDevice && p.captured >= 18 && p.data[0] >= 18) {
            DeviceSeen(p.device, p.data, micros);
        } else if (p.data[1] == kDescriptorString && pendingStringIndex != 0) {
            const int r = RoleOf(p.device);
            if (r >= 0 && pendingStringIndex == roles[static_cast<size_t>(r)].serialIndex) {
                const size_t n = std::min<size_t>(p.data[0], p.captured) / 2 - 1;
                std::u16string serial;
                for (size_t i = 0; i < n; ++i) {
                    serial.push_back(
                        static_cast<char16_t>(p.data[2 + 2 * i] | p.data[3 + 2 * i] << 8));
                }
                devices[static_cast<size_t>(r)].serial = serial;
            }
            pendingStringIndex = 0;
        }
    }

    void DeviceSeen(uint16_t address, const uint8_t* d, int64_t micros) {
        const uint16_t vendor = static_cast<uint16_t>(d[8] | d[9] << 8);
        const uint16_t product = static_cast<uint16_t>(d[10] | d[11] << 8);
        int r = -1;
        if (vendor == kImuVendor && product == kImuProduct) {
            r = static_cast<int>(ReplayRole::kImu);
        } else if (vendor == kMcuVendor && product == kMcuProduct) {
            r = static_cast<int>(ReplayRole::kMcu);
        }
        const int owner = RoleOf(address);
        if (owner >= 0) {
            roles[static_cast<size_t>(owner)].serialIndex = d[16];
            Return(static_cast<size_t>(owner), micros);
            return;
        }
        if (r < 0) {
            return;
        }
        const auto role = static_cast<size_t>(r);
        ReplayDevice& dev = devices[role];
        // Another device of the same kind (a second Watchman) is not the
        // headset's, unless the headset's left and this is it coming back.
        if (roles[role].explicitAddress || (dev.found && !roles[role].lost)) {
            return;
        }
        dev.found = true;
        dev.address = address;
        roles[role].serialIndex = d[16];
        Return(role, micros);
    }

    const ReplayOptions options;
    ReplayDevice devices[kReplayRoles];
    RoleState roles[kReplayRoles];
    std::map<uint16_t, uint8_t> pendingStrings;  // by address: the string index asked for
    std::map<std::pair<uint16_t, uint8_t>, uint64_t> imuCensus;
    ForeignInput foreign;
    std::vector<RoleEvent> events;
};

namespace {

// Times relative to the capture's first packet; a clock that steps back
// before it counts as zero.
struct CaptureClock {
    bool haveFirst = false;
    uint64_t first = 0;

    int64_t Since(uint64_t micros) {
        if (!haveFirst) {
            haveFirst = true;
            first = micros;
        }
        return micros >= first ? static_cast<int64_t>(micros - first) : 0;
    }
};

// One reading of the whole capture through `interpreter`, keeping what the
// plan needs and none of the reports.
bool ScanOnce(const PacketSourceOpener& open, ReplayInterpreter& interpreter, ReplayPlan& out,
              std::string& error) {
    std::unique_ptr<PacketSource> source = open(error);
    if (!source) {
        return false;
    }
    out.format = source->Description();
    CaptureClock clock;
    UsbPacket p;
    for (;;) {
        const SourceStatus s = source->Read(p, error);
        if (s == SourceStatus::kEnd) {
            break;
        }
        if (s == SourceStatus::kTruncated) {
            out.truncated = true;
            break;
        }
        if (s == SourceStatus::kBad) {
            error = "packet " + std::to_string(source->PacketsRead() + 1) + ": " + error;
            return false;
        }
        const int64_t micros = clock.Since(p.micros);
        out.lastMicros = std::max(out.lastMicros, micros);
        for (const RoleEvent& e : interpreter.Take(p, micros)) {
            ReplayDevice& dev = out.devices[static_cast<size_t>(e.role)];
            if (e.event.kind != ReplayEventKind::kReport) {
                dev.transitions.push_back(e.event);
                continue;
            }
            ++dev.reports;
            if (e.role == ReplayRole::kMcu && IsMcuAck(e.event.bytes, e.event.length)) {
                dev.acks.push_back(e.event.micros);
            }
        }
    }
    out.packets = source->PacketsRead();
    return true;
}

// The IMU's whereabouts by its reports, for a capture without its descriptor.
struct ImuCensus {
    uint16_t address = 0;
    uint8_t endpoint = 0;
    uint64_t reports = 0;
};

bool ScanWith(const PacketSourceOpener& open, const ReplayOptions& options, ReplayPlan& out,
              ImuCensus& census, std::string& error) {
    out = ReplayPlan{};
    out.options = options;
    ReplayInterpreter interpreter(options);
    if (!ScanOnce(open, interpreter, out, error)) {
        return false;
    }
    for (size_t r = 0; r < kReplayRoles; ++r) {
        const ReplayDevice& seen = interpreter.Device(r);
        out.devices[r].found = seen.found;
        out.devices[r].address = seen.address;
        out.devices[r].serial = seen.serial;
    }
    out.foreign = interpreter.Foreign();
    interpreter.BusiestImuEndpoint(census.address, census.endpoint, census.reports);
    return true;
}

}  // namespace

bool ScanReplay(const PacketSourceOpener& open, const ReplayOptions& options, ReplayPlan& out,
                std::string& error) {
    ImuCensus census;
    if (!ScanWith(open, options, out, census, error)) {
        return false;
    }
    if (!out.Device(ReplayRole::kImu).found && census.reports > 0) {
        // No descriptor named it: the IMU is where the IMU reports are. Read
        // the file once more with that address, to learn that device's story.
        ReplayOptions found = options;
        found.imuAddress = census.address;
        found.imuEndpoint = census.endpoint;
        ImuCensus again;
        if (!ScanWith(open, found, out, again, error)) {
            return false;
        }
        out.imuFoundByReports = true;
        out.imuReportsThere = census.reports;
    }
    if (!out.Device(ReplayRole::kImu).found && !out.Device(ReplayRole::kMcu).found) {
        error =
            "no Watchman (28DE:2300) or MCU (35BD:0101) device descriptor and no IMU report "
            "in " +
            std::to_string(out.packets) +
            " packets; name their USB addresses with --replay-imu / --replay-mcu";
        return false;
    }
    return true;
}

ReplayReader::ReplayReader(std::unique_ptr<PacketSource> source, const ReplayPlan& plan)
    : source(std::move(source)), interpreter(std::make_unique<ReplayInterpreter>(plan.options)) {}

ReplayReader::~ReplayReader() = default;

bool ReplayReader::Next(ReplayRole& role, ReplayEvent& event) {
    for (;;) {
        const std::vector<RoleEvent>& made = interpreter->Last();
        if (ready < made.size()) {
            role = made[ready].role;
            event = made[ready].event;
            ++ready;
            return true;
        }
        UsbPacket p;
        std::string error;
        if (ended || source->Read(p, error) != SourceStatus::kPacket) {
            // The scan already said how the file ends; here it only ends.
            ended = true;
            return false;
        }
        if (!haveFirst) {
            haveFirst = true;
            first = p.micros;
        }
        ready = 0;
        interpreter->Take(p, p.micros >= first ? static_cast<int64_t>(p.micros - first) : 0);
    }
}

}  // namespace brisk::capture
