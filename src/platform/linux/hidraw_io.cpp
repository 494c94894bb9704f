#include "platform/linux/hidraw_io.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

#include "platform/report_descriptor.h"

namespace brisk::linux_hid {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kNoTimeLimit = 0xFFFFFFFF;  // INFINITE
// HIDIOCSFEATURE carries the length in the ioctl number's 14-bit size field;
// hidraw itself takes at most HID_MAX_BUFFER_SIZE (4096 on older kernels).
constexpr size_t kMaxFeatureBytes = 4096;
constexpr size_t kMaxDescriptorBytes = HID_MAX_DESCRIPTOR_SIZE;

// Milliseconds left until `deadline`, rounded up so a wait never ends early,
// and at most what poll takes.
int PollTimeout(bool limited, Clock::time_point deadline) {
    if (!limited) {
        return -1;
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX));
}

void DrainCancel(int cancelFd) {
    uint64_t count = 0;
    // Non-blocking: nothing to drain is fine too.
    [[maybe_unused]] const ssize_t got = read(cancelFd, &count, sizeof count);
}

ReadResult Failed(uint32_t error) {
    return {ReadOutcome::FailedAfterPending, 0, error};
}

// A sysfs file of at most kMaxDescriptorBytes; false when it cannot be read
// or is longer.
bool ReadSmallFile(const std::string& path, std::vector<uint8_t>& out) {
    out.clear();
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return false;
    }
    out.resize(kMaxDescriptorBytes + 1);
    size_t have = 0;
    while (have < out.size()) {
        const ssize_t got = read(fd.Get(), out.data() + have, out.size() - have);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        have += static_cast<size_t>(got);
    }
    out.resize(have);
    return have <= kMaxDescriptorBytes;
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd >= 0) {
        close(fd);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            close(fd);
        }
        fd = other.Release();
    }
    return *this;
}

UniqueFd MakeCancelFd() {
    return UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void CancelRead(int cancelFd) {
    if (cancelFd < 0) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t put = write(cancelFd, &one, sizeof one);
}

ReadResult ReadReport(int fd, int cancelFd, bool prependZero, uint8_t* buf, uint32_t length,
                      uint32_t timeoutMs) {
    if (fd < 0 || cancelFd < 0) {
        return {ReadOutcome::FailedAtOnce, 0, kErrorInvalidHandle};
    }
    const uint32_t skip = prependZero ? 1 : 0;
    if (buf == nullptr || length <= skip) {
        return {ReadOutcome::FailedAtOnce, 0, kErrorGenFailure};
    }
    const bool limited = timeoutMs != kNoTimeLimit;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = poll(fds, 2, PollTimeout(limited, deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return Failed(Win32ErrorOf(errno));
        }
        // A cancel wins over a report that arrived with it, as a stop should.
        if (fds[1].revents != 0) {
            DrainCancel(cancelFd);
            return Failed(kErrorOperationAborted);
        }
        if (ready == 0) {
            return {ReadOutcome::TimedOut, 0, 0};
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            return Failed(kErrorInvalidHandle);
        }
        const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        const ssize_t got = read(fd, buf + skip, length - skip);
        if (got > 0) {
            if (prependZero) {
                buf[0] = 0;
            }
            return {ReadOutcome::Completed, static_cast<uint32_t>(got) + skip, 0};
        }
        if (got == 0) {
            // hidraw never reads zero bytes; a pipe standing in for it does
            // once its writer, the device, is gone.
            return Failed(kErrorDeviceNotConnected);
        }
        if ((errno == EAGAIN || errno == EINTR) && !hungUp) {
            continue;  // woken without a report after all
        }
        return Failed(hungUp && errno == EAGAIN ? kErrorDeviceNotConnected : Win32ErrorOf(errno));
    }
}

bool SendFeature(int fd, const uint8_t* report, size_t length) {
    if (fd < 0 || report == nullptr || length == 0 || length > kMaxFeatureBytes) {
        return false;
    }
    // The ioctl's buffer is read-write; hand it a copy of ours.
    std::vector<uint8_t> copy(report, report + length);
    int done = -1;
    do {
        done = ioctl(fd, HIDIOCSFEATURE(length), copy.data());
    } while (done < 0 && errno == EINTR);
    return done >= 0;
}

FeatureResult ReadFeature(int fd, uint8_t reportId, uint8_t* buf, uint32_t length) {
    if (fd < 0) {
        return {FeatureOutcome::kFailed, 0, kErrorInvalidHandle};
    }
    if (buf == nullptr || length == 0 || length > kMaxFeatureBytes) {
        return {FeatureOutcome::kFailed, 0, FeatureErrorOf(EINVAL)};
    }
    buf[0] = reportId;
    int got = -1;
    do {
        got = ioctl(fd, HIDIOCGFEATURE(length), buf);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return {FeatureOutcome::kFailed, 0, FeatureErrorOf(errno)};
    }
    // Never more than the buffer, whatever a driver or an emulation claims.
    return {FeatureOutcome::kData, std::min(static_cast<uint32_t>(got), length), 0};
}

bool RawInfo(int fd, uint16_t& vendorId, uint16_t& productId) {
    hidraw_devinfo info{};
    if (fd < 0 || ioctl(fd, HIDIOCGRAWINFO, &info) < 0) {
        return false;
    }
    vendorId = static_cast<uint16_t>(info.vendor);
    productId = static_cast<uint16_t>(info.product);
    return true;
}

bool ReportDescriptorOf(int fd, const std::string& sysfsFile, std::vector<uint8_t>& out) {
    out.clear();
    int size = 0;
    if (fd >= 0 && ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 &&
        static_cast<size_t>(size) <= kMaxDescriptorBytes) {
        hidraw_report_descriptor descriptor{};
        descriptor.size = static_cast<uint32_t>(size);
        if (ioctl(fd, HIDIOCGRDESC, &descriptor) == 0) {
            out.assign(descriptor.value, descriptor.value + size);
            return true;
        }
    }
    return !sysfsFile.empty() && ReadSmallFile(sysfsFile, out) && !out.empty();
}

ReportIds ReportIdsOf(int fd, const std::string& sysfsFile) {
    std::vector<uint8_t> bytes;
    if (ReportDescriptorOf(fd, sysfsFile, bytes)) {
        return ScanReportDescriptor(bytes.data(), bytes.size());
    }
    return ReportIds::kUnknown;
}

std::optional<std::vector<uint8_t>> InputReportIdsOfNode(const std::string& devnode,
                                                         const std::string& sysfsFile) {
    std::vector<uint8_t> bytes;
    if (!ReportDescriptorOf(-1, sysfsFile, bytes)) {
        // Read-only and without blocking: only the descriptor is wanted.
        const UniqueFd fd(
            devnode.empty() ? -1 : open(devnode.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (fd.Get() < 0 || !ReportDescriptorOf(fd.Get(), {}, bytes)) {
            return std::nullopt;
        }
    }
    return InputReportIdsOfDescriptor(bytes.data(), bytes.size());
}

}  // namespace brisk::linux_hid
