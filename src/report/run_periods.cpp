#include "report/run_periods.h"

#include <algorithm>
#include <cmath>

namespace brisk::report {

double RunEnd(const LoggedRun& log) {
    return log.summary.present ? log.summary.elapsed : log.lastElapsed;
}

std::vector<Span> LostPeriods(const LoggedRun& log, EventKind lost, EventKind back) {
    std::vector<Span> periods;
    bool gone = false;
    for (const LogEvent& e : log.events) {
        if (e.kind == lost && !gone) {
            periods.push_back(Span{e.elapsed, e.elapsed});
            gone = true;
        } else if (e.kind == back && gone) {
            periods.back().to = std::max(e.elapsed, periods.back().from);
            gone = false;
        }
    }
    if (gone) {
        periods.back().to = std::max(RunEnd(log), periods.back().from);
    }
    return periods;
}

double SecondsWithoutImu(const LoggedRun& log) {
    const std::vector<Span> lost = LostPeriods(log, EventKind::ImuLost, EventKind::ImuBack);
    if (lost.empty() && log.status.Size() == 0) {
        return NAN;
    }
    double total = 0.0;
    for (const Span& s : lost) {
        total += s.to - s.from;
    }
    return total;
}

LostAndBack CountLostAndBack(const std::vector<LogEvent>& events, EventKind lost, EventKind back) {
    LostAndBack n;
    for (const LogEvent& e : events) {
        n.lost += e.kind == lost ? 1 : 0;
        n.back += e.kind == back ? 1 : 0;
    }
    return n;
}

}  // namespace brisk::report
