#include "report/fleet_rows.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "report/page_text.h"
#include "report/run_periods.h"

namespace brisk::report {
namespace {

// The last value a running-total series holds: the totals of a run that
// stopped before its summary.
double LastOf(const std::vector<float>& series) {
    for (auto it = series.rbegin(); it != series.rend(); ++it) {
        if (!std::isnan(*it)) {
            return *it;
        }
    }
    return NAN;
}

// The larger, where NaN means "no figure" rather than "unknown".
double Worse(double a, double b) {
    return std::isnan(a) ? b : std::isnan(b) ? a : std::max(a, b);
}

// A count the summary logged, else the one counted here.
uint64_t Or(double logged, uint64_t counted) {
    return !(logged >= 0 && logged < 1e15) ? counted : static_cast<uint64_t>(std::llround(logged));
}

std::string Count(double v) {
    return std::isnan(v) ? std::string() : std::to_string(std::llround(v));
}

}  // namespace

FleetRun SummariseRun(const LoggedRun& log, std::string logName) {
    FleetRun run;
    run.logName = std::move(logName);
    run.station = log.run.station;
    run.imuSerial = log.run.imuSerial;
    run.started = log.firstTime;
    const LoggedSummary& s = log.summary;
    if (log.dataRows > 0) {
        run.durationS = s.present ? s.elapsed : log.lastElapsed;
    }
    if (s.present) {
        run.verdict = s.verdict.empty() ? "NO VERDICT" : s.verdict;
        run.outcome = s.verdict.starts_with("PASS") ? RunOutcome::Pass : RunOutcome::Fail;
        run.reasons = s.failReasons;
        run.seqGaps = s.imuSeqGaps;
        run.stalls = s.imuStalls;
    } else {
        run.verdict = "NO VERDICT";
        run.outcome = RunOutcome::Unfinished;
        run.reasons = "did not finish: the log stops at elapsed " + Seconds(log.lastElapsed);
        run.seqGaps = LastOf(log.status.seqGaps);
        run.stalls = LastOf(log.status.stalls);
    }
    if (!log.stopReason.empty()) {
        run.reasons += (run.reasons.empty() ? "" : "; ") + log.stopReason;
    }
    run.p99Ms = s.p99Ms;
    run.waitTimeouts = s.waitTimeouts;
    // The tool's own figures where its summary has them; else (older logs, a
    // run that did not finish) the log's events and status rows.
    run.withoutImuS = std::isnan(s.imuAbsentS) ? SecondsWithoutImu(log) : s.imuAbsentS;
    const LostAndBack imu = CountLostAndBack(log.events, EventKind::ImuLost, EventKind::ImuBack);
    const LostAndBack mcu = CountLostAndBack(log.events, EventKind::McuLost, EventKind::McuBack);
    run.imuLost = Or(s.imuLost, imu.lost);
    run.reconnects = Or(s.imuBack, imu.back);
    run.mcuLost = Or(s.mcuLost, mcu.lost);
    run.mcuBack = Or(s.mcuBack, mcu.back);
    run.firmware = FirmwareCell(log.watchmanFirmware);
    run.identity = log.watchmanProblems == "none" ? "sound" : log.watchmanProblems;
    // The summary's count; a log whose summary lost it (cut off, damaged)
    // still has the photodiode rows written just before.
    run.deadPhotodiodes = s.photodiodesDead;
    if (std::isnan(run.deadPhotodiodes) && !log.photodiodes.empty()) {
        run.deadPhotodiodes = static_cast<double>(std::count_if(
            log.photodiodes.begin(), log.photodiodes.end(),
            [](const LoggedPhotodiode& p) { return p.state == LoggedPdState::kDead; }));
    }
    for (const LogEvent& e : log.events) {
        run.donned += e.kind == EventKind::Donned ? 1 : 0;
        run.doffed += e.kind == EventKind::Doffed ? 1 : 0;
    }
    return run;
}

FleetRun UnreadableRun(std::string logName, std::string problem) {
    FleetRun run;
    run.logName = std::move(logName);
    run.problem = std::move(problem);
    run.outcome = RunOutcome::Unreadable;
    return run;
}

std::vector<SerialFigures> BySerial(const std::vector<FleetRun>& runs) {
    std::map<std::string, SerialFigures> bySerial;
    std::map<std::string, std::set<std::string>> stations;
    for (const FleetRun& run : runs) {
        if (run.outcome == RunOutcome::Unreadable) {
            continue;
        }
        SerialFigures& f = bySerial[run.imuSerial];
        f.imuSerial = run.imuSerial;
        ++f.runs;
        f.passes += run.outcome == RunOutcome::Pass ? 1 : 0;
        f.worstP99Ms = Worse(f.worstP99Ms, run.p99Ms);
        f.mostSeqGaps = Worse(f.mostSeqGaps, run.seqGaps);
        f.mostStalls = Worse(f.mostStalls, run.stalls);
        f.mostReconnects = std::max(f.mostReconnects, run.reconnects);
        stations[run.imuSerial].insert(run.station);
    }
    std::vector<SerialFigures> out;
    for (auto& [serial, f] : bySerial) {
        f.stations.assign(stations[serial].begin(), stations[serial].end());
        out.push_back(std::move(f));
    }
    // The map sorts the empty serial first; a run without an IMU reads best last.
    if (!out.empty() && out.front().imuSerial.empty()) {
        std::rotate(out.begin(), out.begin() + 1, out.end());
    }
    return out;
}

int OutcomeRank(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Fail:
            return 0;
        case RunOutcome::Unfinished:
            return 1;
        case RunOutcome::Pass:
            return 2;
        case RunOutcome::Unreadable:
            break;
    }
    return 3;
}

