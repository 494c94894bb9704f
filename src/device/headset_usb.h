// Who is who on the bus: the headset's USB identity, in one table for the
// tool (discovery), the capture code (recording and replay) and the virtual
// headset. Header only. The wire formats themselves live with their readers
// (imu/imu_report.h, prox/mcu_protocol.h); the virtual MCU keeps an encoder
// of its own on purpose, so that a framing mistake shows up in a test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brisk::headset {

// The Watchman: the tracking device whose interface 0 streams IMU reports.
constexpr uint16_t kWatchmanVendorId = 0x28DE;
constexpr uint16_t kWatchmanProductId = 0x2300;
constexpr int kWatchmanImuInterface = 0;

// The headset's microcontroller: proximity telemetry and its rate command.
constexpr uint16_t kMcuVendorId = 0x35BD;
constexpr uint16_t kMcuProductId = 0x0101;

// An IMU report: ID 0x20, then three 17-byte samples.
constexpr uint8_t kImuReportId = 0x20;
constexpr size_t kImuReportMinBytes = 52;
// Where the IMU's reports are: interrupt IN endpoint 1 (interface 0).
constexpr uint8_t kImuEndpoint = 0x81;

// The MCU's message tags: the rate command, its acknowledgement, telemetry.
constexpr uint8_t kMcuRateTag = 'R';
constexpr uint8_t kMcuAckTag = '$';
constexpr uint8_t kMcuTelemetryTag = '#';

}  // namespace brisk::headset
