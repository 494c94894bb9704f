// The report of a scenario-like run rendered by a real browser (Debian's
// headless Chromium): it renders without a console message, and each chart
// is where the page says it is, told by its own colours in the screenshot.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>

#include "report/log_generator.h"
#include "support/png_image.h"
#include "support/headless_chromium.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;
using support::PngImage;
using support::Rgb;

struct ChartOnPage {
    std::string id;
    int x = 0, y = 0, w = 0, h = 0;
    Rgb background;
    std::vector<Rgb> lines;
};

Rgb Hex(const std::string& s) {
    return Rgb{std::stoi(s.substr(1, 2), nullptr, 16), std::stoi(s.substr(3, 2), nullptr, 16),
               std::stoi(s.substr(5, 2), nullptr, 16)};
}

std::vector<ChartOnPage> ChartsOf(const std::string& page) {
    std::vector<ChartOnPage> charts;
    const std::regex chart(
        "<g id=\"(chart-[a-z]+)\" class=\"chart\" data-box=\"([0-9]+),([0-9]+),([0-9]+),([0-9]+)\" "
        "data-background=\"(#[0-9a-f]{6})\">");
    const std::regex line("<path fill=\"none\" stroke=\"(#[0-9a-f]{6})\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), chart);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        charts.push_back(ChartOnPage{m[1],
                                     std::stoi(m[2]),
                                     std::stoi(m[3]),
                                     std::stoi(m[4]),
                                     std::stoi(m[5]),
                                     Hex(m[6]),
                                     {}});
        // Its lines: up to the group's end.
        const size_t from = static_cast<size_t>(m.position(0));
        const size_t to = page.find("</g><g id=\"", from + 1);
        const std::string body = page.substr(from, to == std::string::npos ? to : to - from);
        for (auto l = std::sregex_iterator(body.begin(), body.end(), line);
             l != std::sregex_iterator(); ++l) {
            charts.back().lines.push_back(Hex((*l)[1]));
        }
    }
    return charts;
}

// Drawn in `target` over `under` (anti-aliased edges blend the two): at
// least 60 % of the way from one to the other, and close to that line.
bool InkOf(const Rgb& p, const Rgb& under, const Rgb& target) {
    const double d[3] = {double(target.r - under.r), double(target.g - under.g),
                         double(target.b - under.b)};
    const double q[3] = {double(p.r - under.r), double(p.g - under.g), double(p.b - under.b)};
    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (dd == 0) {
        return false;
    }
    const double s = (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd;
    double off = 0;
    for (int i = 0; i < 3; ++i) {
        off += (q[i] - s * d[i]) * (q[i] - s * d[i]);
    }
    return s >= 0.6 && s <= 1.05 && std::sqrt(off) <= 20.0;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ReportInBrowser, ChartsRenderWhereThePageSaysWithoutConsoleErrors) {
    if (!fs::exists(kChromiumPath)) {
        GTEST_SKIP() << kChromiumPath << " is not installed (scripts/deps installs it)";
    }
    const fs::path dir = fs::temp_directory_path() /
                         ("brisk-report-browser-" +
                          std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    fs::create_directories(dir / "profile");
    LogShape shape;
    shape.seconds = 600;
    shape.cycleSeconds = 150.0;
    shape.extraEventsPerSecond = 0;
    shape.verdict = "FAIL";
    shape.failReasons = "imu_lost";
    std::ofstream(dir / "run.csv", std::ios::binary) << MakeLog(shape);

    const RunResult report = RunProgram({BRISK_REPORT_PATH, (dir / "run.csv").string()}, {});
    ASSERT_EQ(report.exitCode, 0) << Describe(report);
    const std::string page = Slurp(dir / "run.html");
    const std::vector<ChartOnPage> charts = ChartsOf(page);
    ASSERT_EQ(charts.size(), 5u);

    const std::string png = (dir / "report.png").string();
    const RunResult browser =
        RunHeadlessChromium((dir / "profile").string(), (dir / "run.html").string(),
                            {"--screenshot=" + png, "--window-size=1200,2600"});
    ASSERT_TRUE(browser.exited && browser.exitCode == 0) << Describe(browser);
    EXPECT_EQ(ConsoleMessages(browser), std::vector<std::string>{});
    const PngImage shot(png);
    ASSERT_TRUE(shot.Loaded());

    // Where the page put its timeline: the first chart's background, found
    // in the screenshot, against the box the page states for it.
    int originX = 0, originY = 0;
    for (size_t i = 0; i < charts.size(); ++i) {
        const ChartOnPage& c = charts[i];
        for (size_t j = 0; j < i; ++j) {
            EXPECT_NE(c.background, charts[j].background) << c.id << " shares a colour";
        }
        const PngImage::Box area = shot.AreaOf(c.background, 100);
        const int x0 = area.x0, y0 = area.y0, x1 = area.x1, y1 = area.y1;
        const long count = area.count;
        ASSERT_GE(x1, 0) << c.id << ": background " << c.background << " not in the screenshot";
        if (i == 0) {
            originX = x0 - c.x;
            originY = y0 - c.y;
            EXPECT_GE(originX, 0);
            EXPECT_GE(originY, 300) << "the verdict and the totals come first";
        }
        EXPECT_NEAR(x0, originX + c.x, 1) << c.id;
        EXPECT_NEAR(y0, originY + c.y, 1) << c.id;
        EXPECT_NEAR(x1 - x0 + 1, c.w, 2) << c.id;
        EXPECT_NEAR(y1 - y0 + 1, c.h, 2) << c.id;
        EXPECT_GT(count, static_cast<long>(c.w) * c.h / 3) << c.id;
        // Each of its lines is drawn inside its box.
        ASSERT_FALSE(c.lines.empty()) << c.id;
        for (const Rgb& line : c.lines) {
            int ink = 0;
            for (int y = originY + c.y; y < originY + c.y + c.h; ++y) {
                for (int x = originX + c.x; x < originX + c.x + c.w; ++x) {
                    ink += InkOf(shot.At(x, y), c.background, line) ? 1 : 0;
                }
            }
            EXPECT_GE(ink, 40) << c.id << ": line " << line;
        }
        // Its scale on both sides: label text in the margins left and right
        // of the box, over its height.
        for (const int from : {originX + c.x - 50, originX + c.x + c.w + 6}) {
            int text = 0;
            for (int y = originY + c.y - 4; y < originY + c.y + c.h + 4; ++y) {
                for (int x = from; x < from + 44; ++x) {
                    const Rgb p = shot.At(x, y);
                    text += p.r + p.g + p.b < 3 * 160 ? 1 : 0;
                }
            }
            EXPECT_GE(text, 60) << c.id << ": no scale at x " << from;
        }
    }
    // A failed run's verdict heads the page in red.
    int red = 0;
    for (int y = 0; y < originY; ++y) {
        for (int x = 0; x < shot.Width(); ++x) {
            red += shot.At(x, y) == Rgb{0xc6, 0x28, 0x28} ? 1 : 0;
        }
    }
    EXPECT_GT(red, 20000);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace brisk::test
