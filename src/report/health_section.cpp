#include "report/health_section.h"

#include <algorithm>
#include <cmath>

#include "report/html.h"
#include "report/page_text.h"

namespace brisk::report {
namespace {

const char* const kAxisColours[3] = {"#c62828", "#2e7d32", "#1565c0"};

void FigureRow(std::string& out, const char* label, double v, const char* format) {
    Fmt(out, "<tr><th>%s</th><td class=\"n\">", label);
    if (std::isnan(v)) {
        out += "&#8212;";
    } else {
        Fmt(out, format, v);
    }
    out += "</td></tr>";
}

void TextRow(std::string& out, const char* label, const std::string& text) {
    Fmt(out, "<tr><th>%s</th><td>", label);
    AppendEscaped(out, text.empty() ? std::string("\xE2\x80\x94") : text);
    out += "</td></tr>";
}

void AxesTable(std::string& out, const LoggedHealth& h, double streamStart) {
    static const char* const kNames[6] = {"accel x", "accel y", "accel z",
                                          "gyro x",  "gyro y",  "gyro z"};
    out +=
        "<table id=\"imu-axes\"><tr><th>axis</th><th>mean</th><th>sd</th><th>min</th>"
        "<th>max</th><th>saturated</th><th>stuck</th></tr>";
    for (int axis = 0; axis < 6; ++axis) {
        const LoggedAxis& a = h.axes[axis];
        Fmt(out, "<tr><th>%s</th>", kNames[axis]);
        if (!a.present) {
            out += "<td colspan=\"6\">&#8212;</td></tr>";
            continue;
        }
        Fmt(out,
            "<td class=\"n\">%.2f</td><td class=\"n\">%.2f</td><td class=\"n\">%.0f</td>"
            "<td class=\"n\">%.0f</td><td class=\"n\">%.0f</td>",
            a.mean, a.sd, a.min, a.max, a.saturated);
        if (a.stuckAt >= 0) {
            Fmt(out, "<td>from %s</td></tr>", Seconds(streamStart + a.stuckAt).c_str());
        } else {
            out += "<td>no</td></tr>";
        }
    }
    out +=
        "</table><p class=\"small\">Stuck since: seconds since the tool started, as on the "
        "timeline.</p>";
}

// Decades that cover [lo, hi], as powers of ten.
void DecadeRange(double lo, double hi, int& first, int& last) {
    first = static_cast<int>(std::floor(std::log10(lo)));
    last = static_cast<int>(std::ceil(std::log10(hi)));
    if (last <= first) {
        last = first + 1;
    }
}

}  // namespace

void AllanPlot(std::string& out, const LoggedHealth& h) {
    double tauLo = INFINITY, tauHi = 0.0, sigmaLo = INFINITY, sigmaHi = 0.0;
    for (const auto& curve : h.allan) {
        for (const auto& [tau, sigma] : curve) {
            tauLo = std::min(tauLo, tau);
            tauHi = std::max(tauHi, tau);
            if (sigma > 0.0) {
                sigmaLo = std::min(sigmaLo, sigma);
                sigmaHi = std::max(sigmaHi, sigma);
            }
        }
    }
    if (!(tauHi > 0.0) || !(sigmaHi > 0.0)) {
        out += "<p>No Allan deviation: the run was too short for one.</p>";
        return;
    }
    int tau0, tau1, sig0, sig1;
    DecadeRange(tauLo, tauHi, tau0, tau1);
    DecadeRange(sigmaLo, sigmaHi, sig0, sig1);
    constexpr int kLeft = 60, kTop = 12, kW = 420, kH = 260;
    auto x = [&](double tau) { return kLeft + (std::log10(tau) - tau0) / (tau1 - tau0) * kW; };
    auto y = [&](double s) { return kTop + kH - (std::log10(s) - sig0) / (sig1 - sig0) * kH; };
    Fmt(out,
        "<svg id=\"allan\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\">"
        "<title>Allan deviation of the gyro axes, counts, against cluster time, s</title>"
        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#fafafa\" stroke=\"#bbbbbb\"/>",
        kLeft + kW + 20, kTop + kH + 44, kLeft + kW + 20, kTop + kH + 44, kLeft, kTop, kW, kH);
    for (int d = tau0; d <= tau1; ++d) {
        const double px = x(std::pow(10.0, d));
        Fmt(out,
            "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#dddddd\"/>"
            "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>",
            px, kTop, px, kTop + kH, px, kTop + kH + 16, TickLabel(std::pow(10.0, d)).c_str());
    }
    for (int d = sig0; d <= sig1; ++d) {
        const double py = y(std::pow(10.0, d));
        Fmt(out,
            "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#dddddd\"/>"
            "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%s</text>",
            kLeft, py, kLeft + kW, py, kLeft - 6, py + 4, TickLabel(std::pow(10.0, d)).c_str());
    }
    Fmt(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">cluster time &#964; (s)</text>",
        kLeft + kW / 2, kTop + kH + 34);
    for (int axis = 0; axis < 3; ++axis) {
        std::string points;
        for (const auto& [tau, sigma] : h.allan[axis]) {
            if (sigma > 0.0) {
                Fmt(points, "%s%.1f,%.1f", points.empty() ? "" : " ", x(tau), y(sigma));
            }
        }
        Fmt(out,
            "<polyline class=\"allan-%c\" points=\"%s\" fill=\"none\" stroke=\"%s\" "
            "stroke-width=\"2\"/>",
            "xyz"[axis], points.c_str(), kAxisColours[axis]);
    }
    out += "</svg><div class=\"legend\">";
    for (int axis = 0; axis < 3; ++axis) {
        Fmt(out, "<span><i style=\"background:%s\"></i>gyro %c</span>", kAxisColours[axis],
            "xyz"[axis]);
    }
    out += "</div>";
}

void HealthSection(std::string& out, const LoggedHealth& h, double streamStart,
                   const std::string& notWeighed) {
    if (!h.present) {
        return;
    }
    out += "<section id=\"imu-health\"><h2>IMU health</h2>";
    if (h.flags.empty()) {
        out += "<p id=\"imu-flags\">No flags.</p>";
    } else {
        out += "<p id=\"imu-flags\" class=\"note\">Flags: ";
        AppendEscaped(out, h.flags);
        if (!notWeighed.empty()) {
            out += "<br><strong id=\"imu-flags-not-weighed\">";
            AppendEscaped(out, notWeighed);
            out += "</strong>";
        }
        out += "</p>";
    }
    out += "<div class=\"facts\"><div><table id=\"imu-health-figures\">";
    FigureRow(out, "clock against the host (ppm)", h.clockPpm, "%+.1f");
    FigureRow(out, "device ticks per host second", h.ticksPerSecond, "%.0f");
    FigureRow(out, "ticks per sample", h.ticksPerSample, "%.2f");
    FigureRow(out, "sample interval p50 (ms)", h.intervalP50Ms, "%.3f");
    FigureRow(out, "sample interval p99 (ms)", h.intervalP99Ms, "%.3f");
    FigureRow(out, "sample interval max (ms)", h.intervalMaxMs, "%.3f");
    FigureRow(out, "samples missing by time", h.missingByTime, "%.0f");
    FigureRow(out, "samples missing by sequence", h.missingBySeq, "%.0f");
    FigureRow(out, "report interval p50 (ms)", h.deliveryP50Ms, "%.3f");
    FigureRow(out, "report interval p99 (ms)", h.deliveryP99Ms, "%.3f");
    FigureRow(out, "report interval max (ms)", h.deliveryMaxMs, "%.3f");
    FigureRow(out, "reports with 2+ new samples", h.reportsWithSeveral, "%.0f");
    FigureRow(out, "reports with no new sample", h.reportsWithNone, "%.0f");
    FigureRow(out, "mean |a| (g)", h.accelMagnitudeG, "%.4f");
    FigureRow(out, "counts per g", h.countsPerG, "%.0f");
    TextRow(out, "gyro angle random walk x y z (counts at 1 s)", h.angleRandomWalk);
    TextRow(out, "gyro bias instability x y z (counts@s)", h.biasInstability);
    out += "</table></div><div>";
    AxesTable(out, h, streamStart);
    out += "</div><div>";
    AllanPlot(out, h);
    out += "</div></div></section>\n";
}

}  // namespace brisk::report
