// Frame captures: the picture on the panels as a PNG, checked pixel by pixel
// at the places the diagnostic picture puts its rectangles.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "e2e/e2e_support.h"
#include "support/png_image.h"

namespace brisk::e2e {
namespace {

using support::PngHeader;
using support::PngImage;
using support::ReadPngHeader;
using support::Rgb;

// The panel surface and where the picture's parts sit on it.
constexpr int kWidth = 5088, kHeight = 2544;
constexpr int kHalf = kWidth / 2;
constexpr int kTrackHeight = kHeight / 24;             // 106
constexpr int kTrackTop = kHeight - 2 * kTrackHeight;  // 2332
constexpr int kTrackMiddle = kTrackTop + kTrackHeight / 2;

// The painter's colours in 8 bits (x 255, rounded to nearest).
const Rgb kLeftEye{0, 64, 20};
const Rgb kRightEye{64, 0, 20};
const Rgb kBar{102, 102, 102};
const Rgb kTrackLive{8, 8, 8};
const Rgb kTrackDead{89, 0, 0};
const Rgb kNeedle{230, 230, 230};

RunResult RunWithCapture(const std::string& scenario, const std::string& png,
                         const std::string& seconds) {
    RunOptions options;
    options.timeoutSeconds = 60.0;  // the full-size PNG takes its time
    return RunSim(scenario, {seconds}, options, {"--capture", "0", png});
}

// Track rows of one eye at column x: exactly rows kTrackTop to kTrackTop + th - 1.
void ExpectTrackRows(const PngImage& img, int x, const Rgb& track, const Rgb& around) {
    EXPECT_EQ(img.At(x, kTrackTop - 1), around) << "x " << x;
    EXPECT_EQ(img.At(x, kTrackTop), track) << "x " << x;
    EXPECT_EQ(img.At(x, kTrackTop + kTrackHeight - 1), track) << "x " << x;
    EXPECT_EQ(img.At(x, kTrackTop + kTrackHeight), around) << "x " << x;
}

TEST(E2eCapture, HealthyFrameZeroShowsEyesBarsTracksAndNeedles) {
    TempFile png(".png");
    RunResult run = RunWithCapture("", png.Path(), "1.5");
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.empty());

