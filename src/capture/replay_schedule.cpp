#include "capture/replay_schedule.h"

#include <algorithm>
#include <map>

#include "capture/usbpcap.h"

namespace brisk::capture {
namespace {

constexpr uint16_t kImuVendor = 0x28DE, kImuProduct = 0x2300;
constexpr uint16_t kMcuVendor = 0x35BD, kMcuProduct = 0x0101;
constexpr uint8_t kReportEndpoint = kEndpointIn | 1;
constexpr uint8_t kDescriptorDevice = 1, kDescriptorString = 3;

struct RoleState {
    bool explicitAddress = false;
    bool lost = false;
    int64_t lostAt = 0;
    uint8_t serialIndex = 0;  // iSerialNumber of its device descriptor
};

struct AddressState {
    uint8_t pendingStringIndex = 0;  // of the latest GET_DESCRIPTOR(STRING) request
};

class Builder {
  public:
    Builder(const ReplayOptions& options, ReplaySchedule& out) : out(out) {
        const int addresses[kReplayRoles] = {options.imuAddress, options.mcuAddress};
        for (size_t r = 0; r < kReplayRoles; ++r) {
            if (addresses[r] > 0) {
                out.devices[r].found = true;
                out.devices[r].address = static_cast<uint16_t>(addresses[r]);
                roles[r].explicitAddress = true;
            }
        }
    }

    void Take(const Packet& p, int64_t micros) {
        const UsbPcapHeader& h = p.header;
        if (h.transfer == kTransferControl) {
            TakeControl(p, micros);
            return;
        }
        if (h.transfer != kTransferInterrupt || (h.info & kInfoDeviceToHost) == 0 ||
            h.endpoint != kReportEndpoint) {
            return;
        }
        const int r = RoleOf(h.device);
        if (r < 0) {
            return;
        }
        if (h.status != 0) {
            Lose(static_cast<size_t>(r), micros);
        } else if (p.length > 0) {
            Report(static_cast<size_t>(r), p, micros);
        }
    }

  private:
    int RoleOf(uint16_t address) const {
        for (size_t r = 0; r < kReplayRoles; ++r) {
            if (out.devices[r].found && out.devices[r].address == address) {
                return static_cast<int>(r);
            }
        }
        return -1;
    }

    // Events stay in file order even where a foreign capture's clock steps back.
    void Push(size_t r, ReplayEvent e) {
        std::vector<ReplayEvent>& events = out.devices[r].events;
        if (!events.empty()) {
            e.micros = std::max(e.micros, events.back().micros);
        }
        events.push_back(e);
    }

    void Lose(size_t r, int64_t micros) {
        if (roles[r].lost) {
            return;
        }
        roles[r].lost = true;
        roles[r].lostAt = micros;
        Push(r, ReplayEvent{micros, ReplayEventKind::kLost, 0, 0});
    }

    void Return(size_t r, int64_t micros) {
        if (!roles[r].lost) {
            return;
        }
        roles[r].lost = false;
        const int64_t at = std::max(roles[r].lostAt, micros - kReturnLeadMicros);
        Push(r, ReplayEvent{at, ReplayEventKind::kBack, 0, 0});
    }

    void Report(size_t r, const Packet& p, int64_t micros) {
        Return(r, micros);
        const uint32_t length = std::min<uint32_t>(p.length, kMaxReplayReportBytes);
        const uint32_t present = std::min(p.captured, length);
        ReplayEvent e{micros, ReplayEventKind::kReport, static_cast<uint8_t>(length),
                      static_cast<uint32_t>(out.bytes.size())};
        out.bytes.insert(out.bytes.end(), p.data, p.data + present);
        out.bytes.insert(out.bytes.end(), length - present, 0);
        Push(r, e);
    }

    void TakeControl(const Packet& p, int64_t micros) {
        const UsbPcapHeader& h = p.header;
        AddressState& a = addresses[h.device];
        if (p.hasSetup) {
            const bool getString = p.setup.requestType == 0x80 && p.setup.request == 0x06 &&
                                   (p.setup.value >> 8) == kDescriptorString;
            a.pendingStringIndex = getString ? static_cast<uint8_t>(p.setup.value) : 0;
            return;
        }
        if ((h.info & kInfoDeviceToHost) == 0 || h.status != 0 || p.captured < 2 || p.data[0] < 2) {
            return;
        }
        if (p.data[1] == kDescriptorDevice && p.captured >= 18 && p.data[0] >= 18) {
            DeviceSeen(h.device, p.data, micros);
        } else if (p.data[1] == kDescriptorString && a.pendingStringIndex != 0) {
            const int r = RoleOf(h.device);
            if (r >= 0 && a.pendingStringIndex == roles[static_cast<size_t>(r)].serialIndex) {
                const size_t n = std::min<size_t>(p.data[0], p.captured) / 2 - 1;
                std::u16string serial;
                for (size_t i = 0; i < n; ++i) {
                    serial.push_back(
                        static_cast<char16_t>(p.data[2 + 2 * i] | p.data[3 + 2 * i] << 8));
                }
                out.devices[static_cast<size_t>(r)].serial = serial;
            }
            a.pendingStringIndex = 0;
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
        ReplayDevice& dev = out.devices[role];
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

    ReplaySchedule& out;
    RoleState roles[kReplayRoles];
    std::map<uint16_t, AddressState> addresses;
};

}  // namespace

bool BuildReplaySchedule(const uint8_t* data, size_t size, const ReplayOptions& options,
                         ReplaySchedule& out, std::string& error) {
    out = ReplaySchedule{};
    FileHeader file;
    if (!ParseFileHeader(data, size, file, error)) {
        return false;
    }
    Builder builder(options, out);
    size_t at = kPcapFileHeaderBytes;
    bool haveFirst = false;
    uint64_t first = 0;
    for (;;) {
        Packet p;
        size_t consumed = 0;
        const ReadStatus s = ParsePacket(file, data + at, size - at, p, consumed, error);
        if (s == ReadStatus::kEnd) {
            break;
        }
        if (s == ReadStatus::kTruncated) {
            out.truncated = true;
            break;
        }
        if (s == ReadStatus::kBad) {
            error = "packet " + std::to_string(out.packets + 1) + ": " + error;
            return false;
        }
        if (!haveFirst) {
            haveFirst = true;
            first = p.micros;
        }
        const int64_t micros = p.micros >= first ? static_cast<int64_t>(p.micros - first) : 0;
        builder.Take(p, micros);
        ++out.packets;
        at += consumed;
    }
    const ReplayDevice& imu = out.Device(ReplayRole::kImu);
    const ReplayDevice& mcu = out.Device(ReplayRole::kMcu);
    if (!imu.found && !mcu.found) {
        error = "no Watchman (28DE:2300) or MCU (35BD:0101) device descriptor in " +
                std::to_string(out.packets) +
                " packets; name their USB addresses with --replay-imu / --replay-mcu";
        return false;
    }
    return true;
}

}  // namespace brisk::capture
