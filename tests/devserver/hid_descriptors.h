// The HID report descriptors the device server gives its emulated hidraw
// nodes, and a reader that tells the report sizes a descriptor declares, so
// that the server writes each input report at the length a host expects from
// the descriptor (as a kernel would deliver it) and the tests can hold the
// descriptors to the sizes brisk reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace brisk::devserver {

// Watchman MI_00: vendor-defined, input report 0x20 of 51 bytes after the ID
// (and 0x21 of 57), feature reports 0x01, 0x05, 0x10 and 0x11 of 63, and
// the light's 0x04 and 0x07 of 4.
const std::vector<uint8_t>& WatchmanImuDescriptor();
// Watchman MI_01: the photodiodes' light data, input reports 0x25 and 0x28
// of 63 bytes after the ID, 0x27 of 58 and 0x21 of 57, as the real captures
// send them; feature reports 0x04 (the format) and 0x07 of 4. No capture
// holds a real descriptor: these sizes are the wire's.
const std::vector<uint8_t>& WatchmanLightDescriptor();
// The Watchman's third interface: input report 0x01 of 63 bytes (silent).
const std::vector<uint8_t>& WatchmanOtherDescriptor();
// The headset MCU: no report IDs, a 64-byte input report and a 64-byte
// feature report (the rate command).
const std::vector<uint8_t>& McuDescriptor();

// The descriptor for interface `iface` of device VID:PID.
const std::vector<uint8_t>& DescriptorFor(uint16_t vendorId, uint16_t productId, size_t iface);

// Report sizes in bytes, without the report ID byte, by report ID (0 when the
// descriptor declares no IDs).
struct ReportSizes {
    bool usesIds = false;
    std::map<uint8_t, size_t> input, output, feature;
    bool ok = false;  // false: the descriptor ended inside an item or had a bad size
};
ReportSizes ReadReportSizes(const std::vector<uint8_t>& descriptor);

// The longest input report as the device sends it (report ID included when
// the descriptor uses IDs): what one read of the hidraw node returns.
size_t MaxInputBytes(const ReportSizes& sizes);

// The length one input report goes out at, given its first byte: its ID's
// declared size with the ID, or the longest when the ID is not declared or
// the descriptor has none.
size_t InputBytesOf(const ReportSizes& sizes, uint8_t firstByte);

}  // namespace brisk::devserver
