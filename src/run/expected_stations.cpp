#include "run/expected_stations.h"

#include <algorithm>

#include "base/digits.h"
#include "base/format.h"

namespace brisk {
namespace {

constexpr size_t kIdDigits = 8;

std::optional<ExpectedStation> ParseItem(std::string_view item) {
    if (item.size() == kIdDigits) {
        uint32_t id = 0;
        for (char c : item) {
            const int digit = HexDigitValue(c);
            if (digit < 0) {
                return std::nullopt;
            }
            id = id << 4 | static_cast<uint32_t>(digit);
        }
        return ExpectedStation{ExpectedStation::Kind::kId, id};
    }
    if (item.empty() || item.size() > 2 ||
        !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    uint32_t channel = 0;
    for (char c : item) {
        channel = channel * 10 + static_cast<uint32_t>(c - '0');
    }
    if (channel > kMaxStationChannel) {
        return std::nullopt;
    }
    return ExpectedStation{ExpectedStation::Kind::kChannel, channel};
}

}  // namespace

std::optional<std::vector<ExpectedStation>> ParseExpectedStations(std::string_view text) {
    std::vector<ExpectedStation> out;
    while (true) {
        const size_t comma = text.find(',');
        const std::optional<ExpectedStation> item = ParseItem(text.substr(0, comma));
        if (!item || std::find(out.begin(), out.end(), *item) != out.end()) {
            return std::nullopt;
        }
        out.push_back(*item);
        if (comma == std::string_view::npos) {
            return out;
        }
        text.remove_prefix(comma + 1);
    }
}

std::string ExpectedStationName(const ExpectedStation& station) {
    return station.kind == ExpectedStation::Kind::kId
               ? Format("id %08X", static_cast<unsigned>(station.value))
               : Format("channel %u", static_cast<unsigned>(station.value));
}

}  // namespace brisk
