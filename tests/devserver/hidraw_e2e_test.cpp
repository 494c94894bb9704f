// brisk on Linux against brisk-devserver: the tool reads the emulated headset
// through hidraw, udev and sysfs as it would read the real one. Each scenario
// also runs under brisk-sim, and the two runs must tell the same story: the
// same exit code and the same lines apart from the status lines and the
// figures (the bus under brisk-sim is in-process, here it is the system's).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

const char* const kSensorsPass = "VERDICT: PASS (sensors only — no display tested)";

RunResult RunServed(const std::string& scenario, const std::vector<std::string>& toolArgs) {
    TempFile file(".scenario");
    file.Write(scenario);
    std::vector<std::string> argv{BRISK_UMOCKDEV_WRAPPER, BRISK_DEVSERVER_PATH, file.Path(), "--",
                                  BriskPath()};
    argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
    RunOptions options;
    options.timeoutSeconds = 60;
    return RunProgram(argv, options);
}

// The lines of one stream that are not status lines, with every run of
// digits (signed) as "#": what a run says, without its figures.
std::vector<std::string> Story(const std::vector<TimedLine>& lines) {
    std::vector<std::string> out;
    for (const TimedLine& l : lines) {
        if (l.text.rfind("  fps=", 0) == 0) {
            continue;
        }
        std::string s;
        const std::string& t = l.text;
        for (size_t i = 0; i < t.size(); ++i) {
            auto digit = [&t](size_t at) {
                return at < t.size() && std::isdigit(static_cast<unsigned char>(t[at]));
            };
            if (digit(i) || (t[i] == '-' && digit(i + 1))) {
                if (s.empty() || s.back() != '#') {
                    s += '#';
                }
            } else {
                s += t[i];
            }
        }
        // Whether a read was pending when the device left is timing, and the
        // line names which failed: ReadFile at once, or the pending read.
        const std::string atOnce = "TundraImu: ReadFile failed";
        if (s.rfind(atOnce, 0) == 0) {
            s.replace(0, atOnce.size(), "TundraImu: read failed");
        }
        out.push_back(s);
    }
    // Indented lines list devices, in the order the system enumerates them,
    // which nothing promises.
    for (auto first = out.begin(); first != out.end();) {
        auto last = std::find_if(first, out.end(),
                                 [](const std::string& s) { return s.rfind("  ", 0) != 0; });
        std::sort(first, last);
        first = last == out.end() ? last : last + 1;
    }
    return out;
}

