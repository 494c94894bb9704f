#include "capture/replay_schedule.h"

#include <iterator>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "device/headset_usb.h"

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
bool IsLightReportId(uint8_t id) {
    return id == 0x25 || id == 0x27 || id == 0x28;
}

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
    // The IMU's reports come from `endpoint` from now on.
    void TakeImuFrom(uint8_t endpoint) { options.imuEndpoint = endpoint; }

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
        const int r = RoleOf(p.device);
        if (r == static_cast<int>(ReplayRole::kImu) && p.endpoint != options.imuEndpoint) {
            TakeLight(p, micros);
            return;
        }
        if (r < 0 || p.endpoint != EndpointOf(static_cast<size_t>(r))) {
            return;
        }
        if (p.outcome == UsbOutcome::kFailed || p.outcome == UsbOutcome::kStalled) {
            Lose(static_cast<size_t>(r), micros);
        } else if (p.outcome == UsbOutcome::kOk && p.length > 0) {
            Report(static_cast<size_t>(r), p, micros);
        }
    }

    // The IMU device's light endpoint, once the plan names it: its reports
    // go to the light at the IMU's times (a loss shows on the IMU's
    // endpoint; the light only ever follows it).
    void TakeLight(const UsbPacket& p, int64_t micros) {
        if (p.endpoint != options.lightEndpoint || options.lightEndpoint == 0 ||
            p.outcome != UsbOutcome::kOk || p.length == 0) {
            return;
        }
        const size_t imu = static_cast<size_t>(ReplayRole::kImu);
        const uint32_t length = std::min<uint32_t>(p.length, kMaxReplayReportBytes);
        const uint32_t present = std::min(p.captured, length);
        ReplayEvent& e = Push(imu, micros, ReplayEventKind::kReport);
        events.back().role = ReplayRole::kLight;
        e.length = static_cast<uint8_t>(length);
        std::memcpy(e.bytes, p.data, present);
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

    ReplayOptions options;
    ReplayDevice devices[kReplayRoles];
    RoleState roles[kReplayRoles];
    std::map<uint16_t, uint8_t> pendingStrings;  // by address: the string index asked for
    ForeignInput foreign;
    std::vector<RoleEvent> events;
};

namespace {

// The feature reads in a capture, per USB address. A control transfer's
// completion carries no setup, so each is paired with its device's oldest
// request still open: endpoint 0 finishes one transfer at a time.
class FeatureReads {
  public:
    void Take(const UsbPacket& p) {
        if (p.transfer != UsbTransfer::kControl || p.device == 0 || p.device > kMaxAddress) {
            return;
        }
        std::deque<SetupPacket>& open = requests[p.device];
        if (!p.completion) {
            if (p.hasSetup) {
                open.push_back(p.setup);
                if (open.size() > kMaxOpenRequests) {  // completions the capture lost
                    open.pop_front();
                }
            }
            return;
        }
        if (open.empty()) {
            return;
        }
        const SetupPacket s = open.front();
        open.pop_front();
        const bool getFeature = s.requestType == kGetReportType && s.request == kGetReport &&
                                (s.value >> 8) == kFeatureType;
        std::vector<FeatureExchange>& kept = reads[p.device];
        if (!getFeature || p.outcome == UsbOutcome::kCancelled ||
            kept.size() >= kMaxFeatureExchanges || total >= kMaxTotal) {
            return;
        }
        FeatureExchange& e = kept.emplace_back();
        ++total;
        e.reportId = static_cast<uint8_t>(s.value);
        e.answered = p.outcome == UsbOutcome::kOk;
        if (e.answered && p.data != nullptr) {
            e.data.assign(p.data, p.data + std::min<size_t>(p.captured, kMaxFeatureAnswerBytes));
        }
    }

    std::vector<FeatureExchange> Of(uint16_t address) const {
        auto it = reads.find(address);
        return it == reads.end() ? std::vector<FeatureExchange>{} : it->second;
    }

  private:
    static constexpr uint8_t kGetReportType = 0xA1;  // class, interface, device to host
    static constexpr uint8_t kGetReport = 0x01;
    static constexpr uint8_t kFeatureType = 0x03;  // the high byte of wValue
    static constexpr size_t kMaxOpenRequests = 64;
    static constexpr uint16_t kMaxAddress = 127;  // USB addresses run from 1 to 127
    static constexpr size_t kMaxTotal = 4 * kMaxFeatureExchanges;

