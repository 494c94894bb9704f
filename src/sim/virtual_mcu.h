// The headset microcontroller (35BD:0101) as a device model for the virtual
// USB bus: it takes the rate command as a 65-byte feature report
// (00 52 hi lo, zeros), answers it with "$" and then streams "#" telemetry
// with a big-endian distance at the commanded period.
//
// The knobs are the ways the real MCU has been seen to misbehave: an interface
// that refuses the feature report, firmware that never acknowledges, telemetry
// still flowing from an earlier session when the "$" comes, a sleeping MCU that
// stays attached but silent, and reports laid out without report ID 0.
// Unplug and plug are the bus's (UsbBus::Unplug / Plug).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/usb_bus.h"

namespace brisk::sim {

// What the sensor of an empty headset reads: nothing near, well below the band.
constexpr uint16_t kMcuAwayDistance = 200;

class VirtualMcu {
  public:
    // An MCU with `interfaceCount` HID interfaces (at least one), each of
    // which answers the rate command.
    explicit VirtualMcu(size_t interfaceCount = 1);
    ~VirtualMcu();
    VirtualMcu(const VirtualMcu&) = delete;
    VirtualMcu& operator=(const VirtualMcu&) = delete;

    // The models for UsbDeviceDesc::interfaces, by interface number.
    std::vector<std::shared_ptr<HidInterfaceModel>> Interfaces() const;
    size_t InterfaceCount() const;

    // All setters are safe from any thread. The bus does not see them by
    // itself: call UsbBus::Notify afterwards so waiting readers look again.

    // Reported by every telemetry message from now on.
    void SetDistance(uint16_t distance);
    // Whether a rate command is answered with "$" (every interface, or one).
    // Without, telemetry still starts: firmware that lost its acknowledgement.
    void SetAck(bool on);
    void SetAck(size_t iface, bool on);
    // The interface's HidD_SetFeature fails.
    void SetRefuseFeature(size_t iface, bool refuse);
    // Telemetry still flowing when a rate command arrives: this many "#"
    // messages at the new period come before its "$".
    void SetTelemetryBeforeAck(int count);
    // False: reports carry their message from byte 0, without report ID 0.
    void SetReportIdZero(bool on);
    // Attached but silent; Wake resumes from now on, without a backlog.
    void Sleep();
    void Wake();
    // Back to the state after power-up: no telemetry until commanded again.
    // Replugging a real MCU does this; pair it with UsbBus::Plug to model it.
    void PowerCycle();
    // Sends these bytes (at most 65) once, as the interface's next input
    // report, asleep or not.
    void Inject(size_t iface, const uint8_t* bytes, size_t length);

    // What tests look at.
    uint16_t Distance() const;
    size_t RateCommands(size_t iface) const;  // rate commands the interface took
    uint16_t PeriodMs(size_t iface) const;    // its last commanded period; 0: none

  private:
    struct Shared;
    class Interface;
    std::shared_ptr<Shared> shared;
    std::vector<std::shared_ptr<Interface>> interfaces;
};

// The headset's MCU (35BD:0101) as it appears on the bus, with the given
// interfaces (0, 1, ...), and no serial number.
UsbDeviceDesc McuUsbDevice(PortKey port,
                           std::vector<std::shared_ptr<HidInterfaceModel>> interfaces);

}  // namespace brisk::sim