    PngHeader header = ReadPngHeader(png.Path());
    EXPECT_TRUE(header.signatureOk);
    EXPECT_TRUE(header.ihdrFirst);
    EXPECT_EQ(header.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(header.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(header.bitDepth, 8);
    EXPECT_EQ(header.colourType, 6);  // RGBA

    PngImage img(png.Path());
    ASSERT_TRUE(img.Loaded());
    ASSERT_EQ(img.Width(), kWidth);
    ASSERT_EQ(img.Height(), kHeight);

    // Eye backgrounds, opaque, meeting at the middle column.
    const int row = 100;
    EXPECT_EQ(img.At(200, row), kLeftEye);
    EXPECT_EQ(img.At(kHalf - 1, row), kLeftEye);
    EXPECT_EQ(img.At(kHalf + 200, row), kRightEye);
    EXPECT_EQ(img.At(kWidth - 1, row), kRightEye);
    EXPECT_EQ(img.At(kHalf - 1, 0), kLeftEye);
    EXPECT_EQ(img.At(kWidth - 1, kHeight - 1), kRightEye);
    EXPECT_EQ(img.Alpha(200, row), 255);

    // Frame 0 is painted a moment after the loop began: both bars near their
    // eye's left edge, 64 wide, at the same offset, over the full height.
    int bx = img.FindInRow(row, 0, 200, kBar);
    ASSERT_GE(bx, 0);
    EXPECT_LE(bx, 40);
    EXPECT_EQ(img.RunLength(bx, row, kBar), 64);
    EXPECT_EQ(img.At(kHalf + bx, row), kBar);
    EXPECT_EQ(img.RunLength(kHalf + bx, row, kBar), 64);
    EXPECT_EQ(img.At(bx, 0), kBar);
    EXPECT_EQ(img.At(kHalf + bx, kHeight - 1), kBar);
    EXPECT_EQ(img.At(kHalf, row), bx == 0 ? kBar : kRightEye);

    // Tracks, dark grey for a fresh IMU, painted over the bars.
    ExpectTrackRows(img, 1000, kTrackLive, kLeftEye);
    ExpectTrackRows(img, kHalf + 1000, kTrackLive, kRightEye);
    ExpectTrackRows(img, bx + 10, kTrackLive, kBar);
    ExpectTrackRows(img, kHalf + bx + 10, kTrackLive, kBar);

    // A headset at rest: the needle 64 pixels from each eye's left edge, and
    // a little to the right for the gyroscope's noise (a few counts; 30 at
    // most, 1.2 pixels each).
    int n = img.FindInRow(kTrackMiddle, 0, kHalf, kNeedle);
    EXPECT_GE(n, 64);
    EXPECT_LE(n, 64 + 36);
    EXPECT_EQ(img.RunLength(n, kTrackMiddle, kNeedle), 24);
    EXPECT_EQ(img.FindInRow(kTrackMiddle, kHalf, kHalf + n, kNeedle), -1);
    EXPECT_EQ(img.RunLength(kHalf + n, kTrackMiddle, kNeedle), 24);
    ExpectTrackRows(img, n, kNeedle, kLeftEye);
    ExpectTrackRows(img, kHalf + n + 23, kNeedle, kRightEye);
    EXPECT_EQ(img.FindInRow(kTrackMiddle, n + 24, kHalf, kNeedle), -1);
    EXPECT_EQ(img.FindInRow(kTrackMiddle, kHalf + n + 24, kWidth, kNeedle), -1);
}

TEST(E2eCapture, SleepingWatchmanWarnsFailsAndPaintsDeadTracksWithoutNeedles) {
    TempFile png(".png");
    RunResult run = RunWithCapture("0 watchman sleep\n", png.Path(), "1.5");
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);

    static const std::regex kWarning(
        R"(WARNING: Veduri enumerated but 0 samples in 1\.5 s \((\d+) read timeouts\) — asleep after a SteamVR exit\? Continuing; needle will stay dead\.)");
    ASSERT_FALSE(run.err.empty());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.err[0].text, m, kWarning));
    EXPECT_GE(std::stoi(m[1]), 1);  // one per 1 s read wait without a report
    EXPECT_LE(std::stoi(m[1]), 2);
    EXPECT_EQ(IndexOfPrefix(run.out, "IMU stream up"), -1);

    for (const StatusLine& s : StatusLines(run)) {
        EXPECT_EQ(s.imu, 0);
        EXPECT_EQ(s.age, -1.0);
        EXPECT_EQ(s.accelMagnitude, 0);
        EXPECT_EQ(s.gyro[0] | s.gyro[1] | s.gyro[2], 0);
    }
    std::optional<ImuResult> ir = FindImuResult(run);
    ASSERT_TRUE(ir.has_value());
    EXPECT_EQ(ir->samples, 0);
    EXPECT_EQ(ir->reports, 0);
    EXPECT_EQ(run.out.back().text, kVerdictFail);

    PngImage img(png.Path());
    ASSERT_TRUE(img.Loaded());
    ExpectTrackRows(img, 1000, kTrackDead, kLeftEye);
    ExpectTrackRows(img, kHalf + 1000, kTrackDead, kRightEye);
    ExpectTrackRows(img, 76, kTrackDead, kLeftEye);  // where a needle would be
    ExpectTrackRows(img, kHalf + 76, kTrackDead, kRightEye);
    EXPECT_EQ(img.FindInRow(kTrackMiddle, 0, kWidth, kNeedle), -1);
}

TEST(E2eCapture, FrameNeverDrawnIsReportedAndNoFileWritten) {
    TempFile png(".png");
    RunOptions options;
    RunResult run = RunSim("", {"0.5"}, options, {"--capture", "100000", png.Path()});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);  // the tool's own outcome
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{
                                  "brisk-sim: frame 100000 was never drawn; no capture written"});
    EXPECT_FALSE(std::filesystem::exists(png.Path()));
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

// A capture that cannot be written when the run is over (here: a full
// device) says why and fails the exit code, the run's own lines untouched.
TEST(E2eCapture, WriteFailingAtTheEndSaysWhyAndExitsNonZero) {
    RunResult run = RunSim("", {"0.5"}, {}, {"--capture", "0", "/dev/full"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 74);
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{
                                  "brisk-sim: cannot write /dev/full: No space left on device"});
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

}  // namespace
}  // namespace brisk::e2e