class HidrawE2e : public testing::Test {
  protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        // The preload calls libc's read() and ioctl() past TSan's
        // interceptors, so TSan would not see the pipes' ordering.
        GTEST_SKIP() << "the umockdev preload bypasses ThreadSanitizer's interceptors";
#endif
        // The preload comes before the sanitizer's runtime in the load order.
        std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        if (asan.find("verify_asan_link_order") == std::string::npos) {
            setenv("ASAN_OPTIONS",
                   (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
        }
    }

    // Runs the scenario both ways; checks that they agree and returns the
    // served run for the test's own checks.
    RunResult RunBoth(const std::string& scenario, const std::vector<std::string>& toolArgs) {
        RunResult served = RunServed(scenario, toolArgs);
        RunResult sim = RunSim(scenario, toolArgs);
        EXPECT_TRUE(served.exited) << Describe(served);
        EXPECT_EQ(served.exitCode, sim.exitCode) << Describe(served) << Describe(sim);
        EXPECT_EQ(Story(served.out), Story(sim.out)) << Describe(served) << Describe(sim);
        EXPECT_EQ(Story(served.err), Story(sim.err)) << Describe(served) << Describe(sim);
        return served;
    }
};

TEST_F(HidrawE2e, HealthyRunPairsTheWatchmanWithTheMcuByHub) {
    RunResult run = RunBoth("", {"--display", "none", "3"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(IndexOf(run.out, "TundraImu: 1 Watchman device(s), 1 MCU-paired"), 0);
    EXPECT_EQ(Count(run.out, "TundraImu: using LHR-5A1B2C3D"), 1);
    EXPECT_EQ(Count(run.out, "McuProx: telemetry at 50 ms, threshold 1500 +/- 100"), 1);
    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 3u);
    for (size_t i = 0; i < status.size(); ++i) {  // the first too: it counts its own second
        EXPECT_GT(status[i].imu, 900) << "line " << status[i].index;
        EXPECT_LT(status[i].imu, 1100) << "line " << status[i].index;
        EXPECT_EQ(status[i].prox, "away(200)");
        EXPECT_NEAR(double(status[i].accelMagnitude), 8192.0, 100.0);
    }
    std::optional<ImuResult> imu = FindImuResult(run);
    ASSERT_TRUE(imu.has_value());
    EXPECT_EQ(imu->seqGaps, 0);
    EXPECT_EQ(imu->stalls, 0);
    EXPECT_GT(imu->samples, 3000);
    EXPECT_EQ(run.out.back().text, kSensorsPass);
    EXPECT_TRUE(run.err.empty());
}

// The light interface found among the Watchman's hidraw nodes by the input
// reports its descriptor declares, read and judged as on the virtual bus.
TEST_F(HidrawE2e, TheLightIsFoundByItsReportsAndJudged) {
    RunResult run = RunBoth("0 watchman photodiode-dead 6\n",
                            {"--display", "none", "--expect-stations", "4,2", "4"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 0);
    const int at = IndexOfPrefix(run.out, "OPTICAL RESULT: generation 2, 32 photodiodes: ");
    ASSERT_GE(at, 0);
    EXPECT_NE(run.out[size_t(at)].text.find(" 1 dead, "), std::string::npos);
    EXPECT_GT(IndexOfPrefix(run.out, "  dead channel 6 "), at);
    EXPECT_EQ(Count(run.out, "  expected base station channel 2: never seen"), 1);
    EXPECT_EQ(run.out.back().text, "VERDICT: FAIL (sensors only)");
}

TEST_F(HidrawE2e, ImuUnplugAndReturn) {
    RunResult run = RunBoth("2 watchman unplug\n3.5 watchman plug\n", {"--display", "none", "5"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        Count(run.err, "TundraImu: read failed (err 1167) — device gone, waiting for reconnect"),
        1);
    EXPECT_EQ(Count(run.err, "TundraImu: reconnected to LHR-5A1B2C3D"), 1);
    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 4u);
    long long slowest = 100000;
    for (const StatusLine& s : status) {
        slowest = std::min(slowest, s.imu);
    }
    EXPECT_EQ(slowest, 0);  // a whole second without the Watchman
    EXPECT_GT(status.back().imu, 900);
    EXPECT_EQ(run.out.back().text, kSensorsPass);
}

TEST_F(HidrawE2e, DonAndDoffThroughTheRateCommandedTelemetry) {
    RunResult run =
        RunBoth("1.5 mcu distance 1700\n3.5 mcu distance 200\n", {"--display", "none", "5"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 0);
    int donned = IndexOf(run.out, "prox: headset DONNED (distance 1700)");
    int doffed = IndexOf(run.out, "prox: headset DOFFED (distance 200)");
    ASSERT_GE(donned, 0);
    EXPECT_GT(doffed, donned);
    bool sawWorn = false;
    for (const StatusLine& s : StatusLines(run)) {
        sawWorn = sawWorn || s.prox == "worn(1700)";
    }
    EXPECT_TRUE(sawWorn);
    EXPECT_EQ(run.out.back().text, kSensorsPass);
}

TEST_F(HidrawE2e, McuUnplugAndReturnRestartsTelemetry) {
    RunResult run = RunBoth("2 mcu unplug\n3.5 mcu plug\n", {"--display", "none", "5"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        Count(run.err, "McuProx: read failed (err 1167) — device gone, waiting for reconnect"), 1);
    EXPECT_EQ(Count(run.err, "McuProx: device reconnected, telemetry restarted"), 1);
    EXPECT_EQ(run.out.back().text, kSensorsPass);
}

TEST_F(HidrawE2e, NoDevicesEndsWithExitTwo) {
    RunResult run = RunBoth("0 watchman absent\n0 mcu absent\n", {"--display", "none", "3"});
    SCOPED_TRACE(Describe(run));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.out),
              std::vector<std::string>{"TundraImu: 0 Watchman device(s), 0 MCU-paired"});
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{kNoMatchingWatchman});
}

TEST_F(HidrawE2e, TwoWatchmansChosenBySerialOrByHub) {
    const std::string scenario = "0 tracker add LHR-0E0E0E0E\n";
    RunResult chosen =
        RunBoth(scenario, {"--imu-serial", "LHR-0E0E0E0E", "--display", "none", "2"});
    SCOPED_TRACE(Describe(chosen));
    EXPECT_EQ(chosen.exitCode, 0);
    EXPECT_EQ(IndexOf(chosen.out, "TundraImu: 2 Watchman device(s), 1 MCU-paired"), 0);
    EXPECT_EQ(Count(chosen.out, "TundraImu: using LHR-0E0E0E0E"), 1);
    EXPECT_EQ(chosen.out.back().text, kSensorsPass);

    RunResult paired = RunBoth(scenario, {"--display", "none", "2"});
    SCOPED_TRACE(Describe(paired));
    EXPECT_EQ(Count(paired.out, "TundraImu: using LHR-5A1B2C3D"), 1);

    RunResult wrong = RunBoth(scenario, {"--imu-serial", "LHR-NOTTHERE", "--display", "none", "2"});
    SCOPED_TRACE(Describe(wrong));
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(Count(wrong.err, kNoMatchingWatchman), 1);
}

// The server counts a node's clients in and out. One reader holds the IMU's
// node open while a second reads 50 reports and closes; the first then reads
// what is queued and closes too. Reports flow while either holds the node;
// once both have let go they go nowhere, as on hidraw, so none pile up
// behind it (with a count that only rose, the queue overflowed in the time
// to the unplug). Python opens the node: a shell's redirections move the
// descriptor, which umockdev's preload takes for a close.
TEST_F(HidrawE2e, DevserverCountsClientsOutAsTheyClose) {
    TempFile scenario(".scenario");
    scenario.Write("0 mcu absent\n1.5 watchman unplug\n");  // the Watchman's IMU is hidraw0
    TempFile client(".py");
    client.Write(
        "import os, select, time\n"
        "first = os.open('/dev/hidraw0', os.O_RDONLY)\n"
        "time.sleep(0.1)\n"
        "second = os.open('/dev/hidraw0', os.O_RDONLY)\n"
        "for _ in range(50):\n"
        "    os.read(second, 64)\n"
        "os.close(second)\n"
        "while select.select([first], [], [], 0)[0]:\n"
        "    os.read(first, 64)\n"
        "os.close(first)\n"
        "time.sleep(1.5)\n");
    RunOptions options;
    options.timeoutSeconds = 60;
    RunResult run = RunProgram({BRISK_UMOCKDEV_WRAPPER, BRISK_DEVSERVER_PATH, "-v", scenario.Path(),
                                "--", "python3", client.Path()},
                               options);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::string> counts;
    const std::string prefix = "brisk-devserver: /dev/hidraw0 ";
    for (const std::string& line : Texts(run.err)) {
        if (line.rfind(prefix, 0) == 0) {
            counts.push_back(line.substr(prefix.size()));
        }
    }
    EXPECT_EQ(counts, (std::vector<std::string>{"opened, 1 client(s)", "opened, 2 client(s)",
                                                "closed, 1 client(s)", "closed, 0 client(s)"}));
    int unplugged = IndexOfPrefix(run.err, "brisk-devserver: unplugged /dev/hidraw0 after ");
    ASSERT_GE(unplugged, 0);
    EXPECT_TRUE(run.err[size_t(unplugged)].text.ends_with(" reports (0 dropped)"));
}

}  // namespace
}  // namespace brisk::e2e
