// Shared by the presenter tests: a virtual display installed as the process's
// DirectMode for the duration of a test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/directmode.h"
#include "present/nvapi_d3d12_presenter.h"
#include "sim/virtual_display.h"
#include "support/output_capture.h"
#include "support/present_result.h"

namespace brisk::test {

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
        return CaptureOutput([&] { ok = p.Init(); });
    }

    std::unique_ptr<sim::VirtualDisplay> display = std::make_unique<sim::VirtualDisplay>();
};

}  // namespace brisk::test
