#include "report/photodiode_section.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

#include "report/html.h"
#include "report/page_text.h"

namespace brisk::report {
namespace {

// One view of the unit: which configured axis runs right, which up, and
// which points at the viewer (a dot whose normal points away is on the far
// side, drawn faint and first).
struct View {
    const char* id;
    const char* title;
    int right, up, toward;  // axes 0..2 = x, y, z
    double rightSign, upSign, towardSign;
};

// The views are in the configuration's own frame, with no guess at how the
// unit sits on a head: y up, and the face whose photodiodes point along +z
// (a head-mounted display's visor, in the real configurations we have) faces
// the viewer of the first view. Both views are right-handed as seen: from
// the front x runs to the right; from the side, looking along +x, the front
// (+z) is on the right.
constexpr View kViews[2] = {
    {"pd-front", "front (x, y)", 0, 1, 2, 1.0, 1.0, 1.0},
    {"pd-side", "side (z, y)", 2, 1, 0, 1.0, 1.0, -1.0},
};

constexpr int kPanel = 340;     // the unit's largest extent, px
constexpr int kMargin = 18;     // room around it for the dots at its edge
constexpr int kTitle = 22;      // the view's title above it
constexpr double kDot = 6.5;    // dot radius, px
constexpr double kTick = 13.0;  // a normal's projected length at full length, px

bool Drawable(const LoggedPhotodiode& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

std::array<double, 3> Position(const LoggedPhotodiode& p) {
    return {p.x, p.y, p.z};
}

std::array<double, 3> Normal(const LoggedPhotodiode& p) {
    // A damaged normal draws no tick and counts as facing the viewer.
    if (!std::isfinite(p.nx) || !std::isfinite(p.ny) || !std::isfinite(p.nz)) {
        return {0.0, 0.0, 0.0};
    }
    return {p.nx, p.ny, p.nz};
}

std::string Number(double v, const char* format) {
    std::string text;
    if (std::isfinite(v)) {
        Fmt(text, format, v);
    }
    return text;
}

// The label of a photodiode: its wire channel, else its place in the log.
std::string Label(const LoggedPhotodiode& p, size_t row) {
    return std::isfinite(p.channel) ? Number(p.channel, "%.0f") : "row " + std::to_string(row + 1);
}

// The colour a state's dots are drawn in (and its legend entry).
const char* PdStateColour(LoggedPdState state) {
    switch (state) {
        case LoggedPdState::kOk:
            return "#2e7d32";
        case LoggedPdState::kDead:
            return "#c62828";
        case LoggedPdState::kWeak:
            return "#f9a825";
        case LoggedPdState::kAbnormal:
            return "#8e24aa";
        case LoggedPdState::kUnlit:
            return "#bdbdbd";
        case LoggedPdState::kUnknown:
            break;
    }
    return "#ffffff";
}

bool Trouble(LoggedPdState s) {
    return s == LoggedPdState::kDead || s == LoggedPdState::kWeak ||
           s == LoggedPdState::kAbnormal || s == LoggedPdState::kUnknown;
}

// Every view on one scale, so that a millimetre is as long in each: the
// centre of the drawable positions, their extent along each axis, and the
// pixels per metre.
struct Fit {
    std::array<double, 3> centre{0, 0, 0};
    std::array<double, 3> extent{0, 0, 0};  // px
    double scale = 1.0;
};

Fit FitAll(const std::vector<LoggedPhotodiode>& pds) {
    std::array<double, 3> lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const LoggedPhotodiode& p : pds) {
        if (!Drawable(p)) {
            continue;
        }
        const auto v = Position(p);
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], v[a]);
            hi[a] = std::max(hi[a], v[a]);
        }
    }
    Fit fit;
    std::array<double, 3> half{0, 0, 0};
    for (int a = 0; a < 3; ++a) {
        if (lo[a] <= hi[a]) {
            fit.centre[a] = lo[a] / 2 + hi[a] / 2;  // halves first: no overflow
            half[a] = hi[a] / 2 - lo[a] / 2;
        }
    }
    const double most = std::max({half[0], half[1], half[2]});
    // A lone photodiode, or all at one point: any scale draws it at the centre.
    fit.scale = most > 0.0 && std::isfinite(most) ? (kPanel / 2.0) / most : 1.0;
    for (int a = 0; a < 3; ++a) {
        fit.extent[a] = std::isfinite(half[a]) ? 2 * half[a] * fit.scale : 0.0;
    }
    return fit;
}

