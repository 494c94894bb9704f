#include "report/fleet_page.h"

#include <cstddef>

#include "report/html.h"
#include "report/page_style.h"
#include "report/page_text.h"

namespace brisk::report {
namespace {

// The run page's sheet plus the tables' own: a verdict reads by its colour
// down a column of hundreds, and a row stays one line but for its reasons.
constexpr const char* kFleetStyle = R"(
table.fleet td,table.fleet th{padding:3px 12px 3px 4px;border-bottom:1px solid #e0e0e0}
table.fleet tr:hover td{background:#f5f5f5}
table.fleet td{white-space:nowrap}table.fleet td.w{white-space:normal;min-width:16em}
td.v{font-weight:700}
tr.pass td.v{color:#2e7d32}tr.fail td.v{color:#c62828}
tr.unfinished td.v{color:#6d4c41}tr.unreadable td.v{color:#6a1b9a}
tr.fail td,tr.unreadable td{background:#fff4f4}
)";

const char* OutcomeClass(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Pass:
            return "pass";
        case RunOutcome::Fail:
            return "fail";
        case RunOutcome::Unfinished:
            return "unfinished";
        case RunOutcome::Unreadable:
            break;
    }
    return "unreadable";
}

// Figures right-aligned: the duration and everything from p99 on.
bool IsFigure(size_t column) {
    return column == 4 || column >= 7;
}

void Cell(std::string& out, const std::string& text, const char* cls) {
    out += cls[0] != '\0' ? std::string("<td class=\"") + cls + "\">" : "<td>";
    if (text.empty()) {
        out += "&#8212;";
    } else {
        AppendEscaped(out, text);
    }
    out += "</td>";
}

void Headline(std::string& out, const std::vector<FleetRun>& runs) {
    size_t counts[4] = {};
    for (const FleetRun& r : runs) {
        ++counts[static_cast<size_t>(r.outcome)];
    }
    const size_t passed = counts[static_cast<size_t>(RunOutcome::Pass)];
    Fmt(out,
        "<header id=\"fleet-verdict\" class=\"verdict %s\"><div class=\"big\">%zu of %zu runs "
        "passed</div><div class=\"why\">%zu failed, %zu did not finish, %zu logs not read</div>"
        "</header>",
        passed == runs.size() ? "pass" : "fail", passed, runs.size(),
        counts[static_cast<size_t>(RunOutcome::Fail)],
        counts[static_cast<size_t>(RunOutcome::Unfinished)],
        counts[static_cast<size_t>(RunOutcome::Unreadable)]);
}

void RunsTable(std::string& out, const std::vector<FleetRun>& runs) {
    Fmt(out, "<section><h2>Runs (%zu)</h2><table id=\"runs\" class=\"fleet\"><tr>", runs.size());
    for (const char* name : kRunColumns) {
        Fmt(out, "<th>%s</th>", name);
    }
    out += "</tr>\n";
    for (const FleetRun& run : runs) {
        const auto cells = RunCells(run);
        Fmt(out, "<tr class=\"run %s\">", OutcomeClass(run.outcome));
        if (run.pageHref.empty()) {
            Cell(out, cells[0], "");
        } else {
            out += "<td><a href=\"";
            AppendEscaped(out, run.pageHref);
            out += "\">";
            AppendEscaped(out, cells[0]);
            out += "</a></td>";
        }
        for (size_t c = 1; c < cells.size(); ++c) {
            Cell(out, cells[c], c == 5 ? "v" : c == 6 ? "w" : IsFigure(c) ? "n" : "");
        }
        out += "</tr>\n";
    }
    out += "</table></section>\n";
}

std::string Figure(double v, const char* format) {
    std::string text;
    if (!std::isnan(v)) {
        Fmt(text, format, v);
    }
    return text;
}

void SerialsTable(std::string& out, const std::vector<FleetRun>& runs) {
    const std::vector<SerialFigures> serials = BySerial(runs);
    Fmt(out,
        "<section><h2>By IMU serial (%zu)</h2><table id=\"serials\" class=\"fleet\"><tr>"
        "<th>IMU serial</th><th>runs</th><th>passed</th><th>stations</th><th>worst p99 ms</th>"
        "<th>most seq. gaps</th><th>most stalls</th><th>most IMU reconnects</th></tr>\n",
        serials.size());
    for (const SerialFigures& s : serials) {
        std::string stations;
        for (const std::string& name : s.stations) {
            stations += (stations.empty() ? "" : ", ") + (name.empty() ? "(unnamed)" : name);
        }
        Fmt(out, "<tr class=\"serial %s\">", s.passes == s.runs ? "pass" : "fail");
        Cell(out, s.imuSerial.empty() ? "(IMU never started)" : s.imuSerial, "");
        Cell(out, std::to_string(s.runs), "n");
        Cell(out, std::to_string(s.passes), "n v");
        Cell(out, stations, "w");
        Cell(out, Figure(s.worstP99Ms, "%.2f"), "n");
        Cell(out, Figure(s.mostSeqGaps, "%.0f"), "n");
        Cell(out, Figure(s.mostStalls, "%.0f"), "n");
        Cell(out, std::to_string(s.mostReconnects), "n");
        out += "</tr>\n";
    }
    out += "</table></section>\n";
}

}  // namespace

std::string RenderFleetPage(const std::vector<FleetRun>& runs, const std::string& version) {
    std::string out;
    out.reserve(4096 + runs.size() * 1024);
    out +=
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\"><title>brisk fleet: ";
    size_t passed = 0;
    for (const FleetRun& r : runs) {
        passed += r.outcome == RunOutcome::Pass ? 1 : 0;
    }
    Fmt(out, "%zu of %zu runs passed</title><style>", passed, runs.size());
    out += kStyle;
    out += kFleetStyle;
    out += "</style></head><body>\n";
    Headline(out, runs);
    RunsTable(out, runs);
    SerialsTable(out, runs);
    out += "<footer>Made by brisk-report ";
    AppendEscaped(out, version);
    Fmt(out, " from %zu run logs; each log's name links its own page.</footer>\n</body></html>\n",
        runs.size());
    return out;
}

}  // namespace brisk::report
