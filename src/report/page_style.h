// The report page's style sheet, inline in the page: nothing is fetched.
#pragma once

namespace brisk::report {

inline constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1b1b1b;margin:16px;background:#ffffff}
h2{font-size:17px;margin:22px 0 8px}
.verdict{padding:14px 18px;border-radius:6px;color:#ffffff}
.verdict .big{font-size:40px;font-weight:700;letter-spacing:.5px}
.verdict .why{font-size:18px;margin-top:4px}
.verdict.pass{background:#2e7d32}.verdict.fail{background:#c62828}.verdict.unfinished{background:#6d4c41}
.verdict .unweighed{margin-top:8px;padding:6px 12px;background:rgba(0,0,0,.22);border-radius:4px;font-size:15px}
.verdict .unweighed ul{margin:2px 0 0 0;padding-left:20px}
.small{font-size:12px;color:#555555;margin:4px 0}
ul.small{padding-left:18px}
.note{margin-top:10px;padding:10px 14px;border-left:5px solid #f9a825;background:#fff8e1}
.facts{display:flex;flex-wrap:wrap;gap:28px;align-items:flex-start}
table{border-collapse:collapse}
td,th{padding:2px 10px 2px 0;text-align:left;vertical-align:top}
th{font-weight:600;color:#555555}
td.n{text-align:right;font-variant-numeric:tabular-nums}
code{font:13px ui-monospace,Consolas,"DejaVu Sans Mono",monospace}
.legend span{display:inline-block;margin-right:14px;white-space:nowrap}
.legend i{display:inline-block;width:14px;height:3px;vertical-align:middle;margin-right:4px}
svg text{font:12px system-ui,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;fill:#333333}
svg text.title{font-size:14px;font-weight:600}
svg text.empty{font-size:14px;fill:#777777}
.events td{padding-right:14px}
footer{margin-top:20px;color:#777777;font-size:12px}
)";

}  // namespace brisk::report