    std::map<uint16_t, std::deque<SetupPacket>> requests;
    std::map<uint16_t, std::vector<FeatureExchange>> reads;
    size_t total = 0;
};

// One interpretation of the capture as the plan keeps it: each device's
// reports counted, its losses and returns and the MCU's answers kept, none
// of the reports themselves.
class PlanStory {
  public:
    explicit PlanStory(const ReplayOptions& options) : interpreter(options) {}

    void Take(const UsbPacket& p, int64_t micros) {
        for (const RoleEvent& e : interpreter.Take(p, micros)) {
            if (e.role == ReplayRole::kLight) {
                continue;  // the scan names no light endpoint: none come
            }
            ReplayDevice& dev = devices[static_cast<size_t>(e.role)];
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

    bool Found(ReplayRole role) const {
        return interpreter.Device(static_cast<size_t>(role)).found;
    }
    ReplayDevice Device(ReplayRole role) const {
        const auto r = static_cast<size_t>(role);
        ReplayDevice d = devices[r];
        d.found = interpreter.Device(r).found;
        d.address = interpreter.Device(r).address;
        d.serial = interpreter.Device(r).serial;
        return d;
    }
    const ForeignInput& Foreign() const { return interpreter.Foreign(); }
    void TakeImuFrom(uint8_t endpoint) { interpreter.TakeImuFrom(endpoint); }

  private:
    ReplayInterpreter interpreter;
    ReplayDevice devices[kReplayRoles];
};

// USB addresses run from 1 to 127, interrupt IN endpoints from 0x81 to 0x8F.
constexpr uint16_t kMaxUsbAddress = 127;
constexpr uint8_t kLastInEndpoint = 0x8F;

// Where the IMU is when no descriptor names it: every interrupt IN endpoint
// of every address is followed as the IMU would be if --replay-imu named
// that address, all in the one reading. Only the packets at an address tell
// that story, so each address's begins with its first packet: its control
// transfers (a serial) go to a prototype that reads no endpoint, copied for
// an endpoint when its first input comes. At the end the endpoint with the
// most IMU reports is the IMU, its story already told.
class ImuCandidates {
  public:
    struct Candidate {
        PlanStory story;
        uint64_t imuReports = 0;
    };
    using Where = std::pair<uint16_t, uint8_t>;  // address, endpoint

    explicit ImuCandidates(const ReplayOptions& options) : options(options) {}

    void Take(const UsbPacket& p, int64_t micros) {
        if (p.device == 0 || p.device > kMaxUsbAddress) {
            return;
        }
        PlanStory& prototype = Prototype(p.device);
        const bool input = IsInterruptInCompletion(p);
        const Where where{p.device, p.endpoint};
        if (input && p.endpoint <= kLastInEndpoint && candidates.count(where) == 0) {
            candidates.emplace(where, Candidate{prototype, 0})
                .first->second.story.TakeImuFrom(p.endpoint);
        }
        if (p.transfer == UsbTransfer::kControl) {
            prototype.Take(p, micros);  // nothing else changes a prototype
        }
        const bool imuReport = input && p.outcome == UsbOutcome::kOk && LooksLikeImuReport(p);
        auto it = candidates.lower_bound({p.device, 0});
        for (; it != candidates.end() && it->first.first == p.device; ++it) {
            it->second.story.Take(p, micros);
            it->second.imuReports += imuReport && it->first == where ? 1 : 0;
        }
    }

    // The endpoint with the most IMU reports (the first of equals); null
    // when none has any.
    const std::pair<const Where, Candidate>* Busiest() const {
        const std::pair<const Where, Candidate>* best = nullptr;
        for (const auto& entry : candidates) {
            if (entry.second.imuReports > (best ? best->second.imuReports : 0)) {
                best = &entry;
            }
        }
        return best;
    }

    // A descriptor named the IMU after all.
    void Drop() {
        prototypes.clear();
        candidates.clear();
    }

  private:
    PlanStory& Prototype(uint16_t address) {
        auto it = prototypes.find(address);
        if (it == prototypes.end()) {
            ReplayOptions named = options;
            named.imuAddress = address;
            named.imuEndpoint = 0;  // no endpoint: control transfers only
            it = prototypes.emplace(address, PlanStory(named)).first;
        }
        return it->second;
    }

    const ReplayOptions options;
    std::map<uint16_t, PlanStory> prototypes;
    std::map<Where, Candidate> candidates;
};

// Each address's light endpoints: the reports on each, and whether a light
// report came on it.
class LightEndpoints {
  public:
    void Take(const UsbPacket& p) {
        const uint8_t* known =
            std::find(std::begin(kLightEndpoints), std::end(kLightEndpoints), p.endpoint);
        if (known == std::end(kLightEndpoints) || !IsInterruptInCompletion(p) ||
            p.outcome != UsbOutcome::kOk || p.length == 0 || p.device > kMaxUsbAddress) {
            return;
        }
        const auto i = static_cast<size_t>(known - std::begin(kLightEndpoints));
        Seen& at = seen[p.device];
        ++at.reports[i];
        at.light[i] = at.light[i] || (p.captured > 0 && IsLightReportId(p.data[0]));
    }

    // The endpoint of `address` that brought light reports (the busier if
    // both did), with all its reports; 0 when none did.
    uint8_t Of(uint16_t address, uint64_t& reports) const {
        reports = 0;
        auto it = seen.find(address);
        uint8_t best = 0;
        for (size_t i = 0; it != seen.end() && i < std::size(kLightEndpoints); ++i) {
            if (it->second.light[i] && it->second.reports[i] > reports) {
                best = kLightEndpoints[i];
                reports = it->second.reports[i];
            }
        }
        return best;
    }

  private:
    struct Seen {
        uint64_t reports[std::size(kLightEndpoints)] = {};
        bool light[std::size(kLightEndpoints)] = {};
    };
    std::map<uint16_t, Seen> seen;  // at most 127 addresses
};

// Fills in `out` from what the reading found.
void Conclude(const PlanStory& story, const ImuCandidates& candidates, ReplayPlan& out) {
    for (const ReplayRole role : {ReplayRole::kImu, ReplayRole::kMcu}) {
        out.devices[static_cast<size_t>(role)] = story.Device(role);
    }
    out.foreign = story.Foreign();
    const auto* busiest = out.Device(ReplayRole::kImu).found ? nullptr : candidates.Busiest();
    if (busiest == nullptr) {
        return;
    }
    const PlanStory& imu = busiest->second.story;
    out.devices[static_cast<size_t>(ReplayRole::kImu)] = imu.Device(ReplayRole::kImu);
    out.foreign = imu.Foreign();
    out.options.imuAddress = busiest->first.first;
    out.options.imuEndpoint = busiest->first.second;
    out.imuFoundByReports = true;
    out.imuReportsThere = busiest->second.imuReports;
}

}  // namespace

bool ScanReplay(PacketSource& source, const ReplayOptions& options, ReplayPlan& out,
                std::string& error) {
    out = ReplayPlan{};
    out.options = options;
    out.format = source.Description();
    PlanStory story(options);
    ImuCandidates candidates(options);
    FeatureReads features;
    LightEndpoints lights;
    bool looking = options.imuAddress <= 0;  // for the IMU by its reports
    CaptureClock clock;
    UsbPacket p;
    for (;;) {
        const SourceStatus s = source.Read(p, error);
        if (s == SourceStatus::kEnd) {
            break;
        }
        if (s == SourceStatus::kTruncated) {
            out.truncated = true;
            break;
        }
        if (s == SourceStatus::kBad) {
            error = "packet " + std::to_string(source.PacketsRead() + 1) + ": " + error;
            return false;
        }
        const int64_t micros = clock.Since(p.micros);
        out.lastMicros = std::max(out.lastMicros, micros);
        story.Take(p, micros);
        features.Take(p);
        lights.Take(p);
        if (looking && story.Found(ReplayRole::kImu)) {
            looking = false;
            candidates.Drop();
        } else if (looking) {
            candidates.Take(p, micros);
        }
    }
    out.packets = source.PacketsRead();
    Conclude(story, candidates, out);
    ReplayDevice& imu = out.devices[static_cast<size_t>(ReplayRole::kImu)];
    if (imu.found) {
        imu.features = features.Of(imu.address);
        out.options.lightEndpoint = lights.Of(imu.address, out.lightReports);
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
        ready = 0;
        interpreter->Take(p, clock.Since(p.micros));
    }
}

}  // namespace brisk::capture
