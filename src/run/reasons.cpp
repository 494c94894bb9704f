#include "run/reasons.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/format.h"

namespace brisk {
namespace {

unsigned long long Ull(uint64_t v) {
    return static_cast<unsigned long long>(v);
}

double Flag(bool raised) {
    return raised ? 1.0 : 0.0;
}

// "1 present error", "3 present errors".
std::string Counted(uint64_t n, const char* one, const char* many) {
    return Format("%llu %s", Ull(n), n == 1 ? one : many);
}

std::string LostWords(const char* device, const PartPresence& p) {
    return p.lastLostAt >= 0 ? Format("%s lost at %.1f s and not back", device, p.lastLostAt)
                             : Format("%s lost and not back", device);
}

using Figure = double (*)(const RunTotals&);
using Words = std::string (*)(const RunTotals&);

// One way a run can fail. A row is raised when its figure is above its
// limit: 0 unless --fail-on gives one. Rows without a --fail-on name always
// count; the others count only when asked and are otherwise findings.
struct ReasonRow {
    const char* code;
    RunPart part;
    const char* failOnName;  // nullptr: counted by default, not an item of --fail-on
    Figure figure;
    Figure base;  // what a limit in % is a share of; nullptr: the item takes no limit
    Words words;
};

// clang-format off
const ReasonRow kReasonRows[] = {
    {"imu_not_started", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return Flag(t.imuTried && !t.imuStarted); }, nullptr,
     [](const RunTotals&) { return std::string("the IMU stream did not start"); }},
    {"display_init_failed", RunPart::kDisplay, nullptr,
     [](const RunTotals& t) { return Flag(t.displayInitFailed); }, nullptr,
     [](const RunTotals&) { return std::string("the display could not be initialised"); }},
    {"display_lost", RunPart::kDisplay, nullptr,
     [](const RunTotals& t) { return Flag(t.displayLost); }, nullptr,
     [](const RunTotals& t) { return t.displayLostAt >= 0 ? Format("display lost at %.1f s", t.displayLostAt) : std::string("display lost"); }},
    {"no_frames", RunPart::kDisplay, nullptr,
     [](const RunTotals& t) { return Flag(t.displayTested && !t.displayInitFailed && !t.displayLost && t.frames == 0); }, nullptr,
     [](const RunTotals&) { return std::string("no frames presented"); }},
    {"present_errors", RunPart::kDisplay, nullptr,
     [](const RunTotals& t) { return t.displayTested ? static_cast<double>(t.presentErrors) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.presentErrors, "present error", "present errors"); }},
    {"no_imu_samples", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return Flag(t.imuTried && t.imuStarted && t.imuSamples == 0); }, nullptr,
     [](const RunTotals&) { return std::string("no IMU samples"); }},
    {"imu_lost", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return Flag(t.imu.watched && !t.imu.presentAtEnd); }, nullptr,
     [](const RunTotals& t) { return LostWords("IMU", t.imu); }},
    {"mcu_lost", RunPart::kMcu, nullptr,
     [](const RunTotals& t) { return Flag(t.mcu.watched && !t.mcu.presentAtEnd); }, nullptr,
     [](const RunTotals& t) { return LostWords("MCU", t.mcu); }},
    {"imu_gaps", RunPart::kImu, "gaps",
     [](const RunTotals& t) { return static_cast<double>(t.imuSeqGaps); },
     [](const RunTotals& t) { return static_cast<double>(t.imuSamples); },
     [](const RunTotals& t) { return Counted(t.imuSeqGaps, "IMU sequence gap", "IMU sequence gaps") + Format(" in %llu samples", Ull(t.imuSamples)); }},
    {"imu_stalls", RunPart::kImu, "stalls",
     [](const RunTotals& t) { return static_cast<double>(t.imuStalls); },
     [](const RunTotals& t) { return t.runSeconds; },
     [](const RunTotals& t) { return Counted(t.imuStalls, "IMU stall", "IMU stalls") + Format(" in %.1f s", t.runSeconds); }},
    {"imu_absent", RunPart::kImu, "imu-absent",
     [](const RunTotals& t) { return t.imu.secondsWithout; },
     [](const RunTotals& t) { return t.runSeconds; },
     [](const RunTotals& t) { return Format("IMU absent for %.1f s of %.1f s", t.imu.secondsWithout, t.runSeconds); }},
    {"wait_timeouts", RunPart::kDisplay, "wait-timeouts",
     [](const RunTotals& t) { return t.displayTested ? static_cast<double>(t.waitTimeouts) : 0.0; },
     [](const RunTotals& t) { return t.runSeconds; },
     [](const RunTotals& t) { return Counted(t.waitTimeouts, "display wait time-out", "display wait time-outs") + Format(" in %.1f s", t.runSeconds); }},
    {"imu_health", RunPart::kImu, "imu-health",
     [](const RunTotals& t) { return Flag(!t.imuHealthFlags.empty()); }, nullptr,
     [](const RunTotals& t) { return "IMU health: " + t.imuHealthFlags; }},
    {"optical_dead", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return t.optical.checked ? static_cast<double>(t.optical.dead) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.optical.dead, "dead photodiode", "dead photodiodes") + " (" + t.optical.deadChannels + ")"; }},
    {"optical_weak", RunPart::kImu, "optical-weak",
     [](const RunTotals& t) { return t.optical.checked ? static_cast<double>(t.optical.weak) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.optical.weak, "weak photodiode", "weak photodiodes") + " (" + t.optical.weakChannels + ")"; }},
    {"optical_abnormal", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return t.optical.checked ? static_cast<double>(t.optical.abnormal) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.optical.abnormal, "abnormal photodiode", "abnormal photodiodes") + " (" + t.optical.abnormalChannels + ")"; }},
    {"optical_light_stall", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return t.optical.checked ? static_cast<double>(t.optical.lightStalls) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.optical.lightStalls, "light stall", "light stalls") + " while the IMU went on"; }},
    {"optical_not_judged", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return Flag(t.optical.checked && t.optical.judgedRequired && !t.optical.judged); }, nullptr,
     [](const RunTotals&) { return std::string("no base station in view: no photodiode judged"); }},
    {"optical_station_missing", RunPart::kImu, nullptr,
     [](const RunTotals& t) { return t.optical.checked ? static_cast<double>(t.optical.missingStations) : 0.0; }, nullptr,
     [](const RunTotals& t) { return Counted(t.optical.missingStations, "expected base station", "expected base stations") + " not seen (" + t.optical.missingStationNames + ")"; }},
};
// clang-format on