void DrawView(std::string& out, const View& view, const std::vector<LoggedPhotodiode>& pds,
              const Fit& fit) {
    // As wide and as high as the unit is along the view's axes, and wide
    // enough for its title.
    constexpr int kMinWidth = 110;
    const int width = std::max(kMinWidth, static_cast<int>(fit.extent[view.right]) + 2 * kMargin);
    const int height = static_cast<int>(fit.extent[view.up]) + 2 * kMargin;
    const double cx = width / 2.0, cy = kTitle + height / 2.0;
    auto px = [&](const std::array<double, 3>& v) {
        return cx + view.rightSign * (v[view.right] - fit.centre[view.right]) * fit.scale;
    };
    auto py = [&](const std::array<double, 3>& v) {
        return cy - view.upSign * (v[view.up] - fit.centre[view.up]) * fit.scale;
    };
    Fmt(out,
        "<svg id=\"%s\" class=\"pd-view\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
        "role=\"img\"><title>photodiodes %s</title>"
        "<text class=\"title\" x=\"%d\" y=\"15\">%s</text>"
        "<rect x=\"0.5\" y=\"%d.5\" width=\"%d\" height=\"%d\" fill=\"#fafafa\" "
        "stroke=\"#bbbbbb\"/>",
        view.id, width, kTitle + height, width, kTitle + height, view.title, 0, view.title, kTitle,
        width - 1, height - 1);
    // The configuration's origin, where it falls inside the view.
    const std::array<double, 3> origin{0.0, 0.0, 0.0};
    const double ox = px(origin), oy = py(origin);
    if (ox > 0 && ox < width) {
        Fmt(out, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#e3e3e3\"/>", ox,
            kTitle, ox, kTitle + height);
    }
    if (oy > kTitle && oy < kTitle + height) {
        Fmt(out, "<line x1=\"0\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#e3e3e3\"/>", oy, width,
            oy);
    }
    // Far side first, so the dots facing the viewer are never hidden.
    std::vector<size_t> order;
    for (size_t i = 0; i < pds.size(); ++i) {
        if (Drawable(pds[i])) {
            order.push_back(i);
        }
    }
    auto depth = [&](size_t i) { return view.towardSign * Position(pds[i])[view.toward]; };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return depth(a) < depth(b); });
    for (size_t i : order) {
        const LoggedPhotodiode& p = pds[i];
        const auto v = Position(p);
        const auto n = Normal(p);
        const double x = px(v), y = py(v);
        const bool away = view.towardSign * n[view.toward] < -0.2;
        const double tx = view.rightSign * n[view.right] * kTick;
        const double ty = -view.upSign * n[view.up] * kTick;
        if (std::hypot(tx, ty) > 1.0) {
            Fmt(out,
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#757575\" "
                "stroke-width=\"1.5\"%s/>",
                x, y, x + tx, y + ty, away ? " stroke-opacity=\"0.4\"" : "");
        }
        Fmt(out,
            "<circle class=\"pd pd-%s\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"%s\" "
            "stroke=\"#333333\"%s><title>",
            LoggedPdStateName(p.state), x, y, kDot, PdStateColour(p.state),
            away ? " fill-opacity=\"0.35\" stroke-opacity=\"0.4\"" : "");
        out += "channel ";
        AppendEscaped(out, Label(p, i));
        Fmt(out, " (photodiode %s): %s, %s pulses", Number(p.modelIndex, "%.0f").c_str(),
            LoggedPdStateName(p.state), Number(p.pulses, "%.0f").c_str());
        out += "</title></circle>";
        if (Trouble(p.state)) {
            Fmt(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\">", x + kDot + 2, y - kDot);
            AppendEscaped(out, Label(p, i));
            out += "</text>";
        }
    }
    out += "</svg>";
}

