// What a printed line marks, handed to the output listener beside its text:
// the run log keeps it as data, so that nothing downstream has to recognise a
// line by its words (which may change). Header only: brisk-report reads the
// names without any platform code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brisk {

enum class LineEvent : uint8_t {
    kNone,
    kImuLost,
    kImuBack,
    kMcuLost,
    kMcuBack,
    kDonned,
    kDoffed,
    kFreeRunBegin,
    kFreeRunEnd,
    kDisplayLost,
    kPresentResult,
    kImuResult,
    kVerdict,
};

// Names in the run log's `event` column, by LineEvent; "" for kNone.
inline constexpr std::array<std::string_view, 13> kLineEventNames = {
    "",        "imu_lost",       "imu_back",     "mcu_lost",     "mcu_back",       "donned",
    "doffed",  "free_run_begin", "free_run_end", "display_lost", "present_result", "imu_result",
    "verdict",
};
static_assert(kLineEventNames.size() == static_cast<size_t>(LineEvent::kVerdict) + 1);

constexpr std::string_view LineEventName(LineEvent event) {
    const auto i = static_cast<size_t>(event);
    return i < kLineEventNames.size() ? kLineEventNames[i] : std::string_view();
}

// An unknown name is kNone.
constexpr LineEvent LineEventFromName(std::string_view name) {
    for (size_t i = 1; i < kLineEventNames.size(); ++i) {
        if (name == kLineEventNames[i]) {
            return static_cast<LineEvent>(i);
        }
    }
    return LineEvent::kNone;
}

}  // namespace brisk
