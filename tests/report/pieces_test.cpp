// The report's pure pieces, each against a table of inputs: CSV rows, event
// recognition, HTML escaping, the min/max reduction and the SVG path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <sstream>

#include "report/csv_reader.h"
#include "report/events.h"
#include "report/html.h"
#include "report/page_text.h"
#include "report/series.h"

namespace brisk::report {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct CsvCase {
    const char* name;
    std::string text;
    Rows rows;
    bool lastComplete;
};

TEST(Csv, ReadsRowsAsRfc4180WritesThem) {
    const CsvCase cases[] = {
        {"crlf", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}, true},
        {"lf", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}, true},
        {"empty cells", ",,\r\n", {{"", "", ""}}, true},
        {"quoted comma and quotes",
         "\"x,y\",\"say \"\"hi\"\"\"\r\n",
         {{"x,y", "say \"hi\""}},
         true},
        {"quoted line breaks",
         "\"two\r\nlines\",\"a\nb\"\r\nz\r\n",
         {{"two\r\nlines", "a\nb"}, {"z"}},
         true},
        {"lone cr kept", "a\rb\r\n", {{"a\rb"}}, true},
        {"last row cut", "a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}, false},
        {"cut inside quotes", "a\r\n\"open,\r\nstill", {{"a"}, {"open,\r\nstill"}}, false},
        {"stray quote kept", "ab\"c,\"d\"e\n", {{"ab\"c", "de"}}, true},
    };
    for (const CsvCase& c : cases) {
        std::istringstream in(c.text);
        CsvReader reader(in);
        CsvRecord row;
        Rows got;
        bool complete = true;
        while (reader.Next(row)) {
            got.push_back(row.fields);
            complete = row.complete;
            EXPECT_EQ(row.number, got.size()) << c.name;
        }
        EXPECT_EQ(got, c.rows) << c.name;
        EXPECT_EQ(complete, c.lastComplete) << c.name;
    }
}

TEST(Csv, RowsKnowTheirLineAndStopWhenOverlong) {
    std::istringstream in("a\r\n\"b\nc\"\r\nd\r\n");
    CsvReader reader(in);
    CsvRecord row;
    std::vector<uint64_t> lines;
    while (reader.Next(row)) {
        lines.push_back(row.line);
    }
    EXPECT_EQ(lines, (std::vector<uint64_t>{1, 2, 4}));

    std::istringstream huge(std::string(CsvReader::kMaxRowBytes + 10, 'x') + "\r\nnext\r\n");
    CsvReader big(huge);
    ASSERT_TRUE(big.Next(row));
    EXPECT_TRUE(row.overlong);
    EXPECT_FALSE(big.Next(row));
}

TEST(Events, RecognisedFromTheToolsWords) {
    const std::pair<const char*, EventKind> cases[] = {
        {"TundraImu: read failed (err 1167) \xE2\x80\x94 device gone", EventKind::ImuLost},
        {"TundraImu: ReadFile failed (err 5)", EventKind::ImuLost},
        {"TundraImu: stream silent 2s \xE2\x80\x94 device gone", EventKind::ImuLost},
        {"TundraImu: reconnected to LHR-5A1B2C3D", EventKind::ImuBack},
        {"McuProx: read failed (err 1167)", EventKind::McuLost},
        {"McuProx: telemetry silent 2s", EventKind::McuLost},
        {"McuProx: device reconnected, telemetry restarted", EventKind::McuBack},
        {"prox: headset DONNED (distance 1700)", EventKind::Donned},
        {"prox: headset DOFFED (distance 200)", EventKind::Doffed},
        {"WARNING: present loop free-running (vsync lost)", EventKind::FreeRunBegin},
        {"free-run over: vsync pacing restored", EventKind::FreeRunEnd},
        {"Presenter: D3D12 device removed (0x887a0005) \xE2\x80\x94 display lost (cable pulled?)",
         EventKind::DisplayLost},
        {"PRESENT RESULT: 1379 frames", EventKind::PresentResult},
        {"IMU RESULT: 18501 samples", EventKind::ImuResult},
        {"VERDICT: FAIL (present errors)", EventKind::Verdict},
        {"  fps= 75.0 imu= 999Hz", EventKind::None},
        {"TundraImu: using LHR-5A1B2C3D", EventKind::None},
        {" prox: headset DONNED", EventKind::None},  // not at the start: not the tool's line
        {"", EventKind::None},
    };
    for (const auto& [text, kind] : cases) {
        EXPECT_EQ(RecogniseEvent(text), kind) << text;
    }
    EXPECT_FALSE(IsMarked(EventKind::Verdict));
    EXPECT_TRUE(IsMarked(EventKind::DisplayLost));
}

