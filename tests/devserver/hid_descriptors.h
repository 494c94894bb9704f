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

// Watchman MI_00: vendor-defined, input report 0x20 of 51 bytes after the ID.
const std::vector<uint8_t>& WatchmanImuDescriptor();
// The Watchman's other interfaces: vendor-defined, silent.
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

}  // namespace brisk::devserver
