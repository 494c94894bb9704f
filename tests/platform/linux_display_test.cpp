// brisk on Linux runs sensors only: "--display none" is its default, and any
// other kind ends the run as a usage error before a device is touched. The
// same driver without that restriction (brisk-sim) goes on as before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/driver.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

// A bus with nothing on it that counts what the driver asks of it.
class CountingHost final : public HidHost {
  public:
    int calls = 0;
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override {
        ++calls;
        out.clear();
        return true;
    }
    Handle Open(const std::wstring&) override {
        ++calls;
        return kInvalidHandle;
    }
    bool Attributes(Handle, HidAttributes&) override { return ++calls < 0; }
    bool SerialString(Handle, std::wstring&) override { return ++calls < 0; }
    bool SetFeature(Handle, const uint8_t*, size_t) override { return ++calls < 0; }
    Handle CreateReadEvent() override {
        ++calls;
        return nullptr;
    }
    ReadResult ReadTimed(Handle, Handle, uint8_t*, uint32_t, uint32_t) override {
        ++calls;
        return {ReadOutcome::FailedAtOnce, 0, kErrorInvalidHandle};
    }
    void CancelAll(Handle) override { ++calls; }
    void Close(Handle) override { ++calls; }
};

TEST(LinuxBriskDisplay, OnlyNoneIsDrivenAndItIsTheDefault) {
    const std::string kNoWatchman =
        "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong --imu-serial?)\n";
    struct Case {
        const char* what;
        std::vector<const char*> args;
        DisplayPaths paths;
        int exitCode;
        std::string err;
        bool touchesDevices;
    };
    const Case cases[] = {
        {"directmode asked",
         {"--display", "directmode", "5"},
         DisplayPaths::kSensorsOnly,
         64,
         "brisk: --display directmode: only --display none on Linux\n",
         false},
        {"extended asked",
         {"--display", "extended"},
         DisplayPaths::kSensorsOnly,
         64,
         "brisk: --display extended: only --display none on Linux\n",
         false},
        {"extended with an output",
         {"--display", "extended:2"},
         DisplayPaths::kSensorsOnly,
         64,
         "brisk: --display extended:2: only --display none on Linux\n",
         false},
        {"the last kind wins",
         {"--display", "none", "--display", "directmode"},
         DisplayPaths::kSensorsOnly,
         64,
         "brisk: --display directmode: only --display none on Linux\n",
         false},
        {"a bad kind is the parser's error",
         {"--display", "vga"},
         DisplayPaths::kSensorsOnly,
         64,
         "brisk: --display: unknown kind 'vga' (expected directmode, extended, extended:N or none)\n",
         false},
        {"no kind: sensors only", {"1"}, DisplayPaths::kSensorsOnly, 2, kNoWatchman, true},
        {"none asked",
         {"--display", "none", "1"},
         DisplayPaths::kSensorsOnly,
         2,
         kNoWatchman,
         true},
        {"none after another",
         {"--display", "directmode", "--display", "none", "1"},
         DisplayPaths::kSensorsOnly,
         2,
         kNoWatchman,
         true},
        {"help as everywhere", {"--help"}, DisplayPaths::kSensorsOnly, 0, "", false},
        {"unrestricted: directmode goes on to the IMU",
         {"--display", "directmode", "1"},
         DisplayPaths::kAll,
         2,
         kNoWatchman,
         true},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"brisk"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CountingHost host;
        int code = -1;
        std::string err;
        {
            test::OutputCapture capture(test::OutputCapture::PassOn::No);
            stopRequested.store(false);
            code = RunBrisk(static_cast<int>(argv.size()), argv.data(), host, c.paths);
            err = capture.Err();
        }
        EXPECT_EQ(code, c.exitCode) << c.what;
        EXPECT_EQ(err, c.err) << c.what;
        EXPECT_EQ(host.calls > 0, c.touchesDevices) << c.what;
    }
    stopRequested.store(false);
}

}  // namespace
}  // namespace brisk
