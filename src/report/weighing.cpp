#include "report/weighing.h"

#include <string_view>
#include <utility>

#include "report/page_text.h"

namespace brisk::report {
namespace {

bool Names(const std::string& reasons, std::string_view what) {
    return reasons.find(what) != std::string::npos;
}

// Whether `list`, split at `separator`, holds `item`.
bool Holds(std::string_view list, char separator, std::string_view item) {
    while (!list.empty()) {
        const size_t end = list.find(separator);
        if (list.substr(0, end) == item) {
            return true;
        }
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    }
    return false;
}

// When the last `lost` had no `back` after it: its time; NaN otherwise.
double GoneSince(const std::vector<LogEvent>& events, EventKind lost, EventKind back) {
    double since = NAN;
    for (const LogEvent& e : events) {
        if (e.kind == lost && std::isnan(since)) {
            since = e.elapsed;
        } else if (e.kind == back) {
            since = NAN;
        }
    }
    return since;
}

}  // namespace

bool HealthFlagsWeighed(const LoggedSummary& summary) {
    return summary.reasonsLogged ? Holds(summary.failCodes, ';', "imu_health")
                                 : Names(summary.failReasons, "IMU health");
}

std::string WhyHealthNotWeighed(const LoggedRun& log) {
    if (log.summary.reasonsLogged) {
        return Holds(log.summary.notedCodes, ';', "imu_health")
                   ? "the run did not ask for it: --imu-health, or imu-health in --fail-on"
                   : "";
    }
    return Holds(log.run.commandLine, ' ', "--imu-health")
               ? ""
               : "the run was made without --imu-health";
}

std::vector<UnweighedFinding> FindingsNotWeighed(const LoggedRun& log) {
    std::vector<UnweighedFinding> findings;
    const LoggedSummary& s = log.summary;
    if (!s.present) {
        return findings;
    }
    if (s.reasonsLogged) {
        if (!s.notedReasons.empty()) {
            findings.push_back({s.notedReasons, "no --fail-on item asked for them"});
        }
        return findings;
    }
    if (!s.imuHealth.flags.empty() && !HealthFlagsWeighed(s)) {
        findings.push_back(
            {"the IMU health flags (" + s.imuHealth.flags + ")", WhyHealthNotWeighed(log)});
    }
    // Before the reasons table no verdict weighed a device that was gone.
    const std::pair<EventKind, EventKind> devices[] = {
        {EventKind::ImuLost, EventKind::ImuBack},
        {EventKind::McuLost, EventKind::McuBack},
    };
    for (const auto& [lost, back] : devices) {
        const double since = GoneSince(log.events, lost, back);
        if (!std::isnan(since)) {
            findings.push_back({std::string("the ") + (lost == EventKind::ImuLost ? "IMU" : "MCU") +
                                    ", lost at " + Seconds(since) + " and not back",
                                ""});
        }
    }
    return findings;
}

}  // namespace brisk::report