const ReasonRow* RowNamed(std::string_view failOnName) {
    for (const ReasonRow& row : kReasonRows) {
        if (row.failOnName != nullptr && failOnName == row.failOnName) {
            return &row;
        }
    }
    return nullptr;
}

// "12", "0.5", "5%": digits, optionally a point and more digits, optionally
// a percent sign.
bool ParseLimit(std::string_view text, FailLimit& out) {
    out.share = !text.empty() && text.back() == '%';
    if (out.share) {
        text.remove_suffix(1);
    }
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!digits(whole) || (point != std::string_view::npos && !digits(fraction))) {
        return false;
    }
    out.value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(out.value);
}

bool ParseItem(std::string_view item, FailOn& into, std::string& error) {
    const size_t gt = item.find('>');
    const std::string_view name = item.substr(0, gt);
    const ReasonRow* row = RowNamed(name);
    std::string quoted(1, '\'');
    quoted.append(item).append(1, '\'');
    if (row == nullptr) {
        error = "--fail-on: unknown item " + quoted + " (expected " + FailOnNames() + ")";
        return false;
    }
    FailLimit limit;
    if (gt != std::string_view::npos) {
        if (row->base == nullptr) {
            error = "--fail-on: " + quoted + ": " + std::string(name) + " takes no limit";
            return false;
        }
        if (!ParseLimit(item.substr(gt + 1), limit)) {
            error = "--fail-on: " + quoted + ": expected " + std::string(name) + ">N or " +
                    std::string(name) + ">P%";
            return false;
        }
        if (limit.share && limit.value > 100.0) {
            error = "--fail-on: " + quoted + ": a share is at most 100%";
            return false;
        }
    }
    into.limits[row->code] = limit;
    return true;
}

