// I/O on an open hidraw node: one timed read of one report that a cancel can
// end, feature reports, and what the node says about itself. Works on any
// file descriptor that keeps report boundaries (a hidraw node, or a
// packet-mode pipe standing in for one), so it is tested without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/sysfs_ids.h"

namespace brisk::linux_hid {

// A file descriptor with one owner: closed once, by the destructor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd; }
    int Release() {
        const int out = fd;
        fd = -1;
        return out;
    }

  private:
    int fd = -1;
};

// A non-blocking eventfd: CancelRead signals it, ReadReport waits on it
// beside the device. -1 inside on failure.
UniqueFd MakeCancelFd();

// Ends the ReadReport pending on `cancelFd`, or else the next one to start:
// a cancel that lands between a reader's stop check and its read must not be
// lost, or the stop would wait out a whole time-out.
void CancelRead(int cancelFd);

// One report into `buf`, waiting at most `timeoutMs` (0xFFFFFFFF: no limit).
// With `prependZero` the report goes to buf + 1 behind a zero byte and counts
// one more, as Windows hands on reports of a device without report IDs.
//   Completed            a report arrived
//   TimedOut             nothing in time
//   FailedAtOnce         bad arguments (no room, no descriptor)
//   FailedAfterPending   cancelled (995); the device gone, end of file
//                        included (1167); any other error, mapped
ReadResult ReadReport(int fd, int cancelFd, bool prependZero, uint8_t* buf, uint32_t length,
                      uint32_t timeoutMs);

// HIDIOCSFEATURE with the whole report, report ID first (0 for a device
// without IDs; the kernel leaves it off the wire then, as hid.dll does).
bool SendFeature(int fd, const uint8_t* report, size_t length);

// HIDIOCGFEATURE: asks for feature report `reportId` into `buf` of
// `length` bytes; the answer comes report ID first, as many bytes as the
// kernel says. A refusal comes back as kFailed with FeatureErrorOf's error.
FeatureResult ReadFeature(int fd, uint8_t reportId, uint8_t* buf, uint32_t length);

// HIDIOCGRAWINFO: vendor and product as the kernel has them.
bool RawInfo(int fd, uint16_t& vendorId, uint16_t& productId);

// Whether input reports start with a report ID: from the descriptor the
// kernel gives through HIDIOCGRDESC, else from `sysfsFile` (the HID device's
// report_descriptor, what emulated nodes can offer), else unknown.
ReportIds ReportIdsOf(int fd, const std::string& sysfsFile);

// The report descriptor through HIDIOCGRDESCSIZE and HIDIOCGRDESC on `fd`
// (skipped when it is -1), else from `sysfsFile` (skipped when empty). False
// when neither gives a descriptor of at most HID_MAX_DESCRIPTOR_SIZE bytes.
bool ReportDescriptorOf(int fd, const std::string& sysfsFile, std::vector<uint8_t>& out);

// The input report IDs of a node, for the listing: from `sysfsFile` (the HID
// device's report_descriptor, readable without opening the node, so listing
// wakes no device and needs no access to it), else through the ioctls on the
// node opened read-only for the moment. Nothing when neither can be had.
std::optional<std::vector<uint8_t>> InputReportIdsOfNode(const std::string& devnode,
                                                         const std::string& sysfsFile);

}  // namespace brisk::linux_hid