void Legend(std::string& out, const std::vector<LoggedPhotodiode>& pds) {
    std::array<size_t, kLoggedPdStates> counts{};
    for (const LoggedPhotodiode& p : pds) {
        ++counts[static_cast<size_t>(p.state)];
    }
    out += "<div class=\"legend\" id=\"pd-legend\">";
    for (int s = 0; s < kLoggedPdStates; ++s) {
        const auto state = static_cast<LoggedPdState>(s);
        if (state == LoggedPdState::kUnknown && counts[s] == 0) {
            continue;  // only a damaged log has any
        }
        Fmt(out,
            "<span><i style=\"background:%s;width:11px;height:11px;border-radius:50%%;"
            "border:1px solid #333333\"></i>%s (%zu)</span>",
            PdStateColour(state), LoggedPdStateName(state), counts[s]);
    }
    out +=
        "</div><p class=\"small\">Dots at the configured positions, both views on one scale: "
        "the front looks at the face whose photodiodes point along +z, the side along +x "
        "(the front on the right); y up. The grey tick is the photodiode's normal; a faint dot "
        "faces away. Channels dead, weak or abnormal are labelled.</p>";
}

void Table(std::string& out, const std::vector<LoggedPhotodiode>& pds) {
    out +=
        "<table id=\"photodiodes\"><tr><th>channel</th><th>photodiode</th><th>pulses</th>"
        "<th>state</th><th>why</th></tr>";
    for (size_t i = 0; i < pds.size(); ++i) {
        const LoggedPhotodiode& p = pds[i];
        out += "<tr><td class=\"n\">";
        AppendEscaped(out, std::isfinite(p.channel) ? Label(p, i) : std::string("\xE2\x80\x94"));
        Fmt(out,
            "</td><td class=\"n\">%s</td><td class=\"n\">%s</td><td><i style=\"color:%s\">"
            "&#9679;</i> %s</td><td>",
            Number(p.modelIndex, "%.0f").c_str(), Number(p.pulses, "%.0f").c_str(),
            PdStateColour(p.state), LoggedPdStateName(p.state));
        AppendEscaped(out, p.why);
        out += "</td></tr>";
    }
    out += "</table>";
}

}  // namespace

void PhotodiodeSection(std::string& out, const LoggedRun& log) {
    const std::vector<LoggedPhotodiode>& pds = log.photodiodes;
    if (pds.empty()) {
        return;
    }
    out += "<section id=\"photodiode-map\"><h2>Photodiodes</h2>";
    Legend(out, pds);
    out += "<div class=\"facts\"><div>";
    const Fit fit = FitAll(pds);
    for (const View& view : kViews) {
        DrawView(out, view, pds, fit);
        out += " ";
    }
    const size_t undrawn = static_cast<size_t>(
        std::count_if(pds.begin(), pds.end(), [](const auto& p) { return !Drawable(p); }));
    if (undrawn > 0) {
        Fmt(out,
            "<p class=\"small\" id=\"pd-undrawn\">%zu photodiode%s without a readable position: "
            "listed, not drawn.</p>",
            undrawn, undrawn == 1 ? "" : "s");
    }
    out += "</div><div>";
    Table(out, pds);
    if (log.photodiodesLeftOut > 0) {
        Fmt(out, "<p class=\"small\">&#8230; and %llu more photodiode rows, not read.</p>",
            static_cast<unsigned long long>(log.photodiodesLeftOut));
    }
    out += "</div></div></section>\n";
}

}  // namespace brisk::report
