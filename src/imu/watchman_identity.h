// Reading who the Watchman is (--identity) over the IMU's own handle: the
// identity reader's requests sent as HID feature reads, a few at a time so
// that a caller on the reader thread can interleave them with the stream's
// reads, and what the run knows of the unit's USB serial.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "identity/identity_reader.h"
#include "platform/hid.h"

namespace brisk {

// What the run was asked to read and to expect.
struct IdentityOptions {
    bool read = false;  // --identity
    identity::StationExpectations expect;
    bool serialFromOption = false;    // --imu-serial named the unit
    double countsPerGOverride = 0.0;  // > 0: --counts-per-g, over the range's scale
};

// One identity read in progress on one open handle. Not thread-safe: the
// thread that owns the handle drives it.
class IdentityRead {
  public:
    // A read stops asking after its budget; what is left reads as
    // unanswered. At bring-up it runs alone: far above a sound read (tens of
    // milliseconds on a real unit), far below a run. After a reconnect it
    // goes a few requests per IMU report, so it is given longer.
    static constexpr std::chrono::milliseconds kBringUpBudget{2000};
    static constexpr std::chrono::milliseconds kInterleavedBudget{10000};

    // Starts a fresh read of `device`, which must stay open until the read
    // ends or Abandon().
    void Begin(Handle device, std::chrono::milliseconds budget);
    void Abandon() { active = false; }
    bool Active() const { return active; }

    // Sends up to `requests` requests. True when the read has just ended:
    // Result() then holds all of it.
    bool Step(HidHost& host, int requests);
    // On a host that cannot ask for feature reports at all, each
    // unreadable item says so rather than counting tries never made.
    identity::Identity Result() const;

  private:
    // The answer to one request, from the host's feature read.
    identity::FeatureAnswer Ask(HidHost& host, const identity::FeatureRequest& request);

    identity::IdentityReader reader;
    Handle device = nullptr;
    bool active = false;
    bool hostCannotAsk = false;  // the host said it has no feature reads: ask no more
    std::chrono::steady_clock::time_point deadline{};
    uint8_t buf[256] = {};
};

// What the run knows of the unit's USB serial, for the checks and the summary.
struct UsbSerialFact {
    std::optional<std::string> serial;  // compared with the configuration's; absent: not
    std::string source;                 // "device", "option", "chosen by brisk-sim"; "": none
    std::string shown;                  // the serial as chosen, for the summary; "": none
};

// What the identity reads found (--identity).
struct WatchmanIdentity {
    uint32_t reads = 0;           // finished: the bring-up's, then one per reconnect
    identity::Identity identity;  // the latest
    UsbSerialFact usbSerial;      // of the unit the latest read was of
    // The latest read's AllProblems, then every different unit noticed
    // after a reconnect ("watchman_changed").
    identity::Problems problems;
    double lastReadMs = 0.0;  // how long the latest read took
};

// `chosen` is the serial the IMU was opened by. A serial the launcher chose
// itself (brisk-sim for a capture that holds none) is shown but never compared.
UsbSerialFact UsbSerialOf(const std::string& chosen, bool fromOption);

// Said once, before the run, by a launcher that invents the Watchman's USB
// serial (brisk-sim replaying a capture without one).
void SetSerialChosenByLauncher(std::string serial);

}  // namespace brisk
