#include "sim/virtual_mcu.h"

#include "device/headset_usb.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

namespace brisk::sim {
namespace {

// Who the MCU is comes from the one table; its framing is the model's own
// copy, not the tool's (prox/mcu_protocol.h): a framing mistake there must
// show up in a test, not be mirrored here.
constexpr uint16_t kMcuVid = headset::kMcuVendorId;
constexpr uint16_t kMcuPid = headset::kMcuProductId;
constexpr uint8_t kRateTag = 'R';
constexpr uint8_t kAckTag = '$';
constexpr uint8_t kTelemetryTag = '#';
// Report ID 0 and a 64-byte message, as the MCU's report descriptor has it.
constexpr size_t kMessageBytes = 64;
// Telemetry that nobody read for longer than this many periods is dropped,
// as it would have fallen out of the host's input buffer anyway.
constexpr int kMaxBacklog = 32;

struct InterfaceState {
    bool refuse = false;
    bool ack = true;
    size_t rateCommands = 0;
    uint16_t periodMs = 0;
    bool streaming = false;
    int telemetryBeforeAck = 0;  // still to send before the pending "$"
    bool ackPending = false;
    uint8_t seq = 0;
    Clock::time_point nextDue{};
    std::deque<InputReport> injected;

    bool Busy() const { return ackPending || telemetryBeforeAck > 0 || streaming; }
    Clock::duration Period() const { return std::chrono::milliseconds(periodMs); }
};

}  // namespace

struct VirtualMcu::Shared {
    mutable std::mutex mtx;
    uint16_t distance = kMcuAwayDistance;
    int telemetryBeforeAck = 0;
    bool reportIdZero = true;
    bool sleeping = false;
    std::vector<InterfaceState> states;

    InputReport Message(const uint8_t* message) const {
        InputReport r;
        size_t const offset = reportIdZero ? 1 : 0;
        std::memcpy(r.bytes + offset, message, kMessageBytes);
        r.length = static_cast<uint8_t>(kMessageBytes + offset);
        return r;
    }

    InputReport Telemetry(InterfaceState& s) const {
        uint8_t message[kMessageBytes] = {kTelemetryTag, s.seq++};
        message[4] = static_cast<uint8_t>(distance >> 8);
        message[5] = static_cast<uint8_t>(distance & 0xFF);
        return Message(message);
    }

    InputReport Ack() const {
        uint8_t message[kMessageBytes] = {kAckTag};
        return Message(message);
    }

    // Everything that fell due up to `now`, in order.
    void Produce(InterfaceState& s, Clock::time_point now, std::vector<InputReport>& out) {
        while (!s.injected.empty()) {
            out.push_back(s.injected.front());
            s.injected.pop_front();
        }
        if (sleeping || !s.Busy()) {
            return;
        }
        if (s.periodMs > 0 && now - s.nextDue > kMaxBacklog * s.Period()) {
            s.nextDue = now - (kMaxBacklog - 1) * s.Period();
        }
        while (s.Busy() && s.nextDue <= now) {
            if (s.telemetryBeforeAck > 0) {
                --s.telemetryBeforeAck;
                out.push_back(Telemetry(s));
            } else if (s.ackPending) {
                s.ackPending = false;
                out.push_back(Ack());
            } else {
                out.push_back(Telemetry(s));
            }
            s.nextDue += s.Period();
        }
    }

    Clock::time_point NextDue(const InterfaceState& s, Clock::time_point now) const {
        if (!s.injected.empty()) {
            return now;
        }
        if (sleeping || !s.Busy()) {
            return Clock::time_point::max();
        }
        return s.nextDue;
    }

    bool OnFeature(InterfaceState& s, const uint8_t* report, size_t length, Clock::time_point now) {
        if (s.refuse) {
            return false;
        }
        // Other commands are taken and ignored; only the rate command matters here.
        if (length < 4 || report[0] != 0 || report[1] != kRateTag) {
            return true;
        }
        ++s.rateCommands;
        s.periodMs = static_cast<uint16_t>(report[2] << 8 | report[3]);
        // A period of 0 switches telemetry off; the command is still answered.
        s.streaming = s.periodMs > 0;
        s.ackPending = s.ack;
        s.telemetryBeforeAck = (s.ack && s.streaming) ? telemetryBeforeAck : 0;
        s.nextDue = now;
        return true;
    }
};

class VirtualMcu::Interface final : public HidInterfaceModel {
  public:
    Interface(std::shared_ptr<Shared> shared, size_t index)
        : shared(std::move(shared)), index(index) {}

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override {
        std::lock_guard<std::mutex> lock(shared->mtx);
        shared->Produce(shared->states[index], now, out);
    }
    Clock::time_point NextDue(Clock::time_point now) const override {
        std::lock_guard<std::mutex> lock(shared->mtx);
        return shared->NextDue(shared->states[index], now);
    }
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override {
        std::lock_guard<std::mutex> lock(shared->mtx);
        return shared->OnFeature(shared->states[index], report, length, now);
    }

