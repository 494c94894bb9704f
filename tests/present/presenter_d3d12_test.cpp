// The real build's presenter, compiled against the system's Direct3D 12: with
// no DirectMode adapter in this tree, Init must fail at once and say why.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "present/nvapi_d3d12_presenter.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

TEST(PresenterD3d12, TheRealBuildSaysItHasNoDirectModeSupport) {
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = true;
    const test::Printed printed = test::CaptureOutput([&] { ok = p.Init(); });
    const std::vector<std::string>& err = printed.err;
    EXPECT_FALSE(ok);
    EXPECT_TRUE(printed.out.empty());
    ASSERT_EQ(err.size(), 2u);
    EXPECT_EQ(err[0],
              "Presenter: this build has no DirectMode support — the headset display cannot be "
              "taken (supply NVIDIA's NVAPI SDK and build brisk with a DirectMode adapter, see "
              "README)");
    EXPECT_TRUE(std::regex_match(
        err[1], std::regex(R"(Presenter: NvAPI_Initialize\(\) = 0xfffffffd \(line \d+\))")))
        << err[1];
    EXPECT_EQ(p.Stats().frames, 0u);
}

}  // namespace
}  // namespace brisk
