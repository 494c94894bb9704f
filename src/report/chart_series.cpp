#include "report/chart_series.h"

#include "report/page_text.h"
#include "report/run_periods.h"
#include "report/series.h"

namespace brisk::report {
namespace {

// The first event of a kind; NaN when there is none.
double FirstOf(const std::vector<LogEvent>& events, EventKind kind) {
    for (const LogEvent& e : events) {
        if (e.kind == kind) {
            return e.elapsed;
        }
    }
    return NAN;
}

bool Inside(double t, const std::vector<Span>& periods) {
    for (const Span& p : periods) {
        if (t > p.from && t <= p.to) {
            return true;
        }
    }
    return false;
}

// Leaves out the values of `series` in the rows `stale` picks; how many rows.
template <typename Stale>
size_t LeaveOutRows(StatusSeries& s, std::initializer_list<std::vector<float>*> series,
                    Stale stale) {
    size_t rows = 0;
    for (size_t i = 0; i < s.Size(); ++i) {
        if (stale(i)) {
            for (std::vector<float>* v : series) {
                (*v)[i] = NAN;
            }
            ++rows;
        }
    }
    return rows;
}

// The rate of the rows after a part's end leaves the chart: the row the part
// stopped inside counted only part of its second. Scaling it by the part's
// share of the second would make a rate of the few frames of a short share;
// its frames are in the totals.
void LeaveOutAfter(ChartSeries& c, double end, std::initializer_list<std::vector<float>*> series,
                   const char* chart, const char* part) {
    const StatusSeries& s = c.status;
    size_t first = s.Size();
    for (size_t i = s.Size(); i-- > 0 && s.elapsed[i] > end;) {
        first = i;
    }
    if (std::isnan(end) || first == s.Size()) {
        return;
    }
    LeaveOutRows(c.status, series, [first](size_t i) { return i >= first; });
    const double from = first > 0 ? s.elapsed[first - 1] : 0.0;
    std::string note;
    Fmt(note, "%s leaves out the status row at %s: %s ended %.3f s into its %.3f s", chart,
        Seconds(s.elapsed[first]).c_str(), part, end - from, s.elapsed[first] - from);
    if (s.Size() - first > 1) {
        Fmt(note, ", and the %zu rows after it", s.Size() - first - 1);
    }
    c.notes.push_back(note + ".");
}

void BreakStaleImuReadings(ChartSeries& c) {
    StatusSeries& s = c.status;
    const size_t rows = LeaveOutRows(s, {&s.accelMag, &s.gyroX, &s.gyroY, &s.gyroZ},
                                     [&](size_t i) { return s.imuHz[i] == 0.0f; });
    if (rows > 0) {
        Fmt(c.notes.emplace_back(),
            "The accelerometer and gyroscope lines break at the %zu status rows with no new IMU "
            "sample: those rows hold the last reading.",
            rows);
    }
}

void BreakDistanceWhileMcuGone(ChartSeries& c, const LoggedRun& log) {
    const std::vector<Span> gone = LostPeriods(log, EventKind::McuLost, EventKind::McuBack);
    StatusSeries& s = c.status;
    const size_t rows = LeaveOutRows(s, {&s.proxDistance}, [&](size_t i) {
        return !std::isnan(s.proxDistance[i]) && Inside(s.elapsed[i], gone);
    });
    if (rows > 0) {
        Fmt(c.notes.emplace_back(),
            "The proximity line breaks at the %zu status rows while the MCU was gone: those rows "
            "hold its last distance.",
            rows);
    }
}

void NoteMissingRows(ChartSeries& c) {
    const std::vector<double>& t = c.status.elapsed;
    size_t gaps = 0;
    double from = 0.0, to = 0.0;
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] - t[i - 1] > c.rowGapLimit) {
            if (gaps++ == 0) {
                from = t[i - 1];
                to = t[i];
            }
        }
    }
    if (gaps == 1) {
        Fmt(c.notes.emplace_back(), "No status rows between %s and %s: every line breaks there.",
            Seconds(from).c_str(), Seconds(to).c_str());
    } else if (gaps > 1) {
        Fmt(c.notes.emplace_back(),
            "Status rows are missing in %zu places (the first between %s and %s): every line "
            "breaks there.",
            gaps, Seconds(from).c_str(), Seconds(to).c_str());
    }
}

}  // namespace

ChartSeries SeriesToDraw(const LoggedRun& log) {
    ChartSeries c;
    c.status = log.status;
    c.rowGapLimit = RowGapLimit(c.status.elapsed);
    StatusSeries& s = c.status;
    LeaveOutAfter(c, FirstOf(log.events, EventKind::PresentResult), {&s.fps, &s.frameGapMs},
                  "The frames chart", "the present loop");
    LeaveOutAfter(c, FirstOf(log.events, EventKind::ImuResult), {&s.imuHz}, "The IMU rate line",
                  "the IMU stream");
    BreakStaleImuReadings(c);
    BreakDistanceWhileMcuGone(c, log);
    NoteMissingRows(c);
    return c;
}

}  // namespace brisk::report