  private:
    std::shared_ptr<Shared> shared;
    size_t index;
};

VirtualMcu::VirtualMcu(size_t interfaceCount) : shared(std::make_shared<Shared>()) {
    shared->states.resize(std::max<size_t>(interfaceCount, 1));
    for (size_t i = 0; i < shared->states.size(); ++i) {
        interfaces.push_back(std::make_shared<Interface>(shared, i));
    }
}

VirtualMcu::~VirtualMcu() = default;

std::vector<std::shared_ptr<HidInterfaceModel>> VirtualMcu::Interfaces() const {
    return {interfaces.begin(), interfaces.end()};
}

size_t VirtualMcu::InterfaceCount() const {
    return interfaces.size();
}

void VirtualMcu::SetDistance(uint16_t distance) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    shared->distance = distance;
}

void VirtualMcu::SetAck(bool on) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    for (InterfaceState& s : shared->states) {
        s.ack = on;
    }
}

void VirtualMcu::SetAck(size_t iface, bool on) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    if (iface < shared->states.size()) {
        shared->states[iface].ack = on;
    }
}

void VirtualMcu::SetRefuseFeature(size_t iface, bool refuse) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    if (iface < shared->states.size()) {
        shared->states[iface].refuse = refuse;
    }
}

void VirtualMcu::SetTelemetryBeforeAck(int count) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    shared->telemetryBeforeAck = std::max(count, 0);
}

void VirtualMcu::SetReportIdZero(bool on) {
    std::lock_guard<std::mutex> lock(shared->mtx);
    shared->reportIdZero = on;
}

void VirtualMcu::Sleep() {
    std::lock_guard<std::mutex> lock(shared->mtx);
    shared->sleeping = true;
}

void VirtualMcu::Wake() {
    std::lock_guard<std::mutex> lock(shared->mtx);
    if (!shared->sleeping) {
        return;
    }
    shared->sleeping = false;
    Clock::time_point const now = Clock::now();
    for (InterfaceState& s : shared->states) {
        s.nextDue = std::max(s.nextDue, now);
    }
}

void VirtualMcu::PowerCycle() {
    std::lock_guard<std::mutex> lock(shared->mtx);
    shared->sleeping = false;
    for (InterfaceState& s : shared->states) {
        s.periodMs = 0;
        s.streaming = false;
        s.ackPending = false;
        s.telemetryBeforeAck = 0;
        s.injected.clear();
    }
}

void VirtualMcu::Inject(size_t iface, const uint8_t* bytes, size_t length) {
    InputReport r;
    r.length = static_cast<uint8_t>(std::min(length, sizeof r.bytes));
    if (bytes != nullptr) {
        std::memcpy(r.bytes, bytes, r.length);
    }
    std::lock_guard<std::mutex> lock(shared->mtx);
    if (iface < shared->states.size()) {
        shared->states[iface].injected.push_back(r);
    }
}

uint16_t VirtualMcu::Distance() const {
    std::lock_guard<std::mutex> lock(shared->mtx);
    return shared->distance;
}

size_t VirtualMcu::RateCommands(size_t iface) const {
    std::lock_guard<std::mutex> lock(shared->mtx);
    return iface < shared->states.size() ? shared->states[iface].rateCommands : 0;
}

uint16_t VirtualMcu::PeriodMs(size_t iface) const {
    std::lock_guard<std::mutex> lock(shared->mtx);
    return iface < shared->states.size() ? shared->states[iface].periodMs : 0;
}

UsbDeviceDesc McuUsbDevice(PortKey port,
                           std::vector<std::shared_ptr<HidInterfaceModel>> interfaces) {
    UsbDeviceDesc d;
    d.vendorId = kMcuVid;
    d.productId = kMcuPid;
    d.port = std::move(port);
    d.interfaces = std::move(interfaces);
    return d;
}

}  // namespace brisk::sim
