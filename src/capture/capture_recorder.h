// The recording's file and its writer thread. Transfers come in from the
// reader threads through a bounded queue: adding one takes a short lock and
// copies its bytes, never waits for the disk. The writer thread takes the
// whole queue every few tens of milliseconds, encodes it as USBPcap packets
// and writes and flushes it, so a recording cut off by a crash is readable
// up to its last whole packet.
//
// When the queue is full (the disk cannot keep up) or a write fails, the
// writer prints one line and recording stops; the run goes on untouched.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/side_file.h"

namespace brisk::capture {

// Longest payload one queue entry carries: a string descriptor's 126 UTF-16
// units, or a report of the virtual bus's 65 bytes and then some.
constexpr size_t kMaxEntryBytes = 252;

class CaptureRecorder {
  public:
    static constexpr size_t kDefaultCapacity = 4096;  // about 12 s of a headset's transfers

    explicit CaptureRecorder(size_t capacity = kDefaultCapacity);
    ~CaptureRecorder();
    CaptureRecorder(const CaptureRecorder&) = delete;
    CaptureRecorder& operator=(const CaptureRecorder&) = delete;

    // Creates the file; false with the system's reason. Nothing is written
    // before Start.
    bool Create(const std::string& path, std::string& error);
    // Starts the writer thread.
    void Start();
    // Writes what is queued, closes the file and joins the writer.
    void Stop();

    // From any thread; each returns at once. Ignored once recording stopped.
    // A device the tool reads from shows up (again): its descriptors, with
    // HID interfaces up to the one being used.
    void DeviceShown(uint8_t address, uint8_t interfaceNumber, uint16_t vendorId,
                     uint16_t productId, uint16_t release, const std::u16string& serial);
    void InputReport(uint8_t address, uint8_t interfaceNumber, const uint8_t* data, size_t length);
    // A read that failed because the device is gone.
    void ReadFailed(uint8_t address, uint8_t interfaceNumber);
    void FeatureSent(uint8_t address, uint8_t interfaceNumber, const uint8_t* data, size_t length,
                     bool accepted);
    // A feature report the tool asked for with a buffer of `asked` bytes:
    // the answer's `length` bytes, or a stall when not `answered`.
    void FeatureRead(uint8_t address, uint8_t interfaceNumber, uint8_t reportId, uint16_t asked,
                     const uint8_t* data, size_t length, bool answered);

    bool Recording() const;

  private:
    enum class Kind : uint8_t {
        kDeviceShown,
        kInputReport,
        kReadFailed,
        kFeatureSent,
        kFeatureRead
    };
    struct Entry {
        std::chrono::steady_clock::time_point at;
        Kind kind = Kind::kInputReport;
        bool ok = true;
        uint8_t address = 0;
        uint8_t interfaceNumber = 0;
        uint16_t vendorId = 0, productId = 0, release = 0;
        uint16_t length = 0;
        uint8_t reportId = 0;  // a feature read's
        uint16_t asked = 0;    // ... and its buffer
        uint8_t bytes[kMaxEntryBytes];
    };

    // Takes the lock into `lock` and returns the entry to fill while it is
    // held; null when the transfer is not to be recorded. Either way the lock
    // stays held until the caller's `lock` goes.
    Entry* Slot(std::unique_lock<std::mutex>& lock, Kind kind, uint8_t address);
    void WriterLoop();
    void Encode(const Entry& e, std::vector<uint8_t>& out);
    uint64_t Micros(std::chrono::steady_clock::time_point at) const;

    const size_t capacity;
    std::unique_ptr<SideFile> file;  // the writer's alone once it runs
    std::thread writer;
    uint64_t nextIrp = 1;
    std::chrono::steady_clock::time_point steadyOrigin;
    uint64_t wallOriginMicros = 0;

    mutable std::mutex mtx;
    std::condition_variable wake;
    std::vector<Entry> pending;  // capacity reserved by Create: adding never allocates
    bool recording = false;
    bool overflowed = false;
    bool stopRequested = false;
};

}  // namespace brisk::capture