TEST(Html, EscapesMarkupAndReplacesWhatIsNotText) {
    const std::pair<std::string, std::string> cases[] = {
        {"<script>&\"'</script>", "&lt;script&gt;&amp;&quot;&#39;&lt;/script&gt;"},
        {"plain \xE2\x80\x94 dash, tab\tand\nline", "plain \xE2\x80\x94 dash, tab\tand\nline"},
        {"4-byte \xF0\x9F\x98\x80", "4-byte \xF0\x9F\x98\x80"},
        {std::string("nul\0bell\x07", 9),
         "nul\xEF\xBF\xBD"
         "bell\xEF\xBF\xBD"},
        {"bad \xFF lead", "bad \xEF\xBF\xBD lead"},
        {"cut \xE2\x80", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(EscapeHtml(in), out) << in;
    }
}

std::vector<Point> Series(std::initializer_list<double> ys) {
    std::vector<Point> p;
    for (double y : ys) {
        p.push_back(Point{static_cast<double>(p.size()), y});
    }
    return p;
}

std::string Ys(const std::vector<Point>& points) {
    std::string s;
    for (const Point& p : points) {
        s += s.empty() ? "" : " ";
        s += std::isnan(p.y) ? std::string("_") : std::to_string(static_cast<int>(p.y));
    }
    return s;
}

TEST(Reduce, KeepsFirstExtremesAndLastOfEachColumn) {
    struct Case {
        const char* name;
        std::vector<Point> in;
        int columns;
        const char* ys;  // the y values that come out, "_" for a break
    };
    const Case cases[] = {
        {"fewer points than columns: unchanged", Series({3, NAN, 5}), 4, "3 _ 5"},
        {"as many points as columns: unchanged", Series({1, 2, 3, 4}), 4, "1 2 3 4"},
        {"one column", Series({5, 9, 1, 7, 6}), 1, "5 9 1 6"},
        {"extremes in the order they came", Series({5, 1, 9, 6, 4, 8, 2, 3}), 2, "5 1 9 6 4 8 2 3"},
        {"duplicates dropped", Series({2, 2, 2, 2, 7, 7, 7, 7}), 2, "2 2 7 7"},
        {"breaks at columns' starts", Series({NAN, 1, 2, NAN, 3, 4, NAN, NAN, 5}), 3,
         "1 2 _ 3 4 _ 5"},
        {"break at a column's end", Series({1, 2, 3, NAN}), 2, "1 2 3 _"},
        {"all missing", Series({NAN, NAN, NAN}), 1, ""},
    };
    for (const Case& c : cases) {
        const double x1 = static_cast<double>(c.in.size());
        EXPECT_EQ(Ys(ReduceToColumns(c.in, 0.0, x1, c.columns)), c.ys) << c.name;
    }
}

TEST(Reduce, EnvelopeOfALongSeriesIsExactPerColumn) {
    std::vector<Point> in;
    for (int i = 0; i < 86400; ++i) {
        in.push_back(Point{i + 0.5, std::sin(i * 0.37) * 100 + (i % 997 == 0 ? 500 : 0)});
    }
    std::swap(in[10], in[86000]);  // out of order: still in its own column
    const int columns = 1000;
    const std::vector<Point> out = ReduceToColumns(in, 0.0, 86400.0, columns);
    EXPECT_LE(out.size(), 4u * columns);
    std::vector<double> lo(columns, INFINITY), hi(columns, -INFINITY), olo = lo, ohi = hi;
    for (const Point& p : in) {
        const int c = static_cast<int>(p.x / 86.4);
        lo[c] = std::min(lo[c], p.y), hi[c] = std::max(hi[c], p.y);
    }
    for (const Point& p : out) {
        const int c = static_cast<int>(p.x / 86.4);
        olo[c] = std::min(olo[c], p.y), ohi[c] = std::max(ohi[c], p.y);
    }
    EXPECT_EQ(olo, lo);
    EXPECT_EQ(ohi, hi);
}

TEST(SvgPath, MapsClampsAndBreaks) {
    const Scale s{0.0, 10.0, 0.0, 100.0, 50.0, 20.0, 200.0, 100.0};
    const std::pair<std::vector<Point>, const char*> lines[] = {
        {{{0, 0}, {5, 50}, {10, 100}}, "M50.0 120.0L150.0 70.0L250.0 20.0"},
        {{{0, -1e30}, {10, 1e30}}, "M50.0 120.0L250.0 20.0"},  // spikes stay in the box
        {{{0, 10}, {1, NAN}, {2, 20}, {3, 30}}, "M50.0 110.0M90.0 100.0L110.0 90.0"},
        {{{1, NAN}}, ""},
    };
    for (const auto& [points, d] : lines) {
        EXPECT_EQ(SvgPath(points, s), d);
    }
    EXPECT_EQ(SvgStepPath({{0, 0}, {5, 50}}, s), "M50.0 120.0L150.0 120.0L150.0 70.0");
}

TEST(Axis, RoundTicksAtBothEndsOfTheData) {
    struct Case {
        double lo, hi, minStep;
        std::vector<double> ticks;
    };
    const Case cases[] = {
        {-460, 460, 1, {-600, -400, -200, 0, 200, 400, 600}},  // a 300-count head turn
        {-8, 8, 1, {-10, -5, 0, 5, 10}},                       // no more than six intervals
        {0, 87.4, 1, {0, 20, 40, 60, 80, 100}},                // frames per second
        {0, 1150, 1, {0, 200, 400, 600, 800, 1000, 1200}},     // a 1 kHz IMU
        {0, 4.09, 0, {0, 1, 2, 3, 4, 5}},                      // sample age, s
        {0, 0.05, 0, {0, 0.01, 0.02, 0.03, 0.04, 0.05}},
        {8157, 8228, 1, {8140, 8160, 8180, 8200, 8220, 8240}},
        {0, 1, 1, {0, 1}},  // counts tick in whole numbers
        {5, 5, 0, {5, 6}},  // no range: one step
        {-1, 1, 0, {-1, -0.5, 0, 0.5, 1}},
        {1e20, 1e20 + 1e5, 0, {1e20, 1e20 + 1e5}},  // too far out for round steps
    };
    for (const Case& c : cases) {
        const Axis a = NiceAxis(c.lo, c.hi, 6, c.minStep);
        ASSERT_EQ(a.ticks.size(), c.ticks.size()) << c.lo << " " << c.hi;
        for (size_t i = 0; i < a.ticks.size(); ++i) {
            EXPECT_NEAR(a.ticks[i], c.ticks[i], std::abs(c.ticks[i]) * 1e-12 + 1e-12)
                << c.lo << " " << c.hi << " tick " << i;
        }
        EXPECT_EQ(a.lo, a.ticks.front());
        EXPECT_EQ(a.hi, a.ticks.back());
        EXPECT_LE(a.lo, c.lo);
        EXPECT_GE(a.hi, c.hi);
    }
    EXPECT_EQ(NiceAxis(-1, 1, 1).ticks.size(), 3u);  // straddles every step: two intervals
    EXPECT_EQ(NiceAxis(NAN, 1, 6).ticks, (std::vector<double>{0, 1}));

    const std::tuple<double, double, const char*> labels[] = {
        {-600, 200, "-600"}, {0.5, 0.5, "0.5"},     {1, 0.5, "1.0"},    {0.05, 0.01, "0.05"},
        {-0.0, 0.2, "0.0"},  {200000, 1e5, "200k"}, {8240, 20, "8240"}, {3e38, 1e37, "3e+35k"},
    };
    for (const auto& [v, step, text] : labels) {
        EXPECT_EQ(TickLabel(v, step), text) << v;
    }
}

TEST(Axis, LinesBreakWhereRowsAreMissing) {
    // Rows a second apart but for one late row and two missing ones.
    const std::vector<double> t = {1, 2, 3.4, 4.4, 7.4, 8.4};
    const std::vector<float> y = {1, 2, 3, 4, 5, 6};
    EXPECT_DOUBLE_EQ(RowGapLimit(t), 1.5);
    EXPECT_EQ(Ys(PointsWithBreaks(t, y, RowGapLimit(t))), "1 2 3 4 _ 5 6");
    EXPECT_EQ(RowGapLimit({3.0}), INFINITY);
    // A break survives the reduction to pixel columns.
    std::vector<double> day;
    std::vector<float> ys;
    for (int i = 0; i < 86400; ++i) {
        if (i < 40000 || i > 41000) {
            day.push_back(i);
            ys.push_back(1.0f);
        }
    }
    const std::vector<Point> reduced =
        ReduceToColumns(PointsWithBreaks(day, ys, RowGapLimit(day)), 0, 86400, 1000);
    EXPECT_EQ(std::count_if(reduced.begin(), reduced.end(),
                            [](const Point& p) { return std::isnan(p.y); }),
              1);
}

}  // namespace
}  // namespace brisk::report
