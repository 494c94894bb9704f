// The one loop of every HID device brisk reads (the IMU, the MCU, and any to
// come), on a ReaderThread. Each read waits at most a second; a report goes to
// the device; a silent read counts as the device's silence rule says. A device
// that fails a read, or stays silent too long, is closed first and its line
// printed after, so whoever reads the line never sees the state of before;
// then it is opened again every 2 s until it is back. Every open asks the OS
// for a deep input queue. A stop ends the loop without another line.
//
// What differs by device is its HidReaderClient: how to open it again, what a
// report means, what it counts and which lines it prints.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "device/reader_thread.h"
#include "platform/hid.h"

namespace brisk {

// The timings of every reader.
// A read waits this long for a report before it counts as silent.
constexpr uint32_t kReaderReadTimeoutMs = 1000;
// After a loss, the wait before each attempt to open the device again.
constexpr std::chrono::milliseconds kReaderReopenWait{2000};
// Silent reads in a row after which a device whose silence means that is gone.
constexpr int kReaderSilentReadsUntilGone = 3;
// The input queue asked of the OS on each open: half a second of a 1 kHz
// stream, the most Windows grants. Its default of 32 overflows when a busy
// machine runs the reader late.
constexpr uint32_t kReaderInputQueueDepth = 512;

// What a silent read says about a device.
enum class Silence {
    kMeansGone,  // kReaderSilentReadsUntilGone in a row: the device is gone
    kIsNormal,   // nothing: a device that may rightly say nothing for long
                 // (an optical sensor with no base station in view)
};

// Why a device was dropped.
struct DeviceLoss {
    enum class Cause { kSilent, kReadFailedAtOnce, kReadFailedAfterPending };
    Cause cause = Cause::kSilent;
    uint32_t error = 0;   // the failed read's error code
    int silentReads = 0;  // the silent reads in a row, for kSilent
};

// What a device adds to the loop. Every call comes on the reader thread.
class HidReaderClient {
  public:
    virtual ~HidReaderClient() = default;
    // Finds and opens the device again after a loss; kInvalidHandle while it
    // is not there. `readEvent` is the reader's, for reads the opening makes.
    virtual Handle Reopen(Handle readEvent) = 0;
    // A read brought `length` bytes (report ID first), at most the loop's
    // report size, that came at `arrivalNs` on the steady clock (the host's
    // word for it where it has one, else the time the read returned); any
    // read that completes ends a silence.
    virtual void OnReport(const uint8_t* report, size_t length, int64_t arrivalNs) = 0;
    // A read timed out, the `silentReads`th in a row; before the loss it may
    // bring.
    virtual void OnSilentRead(int silentReads) { (void)silentReads; }
    // The device has been closed: clear what is published of it, then print
    // its line.
    virtual void OnLost(const DeviceLoss& loss) = 0;
    // The device is open again: start a fresh connection and print its line.
    virtual void OnReopened() = 0;
};

class HidReaderLoop {
  public:
    // `name` begins the loop's own line ("TundraImu"); a read takes at most
    // `reportBytes`.
    HidReaderLoop(HidHost& host, const char* name, Silence silence, uint32_t reportBytes,
                  HidReaderClient& client);
    HidReaderLoop(const HidReaderLoop&) = delete;
    HidReaderLoop& operator=(const HidReaderLoop&) = delete;

    // The order of a start is ReaderThread's: CreateReadEvent, open the
    // device into Device(), Start; Abandon when a step fails.
    bool CreateReadEvent() { return thread.CreateReadEvent(); }
    Handle ReadEvent() const { return thread.ReadEvent(); }
    ReaderDevice& Device() { return thread.Device(); }
    // Runs the loop on the reader thread. False when no thread can be
    // started; the device and the event are closed then.
    bool Start();
    void Abandon() { thread.Abandon(); }
    // Ends a pending read at once, joins the reader, closes everything.
    void Stop() { thread.Stop(); }
    bool Running() const { return thread.Running(); }

  private:
    void Run();
    // A read that timed out, by the silence rule.
    void CountSilentRead();
    // Closes the device, then lets the client print.
    void Drop(const DeviceLoss& loss);
    // Waits, then tries once to open the device. False when asked to stop.
    bool WaitAndReopen();
    // Asks for kReaderInputQueueDepth on the open device. When the OS keeps
    // fewer, one line: "NAME: input queue of 512 reports refused, the OS keeps N".
    void AskForDeepQueue();

    HidHost& host;
    const char* const name;
    Silence const silence;
    uint32_t const reportBytes;
    HidReaderClient& client;
    ReaderThread thread;
    int silentReads = 0;  // the reader thread's own
};

}  // namespace brisk