void SortRuns(std::vector<FleetRun>& runs) {
    std::stable_sort(runs.begin(), runs.end(), [](const FleetRun& a, const FleetRun& b) {
        const int aRank = OutcomeRank(a.outcome), bRank = OutcomeRank(b.outcome);
        if (aRank != bRank || a.outcome == RunOutcome::Unreadable) {
            return aRank < bRank;
        }
        return std::tie(a.station, a.started, a.logName) <
               std::tie(b.station, b.started, b.logName);
    });
}

std::array<std::string, kRunColumns.size()> RunCells(const FleetRun& run) {
    std::array<std::string, kRunColumns.size()> cells;
    cells[0] = run.logName;
    if (run.outcome == RunOutcome::Unreadable) {
        cells[5] = "NOT READ";
        cells[6] = run.problem;
        return cells;
    }
    cells[1] = run.station;
    cells[2] = run.imuSerial;
    cells[3] = StartText(run.started);
    cells[4] = std::isnan(run.durationS) ? std::string() : Clock(run.durationS, false);
    cells[5] = run.verdict;
    cells[6] = run.reasons;
    if (!std::isnan(run.withoutImuS)) {
        Fmt(cells[7], "%.1f", run.withoutImuS);
    }
    cells[8] = std::to_string(run.imuLost) + " / " + std::to_string(run.reconnects);
    cells[9] = std::to_string(run.mcuLost) + " / " + std::to_string(run.mcuBack);
    cells[10] = Count(run.waitTimeouts);
    if (!std::isnan(run.p99Ms)) {
        Fmt(cells[11], "%.2f", run.p99Ms);
    }
    cells[12] = Count(run.seqGaps);
    cells[13] = Count(run.stalls);
    cells[14] = std::to_string(run.donned);
    cells[15] = std::to_string(run.doffed);
    cells[16] = run.firmware;
    cells[17] = run.identity;
    cells[18] = Count(run.deadPhotodiodes);
    return cells;
}

std::array<double, kRunColumns.size()> RunSortValues(const FleetRun& run) {
    std::array<double, kRunColumns.size()> v;
    v.fill(NAN);
    v[5] = OutcomeRank(run.outcome);
    if (run.outcome == RunOutcome::Unreadable) {
        return v;
    }
    v[4] = run.durationS;
    v[7] = run.withoutImuS;
    v[8] = static_cast<double>(run.imuLost);
    v[9] = static_cast<double>(run.mcuLost);
    v[10] = run.waitTimeouts;
    v[11] = run.p99Ms;
    v[12] = run.seqGaps;
    v[13] = run.stalls;
    v[14] = static_cast<double>(run.donned);
    v[15] = static_cast<double>(run.doffed);
    v[18] = run.deadPhotodiodes;
    return v;
}

std::string FirmwareCell(const std::string& words) {
    static constexpr std::string_view kBuild = "build ";
    if (!words.starts_with(kBuild)) {
        return words;
    }
    const size_t end = words.find(',');
    return words.substr(kBuild.size(), end == std::string::npos ? end : end - kBuild.size());
}

std::string StartText(const std::string& loggedTime) {
    // 2026-12-08T12:57:14.123Z
    const std::string& t = loggedTime;
    const bool iso = t.size() == 24 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' &&
                     t[16] == ':' && t[19] == '.' && t[23] == 'Z';
    return iso ? t.substr(0, 10) + " " + t.substr(11, 8) + " UTC" : t;
}

}  // namespace brisk::report
