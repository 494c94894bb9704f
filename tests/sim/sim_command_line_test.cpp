#include <gtest/gtest.h>

#include "sim/sim_command_line.h"

namespace brisk::sim {
namespace {

bool Parse(std::vector<const char*> args, SimOptions& out, std::string& error) {
    args.insert(args.begin(), "brisk-sim");
    return ParseSimCommandLine(static_cast<int>(args.size()), args.data(), out, error);
}

TEST(SimCommandLine, OwnOptionsThenToolArguments) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"--scenario", "s.txt", "--capture", "12", "f.png", "20", "--imu-serial", "ABC"}, o,
              error));
    EXPECT_EQ(o.scenarioFile, "s.txt");
    EXPECT_TRUE(o.capture);
    EXPECT_EQ(o.captureFrame, 12u);
    EXPECT_EQ(o.capturePng, "f.png");
    EXPECT_EQ(o.toolArgs, (std::vector<std::string>{"20", "--imu-serial", "ABC"}));
}

TEST(SimCommandLine, DoubleDashHandsEverythingToTheTool) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--", "--scenario", "x"}, o, error));
    EXPECT_EQ(o.scenarioFile, "");
    EXPECT_EQ(o.toolArgs, (std::vector<std::string>{"--scenario", "x"}));
    // Once the tool's arguments began, later words are the tool's too.
    ASSERT_TRUE(Parse({"5", "--capture", "1", "a.png"}, o, error));
    EXPECT_FALSE(o.capture);
    EXPECT_EQ(o.toolArgs.size(), 4u);
}

TEST(SimCommandLine, ReportLeaksIsOneOfItsOwnOptionsAndOffByDefault) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"--scenario", "s.txt", "--report-leaks", "30"}, o, error));
    EXPECT_TRUE(o.reportLeaks);
    EXPECT_EQ(o.scenarioFile, "s.txt");
    EXPECT_EQ(o.toolArgs, (std::vector<std::string>{"30"}));
    ASSERT_TRUE(Parse({"30", "--report-leaks"}, o, error));
    EXPECT_FALSE(o.reportLeaks);  // the tool's, once its arguments began
    EXPECT_EQ(o.toolArgs, (std::vector<std::string>{"30", "--report-leaks"}));
    EXPECT_FALSE(Parse({"--report-leaks", "--report-leaks"}, o, error));
    EXPECT_EQ(error, "--report-leaks given twice");
}

TEST(SimCommandLine, RefusesIncompleteOrRepeatedOptions) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(Parse({"--scenario"}, o, error));
    EXPECT_EQ(error, "--scenario needs a FILE");
    EXPECT_FALSE(Parse({"--capture", "3"}, o, error));
    EXPECT_EQ(error, "--capture needs FRAME and PNGFILE");
    EXPECT_FALSE(Parse({"--capture", "-1", "a.png"}, o, error));
    EXPECT_EQ(error, "--capture: bad frame number '-1' (expected 0, 1, 2, ...)");
    EXPECT_FALSE(Parse({"--capture", "1x", "a.png"}, o, error));
    EXPECT_FALSE(Parse({"--scenario", "a", "--scenario", "b"}, o, error));
    EXPECT_EQ(error, "--scenario given twice");
    // A mistyped option of ours is ours to name, not the tool's.
    EXPECT_FALSE(Parse({"--senario", "demo.txt"}, o, error));
    EXPECT_EQ(error.rfind("unknown option '--senario' (brisk-sim's own: --scenario,", 0), 0u)
        << error;
    EXPECT_FALSE(Parse({"--scenario", "a", "--capure", "1", "b.png"}, o, error));
    // The tool's options, numbers and words after them still go to the tool.
    for (const char* toolFirst : {"--log", "--display", "-5", "20", "--imu-serial"}) {
        ASSERT_TRUE(Parse({toolFirst, "--senario"}, o, error)) << toolFirst;
        EXPECT_EQ(o.toolArgs.front(), toolFirst);
    }
}

}  // namespace
}  // namespace brisk::sim
