// The base stations a run expects to see (--expect-stations): each one a
// second-generation channel, or the OOTX id a station of either generation
// broadcasts. Pure: parsing the option and naming an item.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisk {

struct ExpectedStation {
    enum class Kind { kChannel, kId };
    Kind kind = Kind::kChannel;
    uint32_t value = 0;  // the channel, 0-15, as OPTICAL RESULT prints it; or the id
    bool operator==(const ExpectedStation&) const = default;
};

constexpr uint32_t kMaxStationChannel = 15;

// A comma-separated list: a channel as one or two decimal digits (0-15),
// or an id as exactly eight hexadecimal digits (either case). Empty items,
// other lengths, and an item given twice make the whole list nothing.
std::optional<std::vector<ExpectedStation>> ParseExpectedStations(std::string_view text);

// "channel 3", "id 925017E7".
std::string ExpectedStationName(const ExpectedStation& station);

}  // namespace brisk
