// Shared by the presenter tests: a virtual display installed as the process's
// DirectMode for the duration of a test, and capture of the printed lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/directmode.h"
#include "present/nvapi_d3d12_presenter.h"
#include "sim/virtual_display.h"

namespace brisk::test {

struct Printed {
    std::vector<std::string> out;  // standard output, one entry per line
    std::vector<std::string> err;  // standard error
};

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Runs `f` with both standard streams captured.
template <class F>
Printed Capture(F&& f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::fflush(stdout);
    std::fflush(stderr);
    Printed p;
    p.out = SplitLines(testing::internal::GetCapturedStdout());
    p.err = SplitLines(testing::internal::GetCapturedStderr());
    return p;
}

// What a healthy Init prints with the virtual display's default shape.
inline std::vector<std::string> HealthyInitLines() {
    return {
        "EnableDirectMode(0x2709) = 0x0",
        "using displayId 0x80061086",
        "mode[0]: 3840x1920 @ 90.000 Hz format=22",
        "mode[1]: 5088x2544 @ 60.000 Hz format=22",
        "mode[2]: 5088x2544 @ 75.000 Hz format=22",
        "mode[3]: 5088x2544 @ 75.000 Hz format=25",
        "mode[4]: 5088x2544 @ 90.000 Hz format=22",
        "mode[5]: 5088x2544 @ 120.000 Hz format=22",
        "using mode 5088x2544 @ 75.000 Hz format=22",
        "forcing DSC 1.1, 4 slices, 8 bpp",
        "AcquireDirectModeDisplay = 0x0",
        "surface: 5088x2544 format=27",
        "rtv format: 28",
        "SetDisplayMode = 0x0",
        "DisplayControl(POWER_ON) = 0x0",
        "GetPresentWaitableObject = 0x0",
    };
}

// The totals line, taken apart.
struct PresentResult {
    bool parsed = false;
    unsigned long long frames = 0;
    double seconds = 0;
    double fps = 0;
    unsigned long long presentErrors = 0;
    unsigned long long waitTimeouts = 0;
    unsigned long long freeRunEvents = 0;
};

inline PresentResult ParseResult(const std::string& line) {
    static const std::regex kLine(
        R"(PRESENT RESULT: (\d+) frames in (\d+\.\d)s = (\d+\.\d\d) fps avg, presentErrors (\d+), )"
        R"(waitTimeouts (\d+), freeRunEvents (\d+))");
    std::smatch m;
    PresentResult r;
    if (!std::regex_match(line, m, kLine)) {
        return r;
    }
    r.parsed = true;
    r.frames = std::stoull(m[1]);
    r.seconds = std::stod(m[2]);
    r.fps = std::stod(m[3]);
    r.presentErrors = std::stoull(m[4]);
    r.waitTimeouts = std::stoull(m[5]);
    r.freeRunEvents = std::stoull(m[6]);
    return r;
}

// A test with the virtual display installed.
class PresenterTest : public testing::Test {
  protected:
    void SetUp() override { InstallDirectMode(display.get()); }
    void TearDown() override { InstallDirectMode(nullptr); }

    // A display of another shape in place of the healthy one, before Init.
    void Reshape(sim::DisplayDesc desc) {
        auto next = std::make_unique<sim::VirtualDisplay>(std::move(desc));
        InstallDirectMode(next.get());
        display = std::move(next);
    }

    // Init with both streams captured; `ok` receives its result.
    Printed InitCaptured(NvapiD3d12Presenter& p, bool& ok) {
        return Capture([&] { ok = p.Init(); });
    }

    std::unique_ptr<sim::VirtualDisplay> display = std::make_unique<sim::VirtualDisplay>();
};

}  // namespace brisk::test
