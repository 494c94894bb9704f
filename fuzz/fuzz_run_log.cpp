// brisk run logs, which come back from the field cut off by crashes, edited
// by hand or mixed up with other files: either a one-line reason why the file
// is not a run log, or a log read up to where it breaks, and a page made from
// it that keeps every event and stays well-formed text.
//
// Input: the file's bytes.
#include <cmath>
#include <sstream>

#include "fuzz_support.h"
#include "report/html.h"
#include "report/report_page.h"
#include "report/log_reader.h"

namespace {

using brisk::report::IsMarked;
using brisk::report::LogEvent;
using brisk::report::LoggedRun;

bool OneLine(const std::string& s) {
    return !s.empty() && s.find('\n') == std::string::npos && s.find('\r') == std::string::npos;
}

void CheckLog(const LoggedRun& log, size_t size) {
    const auto& s = log.status;
    const size_t n = s.elapsed.size();
    for (size_t m :
         {s.fps.size(), s.frameGapMs.size(), s.imuHz.size(), s.imuAgeS.size(), s.seqGaps.size(),
          s.stalls.size(), s.accelMag.size(), s.gyroX.size(), s.gyroY.size(), s.gyroZ.size(),
          s.proxDistance.size(), s.worn.size(), s.freeRun.size()}) {
        FUZZ_CHECK(m == n);
    }
    for (double t : s.elapsed) {
        FUZZ_CHECK(std::isfinite(t) && t >= 0.0 && t <= 1e9);
    }
    for (const LogEvent& e : log.events) {
        FUZZ_CHECK(std::isfinite(e.elapsed) && e.elapsed >= 0.0 && e.elapsed <= 1e9);
        FUZZ_CHECK(e.kind != brisk::report::EventKind::None);
    }
    // Every data row takes at least one byte (its row end or its last byte).
    FUZZ_CHECK(log.dataRows <= size);
    if (!log.stopReason.empty()) {
        FUZZ_CHECK(OneLine(log.stopReason));
        FUZZ_CHECK(log.stopRow >= 2 && log.stopRow <= log.dataRows + 2);
    }
}

void CheckPage(const LoggedRun& log, const std::string& page) {
    FUZZ_CHECK(page.starts_with("<!DOCTYPE html>\n"));
    FUZZ_CHECK(page.ends_with("</body></html>\n"));
    FUZZ_CHECK(page.find("<script") == std::string::npos);
    // Nothing from the log can open or close an element of its own.
    const std::string escaped = brisk::report::EscapeHtml("<>");
    FUZZ_CHECK(escaped == "&lt;&gt;");
    // Every marked event is counted by exactly one marker.
    long marked = 0, counted = 0;
    for (const LogEvent& e : log.events) {
        marked += IsMarked(e.kind) ? 1 : 0;
    }
    const std::string key = "data-events=\"";
    for (size_t p = page.find(key); p != std::string::npos; p = page.find(key, p + 1)) {
        counted += std::strtol(page.c_str() + p + key.size(), nullptr, 10);
    }
    FUZZ_CHECK(counted == marked);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const brisk::report::LogReadResult r = brisk::report::ReadLoggedRun(in);
    if (!r.isBriskLog) {
        FUZZ_CHECK(OneLine(r.notBriskReason));
        return 0;
    }
    FUZZ_CHECK(r.notBriskReason.empty());
    CheckLog(r.log, size);
    CheckPage(r.log, brisk::report::RenderReport(r.log, "fuzz.csv", "0"));
    return 0;
}
