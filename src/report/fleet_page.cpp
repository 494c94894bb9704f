#include "report/fleet_page.h"

#include <cmath>
#include <cstddef>

#include "report/html.h"
#include "report/page_style.h"
#include "report/page_text.h"

namespace brisk::report {
namespace {

// The run page's sheet plus the tables' own: a verdict reads by its colour
// down a column of hundreds, and a row stays one line but for its reasons.
constexpr const char* kFleetStyle = R"(
table.fleet td,table.fleet th{padding:3px 9px 3px 4px;border-bottom:1px solid #e0e0e0}
table.fleet{font-size:13px}table.fleet th{vertical-align:bottom;max-width:6em}
table.fleet th.n{text-align:right}
table.fleet tr:hover td{background:#f5f5f5}
table.fleet td{white-space:nowrap}table.fleet td.w{white-space:normal;min-width:14em}
td.v{font-weight:700}
tr.pass td.v{color:#2e7d32}tr.fail td.v{color:#c62828}
tr.unfinished td.v{color:#6d4c41}tr.unreadable td.v{color:#6a1b9a}
tr.fail td,tr.unreadable td{background:#fff4f4}
td.bad{color:#c62828;font-weight:700}
table.sortable th{cursor:pointer;user-select:none}
th[aria-sort=ascending]::after{content:" \25B2"}th[aria-sort=descending]::after{content:" \25BC"}
)";

// Sorting on a heading's click: by the cells' data-v numbers where they have
// them, else by their text; empty cells (a dash) last either way. The rows
// come in their useful order without it, so the page reads without script.
constexpr const char* kSortScript = R"(
for (const table of document.querySelectorAll("table.sortable")) {
  const heads = table.tHead.rows[0].cells;
  for (let i = 0; i < heads.length; ++i) {
    heads[i].addEventListener("click", () => {
      const up = heads[i].getAttribute("aria-sort") !== "ascending";
      for (const h of heads) h.removeAttribute("aria-sort");
      heads[i].setAttribute("aria-sort", up ? "ascending" : "descending");
      const key = (row) => {
        const c = row.cells[i], v = c.getAttribute("data-v");
        return v !== null ? Number(v) : c.textContent === "\u2014" ? null : c.textContent;
      };
      const body = table.tBodies[0];
      const rows = Array.from(body.rows).sort((a, b) => {
        const x = key(a), y = key(b);
        if (x === null || y === null) return (x === null) - (y === null);
        const d = typeof x === "number" && typeof y === "number" ? x - y
            : String(x).localeCompare(String(y), undefined, {numeric: true});
        return up ? d : -d;
      });
      body.append(...rows);
    });
  }
}
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

// Figures right-aligned: the duration, everything from the time without IMU
// to the doffs, and the dead photodiodes.
bool IsFigure(size_t column) {
    return column == 4 || (column >= 7 && column <= 15) || column == 18;
}

// A cell; `sortValue` (when not NaN) is what the sort script orders it by.
void Cell(std::string& out, const std::string& text, const std::string& cls,
          double sortValue = NAN) {
    out += "<td";
    if (!cls.empty()) {
        out += " class=\"" + cls + "\"";
    }
    if (!std::isnan(sortValue)) {
        Fmt(out, " data-v=\"%.10g\"", sortValue);
    }
    out += ">";
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

// The class of a run's cell: its kind, and "bad" for a device lost and not back.
std::string CellClass(const FleetRun& run, size_t column) {
    std::string cls = column == 5 ? "v" : column == 6 ? "w" : IsFigure(column) ? "n" : "";
    const bool imuGone = column == 8 && run.imuLost > run.reconnects;
    const bool mcuGone = column == 9 && run.mcuLost > run.mcuBack;
    const bool identityBad = column == 17 && !run.identity.empty() && run.identity != "sound";
    const bool pdDead = column == 18 && run.deadPhotodiodes > 0;
    return imuGone || mcuGone || identityBad || pdDead ? cls + " bad" : cls;
}

void RunsTable(std::string& out, const std::vector<FleetRun>& runs) {
    Fmt(out,
        "<section><h2>Runs (%zu)</h2><p class=\"small\">Failed runs first, then those that did "
        "not finish, then passes; a click on a heading sorts by it.</p>"
        "<table id=\"runs\" class=\"fleet sortable\"><thead><tr>",
        runs.size());
    for (size_t c = 0; c < kRunColumns.size(); ++c) {
        Fmt(out, "<th%s>%s</th>", IsFigure(c) ? " class=\"n\"" : "", kRunColumns[c]);
    }
    out += "</tr></thead><tbody>\n";
    for (const FleetRun& run : runs) {
        const auto cells = RunCells(run);
        const auto values = RunSortValues(run);
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
            Cell(out, cells[c], CellClass(run, c), values[c]);
        }
        out += "</tr>\n";
    }
    out += "</tbody></table></section>\n";
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
        "<section><h2>By IMU serial (%zu)</h2><table id=\"serials\" class=\"fleet sortable\">"
        "<thead><tr><th>IMU serial</th><th class=\"n\">runs</th><th class=\"n\">passed</th>"
        "<th>stations</th><th class=\"n\">worst p99 ms</th><th class=\"n\">most seq. gaps</th>"
        "<th class=\"n\">most stalls</th><th class=\"n\">most IMU reconnects</th></tr></thead>"
        "<tbody>\n",
        serials.size());
    for (const SerialFigures& s : serials) {
        std::string stations;
        for (const std::string& name : s.stations) {
            stations += (stations.empty() ? "" : ", ") + (name.empty() ? "(unnamed)" : name);
        }
        Fmt(out, "<tr class=\"serial %s\">", s.passes == s.runs ? "pass" : "fail");
        Cell(out, s.imuSerial.empty() ? "(IMU never started)" : s.imuSerial, "");
        Cell(out, std::to_string(s.runs), "n", static_cast<double>(s.runs));
        Cell(out, std::to_string(s.passes), "n v", static_cast<double>(s.passes));
        Cell(out, stations, "w");
        Cell(out, Figure(s.worstP99Ms, "%.2f"), "n", s.worstP99Ms);
        Cell(out, Figure(s.mostSeqGaps, "%.0f"), "n", s.mostSeqGaps);
        Cell(out, Figure(s.mostStalls, "%.0f"), "n", s.mostStalls);
        Cell(out, std::to_string(s.mostReconnects), "n", static_cast<double>(s.mostReconnects));
        out += "</tr>\n";
    }
    out += "</tbody></table></section>\n";
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
    Fmt(out, " from %zu run logs; each log's name links its own page.</footer>\n<script>",
        runs.size());
    out += kSortScript;
    out += "</script>\n</body></html>\n";
    return out;
}

}  // namespace brisk::report