// "gaps>0.1%": the item as --fail-on spells it.
std::string ItemText(const ReasonRow& row, const FailLimit& limit) {
    if (row.base == nullptr) {
        return row.failOnName;
    }
    return Format("%s>%g%s", row.failOnName, limit.value, limit.share ? "%" : "");
}

double Share(double figure, double base) {
    if (base > 0) {
        return 100.0 * figure / base;
    }
    return figure > 0 ? 100.0 : 0.0;
}

}  // namespace

bool ParseFailOn(std::string_view list, FailOn& into, std::string& error) {
    size_t begin = 0;
    while (true) {
        const size_t comma = list.find(',', begin);
        const std::string_view item = list.substr(begin, comma - begin);
        if (item.empty()) {
            error = "--fail-on: empty item in '" + std::string(list) + "'";
            return false;
        }
        if (!ParseItem(item, into, error)) {
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        begin = comma + 1;
    }
}

std::string FailOnNames() {
    std::string names;
    for (const ReasonRow& row : kReasonRows) {
        if (row.failOnName != nullptr) {
            names.append(names.empty() ? "" : ", ").append(row.failOnName);
        }
    }
    return names;
}

std::vector<Reason> RaisedReasons(const RunTotals& t, const FailOn& failOn) {
    std::vector<Reason> raised;
    for (const ReasonRow& row : kReasonRows) {
        const auto asked = failOn.limits.find(row.code);
        const bool counted = row.failOnName == nullptr || asked != failOn.limits.end();
        const FailLimit limit = asked != failOn.limits.end() ? asked->second : FailLimit{};
        const double figure = row.figure(t);
        const double share = row.base != nullptr ? Share(figure, row.base(t)) : 0.0;
        if ((limit.share ? share : figure) <= limit.value) {
            continue;
        }
        std::string text = row.words(t);
        if (asked != failOn.limits.end() && row.base != nullptr) {
            text += limit.share ? Format(" (%.3g%%, limit %s)", share, ItemText(row, limit).c_str())
                                : " (limit " + ItemText(row, limit) + ")";
        }
        raised.push_back({row.code, std::move(text), counted, row.part});
    }
    for (const IdentityFinding& f : t.identity) {
        raised.push_back({f.code, f.text, t.identityChecked, RunPart::kImu});
    }
    return raised;
}

bool AnyCounted(const std::vector<Reason>& reasons) {
    for (const Reason& r : reasons) {
        if (r.counted) {
            return true;
        }
    }
    return false;
}

namespace {

std::string Joined(const std::vector<Reason>& reasons, bool counted,
                   const std::string Reason::*field, const char* separator) {
    std::string joined;
    for (const Reason& r : reasons) {
        if (r.counted == counted) {
            // Appended piece by piece: MinGW's gcc 12 at -O3 sees overlap in
            // a literal + string (-Wrestrict).
            joined.append(joined.empty() ? "" : separator).append(r.*field);
        }
    }
    return joined;
}

}  // namespace

std::string JoinedTexts(const std::vector<Reason>& reasons, bool counted) {
    return Joined(reasons, counted, &Reason::text, "; ");
}

std::string JoinedCodes(const std::vector<Reason>& reasons, bool counted) {
    return Joined(reasons, counted, &Reason::code, ";");
}

std::string FormatReasonsLine(const std::vector<Reason>& reasons) {
    std::string line;
    for (const Reason& r : reasons) {
        if (r.counted) {
            line.append(line.empty() ? "REASONS: " : "; ")
                .append(r.code)
                .append(" — ")
                .append(r.text);
        }
    }
    return line.empty() ? line : line + "\n";
}

}  // namespace brisk
