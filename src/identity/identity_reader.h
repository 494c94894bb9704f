// The whole identity read as one state machine: the version (0x05), the IMU
// range modes (0x01), then the factory configuration (0x10, 0x11 ...). The
// caller runs one loop:
//
//   IdentityReader reader;
//   while (auto request = reader.Next()) {
//       reader.Feed(<the answer to a feature read of request->reportId>);
//   }
//   Identity id = reader.Result();
//
// Each request that stalls or comes back empty is asked again, up to
// kMaxTries times; then that item counts as unreadable and the read moves
// on. An item the replayed capture does not hold is skipped without fault.
// No I/O and no clock here: the caller may spread the requests over its
// reader loop so that the IMU stream never waits on them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "identity/config_transfer.h"
#include "identity/feature_reports.h"
#include "identity/problem.h"
#include "identity/station.h"
#include "identity/watchman_config.h"

namespace brisk::identity {

struct Identity {
    std::optional<FirmwareVersion> firmware;  // absent: not read
    std::optional<ImuRange> range;
    std::shared_ptr<const WatchmanConfig> config;  // null: not in the replayed capture
    RequestTally tally;                            // every request, all three reads
    Problems problems;  // of the version and range reads; the configuration keeps its own
};

// Every problem, in the order the reasons list them: the reads, the
// configuration's own, then the station's checks (usbSerial absent when
// the device gave none or the capture holds none).
Problems AllProblems(const Identity& identity, const std::optional<std::string>& usbSerial,
                     const StationExpectations& expect);

class IdentityReader {
  public:
    explicit IdentityReader(int maxTries = kMaxTries) : maxTries(maxTries), config(maxTries) {}

    std::optional<FeatureRequest> Next() const;
    void Feed(const FeatureAnswer& answer);

    // What has been read so far (all of it once Next() names nothing).
    Identity Result() const;

  private:
    enum class Step { kVersion, kRange, kConfig, kDone };

    void FeedSmall(const FeatureAnswer& answer);
    Decoded Decode(const FeatureAnswer& answer, std::string& why);
    void Advance();

    int maxTries;
    Step step = Step::kVersion;
    int tries = 0;
    ConfigReader config;
    Identity identity;
};

}  // namespace brisk::identity
