#include "report/fleet_rows.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "report/page_text.h"

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
    for (const LogEvent& e : log.events) {
        run.reconnects += e.kind == EventKind::ImuBack ? 1 : 0;
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

void SortRuns(std::vector<FleetRun>& runs) {
    std::stable_sort(runs.begin(), runs.end(), [](const FleetRun& a, const FleetRun& b) {
        const bool aBad = a.outcome == RunOutcome::Unreadable;
        const bool bBad = b.outcome == RunOutcome::Unreadable;
        if (aBad || bBad) {
            return !aBad && bBad;
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
    if (!std::isnan(run.p99Ms)) {
        Fmt(cells[7], "%.2f", run.p99Ms);
    }
    cells[8] = Count(run.seqGaps);
    cells[9] = Count(run.stalls);
    cells[10] = std::to_string(run.reconnects);
    cells[11] = std::to_string(run.donned);
    cells[12] = std::to_string(run.doffed);
    return cells;
}

std::string StartText(const std::string& loggedTime) {
    // 2026-12-08T12:57:14.123Z
    const std::string& t = loggedTime;
    const bool iso = t.size() == 24 && t[4] == '-' && t[7] == '-' && t[10] == 'T' && t[13] == ':' &&
                     t[16] == ':' && t[19] == '.' && t[23] == 'Z';
    return iso ? t.substr(0, 10) + " " + t.substr(11, 8) + " UTC" : t;
}

}  // namespace brisk::report
